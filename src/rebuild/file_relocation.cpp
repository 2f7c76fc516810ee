#include "rebuild/file_relocation.h"

#include <cstdint>
#include <cstring>

namespace {

// Sector counts become byte counts only when they fit the writer's 32-bit lengths.
bool sectors_to_bytes(std::uint64_t sectors, std::uint32_t* bytes) {
    const std::uint64_t value = sectors * SECTOR_SIZE;
    if (value > UINT32_MAX) return false;
    *bytes = static_cast<std::uint32_t>(value);
    return true;
}

const RelocationSource* find_source(const RelocationTables& tables, const char* name) {
    for (std::size_t j = 0; j < tables.source_count; ++j) {
        const RelocationSource& source = tables.sources[j];
        if (source.name == nullptr || source.name[0] == '\0') break;
        if (std::strcmp(source.name, name) == 0) return &source;
    }
    return nullptr;
}

}  // namespace

bool relocate_files(std::uint32_t base_sector, const RelocationTables& tables,
                    const WriterValues& writer) {
    std::uint64_t running_sector = 0;
    for (std::size_t i = 0; i < tables.target_count; ++i) {
        const RelocationTarget& target = tables.targets[i];
        if (target.name == nullptr || target.name[0] == '\0') break;
        // An overlap would shift every later file away from its sector.
        if (target.sector < running_sector) return false;
        std::uint32_t bytes = 0;
        if (target.sector > running_sector) {
            if (!sectors_to_bytes(target.sector - running_sector, &bytes) ||
                !write_zeros(bytes, writer)) {
                return false;
            }
            running_sector = target.sector;
        }
        if (!sectors_to_bytes(target.size, &bytes)) return false;
        const RelocationSource* source = find_source(tables, target.name);
        if (source != nullptr) {
            std::uint32_t offset = 0;
            if (!sectors_to_bytes(std::uint64_t{base_sector} + source->sector, &offset) ||
                !copy_range(offset, bytes, writer)) {
                return false;
            }
        } else if (!write_zeros(bytes, writer)) {
            return false;
        }
        running_sector += target.size;
    }
    return true;
}

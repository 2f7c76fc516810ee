#include "test_disc_pair.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "iso9660_writer.h"
#include "platform/platform.h"
#include "rebuild/rebuild_steps.h"
#include "rebuild/rebuild_tables.h"
#include "rebuild/sound_bank_split.h"
#include "rebuild/table_facts.h"
#include "test_image_layout.h"

namespace {

constexpr std::uint32_t SECTOR = 2048;
constexpr std::uint32_t LAST_DIRECTORY_SECTOR = 6000;  // below every identification byte

bool write_at(int fd, std::uint64_t offset, const void* bytes, std::uint32_t length) {
    return platform_seek(fd, static_cast<std::int64_t>(offset), SEEK_SET) == static_cast<std::int64_t>(offset) &&
           platform_write(fd, bytes, length) == length;
}

// Each header matches one of the four rules in turn, so every rule is met on the way.
void make_bank_header(std::uint8_t header[16], std::size_t index) {
    static const std::uint32_t words[4][4] = {{BANK_HEADER_SIGNATURE, 0, 0, 0}, {0, 24, 0, 0}, {0, 0, 16, 0}, {0, 0, 0, 48000}};
    for (int w = 0; w < 4; ++w) {
        for (int b = 0; b < 4; ++b) header[4 * w + b] = static_cast<std::uint8_t>(words[index % 4][w] >> (8 * b));
    }
}

// Writes the image: its file system, its identification bytes, then `extra` (offset, bytes).
bool write_image(const std::string& path, const TestImageLayout& layout, const std::vector<IsoEntry>& files,
                 const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& extra, bool joliet,
                 std::string* error) {
    std::vector<IsoEntry> flat = files;
    for (std::size_t i = 0; i < flat.size(); ++i) {
        std::string number = std::to_string(i);
        if (number.size() < 7) number.insert(0, 7 - number.size(), '0');
        flat[i].path = "F" + number + ".BIN";
    }
    const auto volume_sectors = static_cast<std::uint32_t>(layout.size / SECTOR);
    const IsoSectors sectors = joliet ? iso_file_system(flat, volume_sectors, &files) : iso_file_system(files, volume_sectors);
    if (sectors.rbegin()->first >= LAST_DIRECTORY_SECTOR) {
        *error = "the directories of " + path + " do not fit below sector " + std::to_string(LAST_DIRECTORY_SECTOR);
        return false;
    }
    const int fd = platform_open(path.c_str(), OPEN_CREATE_TRUNCATE);
    bool ok = fd >= 0;
    for (const auto& [sector, bytes] : sectors) ok = ok && write_at(fd, std::uint64_t{sector} * SECTOR, bytes.data(), SECTOR);
    for (const IdentificationBytes& id : layout.identification) {
        ok = ok && (id.length == 0 || write_at(fd, id.offset, id.bytes, id.length));
    }
    for (const auto& [offset, bytes] : extra) {
        ok = ok && write_at(fd, offset, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    const std::uint8_t zero = 0;
    ok = ok && write_at(fd, layout.size - 1, &zero, 1);  // the exact size, the rest a hole
    ok = fd >= 0 && platform_close(fd) == 0 && ok;
    if (!ok) {
        if (fd >= 0) platform_remove(path.c_str());   // only a file this call created
        *error = "cannot write " + path;
    }
    return ok;
}

}  // namespace

RebuildTableFiles shipped_rebuild_tables() {
    RebuildTableFiles t;
    for (std::size_t i = 0; i < RELOCATION_TARGET_COUNT; ++i) {
        t.targets.push_back({RELOCATION_TARGETS[i].name, RELOCATION_TARGETS[i].sector, RELOCATION_TARGETS[i].size});
    }
    for (std::size_t j = 0; j < RELOCATION_SOURCE_COUNT; ++j) {
        t.sources.push_back({RELOCATION_SOURCES[j].name, RELOCATION_SOURCES[j].sector});
    }
    for (std::size_t k = 0; k < SOUND_BANK_SET_COUNT; ++k) {
        t.bank_sets.emplace_back(SOUND_BANK_OFFSETS + SOUND_BANK_SET_FIRST[k], SOUND_BANK_OFFSETS + SOUND_BANK_SET_FIRST[k + 1]);
    }
    return t;
}

bool write_test_disc_pair(const std::string& us_path, const std::string& eu_path, const RebuildTableFiles& tables,
                          std::string* error, bool joliet) {
    // Lengths fall short of whole sectors by varying amounts: the tables count rounded-up sectors.
    std::map<std::string, std::uint32_t> length_of;
    std::vector<IsoEntry> us_files = {{"SXUS_907.31", 300, 2000000}, {"DATA/SOUND.BIN", 1054254, 440227840}};
    for (std::size_t i = 0; i < tables.targets.size(); ++i) {
        const TargetRow& t = tables.targets[i];
        const std::uint32_t length = t.size == 0 ? 0 : t.size * SECTOR - static_cast<std::uint32_t>(i % 2000);
        length_of[t.name] = length;
        us_files.push_back({t.name, RELOCATED_BLOCK_FIRST_SECTOR + t.sector, length});
    }
    std::vector<IsoEntry> eu_files = {{"SXES_608.42", 300, 2000000}};
    for (const SourceRow& s : tables.sources) {
        eu_files.push_back({s.name, RELOCATION_BASE_SECTOR + s.sector, length_of.count(s.name) ? length_of[s.name] : SECTOR});
    }
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> headers;
    for (std::size_t k = 0; k < tables.bank_sets.size() && k < SOUND_BANK_SET_COUNT; ++k) {
        const std::uint64_t start = rebuild_step_output_offset(FIRST_BANK_STEP + k);
        for (std::size_t i = 0; i < tables.bank_sets[k].size(); ++i) {
            std::vector<std::uint8_t> header(16);
            make_bank_header(header.data(), i);
            headers.emplace_back(start + tables.bank_sets[k][i], header);
        }
    }
    return write_image(us_path, US_TEST_IMAGE, us_files, headers, joliet, error) &&
           write_image(eu_path, EU_TEST_IMAGE, eu_files, {}, joliet, error);
}

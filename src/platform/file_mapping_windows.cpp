// No mappings on Windows yet: the reader reads through its stream, as before.
#include "platform/file_mapping.h"

MapResult platform_map_file(std::FILE*, std::uint64_t, FileMapping* mapping) {
    *mapping = FileMapping{};
    return MAP_UNAVAILABLE;
}

void platform_forget_mapped_pages(const FileMapping*) {}

void platform_unmap_file(FileMapping* mapping) { *mapping = FileMapping{}; }

bool platform_mapping_lost() { return false; }

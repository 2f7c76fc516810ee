// No mappings on Windows: the source reader reads its pages instead. Measured under
// Wine, each view mapped and unmapped costs round trips to the Wine server (about
// 0.4 ms for a 4 MiB view), and the pages of one view kept whole count against the
// program's memory, while large reads cost what they cost natively; reads also leave
// a disk error an ordinary failed read rather than an in-page exception.
#include "platform/file_mapping.h"

MapResult platform_map_file(std::FILE*, std::uint64_t, FileMapping* mapping) {
    *mapping = FileMapping{};
    return MAP_UNAVAILABLE;
}

void platform_forget_mapped_pages(const FileMapping*) {}

void platform_unmap_file(FileMapping* mapping) { *mapping = FileMapping{}; }

bool platform_mapping_lost() { return false; }

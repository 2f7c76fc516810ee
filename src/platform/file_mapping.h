// Read-only views of a whole file, for reading a large file without copying it
// through a buffer first.
#pragma once

#include <cstdint>
#include <cstdio>

struct FileMapping {
    const std::uint8_t* bytes;  // null when nothing is mapped
    std::uint64_t length;
};

enum MapResult { MAP_DONE, MAP_UNAVAILABLE, MAP_FAILED_READ };

// Maps the first `length` bytes of the stream's file. MAP_UNAVAILABLE when this
// system or file cannot be mapped (the caller reads instead; Windows builds never
// map); MAP_FAILED_READ counts as a failed read.
// If the file is shortened while mapped, a page wholly past its new end, touched
// afterwards, reads as zeros and raises the flag platform_mapping_lost(); so does a
// page the disk cannot read. The page that holds the new end stays mapped: its bytes
// past the end read as zeros and raise nothing, so only the file's length, taken
// again, tells that they changed.
MapResult platform_map_file(std::FILE* stream, std::uint64_t length, FileMapping* mapping);
// Gives back the memory of the pages touched so far; they are read again if touched.
void platform_forget_mapped_pages(const FileMapping* mapping);
void platform_unmap_file(FileMapping* mapping);
// Whether a page of the current mapping was found gone since it was mapped.
bool platform_mapping_lost();

// The sectors of a small, valid ISO 9660 file system (level 2 names, no path tables):
// the primary volume descriptor, the set terminator and every directory, for the test
// images. File contents are not written: the images are sparse.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct IsoEntry {
    std::string path;       // '/' between components; folders are made as needed
    std::uint32_t sector;
    std::uint32_t length;   // bytes
};

using IsoSectors = std::map<std::uint32_t, std::array<std::uint8_t, 2048>>;

// Directories right after the descriptors, one after the other, root first.
// `volume_sectors` is the image's size in sectors. With `joliet_files`, a Joliet
// supplementary descriptor (UCS-2 names) follows the primary one, with its own tree.
IsoSectors iso_file_system(const std::vector<IsoEntry>& files, std::uint32_t volume_sectors,
                           const std::vector<IsoEntry>* joliet_files = nullptr);

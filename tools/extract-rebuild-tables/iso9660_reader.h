// Lists the files of a disc image's ISO 9660 file system: every file's full path, first
// sector and length, read from the volume descriptors and the directory records alone.
// The image is untrusted: every extent, record and name is checked before it is used,
// and a bad one ends the listing with a message instead of a wrong or partial list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IsoFile {
    std::string path;       // components joined with '/', ";N" and a trailing '.' dropped
    std::uint32_t sector;   // first sector of its extent
    std::uint32_t length;   // in bytes
};

struct IsoVolume {
    std::vector<IsoFile> primary;   // from the primary volume descriptor (sector 16)
    bool has_joliet = false;        // a Joliet supplementary descriptor was found
    std::vector<IsoFile> joliet;    // its tree, names turned from UCS-2 into UTF-8
};

// Deepest directory level read; ISO 9660 itself allows eight.
inline constexpr int ISO_MAX_DEPTH = 8;
// Directory bytes read in all, for both trees together; a real disc needs a few hundred KiB.
inline constexpr std::uint64_t ISO_DIRECTORY_BUDGET = 64u << 20;
// Bytes of file paths kept, for both trees together: short records nested deep could
// otherwise make a small directory budget into gigabytes of paths.
inline constexpr std::uint64_t ISO_PATH_BUDGET = 64u << 20;

// False, with the reason in `error`, when the image cannot be read or its file system
// is malformed.
bool read_iso_volume(const std::string& image_path, IsoVolume* volume, std::string* error);

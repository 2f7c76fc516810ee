#include "iso9660_reader.h"

#include <cstring>
#include <set>

#include "platform/platform.h"

namespace {

constexpr std::uint32_t SECTOR = 2048;
constexpr std::uint32_t FIRST_DESCRIPTOR_SECTOR = 16;
constexpr std::uint32_t MAX_DESCRIPTORS = 32;
constexpr std::size_t RECORD_HEADER = 33;  // a directory record up to its name

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

struct ImageReader {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t directory_bytes_left = ISO_DIRECTORY_BUDGET;
    std::uint64_t path_bytes_left = ISO_PATH_BUDGET;   // the listing's own memory
    std::set<std::uint32_t> directories_seen;  // extents, to refuse loops
    std::string error;

    ~ImageReader() {
        if (fd >= 0) platform_close(fd);
    }
    bool fail(const std::string& message) {
        error = message;
        return false;
    }
    bool read(std::uint64_t offset, std::uint8_t* buffer, std::uint32_t length) {
        if (offset > size || length > size - offset) return fail("read past the end of the image");
        std::uint32_t done = 0;
        if (platform_seek(fd, static_cast<std::int64_t>(offset), SEEK_SET) < 0) return fail("cannot seek in the image");
        while (done < length) {
            const std::int64_t got = platform_read(fd, buffer + done, length - done);
            if (got <= 0) return fail("cannot read the image at byte " + std::to_string(offset + done));
            done += static_cast<std::uint32_t>(got);
        }
        return true;
    }
    bool extent_inside(std::uint32_t sector, std::uint32_t length) const {
        return std::uint64_t{sector} * SECTOR + length <= size;
    }
};

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The record's name as the tables spell it: bytes kept as they are (Joliet: UCS-2
// turned into UTF-8), then ";N" and one trailing '.' dropped. Empty when unusable.
std::string record_name(const std::uint8_t* id, std::size_t length, bool joliet) {
    std::string name;
    if (joliet) {
        if (length % 2 != 0) return "";
        for (std::size_t i = 0; i < length; i += 2) append_utf8(name, std::uint32_t{id[i]} << 8 | id[i + 1]);
    } else {
        name.assign(reinterpret_cast<const char*>(id), length);
    }
    const std::size_t semicolon = name.rfind(';');
    if (semicolon != std::string::npos &&
        name.find_first_not_of("0123456789", semicolon + 1) == std::string::npos) {
        name.erase(semicolon);
    }
    if (!name.empty() && name.back() == '.') name.pop_back();
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return "";
    return name;
}

bool read_directory(ImageReader& r, std::uint32_t sector, std::uint32_t length, const std::string& path,
                    int depth, bool joliet, std::vector<IsoFile>& files) {
    const std::string shown = "directory '/" + path + "'";
    if (depth > ISO_MAX_DEPTH) return r.fail(shown + " lies deeper than " + std::to_string(ISO_MAX_DEPTH) + " levels");
    if (!r.directories_seen.insert(sector).second) {
        return r.fail(shown + " points to a directory already read (a loop or a shared directory)");
    }
    if (length == 0 || !r.extent_inside(sector, length)) {
        return r.fail(shown + ": extent of " + std::to_string(length) + " bytes at sector " + std::to_string(sector) +
                      " lies outside the image");
    }
    if (length > r.directory_bytes_left) return r.fail(shown + ": the directories exceed 64 MiB in all");
    r.directory_bytes_left -= length;
    std::vector<std::uint8_t> bytes(length);
    if (!r.read(std::uint64_t{sector} * SECTOR, bytes.data(), length)) return false;

    std::uint32_t pos = 0;
    while (pos < length) {
        const std::uint8_t record_length = bytes[pos];
        const std::uint32_t sector_end = (pos / SECTOR + 1) * SECTOR;
        if (record_length == 0) {  // the rest of this sector is padding
            pos = sector_end;
            continue;
        }
        if (record_length < RECORD_HEADER + 1 || pos + record_length > sector_end || pos + record_length > length) {
            return r.fail(shown + ": record at byte " + std::to_string(pos) + " overruns its sector");
        }
        const std::uint8_t* record = bytes.data() + pos;
        const std::uint8_t name_length = record[32];
        if (name_length == 0 || RECORD_HEADER + name_length > record_length) {
            return r.fail(shown + ": record at byte " + std::to_string(pos) + " has a name longer than the record");
        }
        pos += record_length;
        if (name_length == 1 && (record[33] == 0 || record[33] == 1)) continue;  // itself and its parent

        const std::string name = record_name(record + RECORD_HEADER, name_length, joliet);
        if (name.empty()) return r.fail(shown + " holds a record whose name is not usable");
        const std::uint32_t extent = le32(record + 2), data_length = le32(record + 10);
        const std::uint8_t flags = record[25];
        if (record[1] != 0 || record[26] != 0 || (flags & 0x80) != 0) {
            return r.fail("'/" + path + name + "' has extended attributes, interleaving or several extents");
        }
        if ((flags & 0x02) != 0) {
            if (!read_directory(r, extent, data_length, path + name + "/", depth + 1, joliet, files)) return false;
        } else {
            if (!r.extent_inside(extent, data_length)) {
                return r.fail("file '/" + path + name + "' lies outside the image");
            }
            if (path.size() + name.size() > r.path_bytes_left) {
                return r.fail("more than " + std::to_string(ISO_PATH_BUDGET) + " bytes of file names in all");
            }
            r.path_bytes_left -= path.size() + name.size();
            files.push_back({path + name, extent, data_length});
        }
    }
    return true;
}

bool read_tree(ImageReader& r, const std::uint8_t* descriptor, bool joliet, std::vector<IsoFile>& files) {
    if ((descriptor[128] | descriptor[129] << 8) != SECTOR) return r.fail("logical blocks are not 2048 bytes");
    const std::uint8_t* root = descriptor + 156;
    if (root[0] < RECORD_HEADER + 1 || (root[25] & 0x02) == 0) return r.fail("the root directory record is malformed");
    return read_directory(r, le32(root + 2), le32(root + 10), "", 1, joliet, files);
}

bool is_descriptor(const std::uint8_t* d, std::uint8_t type) {
    return d[0] == type && std::memcmp(d + 1, "CD001", 5) == 0 && d[6] == 1;
}

}  // namespace

bool read_iso_volume(const std::string& image_path, IsoVolume* volume, std::string* error) {
    ImageReader r;
    r.fd = platform_open(image_path.c_str(), OPEN_READ_ONLY);
    const std::int64_t size = r.fd < 0 ? -1 : platform_file_length(r.fd);
    if (size < 0) {
        *error = "cannot open or measure the image";
        return false;
    }
    r.size = static_cast<std::uint64_t>(size);

    std::uint8_t primary[SECTOR], other[SECTOR];
    bool ok = r.read(std::uint64_t{FIRST_DESCRIPTOR_SECTOR} * SECTOR, primary, SECTOR);
    if (ok && !is_descriptor(primary, 1)) ok = r.fail("no ISO 9660 primary volume descriptor at sector 16");
    ok = ok && read_tree(r, primary, false, volume->primary);
    for (std::uint32_t i = 1; ok && i < MAX_DESCRIPTORS; ++i) {
        ok = r.read(std::uint64_t{FIRST_DESCRIPTOR_SECTOR + i} * SECTOR, other, SECTOR);
        if (!ok || other[0] == 255) break;  // the set terminator
        const bool joliet_escape = other[88] == '%' && other[89] == '/' &&
                                   (other[90] == '@' || other[90] == 'C' || other[90] == 'E');
        if (!volume->has_joliet && is_descriptor(other, 2) && joliet_escape) {
            volume->has_joliet = true;
            r.directories_seen.clear();
            ok = read_tree(r, other, true, volume->joliet);
        }
    }
    if (!ok) *error = r.error;
    return ok;
}

#include "iso9660_writer.h"

#include <cstring>
#include <memory>

namespace {

constexpr std::uint32_t SECTOR = 2048;

struct Folder {
    bool joliet = false;  // names in UCS-2, big-endian
    std::map<std::string, std::unique_ptr<Folder>> folders;
    std::map<std::string, const IsoEntry*> files;
    std::uint32_t sector = 0, length = 0;
};

std::string encoded(const std::string& name, bool joliet) {
    if (!joliet) return name;
    std::string ucs2;
    for (const char ch : name) ucs2 += {'\0', ch};  // the test names are ASCII
    return ucs2;
}

// Files carry a version; a name without an extension keeps its dot ("NAME.;1").
std::string file_identifier(const std::string& name, bool joliet) {
    return encoded(name + (name.find('.') == std::string::npos ? ".;1" : ";1"), joliet);
}

std::size_t record_length(std::size_t identifier_length) {
    return 33 + identifier_length + (identifier_length % 2 == 0 ? 1 : 0);
}

void both_endian32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = p[7 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_record(std::uint8_t* p, const std::string& identifier, std::uint32_t sector, std::uint32_t length, bool folder) {
    p[0] = static_cast<std::uint8_t>(record_length(identifier.size()));
    both_endian32(p + 2, sector);
    both_endian32(p + 10, length);
    p[25] = folder ? 2 : 0;
    p[28] = p[31] = 1;  // volume sequence number
    p[32] = static_cast<std::uint8_t>(identifier.size());
    std::memcpy(p + 33, identifier.data(), identifier.size());
}

// Calls `place(identifier, sector, length, folder)` for each record, in order.
template <typename Place>
void for_each_record(const Folder& folder, const Folder& parent, Place place) {
    place(std::string(1, '\0'), folder.sector, folder.length, true);
    place(std::string(1, '\1'), parent.sector, parent.length, true);
    for (const auto& [name, child] : folder.folders) place(encoded(name, folder.joliet), child->sector, child->length, true);
    for (const auto& [name, entry] : folder.files) {
        place(file_identifier(name, folder.joliet), entry->sector, entry->length, false);
    }
}

// Records never cross a sector boundary.
std::uint32_t folder_length(const Folder& folder) {
    std::size_t pos = 0;
    for_each_record(folder, folder, [&](const std::string& id, std::uint32_t, std::uint32_t, bool) {
        const std::size_t length = record_length(id.size());
        if (pos % SECTOR + length > SECTOR) pos += SECTOR - pos % SECTOR;
        pos += length;
    });
    return static_cast<std::uint32_t>((pos + SECTOR - 1) / SECTOR * SECTOR);
}

void place_folders(Folder& folder, std::uint32_t& next_sector) {
    folder.length = folder_length(folder);
    folder.sector = next_sector;
    next_sector += folder.length / SECTOR;
    for (auto& [name, child] : folder.folders) place_folders(*child, next_sector);
}

void write_folders(const Folder& folder, const Folder& parent, IsoSectors& sectors) {
    std::size_t pos = 0;
    for_each_record(folder, parent, [&](const std::string& id, std::uint32_t sector, std::uint32_t length, bool is_folder) {
        const std::size_t size = record_length(id.size());
        if (pos % SECTOR + size > SECTOR) pos += SECTOR - pos % SECTOR;
        auto& bytes = sectors[folder.sector + static_cast<std::uint32_t>(pos / SECTOR)];
        put_record(bytes.data() + pos % SECTOR, id, sector, length, is_folder);
        pos += size;
    });
    for (std::uint32_t s = 0; s < folder.length / SECTOR; ++s) sectors[folder.sector + s];  // padding sectors too
    for (const auto& [name, child] : folder.folders) write_folders(*child, folder, sectors);
}

Folder folder_tree(const std::vector<IsoEntry>& files, bool joliet) {
    Folder root;
    root.joliet = joliet;
    for (const IsoEntry& entry : files) {
        Folder* folder = &root;
        std::size_t from = 0;
        for (std::size_t slash; (slash = entry.path.find('/', from)) != std::string::npos; from = slash + 1) {
            auto& child = folder->folders[entry.path.substr(from, slash - from)];
            if (!child) child = std::make_unique<Folder>();
            child->joliet = joliet;
            folder = child.get();
        }
        folder->files[entry.path.substr(from)] = &entry;
    }
    return root;
}

void put_descriptor(IsoSectors& sectors, std::uint32_t sector, std::uint8_t type, std::uint32_t volume_sectors,
                    const Folder& root) {
    auto& d = sectors[sector];
    d[0] = type;
    std::memcpy(d.data() + 1, "CD001\1", 6);
    std::memcpy(d.data() + 40, "ORVELIA_TEST                    ", 32);
    both_endian32(d.data() + 80, volume_sectors);
    if (root.joliet) std::memcpy(d.data() + 88, "%/E", 3);  // UCS-2 level 3
    d[120] = d[123] = d[124] = d[127] = 1;                   // one volume in the set
    d[129] = d[130] = 0x08;                                  // 2048-byte blocks
    put_record(d.data() + 156, std::string(1, '\0'), root.sector, root.length, true);
    d[881] = 1;
}

}  // namespace

IsoSectors iso_file_system(const std::vector<IsoEntry>& files, std::uint32_t volume_sectors,
                           const std::vector<IsoEntry>* joliet_files) {
    Folder root = folder_tree(files, false);
    const std::vector<IsoEntry> no_files;
    Folder joliet_root = folder_tree(joliet_files ? *joliet_files : no_files, true);  // keeps pointers: no copies
    const std::uint32_t terminator = joliet_files ? 18 : 17;
    std::uint32_t next_sector = terminator + 1;
    place_folders(root, next_sector);
    if (joliet_files) place_folders(joliet_root, next_sector);

    IsoSectors sectors;
    put_descriptor(sectors, 16, 1, volume_sectors, root);
    if (joliet_files) put_descriptor(sectors, 17, 2, volume_sectors, joliet_root);
    sectors[terminator][0] = 255;
    std::memcpy(sectors[terminator].data() + 1, "CD001\1", 6);
    write_folders(root, root, sectors);
    if (joliet_files) write_folders(joliet_root, joliet_root, sectors);
    return sectors;
}

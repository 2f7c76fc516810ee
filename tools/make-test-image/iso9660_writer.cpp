#include "iso9660_writer.h"

#include <cstring>
#include <memory>

namespace {

constexpr std::uint32_t SECTOR = 2048;

struct Folder {
    std::map<std::string, std::unique_ptr<Folder>> folders;
    std::map<std::string, const IsoEntry*> files;
    std::uint32_t sector = 0, length = 0;
};

// Files carry a version; a name without an extension keeps its dot ("NAME.;1").
std::string file_identifier(const std::string& name) {
    return name + (name.find('.') == std::string::npos ? ".;1" : ";1");
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
    for (const auto& [name, child] : folder.folders) place(name, child->sector, child->length, true);
    for (const auto& [name, entry] : folder.files) place(file_identifier(name), entry->sector, entry->length, false);
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

}  // namespace

IsoSectors iso_file_system(const std::vector<IsoEntry>& files, std::uint32_t volume_sectors) {
    Folder root;
    for (const IsoEntry& entry : files) {
        Folder* folder = &root;
        std::size_t from = 0;
        for (std::size_t slash; (slash = entry.path.find('/', from)) != std::string::npos; from = slash + 1) {
            auto& child = folder->folders[entry.path.substr(from, slash - from)];
            if (!child) child = std::make_unique<Folder>();
            folder = child.get();
        }
        folder->files[entry.path.substr(from)] = &entry;
    }
    std::uint32_t next_sector = ISO_FIRST_DIRECTORY_SECTOR;
    place_folders(root, next_sector);

    IsoSectors sectors;
    auto& primary = sectors[16];
    primary[0] = 1;
    std::memcpy(primary.data() + 1, "CD001\1", 6);
    std::memcpy(primary.data() + 40, "ORVELIA_TEST                    ", 32);
    both_endian32(primary.data() + 80, volume_sectors);
    primary[120] = primary[123] = primary[124] = primary[127] = 1;  // one volume in the set
    primary[129] = primary[130] = 0x08;                              // 2048-byte blocks
    put_record(primary.data() + 156, std::string(1, '\0'), root.sector, root.length, true);
    primary[881] = 1;
    auto& terminator = sectors[17];
    terminator[0] = 255;
    std::memcpy(terminator.data() + 1, "CD001\1", 6);
    write_folders(root, root, sectors);
    return sectors;
}

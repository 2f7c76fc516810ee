#include "table_extraction.h"

#include <fcntl.h>

#include <algorithm>
#include <map>
#include <memory>

#include "platform/platform.h"
#include "rebuild/rebuild_steps.h"
#include "rebuild/sound_bank_split.h"

namespace {

constexpr std::uint32_t SECTOR = 2048;
constexpr std::uint32_t SCAN_CHUNK = 1u << 20;

// Whole sectors: a file's last sector counts even when the file ends early in it.
std::uint32_t sectors_of(std::uint32_t length) {
    return static_cast<std::uint32_t>((std::uint64_t{length} + SECTOR - 1) / SECTOR);
}

bool in_block(const IsoFile& file) {
    return file.sector >= RELOCATED_BLOCK_FIRST_SECTOR &&
           file.sector - RELOCATED_BLOCK_FIRST_SECTOR < RELOCATED_BLOCK_SECTORS;
}

std::size_t fitting_names_in_block(const std::vector<IsoFile>& files) {
    return static_cast<std::size_t>(std::count_if(files.begin(), files.end(), [](const IsoFile& f) {
        return in_block(f) && name_fits_table_shape(f.path);
    }));
}

}  // namespace

bool joliet_fits_better(const IsoVolume& volume) {
    return volume.has_joliet && fitting_names_in_block(volume.joliet) > fitting_names_in_block(volume.primary);
}

void derive_relocation_tables(const std::vector<IsoFile>& us_files, const std::vector<IsoFile>& eu_files,
                              RebuildTableFiles* tables, std::vector<FactFailure>* failures) {
    std::vector<const IsoFile*> block;
    for (const IsoFile& f : us_files) {
        if (in_block(f)) block.push_back(&f);
    }
    std::stable_sort(block.begin(), block.end(), [](const IsoFile* a, const IsoFile* b) { return a->sector < b->sector; });
    for (const IsoFile* f : block) {
        tables->targets.push_back({f->path, f->sector - RELOCATED_BLOCK_FIRST_SECTOR, sectors_of(f->length)});
    }

    std::multimap<std::string, const IsoFile*> eu_by_name;
    for (const IsoFile& f : eu_files) eu_by_name.emplace(f.path, &f);
    std::vector<const IsoFile*> sources;
    for (const TargetRow& t : tables->targets) {
        const auto found = eu_by_name.find(t.name);
        if (found == eu_by_name.end()) {
            failures->push_back({"target has a European file", "no '" + t.name + "' in the European image",
                                 "a file of the same name"});
        } else if (found->second->sector < RELOCATION_BASE_SECTOR) {
            failures->push_back({"source above the base sector",
                                 "'" + t.name + "' at sector " + std::to_string(found->second->sector),
                                 "at or above sector " + std::to_string(RELOCATION_BASE_SECTOR)});
        } else {
            sources.push_back(found->second);
        }
    }
    std::stable_sort(sources.begin(), sources.end(), [](const IsoFile* a, const IsoFile* b) { return a->sector < b->sector; });
    for (const IsoFile* f : sources) tables->sources.push_back({f->path, f->sector - RELOCATION_BASE_SECTOR});
}

bool scan_bank_sets(const std::string& us_image_path, RebuildTableFiles* tables, std::string* error) {
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) platform_close(fd);
        }
    } image{platform_open(us_image_path.c_str(), OPEN_READ_ONLY)};
    if (image.fd < 0) {
        *error = "cannot open the image";
        return false;
    }
    const std::unique_ptr<std::uint8_t[]> chunk(new std::uint8_t[SCAN_CHUNK]);
    tables->bank_sets.assign(9, {});
    for (std::size_t k = 0; k < 9; ++k) {
        const std::uint64_t start = rebuild_step_output_offset(FIRST_BANK_STEP + k);
        const std::uint32_t length = REBUILD_STEPS[FIRST_BANK_STEP + k].end_value;
        for (std::uint32_t at = 0; at < length; at += SCAN_CHUNK) {
            const std::uint32_t want = std::min(SCAN_CHUNK, length - at);
            std::uint32_t got = 0;
            if (platform_seek(image.fd, static_cast<std::int64_t>(start + at), SEEK_SET) < 0) got = UINT32_MAX;
            while (got < want) {
                const std::int64_t n = platform_read(image.fd, chunk.get() + got, want - got);
                if (n <= 0) break;
                got += static_cast<std::uint32_t>(n);
            }
            if (got != want) {
                *error = "cannot read bank set " + std::to_string(k + 1) + " at byte " + std::to_string(start + at);
                return false;
            }
            for (std::uint32_t pos = 0; pos + 16 <= want; pos += SECTOR) {
                if (is_bank_header(chunk.get() + pos)) tables->bank_sets[k].push_back(at + pos);
            }
            // Read once: keep 440 MB of sound from crowding the page cache.
            posix_fadvise(image.fd, static_cast<off_t>(start + at), want, POSIX_FADV_DONTNEED);
        }
    }
    return true;
}

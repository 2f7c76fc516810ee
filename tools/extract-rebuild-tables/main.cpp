// extract-rebuild-tables US_IMAGE EU_IMAGE OUTDIR
//
// Reads the rebuild tables off a US and a European disc image and writes them into
// OUTDIR as relocation_targets.tsv, relocation_sources.tsv and sound_banks.tsv, but only
// when every known fact about the tables holds. Exit status: 0 written; 1 a fact failed
// or an image could not be read (each failure on standard error, OUTDIR untouched);
// 2 a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/identification.h"
#include "iso9660_reader.h"
#include "table_extraction.h"
#include "table_output.h"

namespace {

constexpr const char* TOOL = "extract-rebuild-tables";

const char* release_name(ImageIdentity identity) {
    switch (identity) {
        case IMAGE_US: return "the US release";
        case IMAGE_EU: return "the European release";
        case IMAGE_OPEN_FAILED: return "a file that cannot be opened";
        default: return "not a release of the game (size, boot path or marker differ)";
    }
}

// The patcher's own identification: exact size, boot path and, for the US release, the marker.
ImageIdentity identify(const char* path) {
    PatchJob job{};
    job.image_fd = -1;
    job.temp_fd = -1;
    if (std::strlen(path) >= PATH_BUFFER_SIZE) return IMAGE_OPEN_FAILED;
    std::strcpy(job.image_path, path);
    return identify_image(job);
}

bool read_volume(const char* path, IsoVolume* volume) {
    std::string error;
    if (read_iso_volume(path, volume, &error)) return true;
    std::fprintf(stderr, "%s: %s: %s\n", TOOL, path, error.c_str());
    return false;
}

int refuse(const std::vector<FactFailure>& failures) {
    for (const FactFailure& f : failures) {
        std::fprintf(stderr, "%s: fact '%s' does not hold: found %s; expected %s\n", TOOL, f.fact.c_str(),
                     f.found.c_str(), f.expected.c_str());
    }
    std::fprintf(stderr, "%s: %zu failed fact(s); nothing written\n", TOOL, failures.size());
    return 1;
}

std::string base_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s US_IMAGE EU_IMAGE OUTDIR\n", TOOL);
        return 2;
    }
    const char* us_path = argv[1];
    const char* eu_path = argv[2];
    const char* out_dir = argv[3];
    if (!is_writable_folder(out_dir)) {
        return refuse({{"output folder", std::string("'") + out_dir + "' is not a folder we can write into",
                        "an existing, writable folder"}});
    }

    const ImageIdentity us = identify(us_path), eu = identify(eu_path);
    if (us != IMAGE_US || eu != IMAGE_EU) {
        std::vector<FactFailure> failures;
        if (us == IMAGE_EU && eu == IMAGE_US) {
            failures.push_back({"image order", "the European image first", "US_IMAGE first: the two are swapped"});
        }
        if (us != IMAGE_US) {
            failures.push_back({"US image identity", us_path + std::string(" is ") + release_name(us), "the US release"});
        }
        if (eu != IMAGE_EU) {
            failures.push_back(
                {"European image identity", eu_path + std::string(" is ") + release_name(eu), "the European release"});
        }
        return refuse(failures);
    }

    IsoVolume us_volume, eu_volume;
    if (!read_volume(us_path, &us_volume) || !read_volume(eu_path, &eu_volume)) return 1;
    // Both discs must be read through the same kind of tree, or their names would not meet.
    const bool joliet = eu_volume.has_joliet && joliet_fits_better(us_volume);
    RebuildTableFiles tables;
    std::vector<FactFailure> failures;
    derive_relocation_tables(joliet ? us_volume.joliet : us_volume.primary,
                             joliet ? eu_volume.joliet : eu_volume.primary, &tables, &failures);
    std::string error;
    if (!scan_bank_sets(us_path, &tables, &error)) {
        std::fprintf(stderr, "%s: %s: %s\n", TOOL, us_path, error.c_str());
        return 1;
    }
    const std::vector<FactFailure> facts = check_table_facts(tables);
    failures.insert(failures.end(), facts.begin(), facts.end());
    if (!failures.empty()) return refuse(failures);

    const std::string origin = "Read by extract-rebuild-tables from " + base_name(us_path) + " (US) and " +
                               base_name(eu_path) + " (European), " + (joliet ? "Joliet" : "ISO 9660") + " names.";
    if (!write_table_files_atomically(out_dir, format_table_files(tables, origin), &error)) {
        std::fprintf(stderr, "%s: %s; nothing written\n", TOOL, error.c_str());
        return 1;
    }
    std::printf("%s: %zu targets, %zu sources and %zu bank sets written into %s\n", TOOL, tables.targets.size(),
                tables.sources.size(), tables.bank_sets.size(), out_dir);
    return 0;
}

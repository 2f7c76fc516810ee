// make-test-image: writes a disc image that the patcher identifies as the US or the
// European release, for tests, the demo and benchmarks.
//
//   make-test-image us|eu sparse|random OUTPUT [SEED]
//   make-test-image pair US_OUTPUT EU_OUTPUT [TABLE_DIR]
//
// sparse: a sparse file of the exact size, holding only the identification bytes and
//         a 16-byte stamp at the start of every MiB (its own offset and the seed), so
//         that moved data stays recognisable. Takes no time and no disk space.
// random: pseudo-random bytes throughout (the same for the same seed), then the
//         identification bytes; for benchmarks that must read and write real data.
// pair:   a US and a European image with ISO 9660 file systems and bank headers laid
//         out from the rebuild tables (the compiled-in ones, or the .tsv files of
//         TABLE_DIR), sparse, for extract-rebuild-tables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_disc_pair.h"
#include "test_image_layout.h"

namespace {

bool write_at(int fd, std::uint64_t offset, const void* bytes, std::uint32_t length) {
    return platform_seek(fd, static_cast<std::int64_t>(offset), SEEK_SET) == static_cast<std::int64_t>(offset) &&
           platform_write(fd, bytes, length) == length;
}

bool write_sparse(int fd, const TestImageLayout& layout, std::uint64_t seed) {
    for (std::uint64_t offset = 0; offset < layout.size; offset += STAMP_INTERVAL) {
        std::uint8_t stamp[STAMP_SIZE];
        make_stamp(stamp, offset, seed);
        if (!write_at(fd, offset, stamp, sizeof stamp)) return false;
    }
    // The last byte gives the file its exact size without writing the rest.
    const std::uint8_t zero = 0;
    return write_at(fd, layout.size - 1, &zero, 1);
}

bool write_random(int fd, const TestImageLayout& layout, std::uint64_t seed) {
    constexpr std::uint32_t BUFFER_SIZE = 4u << 20;
    std::vector<std::uint8_t> buffer(BUFFER_SIZE);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::uint64_t offset = 0; offset < layout.size; offset += BUFFER_SIZE) {
        fill_pseudo_random(buffer.data(), BUFFER_SIZE, state);
        const std::uint64_t left = layout.size - offset;
        const auto length = static_cast<std::uint32_t>(left < BUFFER_SIZE ? left : BUFFER_SIZE);
        if (platform_write(fd, buffer.data(), length) != length) return false;
    }
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: make-test-image us|eu sparse|random OUTPUT [SEED]\n"
                         "       make-test-image pair US_OUTPUT EU_OUTPUT [TABLE_DIR]\n");
    return 2;
}

int write_pair(int argc, char** argv) {
    const RebuildTableFiles tables = argc == 5 ? read_table_files(argv[4]) : shipped_rebuild_tables();
    std::string error = tables.error;
    if (error.empty() && write_test_disc_pair(argv[2], argv[3], tables, &error)) return 0;
    std::fprintf(stderr, "make-test-image: %s\n", error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) return usage();
    if (std::string(argv[1]) == "pair") return write_pair(argc, argv);
    const std::string release = argv[1];
    const std::string content = argv[2];
    if ((release != "us" && release != "eu") || (content != "sparse" && content != "random")) return usage();
    const std::uint64_t seed = argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 1;
    const TestImageLayout& layout = release == "us" ? US_TEST_IMAGE : EU_TEST_IMAGE;

    const int fd = platform_open(argv[3], OPEN_CREATE_TRUNCATE);
    if (fd < 0) {
        std::fprintf(stderr, "make-test-image: cannot create %s\n", argv[3]);
        return 1;
    }
    bool ok = content == "sparse" ? write_sparse(fd, layout, seed) : write_random(fd, layout, seed);
    for (const IdentificationBytes& bytes : layout.identification) {
        if (bytes.length == 0) continue;
        ok = ok && write_at(fd, bytes.offset, bytes.bytes, bytes.length);
    }
    ok = platform_close(fd) == 0 && ok;
    if (!ok) {
        platform_remove(argv[3]);
        std::fprintf(stderr, "make-test-image: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}

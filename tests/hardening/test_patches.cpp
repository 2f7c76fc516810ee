#include "test_patches.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "e2e_support.h"
#include "vcdiff/decode_types.h"

namespace fs = std::filesystem;

Bytes region_bytes(const UsImageRegion& region) {
    Bytes bytes(region.length);
    std::uint32_t state = region.seed;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void make_us_image_with_regions(const fs::path& path) {
    std::vector<BytesAt> at = {{13093328, std::string("cdrom0:\\SXUS_907.31;1", 21) + '\0'},
                               {14500752, "\x82\x62\x82\x81"}};
    for (const UsImageRegion& region : US_REGIONS) {
        const Bytes bytes = region_bytes(region);
        at.push_back({region.offset, std::string(bytes.begin(), bytes.end())});
    }
    make_sparse_file(path, US_SIZE, at);
}

Bytes small_us_patch(Bytes* expected, int bad_checksum_window) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    expected->clear();
    struct Piece {
        int region;
        std::uint32_t from, length;
    };
    const Piece pieces[] = {{0, 0, 40000}, {1, 16000, 50000}, {0, 30000, 20000}, {1, 0, 1000}, {0, 69000, 1000}};
    int index = 0;
    for (const Piece& piece : pieces) {
        const UsImageRegion& region = US_REGIONS[piece.region];
        const Bytes all = region_bytes(region);
        const Bytes window_source(all.begin() + piece.from, all.begin() + piece.from + piece.length);
        InstructionEncoder encoder;
        encoder_start(&encoder, piece.length);
        encode_add(&encoder, Bytes(100, static_cast<std::uint8_t>('A' + index)));
        encode_copy(&encoder, 0, piece.length / 2);
        encode_run(&encoder, 0xEE, 777);
        encode_copy(&encoder, piece.length / 2, piece.length - piece.length / 2);
        const auto target = reference_window_target(window_source, 0, piece.length, encoder.ops);
        if (!target) throw std::logic_error("bad test patch");
        expected->insert(expected->end(), target->begin(), target->end());
        WindowSpec window =
            window_from_encoder(&encoder, VCD_SOURCE, piece.length, region.offset + piece.from, &*target);
        if (index == bad_checksum_window) window.checksum ^= 1;
        write_window(&sink, window);
        ++index;
    }
    return patch;
}

void write_identity_patch(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path.string());
    PatchSink sink = sink_to_file(file);
    write_file_header(&sink, FileHeaderSpec{});
    constexpr std::uint64_t WINDOW = 16u << 20;
    for (std::uint64_t offset = 0; offset < INTERMEDIATE_SIZE; offset += WINDOW) {
        const std::uint64_t length = INTERMEDIATE_SIZE - offset < WINDOW ? INTERMEDIATE_SIZE - offset : WINDOW;
        InstructionEncoder encoder;
        encoder.keep_ops = false;
        encoder_start(&encoder, length);
        encode_copy(&encoder, 0, length);
        write_window(&sink, window_from_encoder(&encoder, VCD_SOURCE, length, offset));
    }
    const bool ok = !sink.failed && std::fclose(file) == 0;
    if (!ok) throw std::runtime_error("cannot write " + path.string());
}

void put_bytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

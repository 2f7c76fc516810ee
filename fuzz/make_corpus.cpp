// Writes the decoder's seed corpus: small patches that between them reach every
// opcode, address mode, header option and failure class, each preceded by the
// fuzz entry's control bytes. Usage: make_corpus OUTPUT_FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_decoder_entry.h"
#include "patch_reference.h"
#include "vcdiff/decode_types.h"

namespace {

struct Control {
    std::uint16_t source_size = 0;
    std::uint8_t seed = 1;
    std::uint8_t block = 10;   // 2^14 = 16384, the driver's block size
    std::uint8_t chunking = 0;
};

// The source the fuzz entry derives from the control bytes, for references.
Bytes fuzz_source(const Control& control) {
    std::uint32_t state = control.seed;
    Bytes bytes(control.source_size % 40000u);
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 8);
    }
    return bytes;
}

bool write_seed(const std::string& folder, const std::string& name, const Control& control, const Bytes& patch) {
    Bytes bytes = {static_cast<std::uint8_t>(control.source_size & 0xFF),
                   static_cast<std::uint8_t>(control.source_size >> 8), control.seed, control.block,
                   control.chunking};
    bytes.insert(bytes.end(), patch.begin(), patch.end());
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

Bytes pattern(std::size_t count, std::uint8_t start) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
    return bytes;
}

// The encoder's window without a checksum.
WindowSpec unchecked(InstructionEncoder* enc, std::uint8_t indicator, std::uint64_t copy_offset = 0) {
    return window_from_encoder(enc, indicator, enc->copy_window_length, copy_offset);
}

// Every opcode of the default table once, after enough target bytes for any mode.
Bytes every_opcode_patch() {
    InstructionEncoder enc;
    encoder_start(&enc, 0);
    encode_add(&enc, pattern(800, 3), SIZE_FOLLOWS);
    for (std::uint64_t a : {100u, 300u, 600u}) encode_copy(&enc, a, 4, COPY_MODE_SELF, SIZE_IN_OPCODE);
    for (unsigned op = 0; op < 256; ++op) {
        const OpcodeEntry entry = default_opcode_entry(static_cast<std::uint8_t>(op));
        HalfArgs halves[2];
        const std::uint8_t types[2] = {entry.type1, entry.type2};
        const std::uint8_t sizes[2] = {entry.size1, entry.size2};
        for (int h = 0; h < 2; ++h) {
            const std::uint64_t size = sizes[h] != 0 ? sizes[h] : 5;
            if (types[h] == ADD) halves[h].bytes = pattern(size, static_cast<std::uint8_t>(op));
            if (types[h] == RUN) halves[h].bytes = {static_cast<std::uint8_t>(op)};
            halves[h].size = size;
            if (types[h] < COPY) continue;
            const int mode = types[h] - COPY;
            if (mode <= COPY_MODE_HERE) {
                halves[h].address = enc.position - 50;
            } else if (mode < COPY_MODE_SAME0) {
                halves[h].address = enc.cache.near_slots[static_cast<std::size_t>(mode - COPY_MODE_NEAR0)] + 1;
            } else {
                // Any filled slot of this mode's 256 holds an address it can name.
                for (std::size_t b = 0; b < 256; ++b) {
                    const std::uint64_t v = enc.cache.same_slots[static_cast<std::size_t>(mode - COPY_MODE_SAME0) * 256 + b];
                    if (v != 0) halves[h].address = v;
                }
            }
        }
        if (!encode_opcode(&enc, static_cast<std::uint8_t>(op), halves[0], halves[1])) {
            std::fprintf(stderr, "opcode %u could not be encoded\n", op);
        }
    }
    return patch_bytes({checked_window(&enc)});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = true;
    auto seed = [&](const std::string& name, const Control& control, const Bytes& patch) {
        ok = write_seed(folder, name, control, patch) && ok;
    };
    const Control plain{};
    const Control sourced{20000, 1, 2, 0};   // 64-byte blocks: many block requests
    const Bytes source = fuzz_source(sourced);

    // The file header alone, and each header option.
    seed("header_only", plain, patch_bytes({}));
    InstructionEncoder enc;
    encoder_start(&enc, 0);
    encode_add(&enc, pattern(10, 2));
    FileHeaderSpec app;
    app.indicator = VCD_APPHEADER;
    app.app_header = pattern(40, 1);
    seed("app_header", plain, patch_bytes({checked_window(&enc)}, app));
    for (std::uint8_t id : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{16}, std::uint8_t{3}}) {
        FileHeaderSpec header;
        header.indicator = VCD_DECOMPRESS;
        header.secondary_id = id;
        seed("secondary_" + std::to_string(id), plain, patch_bytes({}, header));
    }
    FileHeaderSpec table;
    table.indicator = VCD_CODETABLE;
    table.code_table_length = 10;
    seed("code_table", plain, patch_bytes({}, table));
    FileHeaderSpec version;
    version.version = 1;
    seed("version_1", plain, patch_bytes({}, version));

    // ADD, RUN and target COPY, sizes in the opcode and following.
    encoder_start(&enc, 0);
    encode_add(&enc, pattern(17, 4), SIZE_IN_OPCODE);
    encode_add(&enc, pattern(300, 5), SIZE_FOLLOWS);
    encode_run(&enc, 0x41, 1000);
    encode_copy(&enc, 10, 100, COPY_MODE_HERE, SIZE_FOLLOWS);
    encode_copy(&enc, 1316, 18, COPY_MODE_HERE, SIZE_IN_OPCODE);   // overlaps its own output
    const Bytes add_run_copy = patch_bytes({checked_window(&enc)});
    seed("add_run_copy", plain, add_run_copy);
    seed("add_run_copy_bytewise", Control{0, 1, 10, 1}, add_run_copy);

    // Every address mode, and the best mode's pairs.
    encoder_start(&enc, 0);
    encode_add(&enc, pattern(900, 6));
    for (std::uint64_t a : {5u, 260u, 520u, 700u}) encode_copy(&enc, a, 6, COPY_MODE_SELF);
    encode_copy(&enc, 6, 7, COPY_MODE_NEAR0);
    encode_copy(&enc, 262, 8, COPY_MODE_NEAR0 + 1);
    encode_copy(&enc, 530, 9, COPY_MODE_NEAR0 + 2);
    encode_copy(&enc, 701, 10, COPY_MODE_NEAR0 + 3);
    encode_copy(&enc, 5, 4, COPY_MODE_SAME0);
    encode_copy(&enc, 262, 4, COPY_MODE_SAME0 + 1);
    encode_copy(&enc, 520, 4, COPY_MODE_SAME0 + 2);
    for (std::uint64_t i = 0; i < 30; ++i) {
        encode_add(&enc, pattern(1 + i % 4, static_cast<std::uint8_t>(i)));
        encode_copy(&enc, 100 + 20 * i, 4 + i % 3);
    }
    seed("address_modes", plain, patch_bytes({checked_window(&enc)}));
    seed("every_opcode", plain, every_opcode_patch());

    // Source windows: unaligned copy window, copies over many small blocks, back and
    // forth, and up to the source's last byte; then one byte past it.
    std::vector<WindowSpec> windows;
    for (std::uint64_t offset : {0u, 1000u, 19000u}) {
        const std::uint64_t length = 20000 - offset;
        encoder_start(&enc, length);
        encode_copy(&enc, 0, length / 2);
        encode_copy(&enc, 3, 70);
        encode_add(&enc, pattern(3, 7));
        encode_copy(&enc, length - 100, 100);
        encode_copy(&enc, length + 10, 20);
        windows.push_back(checked_window(&enc, source, offset));
    }
    seed("source_windows", sourced, patch_bytes(windows));
    seed("source_windows_chunked", Control{20000, 1, 10, 7}, patch_bytes(windows));
    encoder_start(&enc, 101);
    encode_copy(&enc, 0, 101);
    seed("source_too_short", sourced, patch_bytes({unchecked(&enc, VCD_SOURCE, 19900)}));
    seed("source_empty", plain, patch_bytes({unchecked(&enc, VCD_SOURCE, 19900)}));

    // Several windows, checksums right and wrong, empty windows.
    windows.clear();
    for (std::size_t w = 0; w < 5; ++w) {
        encoder_start(&enc, 0);
        if (w != 2) encode_add(&enc, pattern(50 * w + 1, static_cast<std::uint8_t>(w)));
        windows.push_back(w % 2 == 0 ? checked_window(&enc) : unchecked(&enc, 0));
    }
    seed("multiple_windows", plain, patch_bytes(windows));
    encoder_start(&enc, 0);
    encode_add(&enc, pattern(64, 9));
    windows.push_back(unchecked(&enc, VCD_CHECKSUM));
    windows.back().checksum = 12345;
    seed("checksum_mismatch", plain, patch_bytes(windows));
    seed("checksum_not_verified", Control{0, 1, 10 | 0x80, 0}, patch_bytes(windows));

    // Header fields: padded integers, lying lengths, forbidden bits.
    encoder_start(&enc, 10);
    encode_copy(&enc, 0, 10);
    encode_add(&enc, pattern(5, 1));
    WindowSpec w = unchecked(&enc, VCD_SOURCE, 7);
    w.copy_offset_pad = 3;
    w.encoding_length_pad = 1;
    seed("padded_fields", sourced, patch_bytes({w}));
    w.target_length_pad = 1;
    seed("padded_target_length", sourced, patch_bytes({w}));
    seed("target_window", sourced, patch_bytes({unchecked(&enc, VCD_TARGET)}));
    seed("source_and_target", sourced, patch_bytes({unchecked(&enc, VCD_SOURCE | VCD_TARGET)}));
    seed("window_bits", sourced, patch_bytes({unchecked(&enc, 0x08)}));
    w = unchecked(&enc, VCD_SOURCE);
    w.data.push_back(1);
    seed("extra_data", sourced, patch_bytes({w}));
    w = unchecked(&enc, VCD_SOURCE);
    w.encoding_length = 3;
    seed("encoding_length_lies", sourced, patch_bytes({w}));
    w = unchecked(&enc, VCD_SOURCE);
    w.delta_indicator = VCD_DATACOMP;
    seed("delta_indicator", sourced, patch_bytes({w}));

    // Large windows: a long RUN, and the largest target length.
    encoder_start(&enc, 0);
    encode_run(&enc, 0x7E, 65536);
    encode_copy(&enc, 100, 70000, COPY_MODE_HERE);
    seed("long_run", plain, patch_bytes({checked_window(&enc)}));
    w = WindowSpec{};
    w.target_length = MAX_TARGET_WINDOW + 1;
    seed("window_too_large", plain, patch_bytes({w}));
    if (!ok) std::fprintf(stderr, "make_corpus: cannot write to %s\n", folder.c_str());
    return ok ? 0 : 1;
}

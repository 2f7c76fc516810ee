// Writes the decoder's seed corpus: small patches that between them reach every
// opcode, address mode, header option and failure class, each preceded by the
// fuzz entry's control bytes. Usage: make_corpus OUTPUT_FOLDER
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_decoder_entry.h"
#include "patch_writer.h"
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

// A patch of one header and the windows the encoders describe, each with its
// checksum from the reference target.
struct PatchBuild {
    Bytes bytes;
    PatchSink sink;
};

void start_patch(PatchBuild* build, const FileHeaderSpec& header = {}) {
    build->bytes.clear();
    build->sink = sink_to_bytes(&build->bytes);
    write_file_header(&build->sink, header);
}

Bytes header_only(const FileHeaderSpec& header) {
    PatchBuild build;
    start_patch(&build, header);
    return build.bytes;
}

Bytes one_window(const WindowSpec& window) {
    PatchBuild build;
    start_patch(&build);
    write_window(&build.sink, window);
    return build.bytes;
}

void add_window(PatchBuild* build, InstructionEncoder* enc, const Bytes& source, std::uint8_t indicator,
                std::uint64_t copy_offset, bool checksum) {
    encoder_finish(enc);
    const auto target = reference_window_target(source, copy_offset, enc->copy_window_length, enc->ops);
    write_window(&build->sink, window_from_encoder(enc, indicator, enc->copy_window_length, copy_offset,
                                                   checksum && target ? &*target : nullptr));
}

// Every opcode of the default table once, after enough target bytes for any mode.
Bytes every_opcode_patch() {
    PatchBuild build;
    start_patch(&build);
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
    add_window(&build, &enc, {}, 0, 0, true);
    return build.bytes;
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
    Control sourced;
    sourced.source_size = 20000;
    sourced.block = 2;   // 64-byte blocks: many block requests
    const Bytes source = fuzz_source(sourced);

    {   // The file header alone, and each header option.
        seed("header_only", plain, header_only({}));
        PatchBuild b;
        FileHeaderSpec h;
        h.indicator = VCD_APPHEADER;
        h.app_header = pattern(40, 1);
        start_patch(&b, h);
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        encode_add(&enc, pattern(10, 2));
        add_window(&b, &enc, {}, 0, 0, true);
        seed("app_header", plain, b.bytes);
        for (std::uint8_t id : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{16}, std::uint8_t{3}}) {
            FileHeaderSpec s;
            s.indicator = VCD_DECOMPRESS;
            s.secondary_id = id;
            seed("secondary_" + std::to_string(id), plain, header_only(s));
        }
        FileHeaderSpec t;
        t.indicator = VCD_CODETABLE;
        t.code_table_length = 10;
        seed("code_table", plain, header_only(t));
        FileHeaderSpec v;
        v.version = 1;
        seed("version_1", plain, header_only(v));
    }
    {   // ADD, RUN and target COPY, sizes in the opcode and following.
        PatchBuild b;
        start_patch(&b);
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        encode_add(&enc, pattern(17, 4), SIZE_IN_OPCODE);
        encode_add(&enc, pattern(300, 5), SIZE_FOLLOWS);
        encode_run(&enc, 0x41, 1000);
        encode_copy(&enc, 10, 100, COPY_MODE_HERE, SIZE_FOLLOWS);
        encode_copy(&enc, 1316, 18, COPY_MODE_HERE, SIZE_IN_OPCODE);   // overlaps its own output
        add_window(&b, &enc, {}, 0, 0, true);
        seed("add_run_copy", plain, b.bytes);
        Control chunked = plain;
        chunked.chunking = 1;
        seed("add_run_copy_bytewise", chunked, b.bytes);
    }
    {   // Every address mode, and the best mode's pairs.
        PatchBuild b;
        start_patch(&b);
        InstructionEncoder enc;
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
        for (int i = 0; i < 30; ++i) {
            encode_add(&enc, pattern(1 + static_cast<std::size_t>(i) % 4, static_cast<std::uint8_t>(i)));
            encode_copy(&enc, 100 + 20 * static_cast<std::uint64_t>(i), 4 + static_cast<std::uint64_t>(i) % 3);
        }
        add_window(&b, &enc, {}, 0, 0, true);
        seed("address_modes", plain, b.bytes);
    }
    seed("every_opcode", plain, every_opcode_patch());
    {   // Source windows: unaligned copy window, copies over many small blocks,
        // back and forth, and up to the source's last byte.
        PatchBuild b;
        start_patch(&b);
        for (std::uint64_t offset : {0u, 1000u, 19000u}) {
            const std::uint64_t length = 20000 - offset;
            InstructionEncoder enc;
            encoder_start(&enc, length);
            encode_copy(&enc, 0, length / 2);
            encode_copy(&enc, 3, 70);
            encode_add(&enc, pattern(3, 7));
            encode_copy(&enc, length - 100, 100);
            encode_copy(&enc, length + 10, 20);
            add_window(&b, &enc, source, VCD_SOURCE, offset, true);
        }
        seed("source_windows", sourced, b.bytes);
        Control big_blocks = sourced;
        big_blocks.block = 10;
        big_blocks.chunking = 7;
        seed("source_windows_chunked", big_blocks, b.bytes);
        // One byte past the source's end.
        b = PatchBuild{};
        start_patch(&b);
        InstructionEncoder enc;
        encoder_start(&enc, 101);
        encode_copy(&enc, 0, 101);
        add_window(&b, &enc, source, VCD_SOURCE, 19900, false);
        seed("source_too_short", sourced, b.bytes);
        // A source window while the source is empty.
        seed("source_empty", plain, b.bytes);
    }
    {   // Several windows, checksums right and wrong, empty windows.
        PatchBuild b;
        start_patch(&b);
        for (int w = 0; w < 5; ++w) {
            InstructionEncoder enc;
            encoder_start(&enc, 0);
            if (w != 2) encode_add(&enc, pattern(50 * static_cast<std::size_t>(w) + 1, static_cast<std::uint8_t>(w)));
            add_window(&b, &enc, {}, 0, 0, w % 2 == 0);
        }
        seed("multiple_windows", plain, b.bytes);
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        encode_add(&enc, pattern(64, 9));
        WindowSpec wrong = window_from_encoder(&enc, 0, 0, 0, nullptr);
        wrong.indicator |= VCD_CHECKSUM;
        wrong.checksum = 12345;
        write_window(&b.sink, wrong);
        seed("checksum_mismatch", plain, b.bytes);
        Control unchecked = plain;
        unchecked.block |= 0x80;
        seed("checksum_not_verified", unchecked, b.bytes);
    }
    {   // Header fields: padded integers, lying lengths, forbidden bits.
        InstructionEncoder enc;
        encoder_start(&enc, 10);
        encode_copy(&enc, 0, 10);
        encode_add(&enc, pattern(5, 1));
        WindowSpec w = window_from_encoder(&enc, VCD_SOURCE, 10, 7);
        w.copy_offset_pad = 3;
        w.encoding_length_pad = 1;
        seed("padded_fields", sourced, one_window(w));
        w.target_length_pad = 1;
        seed("padded_target_length", sourced, one_window(w));
        const std::uint8_t indicators[] = {VCD_TARGET, VCD_SOURCE | VCD_TARGET, 0x08};
        const char* names[] = {"target_window", "source_and_target", "window_bits"};
        for (int i = 0; i < 3; ++i) seed(names[i], sourced, one_window(window_from_encoder(&enc, indicators[i], 10, 0)));
        WindowSpec extra = window_from_encoder(&enc, VCD_SOURCE, 10, 0);
        extra.data.push_back(1);
        seed("extra_data", sourced, one_window(extra));
        WindowSpec lying = window_from_encoder(&enc, VCD_SOURCE, 10, 0);
        lying.encoding_length = 3;
        seed("encoding_length_lies", sourced, one_window(lying));
        WindowSpec delta = window_from_encoder(&enc, VCD_SOURCE, 10, 0);
        delta.delta_indicator = VCD_DATACOMP;
        seed("delta_indicator", sourced, one_window(delta));
    }
    {   // Large windows: a long RUN, and the largest target length.
        PatchBuild b;
        start_patch(&b);
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        encode_run(&enc, 0x7E, 65536);
        encode_copy(&enc, 100, 70000, COPY_MODE_HERE);
        add_window(&b, &enc, {}, 0, 0, true);
        seed("long_run", plain, b.bytes);
        WindowSpec huge;
        huge.target_length = MAX_TARGET_WINDOW + 1;
        seed("window_too_large", plain, one_window(huge));
    }
    if (!ok) std::fprintf(stderr, "make_corpus: cannot write to %s\n", folder.c_str());
    return ok ? 0 : 1;
}

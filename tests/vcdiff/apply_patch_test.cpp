// The patch driver against real files: chunking, source blocks, output failures,
// progress lines, and every failure ending with the files closed.
#include "vcdiff/apply_patch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "patch_writer.h"
#include "vcdiff/decoder.h"

namespace {

namespace fs = std::filesystem;

// Removed with everything in it when the test ends.
struct TempFolder {
    fs::path path;
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

TempFolder make_temp_folder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    TempFolder folder{fs::temp_directory_path() /
                      (std::string("orv_apply_") + info->test_suite_name() + "_" + info->name())};
    fs::remove_all(folder.path);
    fs::create_directories(folder.path);
    return folder;
}

void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

struct Outcome {
    int code;
    std::string message;
    Bytes output;
};

// Runs apply_patch on files in `folder`: source.bin (when present), patch.bin, out.bin.
Outcome run_apply(const TempFolder& folder, const Bytes& patch, std::uint8_t show_progress = 0, int start = 0,
              std::uint32_t expected_total = 100) {
    write_file(folder.path / "patch.bin", patch);
    const char* message = nullptr;
    const fs::path source = folder.path / "source.bin";
    const fs::path output = folder.path / "out.bin";
    const int code = apply_patch(show_progress, start, 100, expected_total, source.string().c_str(),
                                 output.string().c_str(), (folder.path / "patch.bin").string().c_str(), &message);
    return Outcome{code, message != nullptr ? message : "", read_file(output)};
}

// A patch of windows that each add `sizes[i]` bytes of `content`, with checksums.
Bytes add_windows(const std::vector<std::size_t>& sizes, const Bytes& content, FileHeaderSpec header = {}) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, header);
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        const Bytes piece(content.begin() + static_cast<std::ptrdiff_t>(at),
                          content.begin() + static_cast<std::ptrdiff_t>(at + size));
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        if (size != 0) encode_add(&enc, piece);
        write_window(&sink, window_from_encoder(&enc, 0, 0, 0, &piece));
        at += size;
    }
    return patch;
}

TEST(ApplyPatchInput, EmptyMissingAndMultiplesOfTheChunk) {
    const TempFolder folder = make_temp_folder();
    const Outcome empty = run_apply(folder, {});
    EXPECT_EQ(empty.code, DECODE_INVALID_INPUT);
    EXPECT_EQ(empty.message, "empty patch file");
    EXPECT_TRUE(fs::exists(folder.path / "out.bin"));

    const char* message = nullptr;
    fs::remove(folder.path / "out.bin");
    EXPECT_EQ(apply_patch(0, 0, 100, 1, "no-source", (folder.path / "out.bin").string().c_str(),
                          (folder.path / "missing.bin").string().c_str(), &message),
              APPLY_PATCH_OPEN_FAILED);
    EXPECT_STREQ(message, "cannot open patch file");

    // Patches of exactly one, two and three chunks, padded with the application
    // header; the windows straddle the chunk boundaries.
    const Bytes content = random_bytes(60000, 1);
    for (std::size_t chunks = 1; chunks <= 3; ++chunks) {
        const std::vector<std::size_t> sizes = {3000, 9000 * chunks, 17};
        std::size_t total = 0;
        for (std::size_t s : sizes) total += s;
        FileHeaderSpec header;
        header.indicator = VCD_APPHEADER;
        Bytes patch = add_windows(sizes, content, header);
        const std::size_t goal = chunks * PATCH_CHUNK_SIZE;
        ASSERT_LT(patch.size() + 2, goal);
        header.app_header.assign(goal - patch.size() - 2, 'h');   // its length field takes 3 bytes, not 1
        header.app_header_length_pad = 3 - shortest_integer_size(header.app_header.size());
        patch = add_windows(sizes, content, header);
        ASSERT_EQ(patch.size(), goal);
        const Outcome outcome = run_apply(folder, patch);
        EXPECT_EQ(outcome.code, 0) << outcome.message;
        EXPECT_EQ(outcome.output, Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(total)));
    }
}

TEST(ApplyPatchInput, CutInsideAWindow) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(40000, 2);
    const Bytes patch = add_windows({100, 39900}, content);
    // Cut in the second window's header, in its data, and exactly at a chunk boundary.
    for (std::size_t cut : {std::size_t{120}, patch.size() - 1, std::size_t{PATCH_CHUNK_SIZE}}) {
        const Outcome outcome = run_apply(folder, Bytes(patch.begin(), patch.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(outcome.code, DECODE_INVALID_INPUT) << cut;
        EXPECT_EQ(outcome.message, "eof in decode") << cut;
        EXPECT_EQ(outcome.output, Bytes(content.begin(), content.begin() + 100)) << cut;
    }
}

TEST(ApplyPatchSource, MissingSource) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(500, 3);
    const Outcome plain = run_apply(folder, add_windows({200, 300}, content));
    EXPECT_EQ(plain.code, 0) << plain.message;
    EXPECT_EQ(plain.output, content);

    Bytes patch = add_windows({200}, content);
    PatchSink sink = sink_to_bytes(&patch);
    InstructionEncoder enc;
    encoder_start(&enc, 10);
    encode_copy(&enc, 0, 10);
    write_window(&sink, window_from_encoder(&enc, VCD_SOURCE, 10, 0));
    const Outcome sourced = run_apply(folder, patch);
    EXPECT_EQ(sourced.code, DECODE_INVALID_INPUT);
    EXPECT_EQ(sourced.message, "source input required");
    EXPECT_EQ(sourced.output, Bytes(content.begin(), content.begin() + 200));
}

// Copies from a source of three full blocks and a short fourth one: block
// boundaries, an unaligned copy window, jumps back to earlier blocks, and copies
// ending at the very last byte of the source.
TEST(ApplyPatchSource, BlocksAcrossBoundariesAndShortLastBlock) {
    const TempFolder folder = make_temp_folder();
    const std::size_t source_size = 3 * SOURCE_BLOCK_SIZE + 1000;
    const Bytes source = random_bytes(source_size, 4);
    write_file(folder.path / "source.bin", source);

    Bytes patch;
    Bytes expected;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    struct Segment {
        std::uint64_t offset, length;
    };
    const Segment segments[] = {{0, source_size}, {20000, source_size - 20000}, {16383, 2}};
    for (const Segment& segment : segments) {
        InstructionEncoder enc;
        encoder_start(&enc, segment.length);
        const std::uint64_t last = segment.length;
        encode_copy(&enc, 0, 1);
        if (last > 20000) {
            const std::uint64_t boundary = 2 * SOURCE_BLOCK_SIZE - segment.offset;
            encode_copy(&enc, boundary - 4, 16390);    // crosses two block boundaries
            encode_copy(&enc, 10, 100);                // back to an earlier block
            encode_copy(&enc, last - 1000, 1000);      // ends at the source's last byte
            encode_add(&enc, {1, 2, 3});
            encode_copy(&enc, last + 3, 50);           // from the target just produced
            encode_copy(&enc, 5000, last - 5100, COPY_MODE_HERE);
        } else {
            encode_copy(&enc, 1, 1);                   // the second byte is in the next block
        }
        encoder_finish(&enc);
        const auto target = reference_window_target(source, segment.offset, segment.length, enc.ops);
        ASSERT_TRUE(target.has_value());
        write_window(&sink, window_from_encoder(&enc, VCD_SOURCE, segment.length, segment.offset, &*target));
        expected.insert(expected.end(), target->begin(), target->end());
    }
    const Outcome outcome = run_apply(folder, patch);
    EXPECT_EQ(outcome.code, 0) << outcome.message;
    EXPECT_EQ(outcome.output, expected);

    // One byte past the end of the source.
    Bytes beyond;
    sink = sink_to_bytes(&beyond);
    write_file_header(&sink, FileHeaderSpec{});
    InstructionEncoder enc;
    encoder_start(&enc, 1001);
    encode_copy(&enc, 0, 1001);
    write_window(&sink, window_from_encoder(&enc, VCD_SOURCE, 1001, 3 * SOURCE_BLOCK_SIZE));
    const Outcome short_source = run_apply(folder, beyond);
    EXPECT_EQ(short_source.code, DECODE_INVALID_INPUT);
    EXPECT_EQ(short_source.message, "source file too short");
}

TEST(ApplyPatchOutput, UnwritableOutput) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(300000, 5);
    write_file(folder.path / "patch.bin", add_windows({10}, content));
    write_file(folder.path / "big.bin", add_windows({300000}, content));
    const char* message = nullptr;
    // Missing folder: the output cannot be created.
    EXPECT_EQ(apply_patch(0, 0, 100, 1, "none", (folder.path / "no" / "out.bin").string().c_str(),
                          (folder.path / "patch.bin").string().c_str(), &message),
              APPLY_OUTPUT_OPEN_FAILED);
    EXPECT_STREQ(message, "cannot open output file");
#ifndef _WIN32
    // A full disk: a small window fails when the output is closed, a large one while written.
    for (const char* patch : {"patch.bin", "big.bin"}) {
        message = nullptr;
        EXPECT_EQ(apply_patch(0, 0, 100, 1, "none", "/dev/full", (folder.path / patch).string().c_str(), &message),
                  APPLY_OUTPUT_WRITE_FAILED)
            << patch;
        EXPECT_STREQ(message, "cannot write output file");
    }
#endif
}

TEST(ApplyPatchProgress, LinesForStartZeroAndFifty) {
    const TempFolder folder = make_temp_folder();
    const Bytes patch = add_windows({5, 250, 250, 495}, random_bytes(1000, 6));
    ::testing::internal::CaptureStdout();
    Outcome outcome = run_apply(folder, patch, 1, 0, 1000);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Progression: 25 %\rProgression: 50 %\rProgression: 100 %\r");
    EXPECT_EQ(outcome.code, 0);

    ::testing::internal::CaptureStdout();
    outcome = run_apply(folder, patch, 1, 50, 1000);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Progression: 50 %\rProgression: 62 %\rProgression: 75 %\rProgression: 100 %\r");

    ::testing::internal::CaptureStdout();
    outcome = run_apply(folder, patch, 0, 0, 1000);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    // More output than announced stops at the end of the range.
    ::testing::internal::CaptureStdout();
    outcome = run_apply(folder, patch, 1, 0, 100);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Progression: 5 %\rProgression: 100 %\r");
}

TEST(ApplyPatchChecksum, MismatchInALaterWindow) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(3000, 7);
    Bytes patch = add_windows({1000, 1000}, content);
    // Third window: its stored checksum is one off.
    PatchSink sink = sink_to_bytes(&patch);
    const Bytes piece(content.begin() + 2000, content.end());
    InstructionEncoder enc;
    encoder_start(&enc, 0);
    encode_add(&enc, piece);
    WindowSpec window = window_from_encoder(&enc, 0, 0, 0, &piece);
    window.checksum ^= 1;
    write_window(&sink, window);
    const Outcome outcome = run_apply(folder, patch);
    EXPECT_EQ(outcome.code, DECODE_CHECKSUM_MISMATCH);
    EXPECT_EQ(outcome.message, "target window checksum mismatch");
    EXPECT_EQ(outcome.output, Bytes(content.begin(), content.begin() + 2000));
}

// Every kind of instruction, encoded the compact way and the long way, through the
// driver in one patch: the writer and the decoder must agree on every opcode.
TEST(ApplyPatchInstructions, MixedStreamMatchesReference) {
    const TempFolder folder = make_temp_folder();
    const Bytes source = random_bytes(50000, 8);
    write_file(folder.path / "source.bin", source);
    std::mt19937 generator(9);
    Bytes patch;
    Bytes expected;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    for (int w = 0; w < 6; ++w) {
        const std::uint64_t copy_length = w % 2 == 0 ? 40000 : 0;
        InstructionEncoder enc;
        encoder_start(&enc, copy_length);
        encode_add(&enc, random_bytes(3, static_cast<unsigned>(w)));
        for (int i = 0; i < 400; ++i) {
            const unsigned pick = generator() % 4;
            const std::uint64_t produced = encoder_target_size(enc);
            const SizePlacement placement = generator() % 3 == 0 ? SIZE_FOLLOWS : SIZE_BEST;
            if (pick == 0) {
                encode_add(&enc, random_bytes(1 + generator() % 20, static_cast<unsigned>(generator())), placement);
            } else if (pick == 1) {
                encode_run(&enc, static_cast<std::uint8_t>(generator()), 1 + generator() % 40);
            } else {
                const bool from_source = copy_length != 0 && pick == 2;
                const std::uint64_t size = 4 + generator() % 16;
                const std::uint64_t address = from_source ? generator() % (copy_length - size)
                                                          : copy_length + generator() % produced;
                int mode = static_cast<int>(generator() % 10) - 1;
                if (!encode_copy(&enc, address, size, mode, placement)) {
                    ASSERT_TRUE(encode_copy(&enc, address, size, COPY_MODE_BEST, placement));
                }
            }
        }
        encoder_finish(&enc);
        const auto target = reference_window_target(source, 7, copy_length, enc.ops);
        ASSERT_TRUE(target.has_value());
        write_window(&sink, window_from_encoder(&enc, copy_length != 0 ? VCD_SOURCE : 0, copy_length, 7, &*target));
        expected.insert(expected.end(), target->begin(), target->end());
    }
    const Outcome outcome = run_apply(folder, patch);
    EXPECT_EQ(outcome.code, 0) << outcome.message;
    EXPECT_EQ(outcome.output, expected);
}

TEST(ApplyPatchNames, DriverAndDecoderCodes) {
    EXPECT_STREQ(apply_patch_result_name(APPLY_OUTPUT_WRITE_FAILED), "APPLY_OUTPUT_WRITE_FAILED");
    EXPECT_STREQ(apply_patch_result_name(DECODE_CHECKSUM_MISMATCH), "DECODE_CHECKSUM_MISMATCH");
    EXPECT_STREQ(apply_patch_result_name(DECODE_OUT_OF_MEMORY), "OUT_OF_MEMORY");
}

}  // namespace

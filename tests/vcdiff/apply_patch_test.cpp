// The patch driver against real files: input chunks, missing files, output
// failures, progress lines and a checksum failure after good windows.
#include "vcdiff/apply_patch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "patch_writer.h"
#include "vcdiff/decoder.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

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

// Windows that add consecutive pieces of `content`, `sizes[i]` bytes each, with checksums.
std::vector<WindowSpec> add_windows(const std::vector<std::size_t>& sizes, const Bytes& content) {
    std::vector<WindowSpec> windows;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        InstructionEncoder enc;
        encoder_start(&enc, 0);
        encode_add(&enc, Bytes(content.begin() + static_cast<std::ptrdiff_t>(at),
                               content.begin() + static_cast<std::ptrdiff_t>(at + size)));
        windows.push_back(checked_window(&enc));
        at += size;
    }
    return windows;
}

Bytes prefix(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

TEST(ApplyPatchInput, EmptyMissingAndAnExactMultipleOfTheChunk) {
    const TempFolder folder = make_temp_folder();
    const Outcome empty = run_apply(folder, {});
    EXPECT_EQ(empty.code, DECODE_INVALID_INPUT);
    EXPECT_EQ(empty.message, "empty patch file");

    const char* message = nullptr;
    EXPECT_EQ(apply_patch(0, 0, 100, 1, "no-source", (folder.path / "out.bin").string().c_str(),
                          (folder.path / "missing.bin").string().c_str(), &message),
              APPLY_PATCH_OPEN_FAILED);
    EXPECT_STREQ(message, "cannot open patch file");

    // Exactly two chunks (the application header fills it up), windows across the boundary.
    const Bytes content = random_bytes(20000, 1);
    FileHeaderSpec header;
    header.indicator = VCD_APPHEADER;
    const std::size_t bare = patch_bytes(add_windows({3000, 17000}, content), header).size();
    header.app_header.assign(2 * PATCH_CHUNK_SIZE - bare - 1, 'h');   // its length now takes 2 bytes
    const Bytes patch = patch_bytes(add_windows({3000, 17000}, content), header);
    ASSERT_EQ(patch.size(), 2 * PATCH_CHUNK_SIZE);
    const Outcome outcome = run_apply(folder, patch);
    EXPECT_EQ(outcome.code, 0) << outcome.message;
    EXPECT_EQ(outcome.output, content);
}

TEST(ApplyPatchInput, CutInsideAWindowOrMissingSource) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(40000, 2);
    const Bytes patch = patch_bytes(add_windows({100, 39900}, content));
    // Cut exactly at a chunk boundary, inside the second window's data.
    Outcome outcome = run_apply(folder, prefix(patch, PATCH_CHUNK_SIZE));
    EXPECT_EQ(outcome.code, DECODE_INVALID_INPUT);
    EXPECT_EQ(outcome.message, "eof in decode");
    EXPECT_EQ(outcome.output, prefix(content, 100));

    // No source file beside it: the window that copies from it is refused.
    std::vector<WindowSpec> windows = add_windows({100}, content);
    InstructionEncoder enc;
    encoder_start(&enc, 10);
    encode_copy(&enc, 0, 10);
    windows.push_back(window_from_encoder(&enc, VCD_SOURCE, 10));
    outcome = run_apply(folder, patch_bytes(windows));
    EXPECT_EQ(outcome.code, DECODE_INVALID_INPUT);
    EXPECT_EQ(outcome.message, "source input required");
    EXPECT_EQ(outcome.output, prefix(content, 100));
}

TEST(ApplyPatchOutput, UnwritableOutput) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(300000, 5);
    write_file(folder.path / "patch.bin", patch_bytes(add_windows({10}, content)));
    write_file(folder.path / "big.bin", patch_bytes(add_windows({300000}, content)));
    const char* message = nullptr;
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
    const Bytes patch = patch_bytes(add_windows({5, 250, 250, 495}, random_bytes(1000, 6)));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run_apply(folder, patch, 1, 0, 1000).code, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Progression: 25 %\rProgression: 50 %\rProgression: 100 %\r");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run_apply(folder, patch, 1, 50, 1000).code, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Progression: 50 %\rProgression: 62 %\rProgression: 75 %\rProgression: 100 %\r");
}

TEST(ApplyPatchChecksum, MismatchInALaterWindow) {
    const TempFolder folder = make_temp_folder();
    const Bytes content = random_bytes(3000, 7);
    std::vector<WindowSpec> windows = add_windows({1000, 1000, 1000}, content);
    windows.back().checksum ^= 1;
    const Outcome outcome = run_apply(folder, patch_bytes(windows));
    EXPECT_EQ(outcome.code, DECODE_CHECKSUM_MISMATCH);
    EXPECT_EQ(outcome.message, "target window checksum mismatch");
    EXPECT_EQ(outcome.output, prefix(content, 2000));
}

#ifndef _WIN32
// The output is a pipe that this test drains: the driver is still writing the first
// window (larger than a pipe holds) when the test shortens the source to nothing, so
// the second window's copy finds its mapped pages gone.
TEST(ApplyPatchSource, ASourceShortenedDuringTheRunEndsInAReadFailureNotACrash) {
    const TempFolder folder = make_temp_folder();
    const fs::path source = folder.path / "source.bin";
    const fs::path output = folder.path / "out.bin";
    const Bytes source_bytes(4 * SOURCE_BLOCK_SIZE, 0xA5);
    write_file(source, source_bytes);
    write_file(folder.path / "patch.bin", [&] {
        InstructionEncoder first;
        encoder_start(&first, 0);
        encode_run(&first, 7, 4u << 20);
        InstructionEncoder second;
        encoder_start(&second, SOURCE_BLOCK_SIZE);
        encode_copy(&second, 0, SOURCE_BLOCK_SIZE);
        return patch_bytes({checked_window(&first), checked_window(&second, source_bytes, 3 * SOURCE_BLOCK_SIZE)});
    }());
    ASSERT_EQ(mkfifo(output.c_str(), 0600), 0);
    std::uint64_t drained = 0;
    std::thread drain([&] {
        std::FILE* pipe = std::fopen(output.c_str(), "rb");
        if (pipe == nullptr) return;
        char piece[4096];
        for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, pipe)) != 0;) {
            if (drained == 0) fs::resize_file(source, 0);
            drained += got;
        }
        std::fclose(pipe);
    });
    const char* message = nullptr;
    const int code = apply_patch(0, 0, 100, 1, source.c_str(), output.c_str(),
                                 (folder.path / "patch.bin").c_str(), &message);
    drain.join();
    EXPECT_EQ(code, APPLY_SOURCE_READ_FAILED) << message;
    EXPECT_EQ(drained, 4u << 20);
}
#endif

}  // namespace

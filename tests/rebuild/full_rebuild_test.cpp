// Rebuilds a full-size synthetic European image and checks every output byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "rebuild/rebuild_script.h"
#include "rebuild_table_files.h"
#include "synthetic_eu_image.h"

namespace {

constexpr std::uint64_t S = 2048;

std::vector<std::uint8_t> read_at(std::ifstream& in, std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    if (static_cast<std::size_t>(in.gcount()) != count) bytes.clear();
    return bytes;
}

bool all_zero(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

struct FullRebuildTest : ::testing::Test {
    std::filesystem::path folder;
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / "orv_rebuild_full_size";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    // The multi-GB files go as soon as the test ends, whatever its outcome.
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

TEST_F(FullRebuildTest, SyntheticEuropeanImageBecomesTheExpectedIntermediateImage) {
    const auto started = std::chrono::steady_clock::now();
    const RebuildTableFiles tables = read_rebuild_table_files();
    ASSERT_EQ(tables.error, "");
    const std::string image_path = (folder / "Orvelia EU.iso").string();
    const std::string temp_path = (folder / "Orvelia EU_temp.iso").string();
    ASSERT_TRUE(write_synthetic_eu_image(image_path, tables));
    ASSERT_EQ(std::filesystem::file_size(image_path), SYNTHETIC_EU_SIZE);
    const auto generated = std::chrono::steady_clock::now();

    int image_fd = -1;
    std::uint8_t* read_buffer = nullptr;
    std::uint32_t bytes_written = 0;
    const int temp_fd = platform_open(temp_path.c_str(), OPEN_CREATE_TRUNCATE);
    ASSERT_GE(temp_fd, 0);
    const WriterValues writer{image_path.c_str(), &image_fd, &read_buffer, 2620872704u, temp_fd,
                              &bytes_written, 2};
    ::testing::internal::CaptureStdout();
    const bool rebuilt = rebuild_intermediate_image(writer);
    const std::string console = ::testing::internal::GetCapturedStdout();
    platform_close(temp_fd);
    const auto rebuilt_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(image_fd, -1);
    EXPECT_EQ(read_buffer, nullptr);
    EXPECT_EQ(bytes_written, 2599682048u);
    EXPECT_EQ(std::filesystem::file_size(temp_path), 2599682048u);

    // 7,262 lines, each overwriting the one before; the first shows 0, the last 50.
    EXPECT_EQ(std::count(console.begin(), console.end(), '\r'), 7262);
    EXPECT_EQ(console.find('\n'), std::string::npos);
    EXPECT_EQ(console.rfind("Progression: 0 %\r", 0), 0u);
    const std::string last = "Progression: 50 %\r";
    ASSERT_GE(console.size(), last.size());
    EXPECT_EQ(console.substr(console.size() - last.size()), last);

    std::ifstream output(temp_path, std::ios::binary);
    std::ifstream image(image_path, std::ios::binary);
    // Ranges that must be zero.
    const std::pair<std::uint64_t, std::uint64_t> zero_ranges[] = {
        {0, 0xB0000}, {0xFE000, 0xFE800}, {0xDE4000, 0xE72000}, {0xE9B000, 0xEA0800},
        {0x9AF19800, 0x9AF1F800}, {0x9AF3F800, 0x9AF40000}};
    for (const auto& [from, to] : zero_ranges) {
        const auto bytes = read_at(output, from, to - from);
        EXPECT_TRUE(bytes.size() == to - from && all_zero(bytes)) << std::hex << from;
    }
    // The relocated block: 366 zero sectors, then the first file from byte 0x0AB18000.
    const auto block_start = read_at(output, 0x4FB14800, 366 * S);
    EXPECT_TRUE(block_start.size() == 366 * S && all_zero(block_start));
    const auto first_file = read_at(image, 0x0AB18000, 4096);
    ASSERT_EQ(first_file.size(), 4096u);
    EXPECT_EQ(read_at(output, 0x4FB14800 + 366 * S, 4096), first_file);
    const auto before_vpackj = read_at(image, 0x26DDB800, 61440);
    ASSERT_EQ(before_vpackj.size(), 61440u);
    EXPECT_EQ(read_at(output, 0xB0000, 61440), before_vpackj);
    // The boot path sector went across with step 11.
    EXPECT_EQ(read_at(output, 0xFE800 + (SYNTHETIC_BOOT_PATH_OFFSET - 0xB8800), 22),
              std::vector<std::uint8_t>(SYNTHETIC_BOOT_PATH, SYNTHETIC_BOOT_PATH + 22));

    // Every byte against the layout worked out independently.
    const auto runs = expected_intermediate_layout(tables);
    std::uint64_t at = 0;
    std::size_t bad_runs = 0;
    constexpr std::uint64_t PIECE = 8u << 20;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const ExpectedRun& run = runs[r];
        for (std::uint64_t done = 0; done < run.length; done += PIECE) {
            const auto n = static_cast<std::size_t>(std::min(PIECE, run.length - done));
            const auto got = read_at(output, at + done, n);
            // A failed read gives an empty vector: never take two of them for a match.
            const bool same = got.size() == n &&
                              (run.zeros ? all_zero(got) : got == read_at(image, run.source_offset + done, n));
            if (!same) {
                if (++bad_runs <= 5) ADD_FAILURE() << "run " << r << " at output byte " << at + done;
                break;
            }
        }
        at += run.length;
    }
    EXPECT_EQ(at, 2599682048u);
    EXPECT_EQ(bad_runs, 0u);
    output.close();
    image.close();
    std::filesystem::remove_all(folder);

    const auto seconds = [](auto from, auto to) {
        return std::chrono::duration<double>(to - from).count();
    };
    const auto finished = std::chrono::steady_clock::now();
    std::printf("generate %.1f s, rebuild %.1f s, check %.1f s\n", seconds(started, generated),
                seconds(generated, rebuilt_at), seconds(rebuilt_at, finished));
}

}  // namespace

// Rebuilds a full-size synthetic European image and checks every output byte against
// the layout worked out independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "rebuild/rebuild_script.h"
#include "synthetic_eu_image.h"

namespace {

std::vector<char> read_at(std::ifstream& in, std::uint64_t offset, std::size_t count) {
    std::vector<char> bytes(count);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    if (static_cast<std::size_t>(in.gcount()) != count) bytes.clear();  // never equal to a good read
    return bytes;
}

TEST(FullRebuild, SyntheticEuropeanImageBecomesTheExpectedIntermediateImage) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "orv_rebuild_full_size";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    struct Cleanup {  // the multi-GB files go whatever the outcome
        std::filesystem::path folder;
        ~Cleanup() { std::error_code ignored; std::filesystem::remove_all(folder, ignored); }
    } cleanup{folder};
    const std::string image_path = (folder / "Orvelia EU.iso").string();
    const std::string temp_path = (folder / "Orvelia EU_temp.iso").string();
    const RebuildTableFiles tables = read_rebuild_table_files();
    ASSERT_EQ(tables.error, "");
    ASSERT_TRUE(write_synthetic_eu_image(image_path, tables));

    int image_fd = -1;
    std::uint8_t* read_buffer = nullptr;
    std::uint32_t bytes_written = 0;
    const int temp_fd = platform_open(temp_path.c_str(), OPEN_CREATE_TRUNCATE);
    ASSERT_GE(temp_fd, 0);
    ::testing::internal::CaptureStdout();
    const bool rebuilt = rebuild_intermediate_image(
        WriterValues{image_path.c_str(), &image_fd, &read_buffer, 2620872704u, temp_fd, &bytes_written, 2});
    const std::string console = ::testing::internal::GetCapturedStdout();
    platform_close(temp_fd);
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(image_fd, -1);
    EXPECT_EQ(read_buffer, nullptr);
    EXPECT_EQ(bytes_written, 2599682048u);
    EXPECT_EQ(std::filesystem::file_size(temp_path), 2599682048u);
    // 7,262 lines, each overwriting the one before; the first shows 0, the last 50.
    EXPECT_EQ(std::count(console.begin(), console.end(), '\r'), 7262);
    EXPECT_EQ(console.find('\n'), std::string::npos);
    EXPECT_TRUE(console.starts_with("Progression: 0 %\r") && console.ends_with("Progression: 50 %\r"));

    std::ifstream output(temp_path, std::ios::binary), image(image_path, std::ios::binary);
    std::uint64_t at = 0;
    std::size_t bad_runs = 0;
    constexpr std::uint64_t PIECE = 8u << 20;
    const auto runs = expected_intermediate_layout(tables);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (std::uint64_t done = 0; done < runs[r].length; done += PIECE) {
            const auto n = static_cast<std::size_t>(std::min(PIECE, runs[r].length - done));
            const auto want = runs[r].zeros ? std::vector<char>(n, 0) : read_at(image, runs[r].source_offset + done, n);
            if (want.size() != n || read_at(output, at + done, n) != want) {
                if (++bad_runs <= 5) ADD_FAILURE() << "run " << r << " at output byte " << at + done;
                break;
            }
        }
        at += runs[r].length;
    }
    EXPECT_EQ(at, 2599682048u);
    EXPECT_EQ(bad_runs, 0u);
}

}  // namespace

// A fresh folder, a source file and an output for the rebuild's unit tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "rebuild/image_writer.h"

// The byte the test sources hold at `offset`: varies within and across sectors, so a
// misplaced copy never matches by chance.
inline std::vector<std::uint8_t> pattern_bytes(std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t at = offset + i;
        bytes[i] = static_cast<std::uint8_t>((at * 131u) ^ (at >> 11) ^ (at >> 19));
    }
    return bytes;
}

inline void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void append(std::vector<std::uint8_t>* out, const std::vector<std::uint8_t>& bytes) {
    out->insert(out->end(), bytes.begin(), bytes.end());
}

// One rebuild's state over a fresh folder: a source, an output open for appending, the
// slots and the counter. The test writes the source.
struct WriterTest : ::testing::Test {
    std::filesystem::path folder;
    std::string source_path, output_path;
    int source_fd = -1;
    std::uint8_t* buffer = nullptr;
    int output_fd = -1;
    std::uint32_t bytes_written = 0;
    WriterValues values{};

    void SetUp() override { open_output("main"); }
    void TearDown() override {
        if (output_fd >= 0) platform_close(output_fd);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    void open_output(const std::string& suffix) {
        TearDown();
        folder = std::filesystem::temp_directory_path() /
                 ("orv_rebuild_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + suffix);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        source_path = (folder / "source.iso").string();
        output_path = (folder / "output_temp.iso").string();
        output_fd = platform_open(output_path.c_str(), OPEN_CREATE_TRUNCATE);
        bytes_written = 0;
        values = WriterValues{source_path.c_str(), &source_fd, &buffer, 2620872704u, output_fd, &bytes_written, 2};
    }
    // Closes the output and returns what was written.
    std::vector<std::uint8_t> finish_output() {
        if (output_fd >= 0) platform_close(output_fd);
        output_fd = -1;
        std::ifstream in(output_path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
};

// The number of progress lines in captured console output.
inline std::size_t count_progress_lines(const std::string& console) {
    return static_cast<std::size_t>(std::count(console.begin(), console.end(), '\r'));
}

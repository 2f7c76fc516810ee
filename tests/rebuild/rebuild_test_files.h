// Small files and writer values for the rebuild tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "rebuild/image_writer.h"

// The byte that the small test sources hold at `offset`: varies within and across
// sectors, so a misplaced copy never matches by chance.
std::uint8_t pattern_byte(std::uint64_t offset);
std::vector<std::uint8_t> pattern_bytes(std::uint64_t offset, std::size_t count);

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> read_file(const std::filesystem::path& path);

// One rebuild's worth of state over a fresh folder: a source file, an output open
// for appending, the slots and the counter.
struct WriterFixture {
    std::filesystem::path folder;
    std::string source_path;
    std::string output_path;
    int source_fd = -1;
    std::uint8_t* buffer = nullptr;
    int output_fd = -1;
    std::uint32_t bytes_written = 0;
    WriterValues values{};
};

// Creates the folder and the output; the source is written by the test.
void open_writer_fixture(WriterFixture* fixture, const std::string& test_name,
                         std::uint32_t total = 2620872704u, std::uint8_t divisor = 2);
// Closes the output and returns what was written.
std::vector<std::uint8_t> finish_output(WriterFixture* fixture);
void close_writer_fixture(WriterFixture* fixture);

// The number of progress lines in captured console output.
std::size_t count_progress_lines(const std::string& console);

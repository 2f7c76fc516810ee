#include "rebuild_test_files.h"

#include <fstream>

#include "platform/platform.h"

std::uint8_t pattern_byte(std::uint64_t offset) {
    return static_cast<std::uint8_t>((offset * 131u) ^ (offset >> 11) ^ (offset >> 19));
}

std::vector<std::uint8_t> pattern_bytes(std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = pattern_byte(offset + i);
    return bytes;
}

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void open_writer_fixture(WriterFixture* fixture, const std::string& test_name, std::uint32_t total,
                         std::uint8_t divisor) {
    fixture->folder = std::filesystem::temp_directory_path() / ("orv_rebuild_" + test_name);
    std::filesystem::remove_all(fixture->folder);
    std::filesystem::create_directories(fixture->folder);
    fixture->source_path = (fixture->folder / "source.iso").string();
    fixture->output_path = (fixture->folder / "output_temp.iso").string();
    fixture->output_fd = platform_open(fixture->output_path.c_str(), OPEN_CREATE_TRUNCATE);
    fixture->values = WriterValues{fixture->source_path.c_str(), &fixture->source_fd,
                                   &fixture->buffer, total, fixture->output_fd,
                                   &fixture->bytes_written, divisor};
}

std::vector<std::uint8_t> finish_output(WriterFixture* fixture) {
    if (fixture->output_fd >= 0) platform_close(fixture->output_fd);
    fixture->output_fd = -1;
    return read_file(fixture->output_path);
}

void close_writer_fixture(WriterFixture* fixture) {
    if (fixture->output_fd >= 0) platform_close(fixture->output_fd);
    fixture->output_fd = -1;
    std::error_code ignored;
    std::filesystem::remove_all(fixture->folder, ignored);
}

std::size_t count_progress_lines(const std::string& console) {
    std::size_t lines = 0;
    for (char c : console) lines += c == '\r' ? 1 : 0;
    return lines;
}

#include "rebuild/image_writer.h"

#include <cstdlib>

#include "fs/file_access.h"
#include "progress/progress_line.h"
#include "rebuild/output_append.h"

namespace {

// One chunk: read, append, count, report. A read that comes back short (the range
// passes the end of the image) is completed with zeros, so the output keeps its
// layout and nothing beyond the buffer is ever written.
bool copy_chunk(std::uint64_t offset, std::uint32_t length, const WriterValues& writer) {
    std::uint32_t count = 0;
    *writer.buffer = nullptr;
    if (read_file_range(writer.source_fd, writer.source_path, writer.buffer, &count, length,
                        offset) != 1 ||
        *writer.buffer == nullptr) {
        return false;
    }
    const std::uint32_t present = count < length ? count : length;
    const bool ok = append_bytes(writer.output_fd, *writer.buffer, present) &&
                    append_zero_bytes(writer.output_fd, length - present);
    std::free(*writer.buffer);
    *writer.buffer = nullptr;
    if (!ok) return false;
    *writer.bytes_written += length;
    report_rebuild_progress(writer);
    return true;
}

}  // namespace

bool copy_range(std::uint32_t offset, std::uint32_t length, const WriterValues& writer) {
    // 64-bit, so that a range ending at 4 GiB does not wrap around.
    const std::uint64_t end = std::uint64_t{offset} + length;
    std::uint64_t pos = offset;
    while (pos + COPY_CHUNK_SIZE < end) {
        if (!copy_chunk(pos, COPY_CHUNK_SIZE, writer)) return false;
        pos += COPY_CHUNK_SIZE;
    }
    if (pos < end) return copy_chunk(pos, static_cast<std::uint32_t>(end - pos), writer);
    return true;
}

bool write_zeros(std::uint32_t length, const WriterValues& writer) {
    if (!append_zero_bytes(writer.output_fd, length)) return false;
    *writer.bytes_written += length;
    report_rebuild_progress(writer);
    return true;
}

void report_rebuild_progress(const WriterValues& writer) {
    // This exact order of operations decides how the figure rounds.
    double percentage = 0.0;
    if (writer.total != 0 && writer.divisor != 0) {
        percentage = static_cast<double>(*writer.bytes_written) / static_cast<double>(writer.total) *
                     100.0 / static_cast<double>(writer.divisor);
    }
    print_rebuild_progress(percentage);
}

#include "rebuild/image_writer.h"

#include <algorithm>
#include <cstdlib>

#include "fs/file_access.h"
#include "platform/platform.h"
#include "progress/progress_line.h"

namespace {

bool open_image(const WriterValues& writer) {
    if (*writer.source_fd >= 0) return true;
    *writer.source_fd = platform_open(writer.source_path, OPEN_READ_ONLY);
    if (*writer.source_fd >= 0) return true;
    *writer.source_fd = -1;
    return false;
}

// One chunk: append what the image holds of it, zeros for the rest, count, report.
bool copy_chunk(std::uint64_t offset, std::uint32_t length, const WriterValues& writer) {
    // Taken for each chunk, so that an image that shrinks during the rebuild fails its
    // next read instead of turning into zeros.
    const std::int64_t size = image_length(writer);
    if (size < 0 || offset >= static_cast<std::uint64_t>(size)) return false;
    const std::uint64_t held = static_cast<std::uint64_t>(size) - offset;
    const std::uint32_t present = held < length ? static_cast<std::uint32_t>(held) : length;
    if (!append_image_bytes(offset, present, writer) ||
        !append_zero_bytes(writer.output_fd, length - present, rebuild_zeros(writer))) {
        return false;
    }
    *writer.bytes_written += length;
    return report_rebuild_progress(writer);
}

}  // namespace

bool begin_rebuild_io(const WriterValues& writer) {
    *writer.buffer = static_cast<std::uint8_t*>(std::calloc(REBUILD_BUFFER_SIZE, 1));
    return *writer.buffer != nullptr;
}

bool end_rebuild_io(const WriterValues& writer) {
    std::free(*writer.buffer);
    *writer.buffer = nullptr;
    if (*writer.source_fd < 0) return true;
    const bool closed = platform_close(*writer.source_fd) == 0;
    *writer.source_fd = -1;
    return closed;
}

std::int64_t image_length(const WriterValues& writer) {
    return open_image(writer) ? platform_file_length(*writer.source_fd) : -1;
}

const std::uint8_t* rebuild_zeros(const WriterValues& writer) { return *writer.buffer; }

std::uint8_t* rebuild_copy_piece(const WriterValues& writer) { return *writer.buffer + ZERO_PIECE_SIZE; }

bool append_image_bytes(std::uint64_t offset, std::uint32_t count, const WriterValues& writer) {
    if (count == 0) return true;
    if (*writer.buffer == nullptr || !open_image(writer)) return false;
    std::uint8_t* piece = rebuild_copy_piece(writer);
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t n = std::min(count - done, COPY_PIECE_SIZE);
        if (read_file_at(*writer.source_fd, offset + done, piece, n) != static_cast<std::int64_t>(n) ||
            !append_bytes(writer.output_fd, piece, n)) {
            return false;
        }
        done += n;
    }
    return true;
}

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
    if (*writer.buffer == nullptr || !append_zero_bytes(writer.output_fd, length, rebuild_zeros(writer))) return false;
    *writer.bytes_written += length;
    return report_rebuild_progress(writer);
}

bool report_rebuild_progress(const WriterValues& writer) {
    if (writer.write_out != nullptr && platform_write_out_fd(writer.write_out, writer.output_fd) != 0) return false;
    // This exact order of operations decides how the figure rounds.
    double percentage = 0.0;
    if (writer.total != 0 && writer.divisor != 0) {
        percentage = static_cast<double>(*writer.bytes_written) / static_cast<double>(writer.total) *
                     100.0 / static_cast<double>(writer.divisor);
    }
    print_rebuild_progress(percentage);
    return true;
}

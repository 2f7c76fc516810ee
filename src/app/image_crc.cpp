#include "app/image_crc.h"

#include <zlib.h>

#include <cstdlib>

#include "app/messages.h"
#include "platform/platform.h"

namespace {

constexpr std::uint32_t READ_PIECE = 1u << 20;

}  // namespace

bool image_crc32(const char* path, std::uint32_t* crc) {
    const int fd = platform_open(path, OPEN_READ_ONLY);
    if (fd < 0) return false;
    auto* piece = static_cast<unsigned char*>(std::malloc(READ_PIECE));
    const std::int64_t length = platform_file_length(fd);
    bool read_all = piece != nullptr && length >= 0;
    const auto size = static_cast<std::uint64_t>(length);
    uLong sum = crc32_z(0, Z_NULL, 0);
    int last_printed = -1;
    for (std::uint64_t done = 0; read_all && done < size;) {
        const std::uint64_t left = size - done;
        const std::uint32_t wanted = left < READ_PIECE ? static_cast<std::uint32_t>(left) : READ_PIECE;
        read_all = platform_read(fd, piece, wanted) == wanted;
        if (!read_all) break;
        sum = crc32_z(sum, piece, wanted);
        done += wanted;
        const int percentage = static_cast<int>(done * 100 / size);
        if (percentage != last_printed) {
            print_crc_progress(percentage);
            last_printed = percentage;
        }
    }
    std::free(piece);
    const bool closed = platform_close(fd) == 0;
    if (!read_all || !closed) return false;
    *crc = static_cast<std::uint32_t>(sum);
    return true;
}

#include "rebuild/sound_bank_split.h"

#include <algorithm>
#include <cstdlib>

#include "fs/file_access.h"
#include "rebuild/output_append.h"

namespace {

constexpr std::size_t HEADER_BYTES = 16;

std::uint32_t word_at(const std::uint8_t* bytes, std::size_t index) {
    const std::size_t at = index * 4;
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

bool offsets_ascend(const SoundBankSet& set) {
    for (std::size_t i = 0; i < set.entry_count; ++i) {
        const std::uint32_t next = i + 1 < set.entry_count ? set.offsets[i + 1] : set.end_value;
        if (next < set.offsets[i]) return false;
    }
    return true;
}

// Where each piece starts: piece 0 at the region's first byte, each later one at the
// first header sector after the start of the one before, or at `available` once the
// region holds none. The region is read through the copy piece, which is a whole number
// of sectors, so every sector start in a piece has its header bytes in that piece.
bool find_piece_starts(const SoundBankSet& set, std::uint64_t available, const WriterValues& writer,
                       std::uint64_t* starts) {
    std::size_t found = 1;
    starts[0] = 0;
    std::uint8_t* piece = rebuild_copy_piece(writer);
    for (std::uint64_t at = 0; at < available && found < set.entry_count; at += COPY_PIECE_SIZE) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(COPY_PIECE_SIZE, available - at));
        if (read_file_at(*writer.source_fd, set.region_offset + at, piece, n) != static_cast<std::int64_t>(n)) {
            return false;
        }
        for (std::uint32_t s = at == 0 ? SECTOR_SIZE : 0; s + HEADER_BYTES <= n && found < set.entry_count;
             s += SECTOR_SIZE) {
            if (is_bank_header(piece + s)) starts[found++] = at + s;
        }
    }
    while (found < set.entry_count) starts[found++] = available;
    return true;
}

bool write_pieces(const SoundBankSet& set, const std::uint64_t* starts, std::uint64_t available,
                  const WriterValues& writer) {
    for (std::size_t i = 0; i < set.entry_count; ++i) {
        const std::uint32_t next = i + 1 < set.entry_count ? set.offsets[i + 1] : set.end_value;
        const std::uint32_t size = next - set.offsets[i];
        // What the region holds from the piece's start on; the rest of the piece is zeros.
        const std::uint64_t left = available - starts[i];
        const auto present = static_cast<std::uint32_t>(left < size ? left : size);
        if (!append_image_bytes(set.region_offset + starts[i], present, writer) ||
            !append_zero_bytes(writer.output_fd, size - present, rebuild_zeros(writer))) {
            return false;
        }
        *writer.bytes_written += size;
        report_rebuild_progress(writer);
    }
    return true;
}

}  // namespace

bool is_bank_header(const std::uint8_t* first_sixteen_bytes) {
    return word_at(first_sixteen_bytes, 0) == BANK_HEADER_SIGNATURE ||
           word_at(first_sixteen_bytes, 1) == 24 || word_at(first_sixteen_bytes, 2) == 16 ||
           word_at(first_sixteen_bytes, 3) == 48000;
}

bool split_sound_banks(const SoundBankSet& set, const WriterValues& writer) {
    if (!offsets_ascend(set)) return false;
    if (set.entry_count == 0) return true;
    // The bytes of the region the image holds: a region that passes its end is cut
    // there; one that starts at or past it has nothing to read.
    std::uint64_t available = 0;
    if (set.region_length != 0) {
        const std::int64_t size = image_length(writer);
        if (size < 0 || set.region_offset >= static_cast<std::uint64_t>(size)) return false;
        available = std::min<std::uint64_t>(set.region_length, static_cast<std::uint64_t>(size) - set.region_offset);
    }
    // The region is read twice through the copy piece, for the piece starts and then for
    // the pieces: cheaper than reading it whole into a buffer of tens of megabytes.
    auto* starts = static_cast<std::uint64_t*>(std::malloc(set.entry_count * sizeof(std::uint64_t)));
    if (starts == nullptr || *writer.buffer == nullptr) {
        std::free(starts);
        return false;
    }
    const bool ok = find_piece_starts(set, available, writer, starts) && write_pieces(set, starts, available, writer);
    std::free(starts);
    return ok;
}

#include "rebuild/sound_bank_split.h"

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

// The next bank start after `cursor`, or `available` when the region holds none:
// the scan never looks past the bytes that were read.
std::size_t next_bank_start(const std::uint8_t* region, std::size_t available, std::size_t cursor) {
    for (cursor += SECTOR_SIZE; cursor < available; cursor += SECTOR_SIZE) {
        if (available - cursor < HEADER_BYTES) return available;
        if (is_bank_header(region + cursor)) return cursor;
    }
    return available;
}

bool write_pieces(const SoundBankSet& set, const std::uint8_t* region, std::size_t available,
                  const WriterValues& writer) {
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < set.entry_count; ++i) {
        const std::uint32_t next = i + 1 < set.entry_count ? set.offsets[i + 1] : set.end_value;
        const std::uint32_t size = next - set.offsets[i];
        // What the region holds from the cursor on; the rest of the piece is zeros.
        const std::size_t left = cursor < available ? available - cursor : 0;
        const auto present = static_cast<std::uint32_t>(left < size ? left : size);
        if (present > 0 && !append_bytes(writer.output_fd, region + cursor, present)) return false;
        if (!append_zero_bytes(writer.output_fd, size - present)) return false;
        *writer.bytes_written += size;
        report_rebuild_progress(writer);
        if (i + 1 < set.entry_count) cursor = next_bank_start(region, available, cursor);
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
    // An empty region has nothing to read.
    if (set.region_length == 0) return write_pieces(set, nullptr, 0, writer);
    std::uint32_t count = 0;
    *writer.buffer = nullptr;
    if (read_file_range(writer.source_fd, writer.source_path, writer.buffer, &count,
                        set.region_length, set.region_offset) != 1 ||
        *writer.buffer == nullptr) {
        return false;
    }
    const std::size_t available = count < set.region_length ? count : set.region_length;
    const bool ok = write_pieces(set, *writer.buffer, available, writer);
    std::free(*writer.buffer);
    *writer.buffer = nullptr;
    return ok;
}

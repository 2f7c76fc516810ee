#include "rebuild/sound_bank_split.h"

#include <algorithm>
#include <cstdlib>

#include "fs/file_access.h"
#include "rebuild/output_append.h"

namespace {

constexpr std::uint32_t HEADER_BYTES = 16;
constexpr std::uint64_t FIRST_SCAN_SIZE = 4 * SECTOR_SIZE;

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

// The bank starts found so far, in order: starts[0] is the region's first byte, then
// every header sector from the region's second sector up to `examined` (until `wanted`
// starts are known).
struct BankStarts {
    std::uint64_t* starts;
    std::size_t found;
    std::size_t wanted;
    std::uint64_t examined;   // the next sector start to look at
};

// Looks at the sector starts of the region bytes [at, at + n), held in `bytes`, that were
// not looked at yet and have their header bytes there.
void examine(BankStarts* banks, std::uint64_t at, const std::uint8_t* bytes, std::uint64_t n) {
    if (at > banks->examined) return;   // past a stretch not looked at yet: later, in order
    for (std::uint64_t s = banks->examined; s + HEADER_BYTES <= at + n && banks->found < banks->wanted;
         s += SECTOR_SIZE) {
        if (is_bank_header(bytes + (s - at))) banks->starts[banks->found++] = s;
        banks->examined = s + SECTOR_SIZE;
    }
}

// Reads on from the first sector start not looked at until piece `index`'s start is
// known; once the region holds no more, that piece and every later one start at its end.
// The reads start small and grow: a bank a few sectors on costs little more than its
// header, and the piece copied from it reads those bytes again anyway.
bool find_start(const SoundBankSet& set, std::size_t index, std::uint64_t available, BankStarts* banks,
                const WriterValues& writer) {
    std::uint8_t* piece = rebuild_copy_piece(writer);
    std::uint64_t step = FIRST_SCAN_SIZE;
    while (banks->found <= index && banks->examined + HEADER_BYTES <= available) {
        const std::uint64_t at = banks->examined;
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(step, available - at));
        step = std::min<std::uint64_t>(2 * step, COPY_PIECE_SIZE);
        if (read_file_at(*writer.source_fd, set.region_offset + at, piece, n) != static_cast<std::int64_t>(n)) {
            return false;
        }
        examine(banks, at, piece, n);
    }
    while (banks->found <= index) banks->starts[banks->found++] = available;
    return true;
}

// Appends the region bytes [start, start + count) through the copy piece, looking at the
// sector starts on the way. The last read also takes the header bytes just past the
// piece when there is room, so that a bank right after it is seen without another read.
bool append_piece(const SoundBankSet& set, std::uint64_t start, std::uint32_t count, std::uint64_t available,
                  BankStarts* banks, const WriterValues& writer) {
    std::uint8_t* piece = rebuild_copy_piece(writer);
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t n = std::min(count - done, COPY_PIECE_SIZE);
        const std::uint64_t at = start + done;
        const std::uint64_t ahead = std::min<std::uint64_t>({HEADER_BYTES, COPY_PIECE_SIZE - n, available - (at + n)});
        const auto length = static_cast<std::uint32_t>(n + ahead);
        if (read_file_at(*writer.source_fd, set.region_offset + at, piece, length) !=
                static_cast<std::int64_t>(length) ||
            !append_bytes(writer.output_fd, piece, n)) {
            return false;
        }
        examine(banks, at, piece, length);
        done += n;
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
    // Banks are found while the pieces are copied, through the copy piece: the region is
    // read about once, never held whole in a buffer of tens of megabytes.
    auto* starts = static_cast<std::uint64_t*>(std::malloc(set.entry_count * sizeof(std::uint64_t)));
    if (starts == nullptr || *writer.buffer == nullptr) {
        std::free(starts);
        return false;
    }
    starts[0] = 0;
    BankStarts banks{starts, 1, set.entry_count, SECTOR_SIZE};
    bool ok = true;
    for (std::size_t i = 0; ok && i < set.entry_count; ++i) {
        const std::uint32_t next = i + 1 < set.entry_count ? set.offsets[i + 1] : set.end_value;
        const std::uint32_t size = next - set.offsets[i];
        ok = find_start(set, i, available, &banks, writer);
        if (!ok) break;
        // What the region holds from the piece's start on; the rest of the piece is zeros.
        const std::uint64_t left = available - starts[i];
        const auto present = static_cast<std::uint32_t>(left < size ? left : size);
        ok = append_piece(set, starts[i], present, available, &banks, writer) &&
             append_zero_bytes(writer.output_fd, size - present, rebuild_zeros(writer));
        if (!ok) break;
        *writer.bytes_written += size;
        ok = report_rebuild_progress(writer);
    }
    std::free(starts);
    return ok;
}

// Copies a region of consecutive sound banks as pieces of the target layout's sizes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rebuild/image_writer.h"

struct SoundBankSet {
    std::uint32_t region_offset;    // in the source image
    std::uint32_t region_length;
    const std::uint32_t* offsets;   // piece offsets from the first byte written, ascending
    std::size_t entry_count;
    std::uint32_t end_value;        // where the last piece ends
};

inline constexpr std::uint32_t BANK_HEADER_SIGNATURE = 0x64685353;  // "SShd", little-endian

// True when the first 16 bytes of a sector, as four little-endian words, mark the
// start of a bank: "SShd", or 24 in word 1, or 16 in word 2, or 48,000 in word 3.
bool is_bank_header(const std::uint8_t* first_sixteen_bytes);

// Writes entry_count pieces of the region. Piece 0 starts at the
// region's first byte; each later piece at the next header sector after the start
// of the one before. A piece that runs past the region (or a scan that finds no
// header before its end) is completed with zeros, so every piece keeps its size.
// False at the first failed read or write, or for offsets that do not ascend.
bool split_sound_banks(const SoundBankSet& set, const WriterValues& writer);

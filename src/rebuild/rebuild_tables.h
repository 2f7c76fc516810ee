// The rebuild's fixed tables: the files moved by the relocation step and the
// piece offsets of the nine sound-bank sets. The values are compiled in from the
// .tsv files of this folder when the program is built.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rebuild/file_relocation.h"

inline constexpr std::size_t SOUND_BANK_SET_COUNT = 9;

extern const RelocationTarget RELOCATION_TARGETS[];
extern const std::size_t RELOCATION_TARGET_COUNT;
extern const RelocationSource RELOCATION_SOURCES[];
extern const std::size_t RELOCATION_SOURCE_COUNT;

// Offsets of every set, one set after the other; set k (0 to 8) holds the entries
// from SOUND_BANK_SET_FIRST[k] up to SOUND_BANK_SET_FIRST[k + 1].
extern const std::uint32_t SOUND_BANK_OFFSETS[];
extern const std::size_t SOUND_BANK_SET_FIRST[SOUND_BANK_SET_COUNT + 1];

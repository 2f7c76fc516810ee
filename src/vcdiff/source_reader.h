// The source file as the patch driver serves it to the decoder, one block per
// request: straight out of a read-only mapping of the file where the system offers
// one (no copy through a buffer), otherwise out of a cache of large pieces of the file
// that are read whole, so that blocks asked for in order or near each other cost no
// read of their own.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/file_mapping.h"
#include "vcdiff/decode_types.h"

// The cache without a mapping: this many pages of this size (a whole number of
// blocks), 16 MiB in all, as much as a mapping is left to hold: room for an 8 MiB
// window's source blocks and for blocks moved from a few megabytes around them. The
// least recently used page makes room for the next.
inline constexpr std::uint64_t SOURCE_PAGE_SIZE = 256 * 1024;
inline constexpr std::size_t SOURCE_CACHE_PAGES = 64;

struct SourceReader {
    std::FILE* file;                 // borrowed: the driver opens and closes it
    std::uint64_t size;              // taken once, when the reader is opened
    FileMapping mapping;             // the whole file, or nothing
    std::uint64_t resident_bytes;    // mapped bytes touched since they were last given back
    std::uint64_t previous_block;
    std::uint8_t* pages;             // without a mapping: page_count pages
    std::size_t page_count;
    std::uint64_t page_numbers[SOURCE_CACHE_PAGES];  // the file page each slot holds
    std::uint64_t page_uses[SOURCE_CACHE_PAGES];     // when each slot was last used; 0: empty
    std::uint64_t uses;
    std::size_t current_slot;
    std::uint64_t position;          // where the stream stands: no seek is needed there
};

// Takes the file's size and maps it, or prepares to read it. 0, or a failure code
// (APPLY_SOURCE_READ_FAILED, DECODE_OUT_OF_MEMORY) with its text in `message`.
int open_source_reader(SourceReader* reader, std::FILE* file, const char** message);
// Makes block `number` of `record`'s block size current in `record`; a block past the
// end comes back empty. The block's bytes stay valid until the next call. 0, or
// APPLY_SOURCE_READ_FAILED with its text in `message`.
int load_source_block(SourceReader* reader, DecodeSource* record, std::uint64_t number, const char** message);
// Whether a page of the mapping was found gone when touched (the file was shortened
// past it): the bytes handed out from it were zeros. Cheap: ask after every step.
bool source_reader_lost(const SourceReader* reader);
// Whether the bytes handed out may not be the file's: a page was lost, or the file's
// length is no longer the one taken at the start (a mapped file cut inside a page
// keeps that page, zeros past the cut, and nothing is lost). Asks the system: ask
// before a window is written and before success.
bool source_reader_changed(const SourceReader* reader);
// Frees and unmaps everything; call once the stream is closed.
void release_source_reader(SourceReader* reader);

// The source file as the patch driver serves it to the decoder, one block per
// request: straight out of a read-only mapping of the file where the system offers
// one (no copy through a buffer), otherwise read through the stream into one block
// buffer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/file_mapping.h"
#include "vcdiff/decode_types.h"

struct SourceReader {
    std::FILE* file;                 // borrowed: the driver opens and closes it
    std::uint64_t size;              // taken once, when the reader is opened
    FileMapping mapping;             // the whole file, or nothing
    std::uint64_t resident_bytes;    // mapped bytes touched since they were last given back
    std::uint64_t previous_block;
    std::uint8_t* block_buffer;      // without a mapping: the one block read
    char* stream_buffer;             // without a mapping: the stream's buffer
    std::uint64_t position;          // where the stream stands: no seek is needed there
};

// Takes the file's size and maps it, or prepares to read it. 0, or a failure code
// (APPLY_SOURCE_READ_FAILED, DECODE_OUT_OF_MEMORY) with its text in `message`.
int open_source_reader(SourceReader* reader, std::FILE* file, const char** message);
// Makes block `number` of `record`'s block size current in `record`; a block past the
// end comes back empty. 0, or APPLY_SOURCE_READ_FAILED with its text in `message`.
int load_source_block(SourceReader* reader, DecodeSource* record, std::uint64_t number, const char** message);
// Whether bytes already handed out have since vanished from the file (it was
// shortened while mapped; they read as zeros).
bool source_reader_lost(const SourceReader* reader);
// Frees and unmaps everything; call once the stream is closed.
void release_source_reader(SourceReader* reader);

// Records, result codes and constants of the patch decoder.
#pragma once

#include <cstdint>

using u64 = std::uint64_t;

// ---- Result codes -------------------------------------------------------------
// 0 is success; decode_step never returns it.
inline constexpr int DECODE_INPUT = -17703;        // chunk used up: give more input
inline constexpr int DECODE_OUTPUT = -17704;       // a target window is ready
inline constexpr int DECODE_GETSRCBLK = -17705;    // load source block `requested_block`
inline constexpr int DECODE_GOTHEADER = -17706;    // file header and first window header read
inline constexpr int DECODE_WINSTART = -17707;     // a later window header read
inline constexpr int DECODE_WINFINISH = -17708;    // the window whose output was taken is closed
inline constexpr int DECODE_TOOFARBACK = -17709;   // a getblk function cannot go back
inline constexpr int DECODE_INTERNAL = -17710;
inline constexpr int DECODE_INVALID = -17711;      // never produced
inline constexpr int DECODE_INVALID_INPUT = -17712;
inline constexpr int DECODE_NOSECOND = -17713;     // never produced
inline constexpr int DECODE_UNIMPLEMENTED = -17714;
inline constexpr int DECODE_CHECKSUM_MISMATCH = -17715;
inline constexpr int DECODE_OUT_OF_MEMORY = 12;    // the C library's ENOMEM

// ---- Option bits of DecodeConfig::flags ---------------------------------------
inline constexpr std::uint32_t DECODE_FLAG_LAST_INPUT = 0x10;           // set by the driver, never tested
inline constexpr std::uint32_t DECODE_FLAG_SECONDARY_DJW = 0x20;
inline constexpr std::uint32_t DECODE_FLAG_SECONDARY_FGK = 0x40;
inline constexpr std::uint32_t DECODE_FLAG_SECONDARY_DATA = 0x80;
inline constexpr std::uint32_t DECODE_FLAG_SECONDARY_INSTRUCTIONS = 0x100;
inline constexpr std::uint32_t DECODE_FLAG_SECONDARY_ADDRESSES = 0x200;
inline constexpr std::uint32_t DECODE_FLAG_CHECKSUMS = 0x400;           // set by the driver, never tested
inline constexpr std::uint32_t DECODE_FLAG_SKIP_CHECKSUM = 0x800;       // do not verify window Adler-32s
inline constexpr std::uint32_t DECODE_FLAG_SECONDARY_LZMA = 0x1000000;

// ---- Format constants ---------------------------------------------------------
inline constexpr std::uint8_t VCD_DECOMPRESS = 0x01;   // header indicator
inline constexpr std::uint8_t VCD_CODETABLE = 0x02;
inline constexpr std::uint8_t VCD_APPHEADER = 0x04;
inline constexpr std::uint8_t VCD_SOURCE = 0x01;       // window indicator
inline constexpr std::uint8_t VCD_TARGET = 0x02;
inline constexpr std::uint8_t VCD_CHECKSUM = 0x04;
inline constexpr std::uint8_t VCD_DATACOMP = 0x01;     // delta indicator
inline constexpr std::uint8_t VCD_INSTCOMP = 0x02;
inline constexpr std::uint8_t VCD_ADDRCOMP = 0x04;

inline constexpr u64 MAX_TARGET_WINDOW = 67108864;     // 64 MiB, inclusive
inline constexpr u64 SECTION_BUFFER_GRANULE = 16384;   // section copies and the output buffer grow by this

// Instruction types of a code table entry; COPY + m is a COPY in address mode m.
inline constexpr std::uint8_t NOOP = 0;
inline constexpr std::uint8_t ADD = 1;
inline constexpr std::uint8_t RUN = 2;
inline constexpr std::uint8_t COPY = 3;

// ---- Records ------------------------------------------------------------------

struct DecodeStream;
struct DecodeSource;

// Makes `block` current in `source` (current_block, its length and number) and returns 0,
// or returns a code that decode_step passes up. It must not return DECODE_INPUT: the
// caller would then replace the chunk that the window's sections may still be read from.
using GetBlockFunction = int (*)(DecodeStream* stream, DecodeSource* source, u64 block);
using AllocateFunction = void* (*)(void* opaque, u64 count, u64 element_size);
using ReleaseFunction = void (*)(void* opaque, void* pointer);

// Filled by the caller, read once by configure_stream, not kept.
struct DecodeConfig {
    u64 window_size;   // stored, never used by decoding (0: 8388608)
    u64 sprevsz;       // only tested for being a power of two (0: 262144)
    GetBlockFunction getblk;   // null: block requests go back to the caller
    AllocateFunction allocate; // null: default_allocate
    ReleaseFunction release;   // null: default_release
    void* opaque;
    std::uint32_t flags;
};

// The caller's description of the source block the decoder can see. Owned by the
// caller; must outlive the stream's use.
struct DecodeSource {
    u64 block_size;
    u64 current_block_number;
    u64 current_block_length;
    const std::uint8_t* current_block;
    u64 block_shift;
    u64 block_mask;
    u64 copy_offset_blocks;
    u64 copy_offset_remainder;
    u64 requested_block;
    u64 last_block_number;
    u64 last_block_length;
    std::int32_t end_known;
};

// One section (data, instructions or addresses) of the current window.
struct SectionCursor {
    const std::uint8_t* next;
    const std::uint8_t* end;
    u64 length;
    u64 filled;
    std::uint8_t* copy;      // owned; used when the section spans input chunks
    u64 copy_capacity;
};

struct AddressCache {
    u64 near_count;
    u64 same_count;
    u64 next_near_slot;
    u64* near_slots;   // owned, near_count entries
    u64* same_slots;   // owned, same_count * 256 entries
};

enum DecodeState : std::uint32_t {
    STATE_MAGIC = 0,
    STATE_HEADER_INDICATOR,
    STATE_SECONDARY_ID,
    STATE_CODE_TABLE_LENGTH,
    STATE_CODE_TABLE_NEAR,
    STATE_CODE_TABLE_SAME,
    STATE_CODE_TABLE_DATA,
    STATE_APPHEADER_LENGTH,
    STATE_APPHEADER_DATA,
    STATE_WINDOW_INDICATOR,
    STATE_COPY_LENGTH,
    STATE_COPY_OFFSET,
    STATE_ENCODING_LENGTH,
    STATE_TARGET_LENGTH,
    STATE_DELTA_INDICATOR,
    STATE_DATA_LENGTH,
    STATE_INSTRUCTIONS_LENGTH,
    STATE_ADDRESSES_LENGTH,
    STATE_CHECKSUM,
    STATE_DATA_SECTION,
    STATE_INSTRUCTIONS_SECTION,
    STATE_ADDRESSES_SECTION,
    STATE_EMIT,
    STATE_WINDOW_FINISHED,
};

struct HalfInstruction {
    std::uint8_t type;   // NOOP, ADD, RUN or COPY + mode
    u64 size;
    u64 address;         // COPY only
};

struct CodeTableEntry {
    std::uint8_t type1;
    std::uint8_t size1;
    std::uint8_t type2;
    std::uint8_t size2;
};

// The ten numbers from which build_code_table generates a code table.
struct CodeTableShape {
    std::uint8_t add_sizes;
    std::uint8_t near_modes;
    std::uint8_t same_modes;
    std::uint8_t copy_sizes;
    std::uint8_t add_copy_max_add;
    std::uint8_t add_copy_max_near_copy;
    std::uint8_t add_copy_max_same_copy;
    std::uint8_t copy_add_max_add;
    std::uint8_t copy_add_max_near_copy;
    std::uint8_t copy_add_max_same_copy;
};

struct DecodeStream {
    // Caller interface.
    const std::uint8_t* input_next;
    u64 input_avail;
    u64 input_total;
    std::uint8_t* output_next;
    u64 output_avail;
    u64 output_space;
    u64 window_number;
    u64 output_total;
    const char* message;
    DecodeSource* source;

    // Copied from the configuration.
    GetBlockFunction getblk;
    AllocateFunction allocate;
    ReleaseFunction release;
    void* opaque;
    std::uint32_t flags;

    // Decoder.
    AddressCache address_cache;
    DecodeState state;
    u64 header_indicator;
    u64 window_indicator;
    u64 delta_indicator;
    std::uint8_t magic[4];
    u64 magic_filled;
    u64 secondary_id;
    u64 code_table_length;
    u64 appheader_length;
    std::uint8_t* appheader;
    u64 appheader_filled;
    u64 checksum_filled;
    std::uint8_t checksum_bytes[4];
    std::uint32_t expected_adler32;
    u64 copy_window_length;
    u64 copy_window_offset;
    u64 encoding_length;
    u64 target_length;
    u64 integer_partial;
    u64 window_start;
    u64 windows_done;
    u64 section_bytes_read;
    // Output byte of target address copy_window_length: target address a is
    // output_base[a - copy_window_length] (an index, so no pointer before the buffer).
    std::uint8_t* output_base;
    u64 position;
    u64 max_position;
    HalfInstruction first_half;
    HalfInstruction second_half;
    std::uint8_t* output_buffer;
    SectionCursor instructions;
    SectionCursor addresses;
    SectionCursor data;
    const CodeTableEntry* code_table;
};

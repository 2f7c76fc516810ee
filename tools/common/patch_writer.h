// Writes patch files field by field: well-formed windows, and windows that break
// one rule on purpose (make-test-patch, and the checks built on it).
//
// Output streams: a file header, then windows appended one by one to a byte vector
// or a FILE*, so that a multi-gigabyte patch never has to sit in memory at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// ---- Where the bytes go ---------------------------------------------------------

struct PatchSink {
    Bytes* bytes = nullptr;      // appended here when set
    std::FILE* file = nullptr;   // otherwise written here (the caller opens and closes it)
    bool failed = false;         // a write to `file` came up short
    std::uint64_t written = 0;   // bytes handed to the sink so far
};

PatchSink sink_to_bytes(Bytes* bytes);
PatchSink sink_to_file(std::FILE* file);

// ---- Integers -------------------------------------------------------------------

// Appends the 7-bit-group encoding of `value`, preceded by `extra_groups` empty
// groups (0x80 bytes): a longer, still valid, non-shortest encoding.
void append_integer(Bytes* out, std::uint64_t value, unsigned extra_groups = 0);

// ---- File header ----------------------------------------------------------------

struct FileHeaderSpec {
    std::array<std::uint8_t, 3> magic{0xD6, 0xC3, 0xC4};
    std::uint8_t version = 0;
    // Written as given; each optional field below is written when its bit is set.
    std::uint8_t indicator = 0;
    std::uint8_t secondary_id = 0;           // bit 0x01
    std::uint64_t code_table_length = 0;     // bit 0x02, then near 4 and same 3
    Bytes app_header{};                      // bit 0x04: its length, then these bytes
    std::optional<std::uint64_t> app_header_length{};  // default: app_header.size()
};

void write_file_header(PatchSink* sink, const FileHeaderSpec& header);

// ---- Windows --------------------------------------------------------------------

struct WindowSpec {
    // Written as given. The copy window fields follow when exactly one of 0x01 and
    // 0x02 is set; the checksum follows the section lengths when 0x04 is set.
    std::uint8_t indicator = 0;
    std::uint64_t copy_length = 0;
    std::uint64_t copy_offset = 0;
    std::optional<std::uint64_t> encoding_length{};  // default: the true byte count
    std::uint64_t target_length = 0;
    std::uint8_t delta_indicator = 0;
    std::uint32_t checksum = 0;
    Bytes data{};
    Bytes instructions{};
    Bytes addresses{};
    // Extra empty groups in front of these fields (non-shortest encodings).
    unsigned copy_offset_pad = 0;
    unsigned encoding_length_pad = 0;
    unsigned target_length_pad = 0;
};

void write_window(PatchSink* sink, const WindowSpec& window);

// ---- Instructions ---------------------------------------------------------------

// One instruction as it acts on the target, for the reference computation.
struct PatchOp {
    std::uint8_t type = 0;        // ADD, RUN or COPY (the address mode is not kept)
    std::uint64_t size = 0;
    std::uint64_t address = 0;    // COPY: in the window's address space
    Bytes bytes;                  // ADD: the bytes; RUN: the one byte
};

inline constexpr int COPY_MODE_BEST = -1;   // the mode with the fewest address bytes
inline constexpr int COPY_MODE_SELF = 0;
inline constexpr int COPY_MODE_HERE = 1;
inline constexpr int COPY_MODE_NEAR0 = 2;   // near slots: modes 2 to 5
inline constexpr int COPY_MODE_SAME0 = 6;   // same slots: modes 6 to 8
inline constexpr int COPY_MODE_COUNT = 9;

enum SizePlacement {
    SIZE_BEST,        // in the opcode when it fits; best calls may also pair up
    SIZE_IN_OPCODE,   // must fit in the opcode
    SIZE_FOLLOWS,     // size 0 in the opcode, the size follows in the instruction section
};

// The address cache as the decoder keeps it: 4 near slots filled cyclically,
// 768 same slots indexed by address mod 768; cleared at each window.
struct AddressCacheModel {
    std::array<std::uint64_t, 4> near_slots{};
    std::size_t next_near_slot = 0;
    std::array<std::uint64_t, 768> same_slots{};
};

// What a "best" call left pending to merge with the next one into a pair opcode.
struct PendingInstruction {
    std::uint8_t type = 0;   // NOOP: nothing pending; ADD (size 1 to 4) or COPY (size 4)
    std::uint64_t size = 0;
    int mode = 0;
};

struct InstructionEncoder {
    std::uint64_t copy_window_length = 0;   // addresses at and above it are in the target
    std::uint64_t position = 0;             // "here": address of the next byte produced
    AddressCacheModel cache;
    PendingInstruction pending;
    Bytes data;
    Bytes instructions;
    Bytes addresses;
    std::vector<PatchOp> ops;               // every instruction, in order
    bool keep_ops = true;                   // false: skip the log (large generated patches)
};

// Starts a window: clears sections, log and cache.
void encoder_start(InstructionEncoder* encoder, std::uint64_t copy_window_length);
// Each returns false, with nothing written, when the request cannot be encoded
// (a size that does not fit the opcode, an address the mode cannot express).
bool encode_add(InstructionEncoder* encoder, const Bytes& bytes, SizePlacement placement = SIZE_BEST);
bool encode_run(InstructionEncoder* encoder, std::uint8_t byte, std::uint64_t size);
bool encode_copy(InstructionEncoder* encoder, std::uint64_t address, std::uint64_t size,
                 int mode = COPY_MODE_BEST, SizePlacement placement = SIZE_BEST);

// Arguments of one half of an explicit opcode. The size is taken from the opcode
// when its table entry has one; otherwise `size` is written to the instruction section.
struct HalfArgs {
    Bytes bytes;                 // ADD: the bytes (their count is the size); RUN: one byte
    std::uint64_t size = 0;      // RUN and COPY
    std::uint64_t address = 0;   // COPY
};
// Any opcode 0 to 255 of the default table, including the ADD+COPY and COPY+ADD pairs.
bool encode_opcode(InstructionEncoder* encoder, std::uint8_t opcode, const HalfArgs& first,
                   const HalfArgs& second = HalfArgs{});
// Emits what a best call left pending. Call before taking the sections.
void encoder_finish(InstructionEncoder* encoder);

// Target bytes produced by the encoded instructions so far.
inline std::uint64_t encoder_target_size(const InstructionEncoder& encoder) {
    return encoder.position - encoder.copy_window_length;
}

// A window around the encoder's sections (finishing it first): target length from
// the instructions, copy window as given, Adler-32 of `expected_target` when given.
WindowSpec window_from_encoder(InstructionEncoder* encoder, std::uint8_t indicator,
                               std::uint64_t copy_length = 0, std::uint64_t copy_offset = 0,
                               const Bytes* expected_target = nullptr);

// Adler-32 from its definition, apart from the program's kernels, so that a patch never
// checks the program against itself. Sums of 64 bits, reduced once a MiB: fast enough
// for the 2.6 GB of a full-size patch.
std::uint32_t reference_adler32(const std::uint8_t* bytes, std::size_t count, std::uint32_t initial = 1);
inline std::uint32_t reference_adler32(const Bytes& bytes) { return reference_adler32(bytes.data(), bytes.size()); }

// A whole patch in memory: the header, then the windows.
Bytes patch_bytes(const std::vector<WindowSpec>& windows, const FileHeaderSpec& header = {});

// One entry of the default code table, from its opcode ranges (not from the
// shape-driven builder the decoder uses, so the two can check each other).
struct OpcodeEntry {
    std::uint8_t type1, size1, type2, size2;   // types: NOOP, ADD, RUN, COPY + mode
};
OpcodeEntry default_opcode_entry(std::uint8_t opcode);

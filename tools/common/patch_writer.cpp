#include "patch_writer.h"

#include "vcdiff/decode_types.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint8_t WINDOW_COPY_BITS = VCD_SOURCE | VCD_TARGET;
constexpr std::uint64_t SAME_SLOT_COUNT = 768;

bool has_copy_window_fields(std::uint8_t indicator) {
    const auto bits = static_cast<std::uint8_t>(indicator & WINDOW_COPY_BITS);
    return bits == VCD_SOURCE || bits == VCD_TARGET;
}

void append(Bytes* out, const Bytes& bytes) { out->insert(out->end(), bytes.begin(), bytes.end()); }

// ---- Code table ------------------------------------------------------------------

std::uint8_t copy_type(int mode) { return static_cast<std::uint8_t>(COPY + mode); }

bool is_copy(std::uint8_t type) { return type >= COPY; }

// Opcode of a single instruction; size 0 stands for "size follows".
std::optional<std::uint8_t> single_opcode(std::uint8_t type, std::uint64_t size_in_opcode, int mode) {
    if (type == RUN) return size_in_opcode == 0 ? std::optional<std::uint8_t>(0) : std::nullopt;
    if (type == ADD) {
        if (size_in_opcode > 17) return std::nullopt;
        return static_cast<std::uint8_t>(size_in_opcode == 0 ? 1 : size_in_opcode + 1);
    }
    if (size_in_opcode != 0 && (size_in_opcode < 4 || size_in_opcode > 18)) return std::nullopt;
    const std::uint64_t base = 19 + 16 * static_cast<std::uint64_t>(mode);
    return static_cast<std::uint8_t>(size_in_opcode == 0 ? base : base + size_in_opcode - 3);
}

std::optional<std::uint8_t> add_copy_opcode(std::uint64_t add_size, std::uint64_t copy_size, int mode) {
    if (add_size < 1 || add_size > 4) return std::nullopt;
    if (mode < COPY_MODE_SAME0) {
        if (copy_size < 4 || copy_size > 6) return std::nullopt;
        return static_cast<std::uint8_t>(163 + 12 * static_cast<std::uint64_t>(mode) + 3 * (add_size - 1) +
                                         (copy_size - 4));
    }
    if (copy_size != 4) return std::nullopt;
    return static_cast<std::uint8_t>(235 + 4 * static_cast<std::uint64_t>(mode - COPY_MODE_SAME0) + add_size - 1);
}

std::optional<std::uint8_t> copy_add_opcode(std::uint64_t copy_size, std::uint64_t add_size, int mode) {
    if (copy_size != 4 || add_size != 1) return std::nullopt;
    return static_cast<std::uint8_t>(247 + mode);
}

// ---- Address cache ---------------------------------------------------------------

void cache_update(AddressCacheModel* cache, std::uint64_t address) {
    cache->near_slots[cache->next_near_slot] = address;
    cache->next_near_slot = (cache->next_near_slot + 1) % cache->near_slots.size();
    cache->same_slots[address % SAME_SLOT_COUNT] = address;
}

// How a COPY address is written in one mode: an integer, or one raw byte.
struct AddressEncoding {
    bool raw_byte = false;
    std::uint64_t value = 0;
};

std::optional<AddressEncoding> encode_address(const AddressCacheModel& cache, std::uint64_t here,
                                              std::uint64_t address, int mode) {
    if (mode == COPY_MODE_SELF) return AddressEncoding{false, address};
    if (mode == COPY_MODE_HERE) {
        if (address > here) return std::nullopt;
        return AddressEncoding{false, here - address};
    }
    if (mode < COPY_MODE_SAME0) {
        const std::uint64_t base = cache.near_slots[static_cast<std::size_t>(mode - COPY_MODE_NEAR0)];
        if (address < base) return std::nullopt;
        return AddressEncoding{false, address - base};
    }
    const std::uint64_t slot = address % SAME_SLOT_COUNT;
    if (slot / 256 != static_cast<std::uint64_t>(mode - COPY_MODE_SAME0)) return std::nullopt;
    if (cache.same_slots[slot] != address) return std::nullopt;
    return AddressEncoding{true, slot % 256};
}

unsigned address_cost(const AddressEncoding& encoding) {
    if (encoding.raw_byte) return 1;
    Bytes bytes;
    append_integer(&bytes, encoding.value);
    return static_cast<unsigned>(bytes.size());
}

int best_mode(const AddressCacheModel& cache, std::uint64_t here, std::uint64_t address) {
    int best = COPY_MODE_SELF;
    unsigned best_cost = ~0u;
    for (int mode = 0; mode < COPY_MODE_COUNT; ++mode) {
        const auto encoding = encode_address(cache, here, address, mode);
        if (encoding && address_cost(*encoding) < best_cost) {
            best = mode;
            best_cost = address_cost(*encoding);
        }
    }
    return best;
}

void write_address(InstructionEncoder* encoder, const AddressEncoding& encoding) {
    if (encoding.raw_byte) {
        encoder->addresses.push_back(static_cast<std::uint8_t>(encoding.value));
    } else {
        append_integer(&encoder->addresses, encoding.value);
    }
}

void log_op(InstructionEncoder* encoder, PatchOp op) {
    if (encoder->keep_ops) encoder->ops.push_back(std::move(op));
}

void flush_pending(InstructionEncoder* encoder) {
    const PendingInstruction pending = encoder->pending;
    if (pending.type == NOOP) return;
    encoder->pending = PendingInstruction{};
    const auto opcode = single_opcode(pending.type, pending.size, pending.mode);
    encoder->instructions.push_back(*opcode);
}

bool size_goes_in_opcode(SizePlacement placement, std::optional<std::uint8_t> in_opcode) {
    return placement != SIZE_FOLLOWS && in_opcode.has_value();
}

}  // namespace

// ---- Sink ------------------------------------------------------------------------

namespace {

void sink_write(PatchSink* sink, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return;
    if (sink->bytes != nullptr) {
        sink->bytes->insert(sink->bytes->end(), bytes, bytes + count);
    } else if (sink->file == nullptr || std::fwrite(bytes, 1, count, sink->file) != count) {
        sink->failed = true;
        return;
    }
    sink->written += count;
}

}  // namespace

PatchSink sink_to_bytes(Bytes* bytes) {
    PatchSink sink;
    sink.bytes = bytes;
    return sink;
}

PatchSink sink_to_file(std::FILE* file) {
    PatchSink sink;
    sink.file = file;
    return sink;
}

// ---- Integers --------------------------------------------------------------------

void append_integer(Bytes* out, std::uint64_t value, unsigned extra_groups) {
    for (unsigned i = 0; i < extra_groups; ++i) out->push_back(0x80);
    std::uint8_t groups[10];
    unsigned count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) out->push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    out->push_back(groups[0]);
}

// ---- Headers and windows ---------------------------------------------------------

void write_file_header(PatchSink* sink, const FileHeaderSpec& header) {
    Bytes out(header.magic.begin(), header.magic.end());
    out.push_back(header.version);
    out.push_back(header.indicator);
    if (header.indicator & VCD_DECOMPRESS) out.push_back(header.secondary_id);
    if (header.indicator & VCD_CODETABLE) {
        append_integer(&out, header.code_table_length);
        out.push_back(4);
        out.push_back(3);
    }
    if (header.indicator & VCD_APPHEADER) {
        append_integer(&out, header.app_header_length.value_or(header.app_header.size()));
        append(&out, header.app_header);
    }
    sink_write(sink, out.data(), out.size());
}

namespace {

// Everything after the delta encoding length field.
Bytes window_body(const WindowSpec& window) {
    Bytes body;
    append_integer(&body, window.target_length, window.target_length_pad);
    body.push_back(window.delta_indicator);
    append_integer(&body, window.data.size());
    append_integer(&body, window.instructions.size());
    append_integer(&body, window.addresses.size());
    if (window.indicator & VCD_CHECKSUM) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            body.push_back(static_cast<std::uint8_t>(window.checksum >> shift));
        }
    }
    return body;
}

}  // namespace

void write_window(PatchSink* sink, const WindowSpec& window) {
    Bytes head;
    head.push_back(window.indicator);
    if (has_copy_window_fields(window.indicator)) {
        append_integer(&head, window.copy_length);
        append_integer(&head, window.copy_offset, window.copy_offset_pad);
    }
    const Bytes body = window_body(window);
    const std::uint64_t true_length =
        body.size() + window.data.size() + window.instructions.size() + window.addresses.size();
    append_integer(&head, window.encoding_length.value_or(true_length), window.encoding_length_pad);
    append(&head, body);
    sink_write(sink, head.data(), head.size());
    sink_write(sink, window.data.data(), window.data.size());
    sink_write(sink, window.instructions.data(), window.instructions.size());
    sink_write(sink, window.addresses.data(), window.addresses.size());
}

// ---- Encoder ---------------------------------------------------------------------

void encoder_start(InstructionEncoder* encoder, std::uint64_t copy_window_length) {
    encoder->copy_window_length = copy_window_length;
    encoder->position = copy_window_length;
    encoder->cache = AddressCacheModel{};
    encoder->pending = PendingInstruction{};
    encoder->data.clear();
    encoder->instructions.clear();
    encoder->addresses.clear();
    encoder->ops.clear();
}

bool encode_add(InstructionEncoder* encoder, const Bytes& bytes, SizePlacement placement) {
    const std::uint64_t size = bytes.size();
    const auto in_opcode = size >= 1 && size <= 17 ? single_opcode(ADD, size, 0) : std::nullopt;
    if (placement == SIZE_IN_OPCODE && !in_opcode) return false;
    const bool pairable = placement == SIZE_BEST && in_opcode;

    if (pairable && encoder->pending.type == COPY && copy_add_opcode(encoder->pending.size, size, 0)) {
        encoder->instructions.push_back(*copy_add_opcode(encoder->pending.size, size, encoder->pending.mode));
        encoder->pending = PendingInstruction{};
    } else {
        flush_pending(encoder);
        if (pairable && size <= 4) {
            encoder->pending = PendingInstruction{ADD, size, 0};
        } else if (size_goes_in_opcode(placement, in_opcode)) {
            encoder->instructions.push_back(*in_opcode);
        } else {
            encoder->instructions.push_back(*single_opcode(ADD, 0, 0));
            append_integer(&encoder->instructions, size);
        }
    }
    append(&encoder->data, bytes);
    encoder->position += size;
    log_op(encoder, PatchOp{ADD, size, 0, bytes});
    return true;
}

bool encode_run(InstructionEncoder* encoder, std::uint8_t byte, std::uint64_t size) {
    flush_pending(encoder);
    encoder->instructions.push_back(*single_opcode(RUN, 0, 0));
    append_integer(&encoder->instructions, size);
    encoder->data.push_back(byte);
    encoder->position += size;
    log_op(encoder, PatchOp{RUN, size, 0, Bytes{byte}});
    return true;
}

bool encode_copy(InstructionEncoder* encoder, std::uint64_t address, std::uint64_t size, int mode,
                 SizePlacement placement) {
    if (mode < COPY_MODE_BEST || mode >= COPY_MODE_COUNT) return false;
    const std::uint64_t here = encoder->position;
    const int chosen = mode == COPY_MODE_BEST ? best_mode(encoder->cache, here, address) : mode;
    const auto encoding = encode_address(encoder->cache, here, address, chosen);
    if (!encoding) return false;
    const auto in_opcode = size >= 4 && size <= 18 ? single_opcode(copy_type(chosen), size, chosen) : std::nullopt;
    if (placement == SIZE_IN_OPCODE && !in_opcode) return false;
    const bool pairable = placement == SIZE_BEST && in_opcode;

    if (pairable && encoder->pending.type == ADD && add_copy_opcode(encoder->pending.size, size, chosen)) {
        encoder->instructions.push_back(*add_copy_opcode(encoder->pending.size, size, chosen));
        encoder->pending = PendingInstruction{};
    } else {
        flush_pending(encoder);
        if (pairable && size == 4) {
            encoder->pending = PendingInstruction{COPY, size, chosen};
        } else if (size_goes_in_opcode(placement, in_opcode)) {
            encoder->instructions.push_back(*in_opcode);
        } else {
            encoder->instructions.push_back(*single_opcode(copy_type(chosen), 0, chosen));
            append_integer(&encoder->instructions, size);
        }
    }
    write_address(encoder, *encoding);
    cache_update(&encoder->cache, address);
    encoder->position += size;
    log_op(encoder, PatchOp{COPY, size, address, {}});
    return true;
}

bool encode_opcode(InstructionEncoder* encoder, std::uint8_t opcode, const HalfArgs& first, const HalfArgs& second) {
    const OpcodeEntry entry = default_opcode_entry(opcode);
    const std::uint8_t types[2] = {entry.type1, entry.type2};
    const std::uint8_t table_sizes[2] = {entry.size1, entry.size2};
    const HalfArgs* args[2] = {&first, &second};

    // Check both halves before writing anything. A pair holds at most one COPY, so
    // the cache the COPY sees is the current one.
    std::uint64_t sizes[2] = {0, 0};
    std::optional<AddressEncoding> encodings[2];
    std::uint64_t here = encoder->position;
    for (int h = 0; h < 2; ++h) {
        const std::uint8_t type = types[h];
        if (type == NOOP) continue;
        const std::uint64_t given = type == ADD ? args[h]->bytes.size() : args[h]->size;
        if (table_sizes[h] != 0 && given != table_sizes[h]) return false;
        if (type == RUN && args[h]->bytes.size() != 1) return false;
        sizes[h] = given;
        if (is_copy(type)) {
            encodings[h] = encode_address(encoder->cache, here, args[h]->address, type - COPY);
            if (!encodings[h]) return false;
        }
        here += given;
    }

    flush_pending(encoder);
    encoder->instructions.push_back(opcode);
    for (int h = 0; h < 2; ++h) {
        if (types[h] != NOOP && table_sizes[h] == 0) {
            append_integer(&encoder->instructions, sizes[h]);
        }
    }
    for (int h = 0; h < 2; ++h) {
        const std::uint8_t type = types[h];
        if (type == NOOP) continue;
        if (type == ADD || type == RUN) {
            append(&encoder->data, args[h]->bytes);
            log_op(encoder, PatchOp{type, sizes[h], 0, args[h]->bytes});
        } else {
            write_address(encoder, *encodings[h]);
            cache_update(&encoder->cache, args[h]->address);
            log_op(encoder, PatchOp{COPY, sizes[h], args[h]->address, {}});
        }
        encoder->position += sizes[h];
    }
    return true;
}

void encoder_finish(InstructionEncoder* encoder) { flush_pending(encoder); }

WindowSpec window_from_encoder(InstructionEncoder* encoder, std::uint8_t indicator, std::uint64_t copy_length,
                               std::uint64_t copy_offset, const Bytes* expected_target) {
    encoder_finish(encoder);
    WindowSpec window;
    window.indicator = indicator;
    window.copy_length = copy_length;
    window.copy_offset = copy_offset;
    window.target_length = encoder_target_size(*encoder);
    window.data = encoder->data;
    window.instructions = encoder->instructions;
    window.addresses = encoder->addresses;
    if (expected_target != nullptr) {
        window.indicator = static_cast<std::uint8_t>(indicator | VCD_CHECKSUM);
        window.checksum = reference_adler32(*expected_target);
    }
    return window;
}

std::uint32_t reference_adler32(const std::uint8_t* bytes, std::size_t count, std::uint32_t initial) {
    constexpr std::uint64_t modulus = 65521;
    std::uint64_t s1 = initial & 0xFFFFu, s2 = initial >> 16;
    while (count > 0) {
        const std::size_t run = std::min<std::size_t>(count, 1u << 20);
        for (std::size_t i = 0; i < run; ++i) {
            s1 += bytes[i];
            s2 += s1;
        }
        s1 %= modulus;
        s2 %= modulus;
        bytes += run;
        count -= run;
    }
    return static_cast<std::uint32_t>(s2 % modulus << 16 | s1 % modulus);
}

Bytes patch_bytes(const std::vector<WindowSpec>& windows, const FileHeaderSpec& header) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, header);
    for (const WindowSpec& window : windows) write_window(&sink, window);
    return patch;
}

OpcodeEntry default_opcode_entry(std::uint8_t opcode) {
    const unsigned op = opcode;
    if (op == 0) return {RUN, 0, NOOP, 0};
    if (op == 1) return {ADD, 0, NOOP, 0};
    if (op <= 18) return {ADD, static_cast<std::uint8_t>(op - 1), NOOP, 0};
    if (op <= 162) {
        const unsigned mode = (op - 19) / 16;
        const unsigned rest = (op - 19) % 16;
        return {static_cast<std::uint8_t>(COPY + mode), static_cast<std::uint8_t>(rest == 0 ? 0 : rest + 3), NOOP, 0};
    }
    if (op <= 234) {
        const unsigned k = op - 163;
        return {ADD, static_cast<std::uint8_t>((k % 12) / 3 + 1), static_cast<std::uint8_t>(COPY + k / 12),
                static_cast<std::uint8_t>(k % 3 + 4)};
    }
    if (op <= 246) {
        const unsigned k = op - 235;
        return {ADD, static_cast<std::uint8_t>(k % 4 + 1), static_cast<std::uint8_t>(COPY + 6 + k / 4), 4};
    }
    return {static_cast<std::uint8_t>(COPY + (op - 247)), 4, ADD, 1};
}

#include "patch_reference.h"

#include <random>

#include "vcdiff/decode_types.h"

WindowSpec checked_window(InstructionEncoder* encoder, const Bytes& source, std::uint64_t copy_offset, Bytes* target) {
    encoder_finish(encoder);
    const std::uint64_t length = encoder->copy_window_length;
    const auto expected = reference_window_target(source, copy_offset, length, encoder->ops);
    if (target != nullptr && expected) *target = *expected;
    WindowSpec window = window_from_encoder(encoder, length != 0 ? VCD_SOURCE : 0, length, copy_offset);
    if (expected) {
        window.indicator = static_cast<std::uint8_t>(window.indicator | VCD_CHECKSUM);
        window.checksum = reference_adler32(*expected);
    }
    return window;
}

std::optional<Bytes> reference_window_target(const Bytes& source, std::uint64_t copy_offset,
                                             std::uint64_t copy_length, const std::vector<PatchOp>& ops) {
    Bytes target;
    for (const PatchOp& op : ops) {
        if (op.type == ADD) {
            if (op.bytes.size() != op.size) return std::nullopt;
            target.insert(target.end(), op.bytes.begin(), op.bytes.end());
        } else if (op.type == RUN) {
            if (op.bytes.size() != 1) return std::nullopt;
            target.insert(target.end(), op.size, op.bytes[0]);
        } else if (op.address < copy_length) {
            if (op.size > copy_length - op.address) return std::nullopt;
            const std::uint64_t start = copy_offset + op.address;
            if (start < copy_offset || start > source.size() || op.size > source.size() - start) return std::nullopt;
            target.insert(target.end(), source.begin() + static_cast<std::ptrdiff_t>(start),
                          source.begin() + static_cast<std::ptrdiff_t>(start + op.size));
        } else {
            // Byte by byte: a copy may overlap the bytes it is producing.
            const std::uint64_t from = op.address - copy_length;
            if (from >= target.size()) return std::nullopt;
            for (std::uint64_t i = 0; i < op.size; ++i) target.push_back(target[from + i]);
        }
    }
    return target;
}

Bytes random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

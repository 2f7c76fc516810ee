// What only the tests need beside the patch writer: the target of a window worked
// out straight from its instructions, and repeatable bytes.
#pragma once

#include "patch_writer.h"

// The encoder's window, its copy window over source[copy_offset...] when it has one,
// checked against the reference target (stored in `target` when given).
WindowSpec checked_window(InstructionEncoder* encoder, const Bytes& source = {}, std::uint64_t copy_offset = 0,
                          Bytes* target = nullptr);

// `count` pseudo-random bytes, the same for the same seed.
Bytes random_bytes(std::size_t count, unsigned seed);

// The target of a window computed straight from the instructions: `source` is the
// whole source file; the copy window is source[copy_offset, copy_offset + copy_length).
// Returns nullopt when an instruction reads outside the source or ahead of the target.
std::optional<Bytes> reference_window_target(const Bytes& source, std::uint64_t copy_offset,
                                             std::uint64_t copy_length, const std::vector<PatchOp>& ops);

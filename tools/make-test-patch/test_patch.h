// A realistic patch for a given source image, generated window by window so that a
// multi-gigabyte target never sits in memory: each window's target is worked out in
// a buffer of the window's size, for its Adler-32 and for the digest of the whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "patch_writer.h"
#include "sha256.h"

inline constexpr std::uint64_t DEFAULT_TEST_TARGET_SIZE = 2620872704u;
inline constexpr std::uint64_t DEFAULT_TEST_WINDOW_SIZE = 8u << 20;
// Source bytes on each side of a window's own range that its moved blocks may come from.
inline constexpr std::uint64_t MOVED_BLOCK_REACH = 4u << 20;

struct TestPatchOptions {
    std::uint64_t target_size = DEFAULT_TEST_TARGET_SIZE;
    bool identity = false;          // the target is the source, byte for byte
    bool checksums = true;          // an Adler-32 in every window
    std::optional<std::uint64_t> bad_checksum_window;  // this window's Adler-32 is wrong
    std::uint64_t seed = 1;
    std::uint64_t window_size = DEFAULT_TEST_WINDOW_SIZE;
};

// The source image, read piece by piece. With fd -1 only its size is known: enough
// for an identity patch without checksums, which never looks at a source byte.
struct PatchSourceFile {
    int fd = -1;
    std::uint64_t size = 0;
};

struct TestPatchStats {
    std::uint64_t windows = 0;
    std::uint64_t adds = 0;
    std::uint64_t runs = 0;
    std::uint64_t same_offset_copies = 0;   // from the source where the target byte sits
    std::uint64_t moved_copies = 0;         // from elsewhere in the source
    std::uint64_t target_copies = 0;        // from earlier in the same target window
    std::uint64_t add_bytes = 0;
};

struct TestPatchResult {
    bool ok = false;
    std::string error;
    TestPatchStats stats;
};

std::uint64_t test_patch_window_count(const TestPatchOptions& options);

// Writes the whole patch to `sink`. When `target_hash` is given, every target byte
// is added to it in order (the expected output of applying the patch).
TestPatchResult write_test_patch(const TestPatchOptions& options, const PatchSourceFile& source, PatchSink* sink,
                                 Sha256* target_hash);

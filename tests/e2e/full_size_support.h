// Full-size runs: the built tools make the image and the patch, the patcher runs on
// them, and multi-gigabyte files are named by their SHA-256.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"

inline constexpr std::uint64_t FULL_TARGET_SIZE = 2620872704u;   // what the patches produce
inline constexpr std::uint64_t INTERMEDIATE_SIZE = 2599682048u;
inline constexpr std::uint64_t PATCH_WINDOW = 8u << 20;          // make-test-patch's default
inline constexpr int FULL_RUN_TIMEOUT_SECONDS = 1200;

// The patcher of patcher_setup() (or `program`) in `folder`, with time for a full run.
RunOptions full_run(const std::filesystem::path& folder, const char* program = nullptr);

// make-test-image us|eu sparse|random PATH; throws when it fails.
void make_test_image(const std::string& release, const std::string& content, const std::filesystem::path& path);
// make-test-patch ARGUMENTS; returns the SHA-256 of the target (asked with --sha256 when
// `digest`), or throws when it fails.
std::string make_test_patch(std::vector<std::string> arguments, bool digest = true);

std::string file_sha256(const std::filesystem::path& path);

// "Progression: N %\r" for every N from `first` to `last`.
std::string progress_lines(int first, int last);
// The driver's percentage after `written` bytes: start + written / total * span, truncated.
int driver_percent(std::uint64_t written, int start, int end);

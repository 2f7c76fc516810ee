// Full-size runs: the built tools make the image and the patch, the patcher runs on
// them, and multi-gigabyte files are named by their SHA-256.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

inline constexpr std::uint64_t FULL_TARGET_SIZE = 2620872704u;   // what the patches produce
inline constexpr std::uint64_t PATCH_WINDOW = 8u << 20;          // make-test-patch's default
inline constexpr int FULL_RUN_TIMEOUT_SECONDS = 1200;

struct ToolResult {
    int status;          // exit status, -1 when the tool did not exit normally
    std::string out;     // standard output
    std::string err;     // standard error
};
// Runs a built tool with the given arguments (each passed as one word).
ToolResult run_tool(const std::string& tool, const std::vector<std::string>& arguments);

// make-test-image us|eu sparse|random PATH; throws when it fails.
void make_test_image(const std::string& release, const std::string& content, const std::filesystem::path& path);
// make-test-patch with --sha256 added; returns the digest it printed, or throws.
std::string make_test_patch(const std::vector<std::string>& arguments);

std::string file_sha256(const std::filesystem::path& path);

// "Progression: N %\r" for every N from `first` to `last`.
std::string progress_lines(int first, int last);
// The driver's percentage after `written` bytes: start + written / total * span, truncated.
int driver_percent(std::uint64_t written, int start, int end);

// Splits the progress part of a run's output into its lines (without the "\r").
std::vector<std::string> split_progress(const std::string& text);

// Prints how long a step took, so that the test log shows where the time goes.
struct StepTimer {
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    void lap(const char* step);
};

// Running the built patcher in a folder of our own and building the texts it must print.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct PatcherRun {
    std::string output;   // everything written to standard output, byte for byte
    int exit_status;      // -1 when the program did not exit normally
};

// Set from the command line: --patcher=PATH [--wine=COMMAND].
struct PatcherSetup {
    std::string patcher;
    std::string wine;     // empty for the native program
};
PatcherSetup& patcher_setup();
bool running_windows_program();

// Runs the patcher with `folder` as its current directory, supplying one key press.
PatcherRun run_patcher(const std::filesystem::path& folder, int timeout_seconds = 120);

// The separator and line ends the program shows on this platform.
std::string shown_path(const std::string& relative_with_slashes);
std::string console_text(const std::string& text_with_newlines);

// A fresh temporary folder, removed with everything in it when the value dies.
struct TempFolder {
    std::filesystem::path path;
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

// A sparse file of exactly `size` bytes with `patches` written at their offsets.
struct BytesAt {
    std::uint64_t offset;
    std::string bytes;
};
void make_sparse_file(const std::filesystem::path& path, std::uint64_t size, const std::vector<BytesAt>& patches);

inline constexpr std::uint64_t US_SIZE = 2599682048u;
inline constexpr std::uint64_t EU_SIZE = 2669969408u;
void make_us_image(const std::filesystem::path& path);
void make_eu_image(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string read_file(const std::filesystem::path& path);

// Running the built patcher as a player would, in folders of our own, and watching what
// it does to the files around it.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "patch_reference.h"

// The program under test: ORV_NATIVE_PATCHER, or --patcher=PATH [--wine=COMMAND] (main() in e2e_support.cpp),
// and the same program with fault injection: ORV_NATIVE_PATCHER_FAULTS, or --patcher-faults=PATH;
// beside the Windows programs, hold-file.exe: --hold-file=PATH.
struct PatcherSetup {
    std::string patcher;
    std::string patcher_faults;
    std::string hold_file;
    std::string wine;     // empty for the native programs
};
PatcherSetup& patcher_setup();
bool running_windows_program();

struct RunOptions {
    std::string program;                    // the native program, or the .exe under `wine`
    std::string wine;                       // empty: run `program` natively
    std::vector<std::string> arguments;
    std::filesystem::path folder;           // the current directory of the run
    std::vector<std::pair<std::string, std::string>> environment;  // added to ours
    bool key_press = true;                  // a key is waiting from the start
    bool output_closed = false;             // standard output: a pipe whose reader has gone
    std::string signal_when;                // send `signal_number` once the output holds this text
    int signal_number = SIGINT;
    // With SIGSTOP: done while the program is stopped, which then goes on (SIGCONT).
    std::function<void()> while_stopped;
    // Standard input and output: a pseudo-terminal (Wine makes a console of it), on which
    // `terminal_key` is typed once the closing prompt shows without echo.
    bool terminal = false;
    char terminal_key = 'x';
    bool as_nobody = false;                 // drop to uid/gid 65534, so that modes are enforced
    int timeout_seconds = 120;              // a hang ends with SIGKILL and a failed run
};
// The program of patcher_setup() in `folder`; with `fault` ("operation:role:nth:kind") its
// fault-injection build, with that fault armed.
RunOptions patcher_in(const std::filesystem::path& folder, const std::string& fault = "");

struct ProgramRun {
    std::string output;        // standard output, byte for byte
    int exit_status = -1;      // -1 unless the program exited
    int end_signal = 0;        // the signal that ended it, 0 if it exited
    bool signal_sent = false;
    bool timed_out = false;
    bool terminal_settings_kept = true;   // the terminal's local modes are as before the run
};
ProgramRun run_program(const RunOptions& options);

// hold-file.exe (tests/e2e/hold_file.cpp) holding a file open, as an emulator or a virus scanner
// would, while a run goes on; ended, if it has not ended yet, when the value dies.
struct FileHolder {
    pid_t pid = -1;
    int output_fd = -1;
    std::string said;
    ~FileHolder();
    // Whether it has said `word` ("waiting", "holding"), waiting up to `timeout_seconds` for it.
    bool said_within(const std::string& word, int timeout_seconds);
};
// Starts hold-file.exe in `folder` on `path` ("none" or "delete" sharing, held for `seconds`,
// after waiting for the file to appear with `wait`); returns once it waits or holds.
std::unique_ptr<FileHolder> hold_file(const std::filesystem::path& folder, const std::string& path,
                                      const std::string& sharing, int seconds, bool wait);

// The expected texts (console_text) as a terminal shows the console: UTF-8 letters, instead
// of code page 850 bytes as the Windows program writes them to a pipe. Set while making them.
extern bool expect_terminal_view;
// A message written with code page 850 escapes for its letters and "%s" for `path` (UTF-8,
// with '/'), as the program shows it: UTF-8 or code page 850 letters ('?' for those it
// lacks), this platform's separator and line ends.
std::string console_text(const std::string& cp850_text, const std::string& path = "");
// What a terminal received, without the console's cursor sequences.
std::string terminal_text(const std::string& received);

// A fresh temporary folder, removed with everything in it when the value dies.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

// Sees anything done to a file but reading: an open for writing, a write, a change of
// attributes, a deletion or a rename, another file put in its place (its link count drops).
struct FileGuard {
    int inotify_fd = -1;
    explicit FileGuard(const std::filesystem::path& watched);
    ~FileGuard();
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    // What happened to the file since it was guarded, empty when nothing did.
    std::string changes();
};

struct BytesAt {
    std::uint64_t offset;
    std::string bytes;
};
// A sparse file of exactly `size` bytes with `patches` written at their offsets.
void make_sparse_file(const std::filesystem::path& path, std::uint64_t size, const std::vector<BytesAt>& patches);

inline constexpr std::uint64_t US_SIZE = 2599682048u;
inline constexpr std::uint64_t EU_SIZE = 2669969408u;
// The boot path and marker that identify the US image.
std::vector<BytesAt> us_identity();
// The US image, with pseudo-random bytes in two regions (one above 2^31) for small_us_patch.
void make_us_image(const std::filesystem::path& path);
void make_eu_image(const std::filesystem::path& path);

// The CRC-32 of a sparse file of `size` bytes holding `patches` (which must not overlap).
std::uint32_t sparse_crc32(std::uint64_t size, std::vector<BytesAt> patches);
// What make_us_image writes, with its last four bytes (which identification does not read)
// chosen so that the image's CRC-32 is `crc` when one is given.
std::vector<BytesAt> us_image_contents(std::optional<std::uint32_t> crc = std::nullopt);

// Five windows that copy from both regions of make_us_image across source blocks, add and
// run bytes, each with its checksum (wrong in `bad_checksum_window` when >= 0).
// `expected` receives the output.
Bytes small_us_patch(std::string* expected, int bad_checksum_window = -1);

void write_file(const std::filesystem::path& path, const std::string& bytes);
inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}
std::string read_file(const std::filesystem::path& path);
// The counts the fault-injection program writes under ORV_FAULT_COUNTS, by "operation role"
// ("close part", "synced folder").
std::map<std::string, std::uint64_t> read_counts(const std::filesystem::path& path);
// Whether the armed "operation:role:nth:kind" fired: the counts show that call made nth times.
bool fault_fired(const std::map<std::string, std::uint64_t>& counts, std::string fault);

// Running the built patcher as a player would, and watching what it does to the
// files around it: its output, its exit, an interruption sent at a chosen moment,
// and every change made to a file that must stay as it was.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct RunOptions {
    std::string program;                    // the native program, or the .exe under `wine`
    std::string wine;                       // empty: run `program` natively
    std::vector<std::string> arguments;     // after `program` (e.g. cmd's /c line under wine)
    std::filesystem::path folder;           // the current directory of the run
    std::vector<std::pair<std::string, std::string>> environment;  // added to ours
    bool key_press = true;                  // a key is waiting from the start
    std::string signal_when;                // send `signal_number` once the output holds this text
    int signal_number = 2;                  // SIGINT
    bool signal_whole_group = false;        // to every process of the run (wine starts several)
    bool as_nobody = false;                 // drop to uid/gid 65534, so that modes are enforced
    int timeout_seconds = 300;              // a hang ends with SIGKILL and a failed run
};

struct ProgramRun {
    std::string output;        // standard output, byte for byte
    int exit_status = -1;      // -1 unless the program exited
    int end_signal = 0;        // the signal that ended it, 0 if it exited
    bool signal_sent = false;
    bool timed_out = false;
    double seconds_after_signal = 0;  // from the signal to the end of the process
};

ProgramRun run_program(const RunOptions& options);

// What identifies one state of a file: a change of content, size, mode or any write
// moves the change time; a file put in its place changes the inode.
struct FileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    ino_t inode = 0;
    std::timespec modified{};
    std::timespec changed{};
};
FileStamp stamp_of(const std::filesystem::path& path);
bool operator==(const FileStamp& a, const FileStamp& b);

// Watches one file for anything but reading: an open for writing (seen when it is
// closed), a write, a change of attributes, a deletion or a rename.
struct FileWatch {
    int inotify_fd = -1;
    explicit FileWatch(const std::filesystem::path& path);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;
    // A description of the events seen since the last call, empty when none.
    std::string changes();
};

// The bytes of a file as text (small files only).
std::string file_bytes(const std::filesystem::path& path);
// Every entry name of a folder, sorted: what a run left behind.
std::vector<std::string> folder_entries(const std::filesystem::path& folder);

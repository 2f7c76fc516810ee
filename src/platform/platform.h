// The operating system, as the rest of the program sees it.
//
// Windows builds call the real directory services (FindFirstFileW, FindNextFileW,
// FindClose, GetCurrentDirectoryW, SetCurrentDirectoryW), the C runtime's wide
// low-level and stdio file functions, and the console. Linux builds put a small POSIX
// layer in their place with the same contract. Nothing else in the program includes
// an operating-system header.
//
// Every name and text crosses this contract in UTF-8; on Windows only this layer
// converts to and from the system's UTF-16.
//
// Sizes and offsets are 64-bit here: disc images are larger than 2 GiB, and the
// C runtime's 32-bit _filelength turns a 2.6 GB image into a negative number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
inline constexpr char PATH_SEPARATOR = '\\';
#else
inline constexpr char PATH_SEPARATOR = '/';
#endif

// ---- Directory listings -------------------------------------------------------

// Longest entry name a listing hands back in UTF-8, terminator included: a Windows
// name of MAX_PATH - 1 UTF-16 units takes up to 3 bytes a unit; Linux's NAME_MAX
// (255 bytes) fits too.
inline constexpr std::size_t LISTING_NAME_CAPACITY = 3 * 259 + 1;

struct ListingEntry {
    char name[LISTING_NAME_CAPACITY];
    bool is_directory;  // the directory attribute (0x10)
    bool is_link;       // a symbolic link, or a junction or other name-surrogate
                        // reparse point: never descended into
};

#ifdef _WIN32
// Whether an entry with these attribute bits and reparse tag is a link that the walk must
// not follow (a junction or another name-surrogate reparse point).
bool is_link_entry(std::uint32_t attributes, std::uint32_t reparse_tag);
#endif

using ListingHandle = std::intptr_t;
inline constexpr ListingHandle LISTING_NONE = -1;

// Opens a listing of every entry of the current directory ("*", with "." and ".."
// and hidden entries) and fills `entry` with its first entry. LISTING_NONE when the
// folder cannot be listed. On Windows an entry whose name is not valid UTF-16 (an
// unpaired surrogate, which NTFS allows) is passed over: no UTF-8 text names it.
ListingHandle platform_open_listing(ListingEntry* entry);
// Next entry of an open listing; false when there is none left.
bool platform_next_entry(ListingHandle listing, ListingEntry* entry);
void platform_close_listing(ListingHandle listing);

// Writes the current directory and its terminator into `buffer`. Returns its length,
// or 0 when it cannot be read or does not fit in `capacity` bytes (nothing is then
// written past the buffer).
std::uint32_t platform_get_current_directory(char* buffer, std::uint32_t capacity);
bool platform_set_current_directory(const char* path);

// ---- Low-level descriptors ----------------------------------------------------

enum FileOpenMode {
    OPEN_READ_ONLY = 0,             // existing file, reading
    OPEN_CREATE_TRUNCATE = 3,       // create, or truncate to 0, for writing
    OPEN_CREATE_NEW = 4,            // create for writing; fails when anything (a file, a
                                    // folder, a link, even a dangling one) has the name
};

// All binary: no byte is translated. A descriptor, or -1 on failure.
int platform_open(const char* path, FileOpenMode mode);
// Reads up to `count` bytes; fewer only at the end of the file. -1 on failure.
std::int64_t platform_read(int fd, void* buffer, std::uint32_t count);
// Writes `count` bytes; returns the number written (fewer means failure), -1 on failure.
std::int64_t platform_write(int fd, const void* buffer, std::uint32_t count);
// origin is SEEK_SET, SEEK_CUR or SEEK_END. The new position, or -1 on failure.
std::int64_t platform_seek(int fd, std::int64_t offset, int origin);
// 0 on success.
int platform_close(int fd);
// The file's exact length, -1 on failure; the position is not moved.
std::int64_t platform_file_length(int fd);
// Deletes a file, or a link of any kind (a file or folder link, a junction) itself: what
// a link leads to is never touched. Never deletes a folder. 0 on success.
int platform_remove(const char* path);
// Gives the file `from` the name `to` in one step, replacing a file of that name.
// RENAME_DONE once the new name is on the disk; RENAME_FAILED when the file still has
// `from`; RENAME_NOT_ON_DISK when it has `to` but writing the new name to the disk failed.
enum RenameResult { RENAME_DONE = 0, RENAME_FAILED = -1, RENAME_NOT_ON_DISK = -2 };
int platform_rename_replacing(const char* from, const char* to);

// Why the last call that changes files (an open for writing or a create, a write, a
// flush to the disk or a close of a written stream, a remove, a rename) failed: another
// program holds the file (a sharing or lock violation), no permission (a read-only folder
// or volume, an ACL), no space left (the disk or the user's quota), or anything else.
// Reads and opens for reading leave it as it is. FAILURE_NONE until a failure, and again
// after platform_forget_failure().
enum FileFailure { FAILURE_NONE, FAILURE_HELD, FAILURE_DENIED, FAILURE_NO_SPACE, FAILURE_OTHER };
FileFailure platform_last_failure();
void platform_forget_failure();

// ---- Before a run writes --------------------------------------------------------

// Whether another program has the file open so that it can be neither deleted nor
// replaced now (Windows share modes: an emulator with the old image loaded). A brief
// hold, as a virus scanner's, is waited out for a moment first. False when nothing
// holds it, when there is no such file, and where an open file never stops its
// deletion or replacement (Linux).
bool platform_file_held(const char* path);
// The size of the file named `path` itself (a link is not followed and counts 0);
// ENTRY_NONE when nothing has that name, ENTRY_FOLDER when a folder has it.
inline constexpr std::int64_t ENTRY_NONE = -1;
inline constexpr std::int64_t ENTRY_FOLDER = -2;
std::int64_t platform_entry_size(const char* path);
// Bytes this user may still write on the volume that holds `path`; -1 when unknown.
std::int64_t platform_free_space(const char* path);
// The system's folder for temporary files, in its long form, into `buffer` (at most
// `capacity` bytes, terminator included). False when it is unknown or does not fit.
bool platform_temporary_folder(char* buffer, std::uint32_t capacity);

// ---- One run per image ----------------------------------------------------------

// Takes a lock tied to the file `path` that another run of this program asking for the
// same file cannot take at the same time (the other run gets RUN_LOCK_HELD_ELSEWHERE at
// once, never a wait). RUN_LOCK_UNAVAILABLE: this system or file system cannot lock it;
// the run goes on without. Held until platform_unlock_run() or the end of the process.
enum RunLock { RUN_LOCK_TAKEN, RUN_LOCK_HELD_ELSEWHERE, RUN_LOCK_UNAVAILABLE };
RunLock platform_lock_run(const char* path);
void platform_unlock_run();

// ---- Streams (the patch driver's files) ---------------------------------------

std::FILE* platform_fopen(const char* path, const char* mode);
// Creates `path` as a new file (failing, as OPEN_CREATE_NEW does, when anything has the
// name), with the permissions fopen gives a file, and opens it as a binary stream for
// writing. Null on failure (nothing is left behind then).
std::FILE* platform_fcreate_new(const char* path);
std::size_t platform_fread(void* buffer, std::size_t count, std::FILE* stream);
std::size_t platform_fwrite(const void* buffer, std::size_t count, std::FILE* stream);
// 64-bit positioning; 0 on success.
int platform_fseek(std::FILE* stream, std::int64_t offset, int origin);
// The position, or -1.
std::int64_t platform_ftell(std::FILE* stream);
// 0 on success; a failure to flush buffered bytes is a failure.
int platform_fclose(std::FILE* stream);
// Writes out a stream's buffered bytes, then has the system write its cached data of the
// file to the disk. 0 once both are done: a write error that the system meets only when
// it writes its cache back (a failing or full disk) is seen here.
int platform_flush_to_disk(std::FILE* stream);
// Size of an open stream's file from its status; 0 on success.
int platform_fstat_size(std::FILE* stream, std::int64_t* size);

// ---- Console ------------------------------------------------------------------

// Writes `length` bytes of UTF-8 text to standard output, at once. On a Windows console
// the exact characters go out (whatever the console's code page); a Windows output
// redirected to a file or a pipe gets code page 850 bytes, '?' for a character that
// code page lacks, with "\r\n" line ends; elsewhere the UTF-8 text goes out as it is.
// A write that fails is ignored: the run goes on.
void platform_write_console(const char* utf8, std::size_t length);

// The closing prompt's wait for a key, in two steps around the prompt so that a key
// typed as soon as it shows is neither echoed nor lost. On a console or a terminal,
// platform_prepare_for_key() turns to single keys without echo and drops the keys typed
// during the run; platform_wait_for_key() then waits for one key and restores the
// input's settings, which an interruption that ends the program meanwhile restores too.
// When standard input is a pipe or a file, the wait reads one byte, or its end.
void platform_prepare_for_key();
void platform_wait_for_key();

// Around the run's work: the console must never stop it and the system must not sleep
// under it. On Windows, QuickEdit is turned off (a click in the window would otherwise
// block every console write until a key is pressed) and the system is kept awake;
// platform_end_work() puts the console's modes back and lets it sleep, and an
// interruption that ends the program meanwhile puts the modes back too. Nothing on Linux.
void platform_begin_work();
void platform_end_work();

// ---- Interruption ---------------------------------------------------------------
// Ctrl+C, Ctrl+Break, closing the console window, and on Linux SIGINT, SIGTERM, SIGHUP
// and SIGQUIT (a closed console pipe, SIGPIPE, is ignored: only the console write fails).
// While no file of the run is at risk an interruption ends the process at
// once, as it would without a handler. While files are guarded it only raises a
// flag: from then on every open, read, write, flush to the disk and rename fails, so
// the work under way stops on its ordinary failure path, which deletes what the run
// created.
void platform_install_interrupt_handler();
void platform_guard_files(bool guarding);
bool platform_interrupted();

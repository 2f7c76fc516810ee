// Hands a long output to the disk while it is being written, so that the progress
// line follows the disk and the closing flush to the disk is short: otherwise a slow
// drive takes gigabytes into the system's cache at once, the line shows 100 %, and the
// flush then runs for minutes with no sign of life.
#pragma once

#include <cstdint>
#include <cstdio>

// Write-out starts for every range of this many bytes and waits for the range before, so
// about two ranges at most are on their way to the disk. On a 2.6 GB output to a 30 MB/s
// drive the closing flush then takes 0.6 s (8 MiB: 0.4 s, 64 MiB: 2.2 s, none: 80 s); on a
// fast disk the run is no slower than without.
inline constexpr std::int64_t WRITE_OUT_RANGE = std::int64_t{16} << 20;

struct WriteOut {
    std::int64_t started;   // write-out was started for the bytes before this offset
    std::int64_t waited;    // and waited for before this one
    bool refused;           // the file system takes no write-out: the run goes on without
};

#ifdef _WIN32
// Nothing to do: the cache manager holds back a writer whose dirty pages pass its
// threshold while its lazy writer writes them out, and external drives are by default set
// for quick removal, for which Windows caches no writes.
inline int platform_write_out(WriteOut*, std::FILE*) { return 0; }
inline int platform_write_out_fd(WriteOut*, int) { return 0; }
#else
// Called after bytes were appended to `stream`, a sequential output that starts empty:
// starts the write-out of what the system holds of it since the last range, once that
// is a range or more, and waits for the range before. 0, or -1 when the disk reports a
// write error (errno tells) or a range is due while an interruption is pending.
int platform_write_out(WriteOut* state, std::FILE* stream);
// The same for an output written through a descriptor.
int platform_write_out_fd(WriteOut* state, int fd);
#endif

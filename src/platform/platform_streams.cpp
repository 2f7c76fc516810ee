// The patch driver's files: the C runtime's stdio, the same on both platforms but
// for the names (wide on Windows) and the 64-bit positioning and status calls, with
// the fault and interruption checks of the other file calls.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/file_failure.h"
#include "platform/interruption.h"
#include "platform/platform.h"
#ifdef _WIN32
#include "platform/wide_names.h"
#endif

namespace {

std::FILE* open_stream(const char* path, const char* mode) {
    if (file_call_action(FAULT_OPEN, fault_role_of_name(path)) != FAULT_ACTION_NONE) {
        errno = EIO;
        return nullptr;
    }
#ifdef _WIN32
    WideName wide_path;
    wchar_t wide_mode[8];
    const std::size_t length = std::strlen(mode);
    if (!to_wide_name(path, &wide_path) || length >= sizeof wide_mode / sizeof wide_mode[0]) {
        errno = ENOENT;
        return nullptr;
    }
    // The mode is ASCII ("rb", "wb").
    for (std::size_t i = 0; i <= length; ++i) wide_mode[i] = static_cast<wchar_t>(mode[i]);
    std::FILE* stream = _wfopen(wide_path.text, wide_mode);
#else
    // Append 'e' (close on exec), as for the descriptors.
    char mode_cloexec[16];
    const std::size_t length = std::strlen(mode);
    if (length + 2 > sizeof mode_cloexec) {
        errno = EINVAL;
        return nullptr;
    }
    std::memcpy(mode_cloexec, mode, length);
    mode_cloexec[length] = 'e';
    mode_cloexec[length + 1] = '\0';
    std::FILE* stream = std::fopen(path, mode_cloexec);
#endif
    fault_note_opened(stream, path);
    return stream;
}

}  // namespace

std::FILE* platform_fopen(const char* path, const char* mode) {
    std::FILE* stream = open_stream(path, mode);
    if (stream == nullptr && mode[0] != 'r') record_file_failure(failure_from_errno(errno));
    return stream;
}

std::size_t platform_fread(void* buffer, std::size_t count, std::FILE* stream) {
    const FaultAction fault = file_call_action(FAULT_READ, fault_role_of_stream(stream));
    if (fault == FAULT_ACTION_FAIL) return 0;
    if (fault == FAULT_ACTION_SHORT) count /= 2;
    return std::fread(buffer, 1, count, stream);
}

std::size_t platform_fwrite(const void* buffer, std::size_t count, std::FILE* stream) {
    const FaultAction fault = file_call_action(FAULT_WRITE, fault_role_of_stream(stream));
    if (fault == FAULT_ACTION_FAIL) {
        record_file_failure(FAILURE_OTHER);
        return 0;
    }
    if (fault == FAULT_ACTION_SHORT) count /= 2;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t piece = std::min(count - done, WRITE_PIECE_SIZE);
        errno = 0;
        const std::size_t put = std::fwrite(bytes + done, 1, piece, stream);
        done += put;
        if (put != piece) {
            record_file_failure(errno != 0 ? failure_from_errno(errno) : FAILURE_NO_SPACE);
            break;
        }
    }
    return done;
}

int platform_fseek(std::FILE* stream, std::int64_t offset, int origin) {
    if (platform_fault(FAULT_SEEK, fault_role_of_stream(stream)) != FAULT_ACTION_NONE) return -1;
#ifdef _WIN32
    return _fseeki64(stream, offset, origin);
#else
    return fseeko(stream, static_cast<off_t>(offset), origin);
#endif
}

std::int64_t platform_ftell(std::FILE* stream) {
#ifdef _WIN32
    return static_cast<std::int64_t>(_ftelli64(stream));
#else
    return static_cast<std::int64_t>(ftello(stream));
#endif
}

int platform_fclose(std::FILE* stream) {
    const bool fail = platform_fault(FAULT_CLOSE, fault_role_of_stream(stream)) != FAULT_ACTION_NONE;
    fault_note_closed(stream);
    // Always closed, so an injected failure leaks nothing.
    errno = 0;
    const int result = std::fclose(stream);
    if (result != 0) record_file_failure(failure_from_errno(errno));
    if (fail) record_file_failure(FAILURE_OTHER);
    return fail ? EOF : result;
}

int platform_fstat_size(std::FILE* stream, std::int64_t* size) {
#ifdef _WIN32
    struct _stat64 status {};
    if (_fstat64(_fileno(stream), &status) != 0) return -1;
#else
    struct stat status {};
    if (fstat(fileno(stream), &status) != 0) return -1;
#endif
    *size = static_cast<std::int64_t>(status.st_size);
    return 0;
}

// ---- Interruption flags (the handlers are the platforms' own) ------------------

void platform_guard_files(bool guarding) { files_guarded.store(guarding ? 1 : 0); }

bool platform_interrupted() { return interrupt_pending(); }

#include "table_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rebuild/table_files.h"

namespace {

bool write_whole(const std::string& path, const std::string& text, std::string* error) {
    // O_EXCL: never write through a file or link that someone else put there.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool synced = done == text.size() && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (synced && closed) return true;
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
}

}  // namespace

bool is_writable_folder(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) && ::access(path, W_OK | X_OK) == 0;
}

bool write_table_files_atomically(const std::string& folder, const std::array<std::string, 3>& texts,
                                  std::string* error) {
    std::array<std::string, 3> temporary, final_path;
    std::size_t written = 0;
    for (; written < 3; ++written) {
        final_path[written] = folder + "/" + TABLE_FILE_NAMES[written];
        temporary[written] = folder + "/." + TABLE_FILE_NAMES[written] + ".new-" + std::to_string(::getpid());
        if (!write_whole(temporary[written], texts[written], error)) break;
    }
    bool ok = written == 3;
    // A rename can then fail only on a rare system error: a name taken by anything but a
    // regular file would otherwise leave the set half replaced.
    for (std::size_t i = 0; ok && i < 3; ++i) {
        struct stat info {};
        if (::lstat(final_path[i].c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            *error = final_path[i] + " exists and is not a regular file";
            ok = false;
        }
    }
    for (std::size_t i = 0; ok && i < 3; ++i) {
        if (::rename(temporary[i].c_str(), final_path[i].c_str()) != 0) {
            *error = "cannot rename " + temporary[i] + ": " + std::strerror(errno);
            ok = false;
        }
    }
    if (!ok) {
        // The complete ones; a failed one has removed itself, and one that O_EXCL refused was never ours.
        for (std::size_t i = 0; i < written; ++i) ::unlink(temporary[i].c_str());
    }
    return ok;
}

#include "program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void start_child(const RunOptions& options, int stdin_fd, int stdout_fd) {
    // Its own process group, so that an interruption can reach every process of it.
    setpgid(0, 0);
    if (chdir(options.folder.c_str()) != 0) _exit(126);
    dup2(stdin_fd, 0);
    dup2(stdout_fd, 1);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    if (options.as_nobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
    std::vector<char*> argv;
    if (!options.wine.empty()) argv.push_back(const_cast<char*>(options.wine.c_str()));
    argv.push_back(const_cast<char*>(options.program.c_str()));
    for (const std::string& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

}  // namespace

ProgramRun run_program(const RunOptions& options) {
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) start_child(options, to_child[0], from_child[1]);
    setpgid(pid, pid);
    close(to_child[0]);
    close(from_child[1]);
    if (options.key_press) {
        const char key = '\n';
        if (write(to_child[1], &key, 1) != 1) throw std::runtime_error("write to the program");
        close(to_child[1]);
        to_child[1] = -1;
    }

    ProgramRun run;
    const auto deadline = Clock::now() + std::chrono::seconds(options.timeout_seconds);
    Clock::time_point signalled{};
    fcntl(from_child[0], F_SETFL, O_NONBLOCK);
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(from_child[0], buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!run.signal_sent && !options.signal_when.empty() &&
            run.output.find(options.signal_when) != std::string::npos) {
            kill(options.signal_whole_group ? -pid : pid, options.signal_number);
            run.signal_sent = true;
            signalled = Clock::now();
        }
        if (Clock::now() > deadline) {
            kill(-pid, SIGKILL);
            run.timed_out = true;
            break;
        }
    }
    close(from_child[0]);
    if (to_child[1] >= 0) close(to_child[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (run.signal_sent) {
        run.seconds_after_signal = std::chrono::duration<double>(Clock::now() - signalled).count();
    }
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.end_signal = WTERMSIG(status);
    return run;
}

FileStamp stamp_of(const fs::path& path) {
    FileStamp stamp;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return stamp;
    stamp.exists = true;
    stamp.size = static_cast<std::uint64_t>(status.st_size);
    stamp.inode = status.st_ino;
    stamp.modified = status.st_mtim;
    stamp.changed = status.st_ctim;
    return stamp;
}

bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.exists == b.exists && a.size == b.size && a.inode == b.inode &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
           a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

FileWatch::FileWatch(const fs::path& path) {
    inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd < 0 ||
        inotify_add_watch(inotify_fd, path.c_str(),
                          IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        throw std::runtime_error("cannot watch " + path.string());
    }
}

FileWatch::~FileWatch() {
    if (inotify_fd >= 0) close(inotify_fd);
}

std::string FileWatch::changes() {
    std::string seen;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = read(inotify_fd, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_MODIFY) seen += "written ";
            if (event->mask & IN_CLOSE_WRITE) seen += "opened-for-writing ";
            if (event->mask & IN_ATTRIB) seen += "attributes-changed ";
            if (event->mask & IN_DELETE_SELF) seen += "deleted ";
            if (event->mask & IN_MOVE_SELF) seen += "moved ";
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return seen;
}

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::vector<std::string> folder_entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

#include "e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

PatcherSetup& patcher_setup() {
    static PatcherSetup setup;
    return setup;
}

bool running_windows_program() { return !patcher_setup().wine.empty(); }

std::string shown_path(const std::string& relative) {
    std::string shown = relative;
    if (running_windows_program()) {
        for (char& c : shown) {
            if (c == '/') c = '\\';
        }
    }
    return shown;
}

std::string console_text(const std::string& text) {
    if (!running_windows_program()) return text;
    std::string shown;
    for (char c : text) {
        if (c == '\n') shown += '\r';
        shown += c;
    }
    return shown;
}

namespace {

void set_close_on_exec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

}  // namespace

PatcherRun run_patcher(const fs::path& folder, int timeout_seconds) {
    int to_child[2];
    int from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) throw std::runtime_error("pipe failed");
    set_close_on_exec(to_child[1]);
    set_close_on_exec(from_child[0]);

    const PatcherSetup& setup = patcher_setup();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[0]);
        close(from_child[1]);
        setenv("WINEDEBUG", "-all", 1);
        if (setup.wine.empty()) {
            execl(setup.patcher.c_str(), setup.patcher.c_str(), static_cast<char*>(nullptr));
        } else {
            execlp(setup.wine.c_str(), setup.wine.c_str(), setup.patcher.c_str(), static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    // The key press is there from the start, as a player's would be at the prompt.
    const char key = '\n';
    if (write(to_child[1], &key, 1) != 1) throw std::runtime_error("write to the patcher failed");
    close(to_child[1]);

    PatcherRun run{"", -1};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    fcntl(from_child[0], F_SETFL, O_NONBLOCK);
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(from_child[0], buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0) break;
        if (errno != EAGAIN && errno != EINTR) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    close(from_child[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "orvelia-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void make_sparse_file(const fs::path& path, std::uint64_t size, const std::vector<BytesAt>& patches) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path.string());
    bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    for (const BytesAt& patch : patches) {
        ok = ok && pwrite(fd, patch.bytes.data(), patch.bytes.size(), static_cast<off_t>(patch.offset)) ==
                       static_cast<ssize_t>(patch.bytes.size());
    }
    ok = close(fd) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path.string());
}

void make_us_image(const fs::path& path) {
    make_sparse_file(path, US_SIZE,
                     {{13093328, std::string("cdrom0:\\SXUS_907.31;1", 21) + '\0'},
                      {14500752, "\x82\x62\x82\x81"}});
}

void make_eu_image(const fs::path& path) {
    make_sparse_file(path, EU_SIZE, {{12693144, std::string("cdrom0:\\SXES_608.42;1", 21) + '\0'}});
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

#include "e2e_support.h"

#include "vcdiff/decode_types.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

// Usage: TEST [--patcher=PATH [--patcher-faults=PATH] [--wine=COMMAND]] [GoogleTest options]
// Without --patcher the native programs of this build are run.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // A write to a program that has gone must fail with EPIPE, not end the tests.
    signal(SIGPIPE, SIG_IGN);
    patcher_setup().patcher = ORV_NATIVE_PATCHER;
#ifdef ORV_NATIVE_PATCHER_FAULTS
    patcher_setup().patcher_faults = ORV_NATIVE_PATCHER_FAULTS;
#endif
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--patcher=", 10) == 0) patcher_setup().patcher = argv[i] + 10;
        if (std::strncmp(argv[i], "--patcher-faults=", 17) == 0) patcher_setup().patcher_faults = argv[i] + 17;
        if (std::strncmp(argv[i], "--hold-file=", 12) == 0) patcher_setup().hold_file = argv[i] + 12;
        if (std::strncmp(argv[i], "--wine=", 7) == 0) patcher_setup().wine = argv[i] + 7;
    }
    return RUN_ALL_TESTS();
}

PatcherSetup& patcher_setup() {
    static PatcherSetup setup;
    return setup;
}

bool running_windows_program() { return !patcher_setup().wine.empty(); }

RunOptions patcher_in(const fs::path& folder, const std::string& fault) {
    RunOptions options;
    options.program = fault.empty() ? patcher_setup().patcher : patcher_setup().patcher_faults;
    if (options.program.empty()) throw std::runtime_error("no fault-injection program to run");
    options.wine = patcher_setup().wine;
    options.folder = folder;
    // The sanitizer build must report an allocation it cannot make as a failure, as the C library does.
    options.environment.push_back({"ASAN_OPTIONS", "allocator_may_return_null=1"});
    if (!fault.empty()) options.environment.push_back({"ORV_FAULT", fault});
    // Players do not start the program in the system's temporary folder, where the tests run
    // (Wine's programs have a temporary folder of their own, which Wine's server needs TMPDIR for).
    if (options.wine.empty()) options.environment.push_back({"TMPDIR", "/nonexistent-temporary-folder"});
    return options;
}

namespace {

[[noreturn]] void start_child(const RunOptions& options, int stdin_fd, int stdout_fd) {
    // Its own process group, so that a hang can be ended with every process of it (Wine
    // starts several); on a terminal its own session, which the terminal controls.
    if (!options.terminal) setpgid(0, 0);
    if (options.terminal && (setsid() < 0 || ioctl(stdin_fd, TIOCSCTTY, 0) != 0)) _exit(124);
    if (chdir(options.folder.c_str()) != 0) _exit(126);
    // The program starts as a player's would, with the tests' ignored SIGPIPE undone.
    signal(SIGPIPE, SIG_DFL);
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

// A pseudo-terminal that passes the program's line ends on as they are: returns its
// master side and opens its slave side in `slave` (so that the master never reads as
// hung up before the program has it); its local modes go into `modes`.
int open_terminal(int* slave, tcflag_t* modes) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char* name = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    *slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    termios settings{};
    if (*slave < 0 || tcgetattr(master, &settings) != 0) throw std::runtime_error("pseudo-terminal");
    settings.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    if (tcsetattr(master, TCSANOW, &settings) != 0) throw std::runtime_error("pseudo-terminal");
    *modes = settings.c_lflag;
    return master;
}

}  // namespace

ProgramRun run_program(const RunOptions& options) {
    using Clock = std::chrono::steady_clock;
    int to_child[2];
    int from_child[2];
    tcflag_t terminal_modes = 0;
    if (options.terminal) {   // the slave side is both ends the child uses
        from_child[0] = open_terminal(&to_child[0], &terminal_modes);
        from_child[1] = to_child[0];
        to_child[1] = -1;
    } else if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    if (options.output_closed) close(std::exchange(from_child[0], -1));   // before the child can write
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) start_child(options, to_child[0], from_child[1]);
    if (!options.terminal) setpgid(pid, pid);
    close(to_child[0]);
    if (!options.terminal) close(from_child[1]);
    if (options.key_press && !options.terminal) {
        // There from the start, as a player's key would be at the prompt.
        // A program that has already ended (a quick tool) has no use for it: EPIPE is no fault.
        const char key = '\n';
        if (write(to_child[1], &key, 1) != 1 && errno != EPIPE) throw std::runtime_error("write to the program");
        close(to_child[1]);
        to_child[1] = -1;
    }

    ProgramRun run;
    const auto deadline = Clock::now() + std::chrono::seconds(options.timeout_seconds);
    bool key_typed = false;
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
            kill(pid, options.signal_number);
            run.signal_sent = true;
            if (options.signal_number == SIGSTOP && options.while_stopped) {
                options.while_stopped();
                kill(pid, SIGCONT);
            }
        }
        // Typed once the prompt shows and the terminal no longer echoes (Wine's console turns
        // echo off only as it starts to read).
        termios settings{};
        if (options.terminal && !key_typed && run.output.find("quitter le programme.") != std::string::npos &&
            tcgetattr(from_child[0], &settings) == 0 && (settings.c_lflag & ECHO) == 0) {
            key_typed = write(from_child[0], &options.terminal_key, 1) == 1;
        }
        if (Clock::now() > deadline) {
            kill(-pid, SIGKILL);
            run.timed_out = true;
            break;
        }
    }
    if (options.terminal) {
        termios settings{};
        run.terminal_settings_kept = tcgetattr(from_child[0], &settings) == 0 && settings.c_lflag == terminal_modes;
    }
    close(from_child[0]);
    if (to_child[1] >= 0) close(to_child[1]);
    // The deadline holds for the end too: a program whose output is closed, or that has
    // closed it, is still waited for no longer than that.
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(-pid, SIGKILL);
            run.timed_out = true;
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.end_signal = WTERMSIG(status);
    return run;
}

FileHolder::~FileHolder() {
    if (pid > 0) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (output_fd >= 0) close(output_fd);
}

bool FileHolder::said_within(const std::string& word, int timeout_seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    char buffer[256];
    while (said.find(word) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{output_fd, POLLIN, 0};
        if (poll(&ready, 1, 100) < 0) return false;
        const ssize_t got = ready.revents != 0 ? read(output_fd, buffer, sizeof buffer) : -1;
        if (got == 0) break;   // it has ended
        if (got > 0) said.append(buffer, static_cast<std::size_t>(got));
    }
    return said.find(word) != std::string::npos;
}

std::unique_ptr<FileHolder> hold_file(const fs::path& folder, const std::string& path, const std::string& sharing,
                                      int seconds, bool wait) {
    RunOptions options;
    options.program = patcher_setup().hold_file;
    options.wine = patcher_setup().wine;
    options.folder = folder;
    options.arguments = {path, sharing, std::to_string(seconds)};
    if (wait) options.arguments.push_back("wait");
    auto holder = std::make_unique<FileHolder>();
    int out[2];
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (options.program.empty() || nothing < 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("hold-file");
    holder->pid = fork();
    if (holder->pid < 0) throw std::runtime_error("fork");
    if (holder->pid == 0) start_child(options, nothing, out[1]);
    setpgid(holder->pid, holder->pid);
    close(nothing);
    close(out[1]);
    holder->output_fd = out[0];
    if (!holder->said_within(wait ? "waiting" : "holding", 60)) throw std::runtime_error("hold-file did not start");
    return holder;
}

bool expect_terminal_view = false;

namespace {

// The letters the tests use that code page 850 has: its byte, then the UTF-8 letter.
const std::pair<char, std::string> LETTERS[] = {{'\x82', "é"}, {'\x85', "à"}, {'\x87', "ç"}, {'\x88', "ê"},
                                                {'\x8A', "è"}, {'\x96', "û"}, {'\x90', "É"}, {'\x93', "ô"}, {'\x97', "ù"}};

bool code_page_850_shown() { return running_windows_program() && !expect_terminal_view; }

// A path (UTF-8, with '/') as the program shows it: this platform's separator, and
// through a Windows pipe its letters in code page 850, '?' for those it lacks.
std::string shown_path(const std::string& path) {
    std::string shown;
    for (std::size_t at = 0, size = 1; at < path.size(); at += size) {
        const auto lead = static_cast<unsigned char>(path[at]);
        size = !code_page_850_shown() || lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const auto* letter = std::find_if(std::begin(LETTERS), std::end(LETTERS),
                                          [&](const auto& known) { return known.second == path.substr(at, size); });
        const char one = path[at] == '/' && running_windows_program() ? '\\' : path[at];
        shown += size == 1 ? one : letter != std::end(LETTERS) ? letter->first : '?';
    }
    return shown;
}

}  // namespace

std::string console_text(const std::string& text, const std::string& path) {
    std::string shown;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto* letter = std::find_if(std::begin(LETTERS), std::end(LETTERS),
                                          [&](const auto& known) { return known.first == text[at]; });
        if (text.compare(at, 2, "%s") == 0) {
            shown += shown_path(path);
            ++at;
        } else if (text[at] == '\n' && running_windows_program()) {
            shown += "\r\n";
        } else if (letter != std::end(LETTERS) && !code_page_850_shown()) {
            shown += letter->second;
        } else {
            shown += text[at];
        }
    }
    return shown;
}

std::string terminal_text(const std::string& received) {
    return std::regex_replace(received, std::regex("\x1B\\[[0-9;?]*[A-Za-z]"), "");
}

TempFolder::TempFolder(const fs::path& parent) {
    std::string pattern = (parent / "orvelia-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

FileGuard::FileGuard(const fs::path& watched) {
    inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd < 0 || inotify_add_watch(inotify_fd, watched.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                                                           IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        throw std::runtime_error("cannot watch " + watched.string());
    }
}

FileGuard::~FileGuard() { close(inotify_fd); }

std::string FileGuard::changes() {
    std::string seen;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(inotify_fd, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_MODIFY) seen += "written ";
            if (event->mask & IN_CLOSE_WRITE) seen += "opened-for-writing ";
            if (event->mask & (IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF)) seen += "attributes-unlinked-or-moved ";
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return seen;
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

namespace {

// Two regions of pseudo-random bytes in the US image, one above 2^31, for small_us_patch.
constexpr std::uint64_t US_REGIONS[] = {1u << 20, 2500000000u};
constexpr std::size_t REGION_LENGTH = 70000;

std::string region_bytes(int region) {
    const Bytes bytes = random_bytes(REGION_LENGTH, 21u + static_cast<unsigned>(region));
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::vector<BytesAt> us_identity() {
    return {{13093328, std::string("cdrom0:\\SXUS_907.31;1", 21) + '\0'}, {14500752, "\x82\x62\x82\x81"}};
}

namespace {

// The CRC-32 of `length` zero bytes, doubling its way up.
uLong zeros_crc32(std::uint64_t length) {
    const unsigned char zero = 0;
    uLong result = crc32(0, nullptr, 0);
    uLong power = crc32(0, &zero, 1);   // of 2^bit zeros
    for (std::uint64_t bit_length = 1; length != 0; length >>= 1, bit_length <<= 1) {
        if (length & 1) result = crc32_combine(result, power, static_cast<z_off_t>(bit_length));
        power = crc32_combine(power, power, static_cast<z_off_t>(bit_length));
    }
    return result;
}

// The four bytes whose CRC-32 is `wanted`: the CRC of four bytes is an affine map of their
// 32 bits, solved by Gaussian elimination.
std::string four_bytes_with_crc32(std::uint32_t wanted) {
    const auto crc_of = [](std::uint32_t bits) {
        const unsigned char bytes[4] = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                                        static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
        return static_cast<std::uint32_t>(crc32(0, bytes, 4));
    };
    // Rows: the image of each input bit, with that bit alongside to read the solution off.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rows;
    for (int bit = 0; bit < 32; ++bit) rows.push_back({crc_of(1u << bit) ^ crc_of(0), 1u << bit});
    std::uint32_t target = wanted ^ crc_of(0), solution = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const auto pivot = std::find_if(rows.begin() + bit, rows.end(), [&](auto& row) { return row.first >> bit & 1; });
        if (pivot == rows.end()) throw std::logic_error("the CRC of four bytes is not invertible");
        std::swap(rows[bit], *pivot);
        for (std::size_t other = 0; other < rows.size(); ++other) {
            if (other != static_cast<std::size_t>(bit) && (rows[other].first >> bit & 1)) {
                rows[other].first ^= rows[bit].first;
                rows[other].second ^= rows[bit].second;
            }
        }
    }
    for (int bit = 0; bit < 32; ++bit) {
        if (target >> bit & 1) solution ^= rows[bit].second;
    }
    return std::string{static_cast<char>(solution), static_cast<char>(solution >> 8), static_cast<char>(solution >> 16),
                       static_cast<char>(solution >> 24)};
}

}  // namespace

std::uint32_t sparse_crc32(std::uint64_t size, std::vector<BytesAt> patches) {
    std::sort(patches.begin(), patches.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t at = 0;
    for (const BytesAt& patch : patches) {
        crc = crc32_combine(crc, zeros_crc32(patch.offset - at), static_cast<z_off_t>(patch.offset - at));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(patch.bytes.data()), static_cast<uInt>(patch.bytes.size()));
        at = patch.offset + patch.bytes.size();
    }
    return static_cast<std::uint32_t>(crc32_combine(crc, zeros_crc32(size - at), static_cast<z_off_t>(size - at)));
}

std::vector<BytesAt> us_image_contents(std::optional<std::uint32_t> crc) {
    std::vector<BytesAt> at = us_identity();
    for (int region = 0; region < 2; ++region) at.push_back({US_REGIONS[region], region_bytes(region)});
    if (crc) {
        // CRC(A + X) = CRC(A) moved past four bytes, xor CRC(X).
        const uLong moved = crc32_combine(sparse_crc32(US_SIZE - 4, at), 0, 4);
        at.push_back({US_SIZE - 4, four_bytes_with_crc32(*crc ^ static_cast<std::uint32_t>(moved))});
    }
    return at;
}

void make_us_image(const fs::path& path) { make_sparse_file(path, US_SIZE, us_image_contents()); }

void make_eu_image(const fs::path& path) {
    make_sparse_file(path, EU_SIZE, {{12693144, std::string("cdrom0:\\SXES_608.42;1", 21) + '\0'}});
}

Bytes small_us_patch(std::string* expected, int bad_checksum_window) {
    Bytes patch;
    PatchSink sink = sink_to_bytes(&patch);
    write_file_header(&sink, FileHeaderSpec{});
    expected->clear();
    struct Piece {
        int region;
        std::uint32_t from, length;
    };
    const Piece pieces[] = {{0, 0, 40000}, {1, 16000, 50000}, {0, 30000, 20000}, {1, 0, 1000}, {0, 69000, 1000}};
    for (int index = 0; index < 5; ++index) {
        const Piece& piece = pieces[index];
        const std::string all = region_bytes(piece.region);
        const Bytes window_source(all.begin() + piece.from, all.begin() + piece.from + piece.length);
        InstructionEncoder encoder;
        encoder_start(&encoder, piece.length);
        encode_add(&encoder, Bytes(100, static_cast<std::uint8_t>('A' + index)));
        encode_copy(&encoder, 0, piece.length / 2);
        encode_run(&encoder, 0xEE, 777);
        encode_copy(&encoder, piece.length / 2, piece.length - piece.length / 2);
        const auto target = reference_window_target(window_source, 0, piece.length, encoder.ops);
        if (!target) throw std::logic_error("bad test patch");
        expected->append(target->begin(), target->end());
        WindowSpec window = window_from_encoder(&encoder, VCD_SOURCE, piece.length,
                                                US_REGIONS[piece.region] + piece.from, &*target);
        if (index == bad_checksum_window) window.checksum ^= 1;
        write_window(&sink, window);
    }
    return patch;
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::map<std::string, std::uint64_t> read_counts(const fs::path& path) {
    std::map<std::string, std::uint64_t> counts;
    std::ifstream in(path);
    std::string operation, role;
    std::uint64_t count = 0;
    while (in >> operation >> role >> count) counts[operation + " " + role] = count;
    return counts;
}

bool fault_fired(const std::map<std::string, std::uint64_t>& counts, std::string fault) {
    std::replace(fault.begin(), fault.end(), ':', ' ');
    std::istringstream item(fault);
    std::string operation, role;
    std::uint64_t nth = 0;
    const auto made = item >> operation >> role >> nth ? counts.find(operation + " " + role) : counts.end();
    return made != counts.end() && made->second >= nth;
}

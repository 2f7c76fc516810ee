// The patch driver against real files, with every open, read, seek, write and close
// it makes failing in turn: a failure is never reported as success or as a checksum
// failure, and every file it opened is closed.
#include "vcdiff/apply_patch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "patch_reference.h"
#include "platform/fault_injection.h"
#include "vcdiff/decode_types.h"
#include "vcdiff/source_reader.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes prefix(const Bytes& bytes, std::size_t count) { return Bytes(bytes.begin(), bytes.begin() + long(count)); }

// A source of two blocks and a patch of exactly two chunks: a window copying from
// block 1, one adding 20000 bytes across the chunk boundary, one copying from
// block 0 again (a seek back). Named as the program names them: faults address files by role.
struct Files {
    fs::path folder = fs::temp_directory_path() / ("orv_apply_" + std::to_string(getpid()));
    fs::path source = folder / "game.iso", patch = folder / "p.xdelta", output = folder / "game_patched.iso.part";
    std::vector<WindowSpec> windows;
    FileHeaderSpec header;
    Bytes expected;

    Files() {
        fs::create_directories(folder);
        Bytes bytes(2 * SOURCE_BLOCK_SIZE);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 13) ^ (i >> 8));
        write_file(source, bytes);
        for (std::uint64_t offset : {SOURCE_BLOCK_SIZE + 5, 0u, 0u}) {
            InstructionEncoder enc;
            encoder_start(&enc, windows.size() == 1 ? 0 : 100);
            if (windows.size() == 1) encode_add(&enc, random_bytes(20000, 1));
            if (windows.size() != 1) encode_copy(&enc, 0, 100);
            Bytes target;
            windows.push_back(checked_window(&enc, bytes, offset, &target));
            expected.insert(expected.end(), target.begin(), target.end());
        }
        header.indicator = VCD_APPHEADER;
        header.app_header.assign(2 * PATCH_CHUNK_SIZE - patch_bytes(windows, header).size() - 1, 'h');
    }
    ~Files() { fs::remove_all(folder, ignored); }
    std::error_code ignored;
};

// Both ways of serving source blocks: out of a mapping (Linux) and out of pages read
// from the file (Windows, and a source the system will not map).
const bool SOURCE_PATHS[] = {false, true};   // whether mappings are refused
std::string path_name(bool refused) { return refused ? "read" : "mapped"; }

struct Outcome {
    int code;
    std::string message;
    Bytes output;
};

Outcome apply(const Files& files, std::uint8_t show_progress = 0, int start = 0) {
    const char* message = nullptr;
    const int code = apply_patch(show_progress, start, 100, 20200, files.source.string().c_str(),
                                 files.output.string().c_str(), files.patch.string().c_str(), &message);
    return Outcome{code, message != nullptr ? message : "", read_file(files.output)};
}

// The faults below address files by these roles: a wrong role would let a row pass without its fault.
TEST(FaultRoles, NamesAndDescriptorsGiveTheRolesFaultsAddress) {
    const struct {
        const char* name;
        FaultRole role;
    } names[] = {{"d/game_patched.iso.part", ROLE_PART}, {"GAME_PATCHED.ISO", ROLE_OUTPUT}, {"g_temp.iso", ROLE_TEMP},
                 {"game.Iso", ROLE_IMAGE}, {"p.xdelta", ROLE_PATCH}, {"iso", ROLE_OTHER}, {"game.iso.part", ROLE_OTHER}};
    for (const auto& n : names) EXPECT_EQ(fault_role_of_name(n.name), n.role) << n.name;
    // Descriptors 0 to 4095 keep the role of the file last opened on them until it closes.
    for (int fd : {-1, 0, 4095, 4096}) {
        fault_note_opened(fd, "game.iso");
        EXPECT_EQ(fault_role_of_descriptor(fd), fd == -1 || fd == 4096 ? ROLE_OTHER : ROLE_IMAGE) << fd;
        fault_note_closed(fd);
        EXPECT_EQ(fault_role_of_descriptor(fd), ROLE_OTHER) << fd;
    }
}

TEST(ApplyPatch, OutcomesHaveTheirCodeAndMessage) {
    Files files;
    const Bytes patch = patch_bytes(files.windows, files.header);
    ASSERT_EQ(patch.size(), 2 * PATCH_CHUNK_SIZE);
    std::vector<WindowSpec> bad_last = files.windows;
    bad_last.back().checksum ^= 1;
    const struct {
        const char* name;
        Bytes patch;
        FaultOperation operation;
        FaultRole role;
        std::uint64_t nth;   // 0: no fault
        int code;
        const char* message;
        std::optional<std::size_t> output;   // bytes of the expected output written; {}: any
    } cases[] = {
        {"whole", patch, FAULT_OPEN, ROLE_ANY, 0, 0, "", 20200},
        {"empty patch", {}, FAULT_OPEN, ROLE_ANY, 0, DECODE_INVALID_INPUT, "empty patch file", 0},
        {"cut inside the file header", {'a', 'b'}, FAULT_OPEN, ROLE_ANY, 0, APPLY_PATCH_NO_WINDOW,
         "patch holds no window", 0},
        {"a file header alone", {0xD6, 0xC3, 0xC4, 0, 0}, FAULT_OPEN, ROLE_ANY, 0, APPLY_PATCH_NO_WINDOW,
         "patch holds no window", 0},
        {"cut at the chunk boundary", prefix(patch, PATCH_CHUNK_SIZE), FAULT_OPEN, ROLE_ANY, 0, DECODE_INVALID_INPUT,
         "eof in decode", 100},
        {"no source file", patch, FAULT_OPEN, ROLE_IMAGE, 1, DECODE_INVALID_INPUT, "source input required", 0},
        {"last window's checksum", patch_bytes(bad_last, files.header), FAULT_OPEN, ROLE_ANY, 0,
         DECODE_CHECKSUM_MISMATCH, "target window checksum mismatch", 20100},
        {"patch open", patch, FAULT_OPEN, ROLE_PATCH, 1, APPLY_PATCH_OPEN_FAILED, "cannot open patch file", 0},
        {"output open", patch, FAULT_OPEN, ROLE_PART, 1, APPLY_OUTPUT_OPEN_FAILED, "cannot open output file", 0},
        {"patch length", patch, FAULT_SEEK, ROLE_PATCH, 1, APPLY_PATCH_SIZE_FAILED,
         "cannot determine patch file length", 0},
        {"patch read", patch, FAULT_READ, ROLE_PATCH, 1, APPLY_PATCH_READ_FAILED,
         "patch file read failed or ended early", 0},
        {"source read", patch, FAULT_READ, ROLE_IMAGE, 1, APPLY_SOURCE_READ_FAILED, "cannot read source file", 0},
        {"output write", patch, FAULT_WRITE, ROLE_PART, 2, APPLY_OUTPUT_WRITE_FAILED, "cannot write output file", {}},
        {"output close", patch, FAULT_CLOSE, ROLE_PART, 1, APPLY_OUTPUT_WRITE_FAILED, "cannot write output file", {}},
        {"output flush to the disk", patch, FAULT_SYNC, ROLE_PART, 1, APPLY_OUTPUT_FLUSH_FAILED,
         "cannot flush output file to disk", {}},
    };
    for (bool refused : SOURCE_PATHS) {
        fault_injection_refuse_mappings(refused);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + path_name(refused));
            write_file(files.patch, c.patch);
            fs::remove(files.output);
            fault_injection_reset();
            if (c.nth != 0) fault_injection_arm(c.operation, c.role, c.nth, FAULT_SHORT);
            const Outcome outcome = apply(files);
            EXPECT_EQ(outcome.code, c.code);
            EXPECT_EQ(outcome.message, c.message);
            EXPECT_TRUE(c.code != 0 || fault_injection_synced(ROLE_PART) == 1) << "a success not flushed to the disk";
            if (c.output) {
                EXPECT_TRUE(outcome.output == prefix(files.expected, *c.output));
            }
        }
    }
    fault_injection_refuse_mappings(false);
}

TEST(ApplyPatch, EveryFailingFileCallFailsTheApplication) {
    Files files;
    write_file(files.patch, patch_bytes(files.windows, files.header));
    for (bool refused : SOURCE_PATHS) {
        fault_injection_refuse_mappings(refused);
        fault_injection_reset();
        ASSERT_EQ(apply(files).code, 0);
        std::uint64_t calls[FAULT_OPERATION_COUNT][FAULT_ROLE_COUNT];
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
            for (int role = 0; role < FAULT_ROLE_COUNT; ++role) {
                calls[op][role] = fault_injection_count(FaultOperation(op), FaultRole(role));
            }
        }
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
            for (int role = 0; role < FAULT_ROLE_COUNT; ++role) {
                for (FaultKind kind : {FAULT_FAIL, FAULT_SHORT}) {
                    for (std::uint64_t nth = 1; nth <= calls[op][role]; ++nth) {
                        fault_injection_reset();
                        fault_injection_arm(FaultOperation(op), FaultRole(role), nth, kind);
                        const Outcome outcome = apply(files);
                        const std::string where = path_name(refused) + " " + std::to_string(op) + ":" +
                                                  std::to_string(role) + ":" + std::to_string(nth) + ":" +
                                                  std::to_string(kind);
                        EXPECT_GE(fault_injection_count(FaultOperation(op), FaultRole(role)), nth) << where;
                        EXPECT_TRUE(outcome.code == 0 ? outcome.output == files.expected
                                                      : outcome.code != DECODE_CHECKSUM_MISMATCH)
                            << where << " gave " << outcome.code;
                        const std::uint64_t opened =
                            fault_injection_count(FAULT_OPEN, ROLE_ANY) - (op == FAULT_OPEN ? 1 : 0);
                        EXPECT_EQ(fault_injection_count(FAULT_CLOSE, ROLE_ANY), opened) << where;
                    }
                }
            }
        }
    }
    fault_injection_refuse_mappings(false);
}

TEST(ApplyPatch, ProgressLinesFromTheStartGiven) {
    Files files;
    write_file(files.patch, patch_bytes(files.windows, files.header));
    for (const auto& [start, lines] : {std::pair{0, "Progression: 99 %\rProgression: 100 %\r"},
                                       std::pair{50, "Progression: 50 %\rProgression: 99 %\rProgression: 100 %\r"}}) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(apply(files, 1, start).code, 0);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), lines);
    }
}

// A source of more pages than the reader caches, copied from page by page forwards,
// across a page boundary and back again: pages are evicted and read again, and the
// short last page is copied up to its last byte.
TEST(ApplyPatchSource, LargerThanTheCacheAndReadOutOfOrder) {
    const Files files;
    const std::uint64_t pages = SOURCE_CACHE_PAGES + 2;
    const Bytes source = random_bytes(static_cast<std::size_t>((pages - 1) * SOURCE_PAGE_SIZE + 5000), 7);
    write_file(files.source, source);
    InstructionEncoder enc;
    encoder_start(&enc, source.size());
    for (std::uint64_t page = 0; page < pages; ++page) encode_copy(&enc, page * SOURCE_PAGE_SIZE + 7 * page, 100);
    encode_copy(&enc, 3 * SOURCE_PAGE_SIZE - 50, 100);
    for (std::uint64_t page = pages; page-- > 0;) encode_copy(&enc, page * SOURCE_PAGE_SIZE + 3, 200);
    encode_copy(&enc, source.size() - 300, 300);
    Bytes expected;
    write_file(files.patch, patch_bytes({checked_window(&enc, source, 0, &expected)}));
    for (bool refused : SOURCE_PATHS) {
        fault_injection_reset();
        fault_injection_refuse_mappings(refused);
        const Outcome outcome = apply(files);
        EXPECT_EQ(outcome.code, 0) << path_name(refused) << ": " << outcome.message;
        EXPECT_TRUE(outcome.output == expected) << path_name(refused);
    }
    fault_injection_refuse_mappings(false);
    // A block size must divide the reader's page: any other is refused, never served across pages.
    std::FILE* file = std::fopen(files.source.string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    SourceReader reader{};
    const char* message = nullptr;
    ASSERT_EQ(open_source_reader(&reader, file, &message), 0);
    for (std::uint64_t size : {0u, 3u, 4096u}) {
        DecodeSource record{};
        record.block_size = size;
        message = "";
        const int loaded = load_source_block(&reader, &record, 1, &message);
        EXPECT_TRUE(size == 4096 ? loaded == 0 : std::string(message) == "unsupported source block size") << size;
    }
    release_source_reader(&reader);
    std::fclose(file);
}

#ifndef _WIN32
// With no handler before ours, a SIGBUS sent from outside ends the program as it would have.
TEST(ApplyPatchSource, ABusErrorSentFromOutsideEndsTheProgram) {
    const Files files;
    EXPECT_EXIT(
        {
            signal(SIGBUS, SIG_DFL);   // the action before ours
            std::FILE* file = std::fopen(files.source.c_str(), "rb");
            FileMapping mapping{};
            if (file == nullptr || platform_map_file(file, fs::file_size(files.source), &mapping) != MAP_DONE) {
                std::exit(1);
            }
            kill(getpid(), SIGBUS);   // as another process sends it (raise() would mark it as the thread's own)
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGBUS), "");
}

int bus_errors_passed_on = 0;
void count_bus_error(int, siginfo_t* info, void*) {
    if (info->si_code <= 0) {
        ++bus_errors_passed_on;
        return;
    }
    // A fault of the driver's mapping that reached us: let it end the process.
    signal(SIGBUS, SIG_DFL);
}

// The output is a pipe that this test drains: the driver is still writing the first
// window (larger than a pipe holds) when the test cuts the source, so the second
// window's copy from block 3 meets the cut. Whether its bytes were lost (a page gone),
// zeros without any fault (the page that holds the cut) or read before the cut, the
// run ends in the ordinary read failure, never a crash, a success or a checksum failure.
TEST(ApplyPatchSource, ASourceCutDuringTheRunEndsInAReadFailure) {
    const std::uint64_t inside_block_3 = 3 * SOURCE_BLOCK_SIZE + 100;
    const struct {
        const char* name;
        std::uint64_t cut_to;
        std::uint64_t copied;   // bytes copied from the start of block 3
        bool checksum;
        bool bus_error_sent;    // a SIGBUS from another process first, for the handler before ours
    } cases[] = {
        {"shortened to nothing", 0, SOURCE_BLOCK_SIZE, true, false},
        {"cut inside the page copied from, no checksum", inside_block_3, 1000, false, false},
        {"cut inside the page copied from, with checksum", inside_block_3, 1000, true, false},
        {"a bus error sent first", 0, SOURCE_BLOCK_SIZE, true, true},
    };
    for (const auto& c : cases) {
        for (bool refused : SOURCE_PATHS) {
            SCOPED_TRACE(std::string(c.name) + ", " + path_name(refused));
            const Files files;
            const Bytes source_bytes(4 * SOURCE_BLOCK_SIZE, 0xA5);
            write_file(files.source, source_bytes);
            InstructionEncoder first;
            encoder_start(&first, 0);
            encode_run(&first, 7, 4u << 20);
            InstructionEncoder second;
            encoder_start(&second, SOURCE_BLOCK_SIZE);
            encode_copy(&second, 0, c.copied);
            WindowSpec copying = checked_window(&second, source_bytes, 3 * SOURCE_BLOCK_SIZE);
            if (!c.checksum) copying.indicator = static_cast<std::uint8_t>(copying.indicator & ~VCD_CHECKSUM);
            write_file(files.patch, patch_bytes({checked_window(&first), copying}));
            fault_injection_reset();
            fault_injection_refuse_mappings(refused);
            struct sigaction counting {};
            counting.sa_sigaction = count_bus_error;
            counting.sa_flags = SA_SIGINFO;
            sigemptyset(&counting.sa_mask);
            if (c.bus_error_sent) sigaction(SIGBUS, &counting, nullptr);
            bus_errors_passed_on = 0;
            ASSERT_EQ(mkfifo(files.output.c_str(), 0600), 0);
            std::uint64_t drained = 0;
            std::thread drain([&] {
                std::FILE* pipe = std::fopen(files.output.c_str(), "rb");
                if (pipe == nullptr) return;
                char piece[4096];
                for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, pipe)) != 0;) {
                    if (drained == 0 && c.bus_error_sent) kill(getpid(), SIGBUS);
                    if (drained == 0) fs::resize_file(files.source, c.cut_to);
                    drained += got;
                }
                std::fclose(pipe);
            });
            const char* message = nullptr;
            const int code = apply_patch(0, 0, 100, 1, files.source.c_str(), files.output.c_str(),
                                         files.patch.c_str(), &message);
            close(open(files.output.c_str(), O_WRONLY | O_NONBLOCK));   // a drain still waiting for a writer goes
            drain.join();
            EXPECT_EQ(code, APPLY_SOURCE_READ_FAILED) << message;
            EXPECT_EQ(drained, 4u << 20);
            EXPECT_EQ(bus_errors_passed_on, c.bus_error_sent ? 1 : 0);
            signal(SIGBUS, SIG_DFL);
        }
    }
    fault_injection_refuse_mappings(false);
}
#endif

}  // namespace

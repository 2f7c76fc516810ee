// Walks every k of every kind of file operation (open, read, write, seek, close;
// failing and falling short) through the rebuild operations on small inputs: every
// failing call is noticed, a success has exactly the clean run's output, and the
// source is never changed and is closed whatever happens. (The patch driver's walk is
// the whole program's, in program_promises_test.cpp.)
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/patch_job.h"
#include "platform/fault_injection.h"
#include "rebuild/file_relocation.h"
#include "rebuild/image_writer.h"
#include "rebuild/sound_bank_split.h"

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct RebuildCase {
    fs::path folder = fs::temp_directory_path() / ("orv-walk-" + std::to_string(getpid()));
    fs::path source_path = folder / "europe.iso";
    fs::path output_path = folder / "europe_temp.iso";
    std::string source_text = source_path.string();
    std::string source_head;   // the non-sparse start of the source, never to change
    int source_fd = -1;
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes_written = 0;
    int output_fd = -1;
    WriterValues writer{};

    // A 45 MiB source (sparse but for its first 256 KiB), so that a copy takes three
    // 20 MiB chunks; sound-bank headers at sectors 0, 3 and 5 of the region at 64 KiB.
    RebuildCase() {
        fs::create_directories(folder);
        for (std::uint32_t i = 0, seed = 3; i < 256 * 1024; ++i) {
            seed = seed * 1664525u + 1013904223u;
            source_head.push_back(static_cast<char>(seed >> 24));
        }
        for (std::uint32_t sector : {0u, 3u, 5u}) source_head.replace(65536 + sector * SECTOR_SIZE, 4, "SShd");
        std::ofstream(source_path, std::ios::binary) << source_head;
        fs::resize_file(source_path, 45u << 20);
        output_fd = ::open(output_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (output_fd < 0) std::abort();
        writer = {source_text.c_str(), &source_fd, &buffer, PROGRESS_TOTAL, output_fd, &bytes_written, 2};
    }
    ~RebuildCase() {
        ::close(output_fd);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // An empty output and a fresh counter (plain POSIX calls, unseen by the fault counters).
    bool run(const std::function<bool()>& operation) {
        if (ftruncate(output_fd, 0) != 0 || lseek(output_fd, 0, SEEK_SET) != 0) std::abort();
        bytes_written = 0;
        const bool ok = operation();
        // The source is closed and no buffer is kept, whatever happened.
        EXPECT_EQ(source_fd, -1);
        EXPECT_EQ(buffer, nullptr);
        return ok;
    }

    // Runs `operation` clean, then once per (call kind, fail/short, k) for k up to one
    // past the clean run's count.
    void walk(const std::function<bool()>& operation) {
        fault_injection_reset();
        ASSERT_TRUE(run(operation)) << "the clean run must succeed";
        const std::string clean_output = read_all(output_path);
        EXPECT_EQ(bytes_written, clean_output.size());
        std::uint64_t counts[FAULT_OPERATION_COUNT];
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) counts[op] = fault_injection_count(static_cast<FaultOperation>(op));
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
            for (FaultKind kind : {FAULT_FAIL, FAULT_SHORT}) {
                for (std::uint64_t k = 1; k <= counts[op] + 1; ++k) {
                    SCOPED_TRACE(std::to_string(op) + ":" + std::to_string(k) + (kind == FAULT_FAIL ? ":fail" : ":short"));
                    fault_injection_reset();
                    fault_injection_arm(static_cast<FaultOperation>(op), k, kind);
                    const bool ok = run(operation);
                    // Every fault is noticed, closes of the source included: its read may have been cut short.
                    EXPECT_EQ(ok, k > counts[op]);
                    if (ok) {
                        EXPECT_EQ(read_all(output_path), clean_output) << "success with a wrong output";
                    }
                }
            }
        }
        fault_injection_reset();
        EXPECT_EQ(read_all(source_path).substr(0, source_head.size()), source_head);
    }
};

}  // namespace

TEST(FaultWalk, RebuildOperationsSucceedOnlyWithTheWholeCorrectOutput) {
    RebuildCase c;
    // Three chunks, the first from an odd offset.
    c.walk([&] { return copy_range(1000, 41u << 20, c.writer); });
    // Four pieces of the 1 MiB zero buffer.
    c.walk([&] { return write_zeros((3u << 20) + 5, c.writer); });
    // Two files found in the source, one missing (zeros), gaps between them.
    const RelocationTarget targets[] = {{"A.BIN", 2, 3}, {"MISSING.BIN", 6, 2}, {"B.BIN", 9, 4}, {"", 0, 0}};
    const RelocationSource sources[] = {{"B.BIN", 40}, {"A.BIN", 7}};
    const RelocationTables tables{targets, 4, sources, 2};
    c.walk([&] { return relocate_files(1, tables, c.writer); });
    const std::uint32_t offsets[] = {0, 4096, 8192};
    const SoundBankSet set{65536, 8 * SECTOR_SIZE, offsets, 3, 14336};
    c.walk([&] { return split_sound_banks(set, c.writer); });
}

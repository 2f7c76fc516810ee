// Walks every k of every kind of file operation (open, read, write, seek, close;
// failing and falling short) through the patch driver and the rebuild operations on
// small inputs. Whatever call fails, an operation that reports success has produced
// exactly the clean run's output, and the file it reads from is never changed.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/patch_job.h"
#include "patch_writer.h"
#include "platform/fault_injection.h"
#include "rebuild/file_relocation.h"
#include "rebuild/image_writer.h"
#include "rebuild/sound_bank_split.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace fs = std::filesystem;

namespace {

const char* const OPERATION_NAMES[] = {"open", "read", "write", "seek", "close"};

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "orv-walk-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

void put_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes get_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes pseudo_random(std::size_t count, std::uint32_t seed) {
    Bytes bytes(count);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// How often each kind of call happens in a clean run of `operation`.
struct CallCounts {
    std::uint64_t of[FAULT_OPERATION_COUNT];
};

// Runs `operation` once per (kind, fail/short, k) for k from 1 to one past the clean
// run's count. `check` gets the outcome, whether the armed fault fired and which
// operation was armed (FAULT_OPERATION_COUNT for the clean run), and adds its own
// expectations. Returns how many runs were made.
int walk(const std::function<bool()>& operation,
         const std::function<void(bool ok, bool fired, FaultOperation op)>& check,
         const std::function<void()>& before_each, CallCounts* clean_counts = nullptr) {
    before_each();
    fault_injection_reset();
    const bool clean_ok = operation();
    EXPECT_TRUE(clean_ok) << "the clean run must succeed";
    CallCounts counts{};
    for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
        counts.of[op] = fault_injection_count(static_cast<FaultOperation>(op));
    }
    if (clean_counts != nullptr) *clean_counts = counts;
    check(clean_ok, false, FAULT_OPERATION_COUNT);
    int runs = 0;
    for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
        for (FaultKind kind : {FAULT_FAIL, FAULT_SHORT}) {
            for (std::uint64_t k = 1; k <= counts.of[op] + 1; ++k) {
                SCOPED_TRACE(std::string(OPERATION_NAMES[op]) + ":" + std::to_string(k) +
                             (kind == FAULT_FAIL ? ":fail" : ":short"));
                before_each();
                fault_injection_reset();
                fault_injection_arm(static_cast<FaultOperation>(op), k, kind);
                const bool ok = operation();
                check(ok, k <= counts.of[op], static_cast<FaultOperation>(op));
                ++runs;
            }
        }
    }
    fault_injection_reset();
    return runs;
}

// ---- The patch driver -------------------------------------------------------------

// A source of five blocks and a bit, and a patch of four windows that copy across
// block boundaries, add, run, copy from their own target, and carry checksums; one
// window is large enough that the patch takes two chunks to read.
struct DriverCase {
    Folder folder;
    fs::path source_path, patch_path, output_path;
    Bytes source, expected;

    DriverCase() {
        source_path = folder.path / "source.iso";
        patch_path = folder.path / "patch.xdelta";
        output_path = folder.path / "out_patched.iso";
        source = pseudo_random(5 * SOURCE_BLOCK_SIZE + 777, 7);
        put_file(source_path, source);
        Bytes patch;
        PatchSink sink = sink_to_bytes(&patch);
        write_file_header(&sink, FileHeaderSpec{});
        struct Piece {
            std::uint64_t copy_offset, copy_length;
        };
        const Piece pieces[] = {{100, 3 * SOURCE_BLOCK_SIZE}, {4 * SOURCE_BLOCK_SIZE - 9, SOURCE_BLOCK_SIZE + 500},
                                {0, 4000}, {5 * SOURCE_BLOCK_SIZE, 777}};
        int index = 0;
        for (const Piece& piece : pieces) {
            InstructionEncoder encoder;
            encoder_start(&encoder, piece.copy_length);
            encode_copy(&encoder, 0, piece.copy_length / 2);
            encode_add(&encoder, pseudo_random(index == 2 ? 20000 : 300, 11u + static_cast<std::uint32_t>(index)));
            encode_run(&encoder, 0x5A, 1000);
            encode_copy(&encoder, piece.copy_length / 2, piece.copy_length - piece.copy_length / 2);
            // From the window's own target: its first 200 bytes once more.
            encode_copy(&encoder, piece.copy_length, 200);
            const auto target = reference_window_target(source, piece.copy_offset, piece.copy_length, encoder.ops);
            if (!target) std::abort();
            expected.insert(expected.end(), target->begin(), target->end());
            write_window(&sink, window_from_encoder(&encoder, VCD_SOURCE, piece.copy_length, piece.copy_offset,
                                                    &*target));
            ++index;
        }
        put_file(patch_path, patch);
    }
};

TEST(FaultWalk, PatchDriverSucceedsOnlyWithTheWholeCorrectOutput) {
    DriverCase c;
    int result = 0;
    int failures_on_close = 0;
    const auto operation = [&] {
        std::error_code ignored;
        fs::remove(c.output_path, ignored);
        result = apply_patch(0, 0, 100, PROGRESS_TOTAL, c.source_path.c_str(), c.output_path.c_str(),
                             c.patch_path.c_str());
        return result == 0;
    };
    const auto check = [&](bool ok, bool fired, FaultOperation op) {
        if (ok) {
            EXPECT_EQ(get_file(c.output_path), c.expected) << "success with a wrong output";
        }
        // A disk failure is never mistaken for a bad image.
        EXPECT_NE(result, DECODE_CHECKSUM_MISMATCH);
        EXPECT_EQ(get_file(c.source_path), c.source);
        // Every failing open, read, write or seek must be noticed; of the closes only
        // the output's matters (the files read from were read whole before).
        if (fired && op != FAULT_CLOSE) {
            EXPECT_FALSE(ok);
        }
        if (fired && op == FAULT_CLOSE && !ok) ++failures_on_close;
    };
    CallCounts counts{};
    const int runs = walk(operation, check, [] {}, &counts);
    EXPECT_GT(failures_on_close, 0) << "a failing close of the output must fail the application";
    std::printf("patch driver walk: %d runs (clean run: open %llu, read %llu, write %llu, seek %llu, close %llu)\n",
                runs, static_cast<unsigned long long>(counts.of[FAULT_OPEN]),
                static_cast<unsigned long long>(counts.of[FAULT_READ]),
                static_cast<unsigned long long>(counts.of[FAULT_WRITE]),
                static_cast<unsigned long long>(counts.of[FAULT_SEEK]),
                static_cast<unsigned long long>(counts.of[FAULT_CLOSE]));
}

// ---- The rebuild operations -------------------------------------------------------

struct RebuildCase {
    Folder folder;
    fs::path source_path, output_path;
    Bytes source_head;   // the non-sparse start of the source, to check it is never changed
    int source_fd = -1;
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes_written = 0;
    int output_fd = -1;
    WriterValues writer{};
    std::string source_path_text;

    // A 45 MiB source (sparse but for its first 256 KiB), so that a copy takes three
    // 20 MiB chunks; sound-bank headers at sectors 0, 3 and 5 of the region at 64 KiB.
    RebuildCase() {
        source_path = folder.path / "europe.iso";
        output_path = folder.path / "europe_temp.iso";
        source_head = pseudo_random(256 * 1024, 3);
        for (std::uint32_t sector : {0u, 3u, 5u}) {
            std::memcpy(source_head.data() + 65536 + sector * SECTOR_SIZE, "SShd", 4);
        }
        put_file(source_path, source_head);
        fs::resize_file(source_path, 45u << 20);
        source_path_text = source_path.string();
        output_fd = ::open(output_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (output_fd < 0) std::abort();
        writer.source_path = source_path_text.c_str();
        writer.source_fd = &source_fd;
        writer.buffer = &buffer;
        writer.total = PROGRESS_TOTAL;
        writer.output_fd = output_fd;
        writer.bytes_written = &bytes_written;
        writer.divisor = 2;
    }
    ~RebuildCase() { ::close(output_fd); }

    // An empty output and a fresh counter before each run (plain POSIX calls, which
    // the fault counters do not see).
    void reset_output() {
        if (ftruncate(output_fd, 0) != 0 || lseek(output_fd, 0, SEEK_SET) != 0) std::abort();
        bytes_written = 0;
    }

    Bytes source_now() const {
        Bytes head = get_file(source_path);
        head.resize(source_head.size());
        return head;
    }
};

// Walks one rebuild operation; returns the number of runs.
int walk_rebuild_operation(RebuildCase& c, const std::function<bool()>& operation) {
    Bytes clean_output;
    bool have_clean = false;
    const auto check = [&](bool ok, bool fired, FaultOperation) {
        // The source is closed and no buffer is kept, whatever happened.
        EXPECT_EQ(c.source_fd, -1);
        EXPECT_EQ(c.buffer, nullptr);
        if (!have_clean) {
            clean_output = get_file(c.output_path);
            have_clean = true;
            EXPECT_EQ(c.bytes_written, clean_output.size());
            return;
        }
        if (ok) {
            EXPECT_EQ(get_file(c.output_path), clean_output) << "success with a wrong output";
        }
        // Every fault of the rebuild's reads and writes, closes of the source included,
        // is noticed: the image read may have been cut short.
        if (fired) {
            EXPECT_FALSE(ok);
        }
    };
    const int runs = walk(operation, check, [&] { c.reset_output(); });
    EXPECT_EQ(c.source_now(), c.source_head);
    return runs;
}

TEST(FaultWalk, RebuildOperationsSucceedOnlyWithTheWholeCorrectOutput) {
    RebuildCase c;
    int runs = 0;

    // Three chunks, the first from an odd offset.
    runs += walk_rebuild_operation(c, [&] { return copy_range(1000, 41u << 20, c.writer); });
    // Four pieces of the 1 MiB zero buffer.
    runs += walk_rebuild_operation(c, [&] { return write_zeros((3u << 20) + 5, c.writer); });

    // Two files found in the source, one missing (zeros), gaps between them.
    const RelocationTarget targets[] = {{"A.BIN", 2, 3}, {"MISSING.BIN", 6, 2}, {"B.BIN", 9, 4}, {"", 0, 0}};
    const RelocationSource sources[] = {{"B.BIN", 40}, {"A.BIN", 7}};
    const RelocationTables tables{targets, 4, sources, 2};
    runs += walk_rebuild_operation(c, [&] { return relocate_files(1, tables, c.writer); });

    const std::uint32_t offsets[] = {0, 4096, 8192};
    const SoundBankSet set{65536, 8 * SECTOR_SIZE, offsets, 3, 14336};
    runs += walk_rebuild_operation(c, [&] { return split_sound_banks(set, c.writer); });

    std::printf("rebuild walk: %d runs over copy_range, write_zeros, relocate_files, split_sound_banks\n", runs);
}

}  // namespace

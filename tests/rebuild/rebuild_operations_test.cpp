// The rebuild's operations on one small source: each row runs clean, then once per
// failing or short call of every kind (open, read, write, seek, close) on each file up to
// one past the clean run's count (of a long run of calls, the first and last few). Every fault
// must be noticed, a success must have exactly the clean output, and the source is
// closed and no buffer kept whatever happens.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "rebuild/file_relocation.h"
#include "rebuild/image_writer.h"
#include "rebuild/sound_bank_split.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t S = SECTOR_SIZE;
constexpr std::uint32_t SOURCE_SIZE = 24u << 20;              // a range copy of 20 MiB + 1 takes two chunks
constexpr std::uint32_t REGION_A = 64 * S, REGION_B = 96 * S;  // sound-bank regions in the source

// Bytes that vary within and across sectors, so that a misplaced copy never matches by
// chance. Each sector of the bank regions starts with four words that meet header
// criterion `kind` (0 to 3) and miss the others narrowly ("SShe", 25, 17, 48001), or
// with kind -1 meet none.
std::string make_source() {
    std::string source(SOURCE_SIZE, '\0');
    for (std::uint64_t at = 0; at < SOURCE_SIZE; ++at) {
        source[at] = static_cast<char>((at * 131u) ^ (at >> 11) ^ (at >> 19));
    }
    const std::uint32_t near[] = {0x65685353, 25, 17, 48001}, header[] = {BANK_HEADER_SIGNATURE, 24, 16, 48000};
    const auto put_sector_start = [&](std::uint32_t at, int kind) {
        for (std::uint32_t w = 0; w < 16; ++w) {
            const std::uint32_t word = static_cast<int>(w / 4) == kind ? header[w / 4] : near[w / 4];
            source[at + w] = static_cast<char>(word >> (8 * (w % 4)));
        }
    };
    const int kinds_a[] = {-1, -1, 0, -1, -1, 1, -1, 2, -1, -1, 3, -1, -1, -1, -1, -1};
    const int kinds_b[] = {-1, -1, 0, -1, 0, -1};
    for (std::uint32_t s = 0; s < 16; ++s) put_sector_start(REGION_A + s * S, kinds_a[s]);
    for (std::uint32_t s = 0; s < 6; ++s) put_sector_start(REGION_B + s * S, kinds_b[s]);
    return source;
}

const std::string& source_bytes() {
    static const std::string source = make_source();
    return source;
}
std::string range(std::uint64_t offset, std::size_t count) { return source_bytes().substr(offset, count); }
std::string zeros(std::size_t count) { return std::string(count, '\0'); }
std::string sectors(std::uint32_t region, std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> runs) {
    std::string bytes;
    for (const auto& [first, count] : runs) bytes += range(region + first * S, count * S);
    return bytes;
}

std::string read_all(const fs::path& path) {
    std::string bytes(fs::file_size(path), '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

struct Operation {
    const char* name;
    std::function<bool(const WriterValues&)> run;
    std::string output;
    std::ptrdiff_t progress_lines;
};

struct RebuildOperations : ::testing::Test {
    fs::path folder = fs::temp_directory_path() / ("orv-rebuild-" + std::to_string(std::random_device{}()));
    std::string source_path = (folder / "europe.iso").string(), output_path = (folder / "europe_temp.iso").string();
    int source_fd = -1, output_fd = -1;
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes_written = 0;

    void SetUp() override {
        fs::create_directories(folder);
        std::ofstream(source_path, std::ios::binary) << source_bytes();
    }
    void TearDown() override {
        fault_injection_reset();
        if (output_fd >= 0) platform_close(output_fd);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // A fresh empty output (opened before the counters restart), then the operation.
    bool run(const std::function<bool(const WriterValues&)>& operation, std::string* console) {
        fault_injection_reset();
        if (output_fd >= 0) platform_close(output_fd);
        output_fd = platform_open(output_path.c_str(), OPEN_CREATE_TRUNCATE);
        EXPECT_GE(output_fd, 0);
        bytes_written = 0;
        fault_injection_reset();
        ::testing::internal::CaptureStdout();
        WriteOut write_out{};   // handed to the disk as it goes, as the program does
        const WriterValues writer{source_path.c_str(), &source_fd, &buffer, 2620872704u, output_fd, &bytes_written, 2,
                                  &write_out};
        bool ok = begin_rebuild_io(writer);
        ok = ok && operation(writer);
        ok = end_rebuild_io(writer) && ok;
        *console = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(source_fd, -1);
        EXPECT_EQ(buffer, nullptr);
        return ok;
    }
};

TEST_F(RebuildOperations, EachSucceedsOnlyWithItsWholeOutputAndNoticesEveryFailingCall) {
    using W = const WriterValues&;
    constexpr std::uint32_t chunk = COPY_CHUNK_SIZE;
    const RelocationSource sources[] = {{"a", 0}, {"b", 3}, {"c", 5}, {"d", 20}, {"b", 30}};
    const RelocationTarget targets[] = {{"c", 2, 4}, {"b", 6, 2}, {"d", 11, 1},
                                        {"a", 12, 3}, {"gone", 15, 1}, {"", 99, 9}};
    // Each set is followed by an entry past its count, which the split must not read.
    const std::uint32_t pieces_a[] = {0, S, 3 * S, 4 * S, 6 * S, ~0u}, pieces_b[] = {0, 3 * S, 6 * S, ~0u};
    const Operation operations[] = {
        {"nothing, one chunk, then two from an odd offset",
         [](W w) { return copy_range(5, 0, w) && copy_range(0, chunk, w) && copy_range(1001, chunk + 1, w); },
         range(0, chunk) + range(1001, chunk + 1), 3},
        {"a range past the source's end ends in zeros", [](W w) { return copy_range(SOURCE_SIZE - 100, 300, w); },
         range(SOURCE_SIZE - 100, 100) + zeros(200), 1},
        {"zero runs of several pieces, and of none",
         [](W w) { return write_zeros((3u << 20) + 5, w) && write_zeros(0, w); }, zeros((3u << 20) + 5), 2},
        // A gap first, abutting files, a gap, sources in another order, a missing name last
        // (zeros, its write among the last walked); of two equal source names the first wins;
        // an empty name ends the list.
        {"relocation", [&](W w) { return relocate_files(4, {targets, 6, sources, 5}, w); },
         zeros(2 * S) + sectors(0, {{9, 4}, {7, 2}}) + zeros(3 * S) + sectors(0, {{24, 1}, {4, 3}}) + zeros(S), 7},
        // Headers of each criterion alone at sectors 2, 5, 7 and 10, near misses elsewhere.
        {"bank headers and near misses",
         [&](W w) { return split_sound_banks({REGION_A, 16 * S, pieces_a, 5, 8 * S}, w); },
         sectors(REGION_A, {{0, 1}, {2, 2}, {5, 1}, {7, 2}, {10, 2}}), 5},
        // A set of three in the same region stops looking at its third bank: headers after it are
        // not banks of its own.
        {"fewer banks than headers",
         [&](W w) { return split_sound_banks({REGION_A, 16 * S, pieces_a, 3, 8 * S}, w); },
         sectors(REGION_A, {{0, 1}, {2, 2}, {5, 5}}), 3},
        // Piece 0 takes in the next bank's first sector, piece 1 runs past the region, and
        // the scan for piece 2 reaches its end: the header just past it is never seen. A set
        // without entries before it writes nothing.
        {"pieces past the region",
         [&](W w) {
             return split_sound_banks({REGION_A, 16 * S, pieces_a, 0, 8 * S}, w) &&
                    split_sound_banks({REGION_B, 4 * S, pieces_b, 3, 8 * S}, w);
         },
         sectors(REGION_B, {{0, 3}, {2, 2}}) + zeros(3 * S), 3},
    };
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        std::string console;
        ASSERT_TRUE(run(operation.run, &console)) << "the clean run must succeed";
        const std::string clean = read_all(output_path);
        EXPECT_TRUE(clean == operation.output);
        EXPECT_EQ(bytes_written, clean.size());
        EXPECT_EQ(std::count(console.begin(), console.end(), '\r'), operation.progress_lines);
        for (const FaultRole role : {ROLE_IMAGE, ROLE_TEMP}) {
            std::uint64_t counts[FAULT_OPERATION_COUNT];
            for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
                counts[op] = fault_injection_count(static_cast<FaultOperation>(op), role);
            }
            for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
                for (FaultKind kind : {FAULT_FAIL, FAULT_SHORT}) {
                    // The pieces of one copy fail alike: its first and last few calls stand for the rest.
                    for (std::uint64_t k = 1; k <= counts[op] + 1;
                         k = k == 3 && counts[op] > 6 ? counts[op] - 2 : k + 1) {
                        SCOPED_TRACE(std::to_string(op) + ":" + std::to_string(role) + ":" + std::to_string(k) +
                                     (kind ? ":short" : ":fail"));
                        const bool ok = run([&](W w) {
                            fault_injection_arm(static_cast<FaultOperation>(op), role, k, kind);
                            return operation.run(w);
                        }, &console);
                        // Every fault is noticed, closes of the source included: its read may have been cut short.
                        EXPECT_EQ(ok, k > counts[op]);
                        if (ok) {
                            EXPECT_TRUE(read_all(output_path) == clean) << "success with a wrong output";
                        }
                    }
                }
            }
        }
    }
    // Bank offsets that go back (the last two here, or the last and the set's end) are refused
    // before anything is written.
    std::string console;
    const std::uint32_t back[] = {0, 3 * S, S};
    EXPECT_FALSE(run([&](W w) { return split_sound_banks({REGION_A, 16 * S, back, 3, 8 * S}, w); }, &console));
    EXPECT_TRUE(read_all(output_path).empty());
    EXPECT_FALSE(run([&](W w) { return split_sound_banks({REGION_A, 16 * S, pieces_a, 5, 5 * S}, w); }, &console));
    EXPECT_TRUE(read_all(output_path).empty());
    // A copy that starts at the image's end has nothing of it to copy: refused, as when the image shrank.
    EXPECT_FALSE(run([](W w) { return copy_range(SOURCE_SIZE, 1, w); }, &console));
    EXPECT_TRUE(read_all(source_path) == source_bytes());
}

TEST(RebuildProgress, FiguresRoundToWholePercents) {
    struct Case {
        std::uint32_t counter;
        std::uint8_t divisor;
        const char* text;
    };
    const Case cases[] = {{720896, 2, "Progression: 0 %\r"},       {2599682048u, 2, "Progression: 50 %\r"},  // 49.596 %
                          {1310436352u, 2, "Progression: 25 %\r"}, {26208727, 2, "Progression: 0 %\r"},  // 0.49999...
                          {26208728, 2, "Progression: 1 %\r"},     {2599682048u, 1, "Progression: 99 %\r"}};
    for (const Case& c : cases) {
        std::uint32_t counter = c.counter;
        ::testing::internal::CaptureStdout();
        report_rebuild_progress({"", nullptr, nullptr, 2620872704u, -1, &counter, c.divisor, nullptr});
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.text) << c.counter;
    }
}

}  // namespace

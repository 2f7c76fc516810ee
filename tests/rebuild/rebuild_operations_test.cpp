// The rebuild's operations on one small source: each row runs clean, then once per
// failing or short call of every kind (open, read, write, seek, close) up to one past
// the clean run's count. Every fault must be noticed, a success must have exactly the
// clean output, and the source is closed and no buffer kept whatever happens.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "rebuild/file_relocation.h"
#include "rebuild/image_writer.h"
#include "rebuild/rebuild_script.h"
#include "rebuild/sound_bank_split.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t S = SECTOR_SIZE;
constexpr std::uint32_t SOURCE_SIZE = 45u << 20;   // a range copy of 41 MiB takes three chunks
constexpr std::uint32_t REGION_A = 64 * S, REGION_B = 96 * S;   // sound-bank regions in the source

// The source's byte at `offset` varies within and across sectors, so a misplaced copy
// never matches by chance. Sectors of the bank regions begin with four words instead.
Bytes pattern(std::uint64_t offset, std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t at = offset + i;
        bytes[i] = static_cast<std::uint8_t>((at * 131u) ^ (at >> 11) ^ (at >> 19));
    }
    return bytes;
}

// Header criterion `kind` (0 to 3) met, the others missed narrowly ("SShe", 25, 17,
// 48001); -1 meets none.
void put_sector_start(Bytes* source, std::size_t at, int kind) {
    const std::uint32_t near[] = {0x65685353, 25, 17, 48001};
    const std::uint32_t header[] = {BANK_HEADER_SIGNATURE, 24, 16, 48000};
    for (std::size_t w = 0; w < 4; ++w) {
        const std::uint32_t word = static_cast<int>(w) == kind ? header[w] : near[w];
        for (std::size_t b = 0; b < 4; ++b) (*source)[at + 4 * w + b] = static_cast<std::uint8_t>(word >> (8 * b));
    }
}

Bytes make_source() {
    Bytes source = pattern(0, SOURCE_SIZE);
    for (std::uint32_t s = 0; s < 16; ++s) put_sector_start(&source, REGION_A + s * S, -1);
    for (const auto& [sector, kind] : std::initializer_list<std::pair<std::uint32_t, int>>{{2, 0}, {5, 1}, {7, 2}, {10, 3}}) {
        put_sector_start(&source, REGION_A + sector * S, kind);
    }
    for (std::uint32_t s = 0; s < 6; ++s) put_sector_start(&source, REGION_B + s * S, s == 2 || s == 4 ? 0 : -1);
    return source;
}

const Bytes& source_bytes() {
    static const Bytes source = make_source();
    return source;
}

Bytes range(std::uint64_t offset, std::size_t count) {
    return Bytes(source_bytes().begin() + static_cast<std::ptrdiff_t>(offset),
                 source_bytes().begin() + static_cast<std::ptrdiff_t>(offset + count));
}
Bytes sectors(std::uint32_t region, std::uint32_t first, std::uint32_t count) { return range(region + first * S, count * S); }
Bytes zeros(std::size_t count) { return Bytes(count, 0); }
Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Operation {
    const char* name;
    std::function<bool(const WriterValues&)> run;
    Bytes output;
    std::size_t progress_lines;
};

struct RebuildOperations : ::testing::Test {
    fs::path folder = fs::temp_directory_path() / (std::string("orv-rebuild-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string source_path = (folder / "europe.iso").string(), output_path = (folder / "europe_temp.iso").string();
    int source_fd = -1, output_fd = -1;
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes_written = 0;

    void SetUp() override {
        fs::create_directories(folder);
        std::ofstream(source_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(source_bytes().data()), static_cast<std::streamsize>(SOURCE_SIZE));
    }
    void TearDown() override {
        fault_injection_reset();
        if (output_fd >= 0) platform_close(output_fd);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // A fresh empty output (opened before the counters restart), then the operation.
    bool run(const Operation& operation, std::string* console) {
        fault_injection_reset();
        if (output_fd >= 0) platform_close(output_fd);
        output_fd = platform_open(output_path.c_str(), OPEN_CREATE_TRUNCATE);
        EXPECT_GE(output_fd, 0);
        bytes_written = 0;
        fault_injection_reset();
        ::testing::internal::CaptureStdout();
        const bool ok = operation.run({source_path.c_str(), &source_fd, &buffer, 2620872704u, output_fd, &bytes_written, 2});
        *console = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(source_fd, -1);
        EXPECT_EQ(buffer, nullptr);
        return ok;
    }
};

TEST_F(RebuildOperations, EachSucceedsOnlyWithItsWholeOutputAndNoticesEveryFailingCall) {
    const std::uint32_t chunk = COPY_CHUNK_SIZE;
    const RelocationSource sources[] = {{"a", 0}, {"b", 3}, {"c", 5}, {"d", 20}, {"b", 30}};
    const RelocationTarget targets[] = {{"c", 2, 4}, {"b", 6, 2}, {"gone", 8, 1}, {"d", 11, 1}, {"a", 12, 3}, {"", 99, 9}};
    const std::uint32_t pieces_a[] = {0, S, 3 * S, 4 * S, 6 * S};
    const std::uint32_t pieces_b[] = {0, 3 * S, 6 * S};
    const Operation operations[] = {
        {"one chunk, then three from an odd offset",
         [](const WriterValues& w) { return copy_range(0, chunk, w) && copy_range(1001, 2 * chunk + 1, w); },
         joined({range(0, chunk), range(1001, 2 * chunk + 1)}), 4},
        {"a range past the source's end ends in zeros", [](const WriterValues& w) { return copy_range(SOURCE_SIZE - 100, 300, w); },
         joined({range(SOURCE_SIZE - 100, 100), zeros(200)}), 1},
        {"zero runs of several pieces, and of none",
         [](const WriterValues& w) { return write_zeros((3u << 20) + 5, w) && write_zeros(0, w); }, zeros((3u << 20) + 5), 2},
        // A gap first, abutting files, a missing name (zeros), a gap, sources in another
        // order; of two equal source names the first wins; an empty name ends the list.
        {"relocation", [&](const WriterValues& w) { return relocate_files(4, {targets, 6, sources, 5}, w); },
         joined({zeros(2 * S), range(9 * S, 4 * S), range(7 * S, 2 * S), zeros(3 * S), range(24 * S, S), range(4 * S, 3 * S)}), 7},
        // Headers of each criterion alone at sectors 2, 5, 7 and 10, near misses elsewhere.
        {"bank headers and near misses", [&](const WriterValues& w) { return split_sound_banks({REGION_A, 16 * S, pieces_a, 5, 8 * S}, w); },
         joined({sectors(REGION_A, 0, 1), sectors(REGION_A, 2, 2), sectors(REGION_A, 5, 1), sectors(REGION_A, 7, 2),
                 sectors(REGION_A, 10, 2)}), 5},
        // Piece 0 takes in the next bank's first sector, piece 1 runs past the region, and
        // the scan for piece 2 reaches its end: the header just past it is never seen.
        {"pieces past the region", [&](const WriterValues& w) { return split_sound_banks({REGION_B, 4 * S, pieces_b, 3, 8 * S}, w); },
         joined({sectors(REGION_B, 0, 3), sectors(REGION_B, 2, 2), zeros(3 * S)}), 3},
    };
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        std::string console;
        ASSERT_TRUE(run(operation, &console)) << "the clean run must succeed";
        const std::string clean = read_all(output_path);
        EXPECT_TRUE(clean == std::string(operation.output.begin(), operation.output.end()));
        EXPECT_EQ(bytes_written, clean.size());
        EXPECT_EQ(std::count(console.begin(), console.end(), '\r'), static_cast<std::ptrdiff_t>(operation.progress_lines));
        std::uint64_t counts[FAULT_OPERATION_COUNT];
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) counts[op] = fault_injection_count(static_cast<FaultOperation>(op));
        for (int op = 0; op < FAULT_OPERATION_COUNT; ++op) {
            for (FaultKind kind : {FAULT_FAIL, FAULT_SHORT}) {
                for (std::uint64_t k = 1; k <= counts[op] + 1; ++k) {
                    SCOPED_TRACE(std::to_string(op) + ":" + std::to_string(k) + (kind == FAULT_FAIL ? ":fail" : ":short"));
                    const bool ok = run({operation.name, [&](const WriterValues& w) {
                                             fault_injection_arm(static_cast<FaultOperation>(op), k, kind);
                                             return operation.run(w);
                                         }, {}, 0}, &console);
                    // Every fault is noticed, closes of the source included: its read may have been cut short.
                    EXPECT_EQ(ok, k > counts[op]);
                    if (ok) {
                        EXPECT_TRUE(read_all(output_path) == clean) << "success with a wrong output";
                    }
                }
            }
        }
    }
    EXPECT_TRUE(read_all(source_path) == std::string(source_bytes().begin(), source_bytes().end()));
}

TEST_F(RebuildOperations, TheWholeRebuildStopsAtItsFirstFailingStep) {
    std::string console;
    // The second step copies from far past this small source's end.
    EXPECT_FALSE(run({"rebuild", [](const WriterValues& w) { return rebuild_intermediate_image(w); }, {}, 0}, &console));
    EXPECT_EQ(console, "Progression: 0 %\r");
    EXPECT_EQ(read_all(output_path), std::string(720896, '\0'));
}

TEST(RebuildProgress, FiguresRoundToWholePercents) {
    struct Case {
        std::uint32_t counter;
        std::uint8_t divisor;
        const char* text;
    };
    const Case cases[] = {{720896, 2, "Progression: 0 %\r"},  {2599682048u, 2, "Progression: 50 %\r"},  // 49.596 %
                          {1310436352u, 2, "Progression: 25 %\r"}, {26208727, 2, "Progression: 0 %\r"},   // 0.49999...
                          {26208728, 2, "Progression: 1 %\r"},    {2599682048u, 1, "Progression: 99 %\r"}};
    for (const Case& c : cases) {
        std::uint32_t counter = c.counter;
        ::testing::internal::CaptureStdout();
        report_rebuild_progress({"", nullptr, nullptr, 2620872704u, -1, &counter, c.divisor});
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.text) << c.counter;
    }
}

}  // namespace

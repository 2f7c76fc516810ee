// The shipped tables and the script: every count, bound, order and telling row, and
// the compiled-in arrays against the .tsv files.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "rebuild/rebuild_script.h"
#include "rebuild/rebuild_steps.h"
#include "rebuild/rebuild_tables.h"
#include "rebuild_table_files.h"

namespace {

constexpr std::uint64_t S = 2048;
constexpr std::uint32_t CHUNK_SECTORS = 10240;
using Runs = std::vector<std::pair<std::string, std::size_t>>;

struct RebuildTablesTest : ::testing::Test {
    static inline RebuildTableFiles files;
    static inline std::map<std::string, std::uint32_t> size_of;
    static void SetUpTestSuite() {
        files = read_rebuild_table_files();
        for (const TargetRow& t : files.targets) size_of[t.name] = t.size;
    }
    void SetUp() override { ASSERT_EQ(files.error, ""); }
};

// Runs of equal top-level folders, in order, with their lengths.
template <typename Row>
Runs folder_runs(const std::vector<Row>& rows) {
    Runs runs;
    for (const Row& row : rows) {
        const std::string folder = row.name.substr(0, row.name.find('/'));
        if (runs.empty() || runs.back().first != folder) runs.emplace_back(folder, 0);
        ++runs.back().second;
    }
    return runs;
}

TEST_F(RebuildTablesTest, TargetsHaveTheirNamesOrderAndExactlyTheFiveKnownGaps) {
    EXPECT_EQ(folder_runs(files.targets), (Runs{{"res", 951}, {"fpack", 632}, {"vpackj", 8}, {"modules", 3}}));
    EXPECT_EQ(folder_runs(files.sources), (Runs{{"fpack", 632}, {"modules", 3}, {"res", 951}, {"vpackj", 8}}));
    std::set<std::string> target_names, source_names;
    for (const SourceRow& s : files.sources) source_names.insert(s.name);
    std::map<std::size_t, std::pair<std::uint64_t, std::uint64_t>> gaps;  // index -> (from, to)
    std::uint64_t running = 0, total_size = 0;
    std::size_t larger_than_a_chunk = 0;
    for (std::size_t i = 0; i < files.targets.size(); ++i) {
        const TargetRow& t = files.targets[i];
        const auto separators = std::count(t.name.begin(), t.name.end(), '/');
        EXPECT_TRUE(t.name.size() >= 12 && t.name.size() <= 39 && separators >= 1 && separators <= 3 &&
                    t.name.find(';') == std::string::npos && t.size >= 1 && t.size <= 71933) << t.name;
        target_names.insert(t.name);
        ASSERT_GE(t.sector, running) << i;
        if (t.sector > running) gaps[i] = {running, t.sector};
        larger_than_a_chunk += t.size > CHUNK_SECTORS ? 1u : 0u;
        total_size += t.size;
        running = std::uint64_t{t.sector} + t.size;
    }
    EXPECT_EQ(target_names.size(), 1594u);
    EXPECT_TRUE(target_names == source_names);
    EXPECT_EQ(gaps, (decltype(gaps){{0, {0, 366}}, {650, {3739, 7937}}, {1245, {16913, 17048}},
                                    {1287, {30401, 30504}}, {1400, {57082, 57317}}}));
    EXPECT_EQ((std::vector<std::uint64_t>{total_size, running, larger_than_a_chunk, files.targets.front().size,
                                          files.targets.back().size}),
              (std::vector<std::uint64_t>{396376, 401413, 6, 2, 8}));
}

TEST_F(RebuildTablesTest, SourcesAscendAndNeverReachIntoTheNextFile) {
    const auto& src = files.sources;
    ASSERT_EQ(src.size(), 1594u);
    const std::uint32_t telling[][2] = {{0, 0}, {1, 35}, {2, 298}, {3, 546}, {4, 794}, {1592, 570285}, {1593, 616253}};
    for (const auto& [index, sector] : telling) EXPECT_EQ(src[index].sector, sector) << index;
    std::size_t with_room_to_spare = 0;
    for (std::size_t j = 0; j < src.size(); ++j) {
        const std::uint64_t end = RELOCATION_BASE_SECTOR + std::uint64_t{src[j].sector} + size_of[src[j].name];
        EXPECT_LE(end * S, 2669969408u) << src[j].name;  // inside the European image
        if (j + 1 == src.size()) break;
        ASSERT_LT(src[j].sector, src[j + 1].sector) << j;
        EXPECT_LE(size_of[src[j].name], src[j + 1].sector - src[j].sector) << src[j].name;
        with_room_to_spare += size_of[src[j].name] < src[j + 1].sector - src[j].sector ? 1u : 0u;
    }
    EXPECT_EQ(with_room_to_spare, 20u);
    // The first target is source entry 646, copied from byte 0x0AB18000.
    EXPECT_EQ(src[646].name, files.targets[0].name);
    EXPECT_EQ((RELOCATION_BASE_SECTOR + std::uint64_t{src[646].sector}) * S, 0x0AB18000u);
    // The vpackj files are the ranges of steps 41 to 48.
    for (std::size_t k = 0; k < 8; ++k) {
        const RebuildStep& step = REBUILD_STEPS[40 + k];
        const SourceRow& source = src[1586 + k];
        EXPECT_EQ((RELOCATION_BASE_SECTOR + std::uint64_t{source.sector}) * S, step.source_offset) << k;
        EXPECT_EQ(std::uint64_t{size_of[source.name]} * S, step.length) << k;
    }
}

TEST_F(RebuildTablesTest, BankSetsHaveTheirCountsEndsAndPieceSizes) {
    struct Expected {
        std::size_t entries;
        std::uint32_t end, second, third, last, smallest, largest;
    };
    const Expected expected[9] = {{1001, 74600448, 40960, 157696, 74510336, 10240, 264192},
                                  {1000, 78913536, 38912, 153600, 78804992, 12288, 245760},
                                  {1000, 80697344, 38912, 176128, 80652288, 10240, 268288},
                                  {400, 69957632, 69632, 215040, 68978688, 12288, 8855552},
                                  {388, 13993984, 32768, 65536, 13975552, 10240, 137216},
                                  {307, 15699968, 16384, 38912, 15656960, 8192, 192512},
                                  {942, 63930368, 51200, 116736, 63178752, 14336, 792576},
                                  {338, 28602368, 90112, 180224, 28481536, 8192, 231424},
                                  {148, 13832192, 591872, 620544, 12890112, 28672, 942080}};
    for (std::size_t k = 0; k < 9; ++k) {
        const auto& offsets = files.bank_sets[k];
        const Expected& e = expected[k];
        ASSERT_EQ(offsets.size(), e.entries) << k;
        EXPECT_EQ((std::vector<std::uint32_t>{offsets[0], offsets[1], offsets[2], offsets.back()}),
                  (std::vector<std::uint32_t>{0, e.second, e.third, e.last})) << k;
        std::uint32_t smallest = UINT32_MAX, largest = 0;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            EXPECT_EQ(offsets[i] % S, 0u);
            const std::uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : e.end;
            ASSERT_GT(next, offsets[i]) << k << " " << i;
            smallest = std::min(smallest, next - offsets[i]);
            largest = std::max(largest, next - offsets[i]);
        }
        EXPECT_EQ(std::make_pair(smallest, largest), std::make_pair(e.smallest, e.largest)) << k;
        // The script's step for this set writes exactly the table's end value.
        EXPECT_EQ(REBUILD_STEPS[49 + k].end_value, e.end);
        EXPECT_LT(REBUILD_STEPS[49 + k].end_value, REBUILD_STEPS[49 + k].length);
    }
}

TEST_F(RebuildTablesTest, CompiledTablesEqualTheFiles) {
    ASSERT_EQ(RELOCATION_TARGET_COUNT, files.targets.size());
    for (std::size_t i = 0; i < RELOCATION_TARGET_COUNT; ++i) {
        const RelocationTarget& t = RELOCATION_TARGETS[i];
        EXPECT_TRUE(t.name == files.targets[i].name && t.sector == files.targets[i].sector &&
                    t.size == files.targets[i].size) << i;
    }
    EXPECT_STREQ(RELOCATION_TARGETS[RELOCATION_TARGET_COUNT].name, "");
    ASSERT_EQ(RELOCATION_SOURCE_COUNT, files.sources.size());
    for (std::size_t j = 0; j < RELOCATION_SOURCE_COUNT; ++j) {
        const RelocationSource& s = RELOCATION_SOURCES[j];
        EXPECT_TRUE(s.name == files.sources[j].name && s.sector == files.sources[j].sector) << j;
    }
    EXPECT_STREQ(RELOCATION_SOURCES[RELOCATION_SOURCE_COUNT].name, "");
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(std::vector<std::uint32_t>(SOUND_BANK_OFFSETS + SOUND_BANK_SET_FIRST[k],
                                             SOUND_BANK_OFFSETS + SOUND_BANK_SET_FIRST[k + 1]),
                  files.bank_sets[k]) << k;
    }
}

TEST_F(RebuildTablesTest, ScriptWritesTheUsImageSizeInTheKnownNumberOfLines) {
    std::size_t copies = 0, zero_runs = 0, lines = 0, reads = 0;
    std::uint64_t copied = 0, written = 0, furthest = 0;
    for (const RebuildStep& step : REBUILD_STEPS) {
        const std::size_t chunks = (step.length + COPY_CHUNK_SIZE - 1) / COPY_CHUNK_SIZE;
        switch (step.kind) {
            case RebuildStepKind::COPY:
                ++copies;
                copied += step.length;
                written += step.length;
                lines += chunks;
                reads += chunks;
                furthest = std::max(furthest, std::uint64_t{step.source_offset} + step.length);
                break;
            case RebuildStepKind::ZEROS:
                ++zero_runs;
                written += step.length;
                ++lines;
                break;
            case RebuildStepKind::RELOCATE: {
                EXPECT_EQ(written, 0x4FB14800u);
                std::uint64_t running = 0;
                for (const TargetRow& t : files.targets) {
                    lines += (t.sector > running ? 1u : 0u) + (t.size + CHUNK_SECTORS - 1) / CHUNK_SECTORS;
                    reads += (t.size + CHUNK_SECTORS - 1) / CHUNK_SECTORS;
                    running = std::uint64_t{t.sector} + t.size;
                }
                written += running * S;
                break;
            }
            case RebuildStepKind::SOUND_BANKS:
                lines += files.bank_sets[step.bank_set].size();
                ++reads;
                written += step.end_value;
                furthest = std::max(furthest, std::uint64_t{step.source_offset} + step.length);
                break;
        }
    }
    EXPECT_EQ((std::vector<std::uint64_t>{copies, copied, zero_runs, lines, reads, furthest, written}),
              (std::vector<std::uint64_t>{46, 1336006656u, 12, 7262, 1730, 2648969216u, INTERMEDIATE_IMAGE_SIZE}));
}

}  // namespace

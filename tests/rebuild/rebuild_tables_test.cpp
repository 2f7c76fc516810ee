// The shipped tables and the script: every count, bound, order and known row, and
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
constexpr std::uint64_t EU_SIZE = 2669969408u;
constexpr std::uint32_t CHUNK_SECTORS = 10240;

struct RebuildTablesTest : ::testing::Test {
    static RebuildTableFiles files;
    static void SetUpTestSuite() { files = read_rebuild_table_files(); }
    void SetUp() override { ASSERT_EQ(files.error, ""); }
};
RebuildTableFiles RebuildTablesTest::files;

std::string top_folder(const std::string& name) { return name.substr(0, name.find('/')); }

// Runs of equal top-level folders, in order, with their lengths.
template <typename Row>
std::vector<std::pair<std::string, std::size_t>> folder_runs(const std::vector<Row>& rows) {
    std::vector<std::pair<std::string, std::size_t>> runs;
    for (const Row& row : rows) {
        const std::string folder = top_folder(row.name);
        if (runs.empty() || runs.back().first != folder) runs.emplace_back(folder, 0);
        ++runs.back().second;
    }
    return runs;
}

TEST_F(RebuildTablesTest, NamesHaveTheirShapeAndFolderOrder) {
    using Runs = std::vector<std::pair<std::string, std::size_t>>;
    EXPECT_EQ(folder_runs(files.targets),
              (Runs{{"res", 951}, {"fpack", 632}, {"vpackj", 8}, {"modules", 3}}));
    EXPECT_EQ(folder_runs(files.sources),
              (Runs{{"fpack", 632}, {"modules", 3}, {"res", 951}, {"vpackj", 8}}));
    std::set<std::string> target_names;
    for (const TargetRow& t : files.targets) {
        EXPECT_GE(t.name.size(), 12u) << t.name;
        EXPECT_LE(t.name.size(), 39u) << t.name;
        const auto separators = std::count(t.name.begin(), t.name.end(), '/');
        EXPECT_GE(separators, 1) << t.name;
        EXPECT_LE(separators, 3) << t.name;
        EXPECT_EQ(t.name.find(';'), std::string::npos) << t.name;  // no version suffix
        target_names.insert(t.name);
    }
    std::set<std::string> source_names;
    for (const SourceRow& s : files.sources) source_names.insert(s.name);
    EXPECT_EQ(target_names.size(), 1594u);
    EXPECT_EQ(source_names.size(), 1594u);
    EXPECT_TRUE(target_names == source_names);
}

TEST_F(RebuildTablesTest, TargetsAscendWithExactlyTheFiveKnownGaps) {
    ASSERT_EQ(files.targets.size(), 1594u);
    std::map<std::size_t, std::pair<std::uint64_t, std::uint64_t>> gaps;  // index -> (from, to)
    std::uint64_t running = 0;
    std::uint64_t total_size = 0;
    std::size_t larger_than_a_chunk = 0;
    for (std::size_t i = 0; i < files.targets.size(); ++i) {
        const TargetRow& t = files.targets[i];
        ASSERT_GE(t.sector, running) << i;
        if (t.sector > running) gaps[i] = {running, t.sector};
        EXPECT_GE(t.size, 1u);
        EXPECT_LE(t.size, 71933u);
        if (t.size > CHUNK_SECTORS) ++larger_than_a_chunk;
        total_size += t.size;
        running = std::uint64_t{t.sector} + t.size;
    }
    using Gaps = std::map<std::size_t, std::pair<std::uint64_t, std::uint64_t>>;
    EXPECT_EQ(gaps, (Gaps{{0, {0, 366}}, {650, {3739, 7937}}, {1245, {16913, 17048}},
                          {1287, {30401, 30504}}, {1400, {57082, 57317}}}));
    EXPECT_EQ(total_size, 396376u);
    EXPECT_EQ(running, 401413u);
    EXPECT_EQ(running * S, 822093824u);
    EXPECT_EQ(larger_than_a_chunk, 6u);
    EXPECT_EQ(files.targets.front().size, 2u);
    EXPECT_EQ(files.targets.back().sector, 401405u);
    EXPECT_EQ(files.targets.back().size, 8u);
}

TEST_F(RebuildTablesTest, SourcesAscendAndNeverReachIntoTheNextFile) {
    ASSERT_EQ(files.sources.size(), 1594u);
    std::map<std::string, std::uint32_t> size_of;
    for (const TargetRow& t : files.targets) size_of[t.name] = t.size;
    const auto& src = files.sources;
    EXPECT_EQ(src[0].sector, 0u);
    EXPECT_EQ(src[1].sector, 35u);
    EXPECT_EQ(src[2].sector, 298u);
    EXPECT_EQ(src[3].sector, 546u);
    EXPECT_EQ(src[4].sector, 794u);
    EXPECT_EQ(src[1592].sector, 570285u);
    EXPECT_EQ(src[1593].sector, 616253u);
    std::size_t with_room_to_spare = 0;
    for (std::size_t j = 0; j < src.size(); ++j) {
        const std::uint64_t end = (RELOCATION_BASE_SECTOR + std::uint64_t{src[j].sector} + size_of[src[j].name]) * S;
        EXPECT_LE(end, EU_SIZE) << src[j].name;
        if (j + 1 == src.size()) break;
        ASSERT_LT(src[j].sector, src[j + 1].sector) << j;
        const std::uint32_t distance = src[j + 1].sector - src[j].sector;
        EXPECT_LE(size_of[src[j].name], distance) << src[j].name;
        if (size_of[src[j].name] < distance) ++with_room_to_spare;
    }
    EXPECT_EQ(with_room_to_spare, 20u);
    // The first target is source entry 646, copied from byte 0x0AB18000.
    EXPECT_EQ(src[646].name, files.targets[0].name);
    EXPECT_EQ(src[646].sector, 80297u);
    EXPECT_EQ((RELOCATION_BASE_SECTOR + std::uint64_t{src[646].sector}) * S, 0x0AB18000u);
}

TEST_F(RebuildTablesTest, VpackjFilesAreTheRangesOfSteps41To48) {
    std::map<std::string, std::uint32_t> size_of;
    for (const TargetRow& t : files.targets) size_of[t.name] = t.size;
    for (std::size_t k = 0; k < 8; ++k) {
        const RebuildStep& step = REBUILD_STEPS[40 + k];
        const SourceRow& source = files.sources[1586 + k];
        EXPECT_EQ(top_folder(source.name), "vpackj");
        EXPECT_EQ((RELOCATION_BASE_SECTOR + std::uint64_t{source.sector}) * S, step.source_offset) << k;
        EXPECT_EQ(std::uint64_t{size_of[source.name]} * S, step.length) << k;
    }
}

TEST_F(RebuildTablesTest, BankSetsHaveTheirCountsEndsAndPieceSizes) {
    struct Expected {
        std::size_t entries;
        std::uint32_t end, first[3], last, smallest, largest;
    };
    const Expected expected[9] = {
        {1001, 74600448, {0, 40960, 157696}, 74510336, 10240, 264192},
        {1000, 78913536, {0, 38912, 153600}, 78804992, 12288, 245760},
        {1000, 80697344, {0, 38912, 176128}, 80652288, 10240, 268288},
        {400, 69957632, {0, 69632, 215040}, 68978688, 12288, 8855552},
        {388, 13993984, {0, 32768, 65536}, 13975552, 10240, 137216},
        {307, 15699968, {0, 16384, 38912}, 15656960, 8192, 192512},
        {942, 63930368, {0, 51200, 116736}, 63178752, 14336, 792576},
        {338, 28602368, {0, 90112, 180224}, 28481536, 8192, 231424},
        {148, 13832192, {0, 591872, 620544}, 12890112, 28672, 942080}};
    std::size_t all_entries = 0;
    std::uint64_t all_bytes = 0;
    for (std::size_t k = 0; k < 9; ++k) {
        const auto& offsets = files.bank_sets[k];
        const Expected& e = expected[k];
        ASSERT_EQ(offsets.size(), e.entries) << k;
        EXPECT_EQ(offsets[0], e.first[0]);
        EXPECT_EQ(offsets[1], e.first[1]);
        EXPECT_EQ(offsets[2], e.first[2]);
        EXPECT_EQ(offsets.back(), e.last);
        std::uint32_t smallest = UINT32_MAX;
        std::uint32_t largest = 0;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            EXPECT_EQ(offsets[i] % S, 0u);
            const std::uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : e.end;
            ASSERT_GT(next, offsets[i]) << k << " " << i;
            smallest = std::min(smallest, next - offsets[i]);
            largest = std::max(largest, next - offsets[i]);
        }
        EXPECT_EQ(smallest, e.smallest) << k;
        EXPECT_EQ(largest, e.largest) << k;
        // The script's step for this set writes exactly the table's end value.
        const RebuildStep& step = REBUILD_STEPS[49 + k];
        EXPECT_EQ(step.end_value, e.end);
        EXPECT_LT(step.end_value, step.length);
        all_entries += offsets.size();
        all_bytes += e.end;
    }
    EXPECT_EQ(all_entries, 5524u);
    EXPECT_EQ(all_bytes, 440227840u);
}

TEST_F(RebuildTablesTest, CompiledTablesEqualTheFiles) {
    ASSERT_EQ(RELOCATION_TARGET_COUNT, files.targets.size());
    for (std::size_t i = 0; i < RELOCATION_TARGET_COUNT; ++i) {
        EXPECT_EQ(RELOCATION_TARGETS[i].name, files.targets[i].name);
        EXPECT_EQ(RELOCATION_TARGETS[i].sector, files.targets[i].sector);
        EXPECT_EQ(RELOCATION_TARGETS[i].size, files.targets[i].size);
    }
    EXPECT_STREQ(RELOCATION_TARGETS[RELOCATION_TARGET_COUNT].name, "");
    ASSERT_EQ(RELOCATION_SOURCE_COUNT, files.sources.size());
    for (std::size_t j = 0; j < RELOCATION_SOURCE_COUNT; ++j) {
        EXPECT_EQ(RELOCATION_SOURCES[j].name, files.sources[j].name);
        EXPECT_EQ(RELOCATION_SOURCES[j].sector, files.sources[j].sector);
    }
    EXPECT_STREQ(RELOCATION_SOURCES[RELOCATION_SOURCE_COUNT].name, "");
    for (std::size_t k = 0; k < 9; ++k) {
        const std::vector<std::uint32_t> compiled(SOUND_BANK_OFFSETS + SOUND_BANK_SET_FIRST[k],
                                                  SOUND_BANK_OFFSETS + SOUND_BANK_SET_FIRST[k + 1]);
        EXPECT_EQ(compiled, files.bank_sets[k]) << k;
    }
}

TEST_F(RebuildTablesTest, ScriptWritesTheUsImageSizeInTheKnownNumberOfLines) {
    std::size_t copies = 0, zero_runs = 0, lines = 0, reads = 0;
    std::uint64_t copied = 0, zeroed = 0, written = 0, furthest = 0;
    for (const RebuildStep& step : REBUILD_STEPS) {
        switch (step.kind) {
            case RebuildStepKind::COPY: {
                const std::size_t chunks = (step.length + COPY_CHUNK_SIZE - 1) / COPY_CHUNK_SIZE;
                ++copies;
                copied += step.length;
                written += step.length;
                lines += chunks;
                reads += chunks;
                furthest = std::max(furthest, std::uint64_t{step.source_offset} + step.length);
                break;
            }
            case RebuildStepKind::ZEROS:
                ++zero_runs;
                zeroed += step.length;
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
    EXPECT_EQ(copies, 46u);
    EXPECT_EQ(copied, 1336006656u);
    EXPECT_EQ(zero_runs, 12u);
    EXPECT_EQ(zeroed, 1353728u);
    EXPECT_EQ(written, INTERMEDIATE_IMAGE_SIZE);
    EXPECT_EQ(lines, 7262u);
    EXPECT_EQ(reads, 1730u);
    EXPECT_EQ(furthest, 2648969216u);
}

}  // namespace

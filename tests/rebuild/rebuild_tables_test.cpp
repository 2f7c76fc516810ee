// The shipped tables against every known fact, each fact check against a table that
// breaks it, the compiled-in arrays against the .tsv files, and the script's totals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "rebuild/rebuild_script.h"
#include "rebuild/rebuild_steps.h"
#include "rebuild/rebuild_tables.h"
#include "rebuild/table_facts.h"
#include "rebuild/table_files.h"

namespace {

constexpr std::uint64_t S = 2048;
constexpr std::uint32_t CHUNK_SECTORS = 10240;

struct RebuildTablesTest : ::testing::Test {
    static inline RebuildTableFiles files;
    static void SetUpTestSuite() { files = read_table_files(ORV_REBUILD_TABLE_DIR); }
    void SetUp() override { ASSERT_EQ(files.error, ""); }
};

std::string failed_facts(const RebuildTableFiles& tables) {
    std::string text;
    for (const FactFailure& f : check_table_facts(tables)) text += f.fact + ": " + f.found + " / " + f.expected + "\n";
    return text;
}

TEST_F(RebuildTablesTest, ShippedTablesHoldEveryKnownFact) {
    EXPECT_EQ(failed_facts(files), "");
    // A name may hold every character of its ranges, their ends included.
    RebuildTableFiles renamed = files;
    renamed.targets[0].name = renamed.sources[646].name = "res/AZaz09_.-/a";
    EXPECT_EQ(failed_facts(renamed), "");
}

// One fact broken per row: the checks name exactly that fact, once (and maybe its neighbours).
TEST_F(RebuildTablesTest, EachBrokenFactIsNamed) {
    using Edit = void (*)(RebuildTableFiles&);
    const std::pair<const char*, Edit> rows[] = {
        {"target folders", [](RebuildTableFiles& t) { std::swap(t.targets[950], t.targets[951]); }},
        {"source folders", [](RebuildTableFiles& t) { t.sources[634].name = "res/zz/extra000.bin"; }},
        {"name shape", [](RebuildTableFiles& t) { t.targets[3].name = t.sources[0].name = "res/a b/c0000.bin"; }},
        {"name shape", [](RebuildTableFiles& t) { t.sources[1].name = "res", t.sources[2].name = "res/x"; }},
        {"names once each", [](RebuildTableFiles& t) { t.sources[5].name = t.sources[6].name; }},
        {"target order", [](RebuildTableFiles& t) { t.targets[10].sector -= 1; }},
        {"target gaps", [](RebuildTableFiles& t) { t.targets[20].sector += 1; }},
        {"files over 20 MiB", [](RebuildTableFiles& t) {   // 20 MiB exactly is not over
             std::find_if(t.targets.begin(), t.targets.end(), [](const auto& r) { return r.size > 10240; })->size = 10240;
         }},
        {"target sizes", [](RebuildTableFiles& t) { t.targets[1593].size = 0; }},
        {"files over 20 MiB", [](RebuildTableFiles& t) { t.targets[1592].size = 10241; }},
        {"source order", [](RebuildTableFiles& t) { std::swap(t.sources[7].sector, t.sources[8].sector); }},
        {"source room", [](RebuildTableFiles& t) { t.sources[1].sector -= 1; }},
        {"source sectors", [](RebuildTableFiles& t) { t.sources[1593].sector += 1; }},
        {"source inside the image", [](RebuildTableFiles& t) { t.sources[1593].sector = 1300000; }},
        {"first target", [](RebuildTableFiles& t) { std::swap(t.sources[646].sector, t.sources[647].sector); }},
        {"vpackj rows", [](RebuildTableFiles& t) { t.sources[1588].sector -= 1; }},
        {"bank set 2 first three", [](RebuildTableFiles& t) { t.bank_sets[1][2] += 2048; }},
        {"bank set 9 entries", [](RebuildTableFiles& t) { t.bank_sets[8].pop_back(); }},
        {"bank set 4 order", [](RebuildTableFiles& t) { t.bank_sets[3][7] += 1; }},
        {"bank set 5 order", [](RebuildTableFiles& t) { t.bank_sets[4][9] = t.bank_sets[4][10]; }},
        {"bank set 6 smallest", [](RebuildTableFiles& t) { t.bank_sets[5][100] = t.bank_sets[5][101] - 4096; }},
    };
    for (const auto& [fact, edit] : rows) {
        RebuildTableFiles broken = files;
        edit(broken);
        const std::string failed = failed_facts(broken);
        const std::size_t at = failed.find(fact);
        EXPECT_TRUE(at != failed.npos && failed.find(fact, at + 1) == failed.npos) << fact << "\n" << failed;
    }
}

// The files as the extraction writes them read back; a bank set after a later one is refused.
TEST_F(RebuildTablesTest, WrittenFilesReadBackWithTheirBankSetsInOrder) {
    const auto dir = std::filesystem::temp_directory_path() / ("orv-tables-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    std::array<std::string, 3> texts = format_table_files(files, "written back");
    for (const bool reordered : {false, true}) {
        texts[2] += reordered ? "1\t0\n" : "";
        for (std::size_t i = 0; i < 3; ++i) std::ofstream(dir / TABLE_FILE_NAMES[i]) << texts[i];
        const RebuildTableFiles back = read_table_files(dir.string());
        EXPECT_EQ(back.error.empty() && back.bank_sets == files.bank_sets, !reordered) << back.error;
    }
    std::filesystem::remove_all(dir);
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
              (std::vector<std::uint64_t>{46, 1336006656u, 12, 7262, 1730, 2648969216u, 2599682048u}));
}

}  // namespace

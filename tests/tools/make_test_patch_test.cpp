// make-test-patch as its users see it: its patches apply with the patcher's own driver
// and give exactly the target whose digest it printed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sha256.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t WINDOW = 65536;

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string digest(const std::string& bytes) {
    Sha256 hash;
    sha256_start(hash);
    sha256_add(hash, bytes.data(), bytes.size());
    return sha256_finish(hash);
}

struct MakeTestPatchTest : ::testing::Test {
    // Unique per process: the same test may run in another build at the same time.
    fs::path folder = fs::temp_directory_path() /
                      (std::string("orv_mtp_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                       "_" + std::to_string(getpid()));
    std::string source;

    // A source with some structure, so that moved blocks and repeats are not all alike.
    void SetUp() override {
        fs::remove_all(folder);
        fs::create_directories(folder);
        source.resize(1000003);
        std::uint32_t state = 1;
        for (std::size_t i = 0; i < source.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            source[i] = static_cast<char>(i % 4096 < 512 ? 0 : state >> 24);
        }
        std::ofstream(path("source.bin"), std::ios::binary).write(source.data(), static_cast<std::streamsize>(source.size()));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string path(const char* name) const { return (folder / name).string(); }

    // Runs the tool with small windows and --sha256; returns the digest it printed ("" on failure).
    std::string make(const std::string& arguments, const char* patch, std::string* err = nullptr) {
        const std::string command = std::string(MAKE_TEST_PATCH_PATH) + " --window-size 65536 --sha256 " + arguments +
                                    " " + path("source.bin") + " " + path(patch) + " > " + path("out.txt") + " 2> " +
                                    path("err.txt");
        const int raw = std::system(command.c_str());
        if (err != nullptr) *err = read_all(path("err.txt"));
        const std::string out = read_all(path("out.txt"));
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << read_all(path("err.txt"));
        return out.size() == 65 && out.back() == '\n' ? out.substr(0, 64) : "";
    }
    int apply(const char* patch, const char* output) {
        return apply_patch(0, 0, 100, 0, path("source.bin").c_str(), path(output).c_str(), path(patch).c_str());
    }
};

TEST_F(MakeTestPatchTest, IdentityPatchGivesTheSourceBack) {
    EXPECT_EQ(make("--identity", "patch.vcdiff"), digest(source));
    ASSERT_EQ(apply("patch.vcdiff", "out.bin"), 0);
    EXPECT_TRUE(read_all(path("out.bin")) == source);
}

TEST_F(MakeTestPatchTest, RealisticPatchGivesThePrintedTargetAndDependsOnlyOnTheSeed) {
    std::string stats;
    const std::string printed = make("--seed 7 --stats --target-size 1200001", "a.vcdiff", &stats);
    ASSERT_EQ(apply("a.vcdiff", "out.bin"), 0);
    const std::string target = read_all(path("out.bin"));
    EXPECT_EQ(target.size(), 1200001u);
    EXPECT_EQ(digest(target), printed);
    EXPECT_NE(target.substr(0, source.size()), source);
    for (const std::string kind : {"adds ", "runs ", "same-offset copies ", "moved copies ", "target copies "}) {
        const std::size_t at = stats.find(kind);
        ASSERT_NE(at, std::string::npos) << stats;
        EXPECT_NE(stats[at + kind.size()], '0') << kind << " in " << stats;  // every kind of edit is there
    }
    EXPECT_EQ(make("--seed 7 --target-size 1200001", "b.vcdiff"), printed);
    EXPECT_TRUE(read_all(path("a.vcdiff")) == read_all(path("b.vcdiff")));
    EXPECT_NE(make("--seed 8 --target-size 1200001", "c.vcdiff"), printed);
}

TEST_F(MakeTestPatchTest, BadChecksumWindowFailsThereAfterTheWindowsBeforeIt) {
    const std::string good = make("--seed 3 --target-size 1100000", "good.vcdiff");
    EXPECT_EQ(make("--seed 3 --target-size 1100000 --bad-checksum-window 5", "bad.vcdiff"), good);
    ASSERT_EQ(apply("good.vcdiff", "good.bin"), 0);
    EXPECT_EQ(digest(read_all(path("good.bin"))), good);
    EXPECT_EQ(apply("bad.vcdiff", "bad.bin"), DECODE_CHECKSUM_MISMATCH);
    EXPECT_TRUE(read_all(path("bad.bin")) == read_all(path("good.bin")).substr(0, 5 * WINDOW));
}

TEST_F(MakeTestPatchTest, WithoutChecksumsEachWindowIsFourBytesShorter) {
    const std::string with = make("--target-size 650000", "with.vcdiff");
    EXPECT_EQ(make("--no-checksums --target-size 650000", "without.vcdiff"), with);
    EXPECT_EQ(fs::file_size(path("with.vcdiff")) - fs::file_size(path("without.vcdiff")),
              4 * ((650000 + WINDOW - 1) / WINDOW));
    ASSERT_EQ(apply("without.vcdiff", "out.bin"), 0);
    EXPECT_EQ(digest(read_all(path("out.bin"))), with);
}

}  // namespace

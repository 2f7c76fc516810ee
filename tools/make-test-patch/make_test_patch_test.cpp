// make-test-patch as its users see it: the patches it writes apply with the patcher's
// own driver and give exactly the target whose digest it printed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sha256.h"
#include "test_patch.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t SMALL_WINDOW = 65536;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_all(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string digest(const std::string& bytes) {
    Sha256 hash;
    sha256_start(hash);
    sha256_add(hash, bytes.data(), bytes.size());
    return sha256_finish(hash);
}

// Bytes with some structure, so that moved blocks and repeats are not all alike.
std::string make_source(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(i % 4096 < 512 ? 0 : state >> 24);
    }
    return bytes;
}

struct MakeTestPatchTest : ::testing::Test {
    fs::path folder;
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 (std::string("orv_make_test_patch_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    ToolRun run(const std::string& arguments) {
        const fs::path out = folder / "stdout.txt";
        const fs::path err = folder / "stderr.txt";
        const std::string command =
            std::string(MAKE_TEST_PATCH_PATH) + " " + arguments + " > " + out.string() + " 2> " + err.string();
        const int raw = std::system(command.c_str());
        return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_all(out), read_all(err)};
    }

    // The printed digest, without its newline; empty when the run failed.
    std::string make_patch(const std::string& arguments) {
        const ToolRun made = run(arguments);
        EXPECT_EQ(made.status, 0) << made.err;
        if (made.status != 0 || made.out.size() != 65 || made.out.back() != '\n') return "";
        return made.out.substr(0, 64);
    }

    int apply(const fs::path& source, const fs::path& patch, const fs::path& output) {
        return apply_patch(0, 0, 100, 0, source.c_str(), output.c_str(), patch.c_str());
    }

    fs::path path(const char* name) const { return folder / name; }
};

TEST_F(MakeTestPatchTest, IdentityPatchGivesTheSourceBack) {
    const std::string source = make_source(1000003, 1);
    write_all(path("source.bin"), source);
    const std::string printed = make_patch("--identity --window-size 65536 --sha256 --sha256-file " +
                                           path("digest.txt").string() + " " + path("source.bin").string() + " " +
                                           path("patch.vcdiff").string());
    EXPECT_EQ(printed, digest(source));
    EXPECT_EQ(read_all(path("digest.txt")), printed + "\n");
    ASSERT_EQ(apply(path("source.bin"), path("patch.vcdiff"), path("out.bin")), 0);
    EXPECT_TRUE(read_all(path("out.bin")) == source);
    // One COPY per window: a patch of a few bytes per 64 KiB.
    EXPECT_LT(fs::file_size(path("patch.vcdiff")), 16 * 30u);
}

TEST_F(MakeTestPatchTest, RealisticPatchGivesThePrintedTargetAndDependsOnlyOnTheSeed) {
    const std::string source = make_source(1500000, 2);
    write_all(path("source.bin"), source);
    const std::string common = "--target-size 1700001 --window-size 65536 --sha256 " + path("source.bin").string();
    const ToolRun made = run("--seed 7 --stats " + common + " " + path("a.vcdiff").string());
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string printed = made.out.substr(0, 64);

    ASSERT_EQ(apply(path("source.bin"), path("a.vcdiff"), path("out.bin")), 0);
    const std::string target = read_all(path("out.bin"));
    EXPECT_EQ(target.size(), 1700001u);
    EXPECT_EQ(digest(target), printed);
    EXPECT_NE(target.substr(0, source.size()), source);
    // Every kind of edit made it into the script.
    for (const char* kind : {"adds ", "runs ", "same-offset copies ", "moved copies ", "target copies "}) {
        const std::size_t at = made.err.find(kind);
        ASSERT_NE(at, std::string::npos) << made.err;
        EXPECT_NE(made.err[at + std::string(kind).size()], '0') << kind << " in " << made.err;
    }

    EXPECT_EQ(make_patch("--seed 7 " + common + " " + path("b.vcdiff").string()), printed);
    EXPECT_TRUE(read_all(path("a.vcdiff")) == read_all(path("b.vcdiff")));
    EXPECT_NE(make_patch("--seed 8 " + common + " " + path("c.vcdiff").string()), printed);
    EXPECT_FALSE(read_all(path("a.vcdiff")) == read_all(path("c.vcdiff")));
}

TEST_F(MakeTestPatchTest, TargetShorterThanTheSource) {
    write_all(path("source.bin"), make_source(700000, 3));
    const std::string printed = make_patch("--target-size 300007 --window-size 65536 --sha256 " +
                                           path("source.bin").string() + " " + path("patch.vcdiff").string());
    ASSERT_EQ(apply(path("source.bin"), path("patch.vcdiff"), path("out.bin")), 0);
    const std::string target = read_all(path("out.bin"));
    EXPECT_EQ(target.size(), 300007u);
    EXPECT_EQ(digest(target), printed);
}

TEST_F(MakeTestPatchTest, DefaultWindowsOverASparseSourceWithATailPastItsEnd) {
    // Windows of 8 MiB, moved blocks from 4 MiB around, and two windows past the source.
    {
        std::ofstream sparse(path("source.bin"), std::ios::binary);
        sparse.seekp((20 << 20) - 1);
        sparse.put('\x5A');
    }
    const std::string printed = make_patch("--target-size 40000000 --sha256 " + path("source.bin").string() + " " +
                                           path("patch.vcdiff").string());
    ASSERT_EQ(apply(path("source.bin"), path("patch.vcdiff"), path("out.bin")), 0);
    EXPECT_EQ(fs::file_size(path("out.bin")), 40000000u);
    EXPECT_EQ(digest(read_all(path("out.bin"))), printed);
}

TEST_F(MakeTestPatchTest, BadChecksumWindowFailsThereAfterTheWindowsBeforeIt) {
    write_all(path("source.bin"), make_source(1000000, 4));
    const std::string arguments = "--target-size 1100000 --window-size 65536 --seed 3 --sha256 " +
                                  path("source.bin").string() + " ";
    const std::string good = make_patch(arguments + path("good.vcdiff").string());
    EXPECT_EQ(make_patch("--bad-checksum-window 5 " + arguments + path("bad.vcdiff").string()), good);
    ASSERT_EQ(apply(path("source.bin"), path("good.vcdiff"), path("good.bin")), 0);
    EXPECT_EQ(apply(path("source.bin"), path("bad.vcdiff"), path("bad.bin")), DECODE_CHECKSUM_MISMATCH);
    // The five windows before it were written, and they are right.
    EXPECT_TRUE(read_all(path("bad.bin")) == read_all(path("good.bin")).substr(0, 5 * SMALL_WINDOW));
    EXPECT_EQ(fs::file_size(path("good.vcdiff")), fs::file_size(path("bad.vcdiff")));
}

TEST_F(MakeTestPatchTest, WithoutChecksumsEachWindowIsFourBytesShorter) {
    const std::string source = make_source(600000, 5);
    write_all(path("source.bin"), source);
    const std::string arguments = "--target-size 650000 --window-size 65536 --sha256 " + path("source.bin").string();
    const std::string with = make_patch(arguments + " " + path("with.vcdiff").string());
    EXPECT_EQ(make_patch("--no-checksums " + arguments + " " + path("without.vcdiff").string()), with);
    const std::uint64_t windows = (650000 + SMALL_WINDOW - 1) / SMALL_WINDOW;
    EXPECT_EQ(fs::file_size(path("with.vcdiff")) - fs::file_size(path("without.vcdiff")), 4 * windows);

    // Header with an application header, then a window from the source with no checksum.
    const std::string patch = read_all(path("without.vcdiff"));
    ASSERT_GT(patch.size(), 8u);
    EXPECT_EQ(patch.substr(0, 5), std::string("\xD6\xC3\xC4\x00\x04", 5));
    const auto note_length = static_cast<std::size_t>(static_cast<unsigned char>(patch[5]));
    ASSERT_LT(note_length, 0x80u);
    EXPECT_EQ(static_cast<unsigned char>(patch[6 + note_length]), VCD_SOURCE);

    ASSERT_EQ(apply(path("source.bin"), path("without.vcdiff"), path("out.bin")), 0);
    EXPECT_EQ(digest(read_all(path("out.bin"))), with);
}

TEST_F(MakeTestPatchTest, IdentityFromTheSourceSizeAloneIsTheSamePatch) {
    write_all(path("source.bin"), make_source(300001, 6));
    ASSERT_EQ(run("--identity --no-checksums --window-size 65536 " + path("source.bin").string() + " " +
                  path("a.vcdiff").string())
                  .status,
              0);
    ASSERT_EQ(run("--identity --no-checksums --window-size 65536 --source-size 300001 " + path("b.vcdiff").string())
                  .status,
              0);
    EXPECT_TRUE(read_all(path("a.vcdiff")) == read_all(path("b.vcdiff")));
    ASSERT_EQ(apply(path("source.bin"), path("b.vcdiff"), path("out.bin")), 0);
    EXPECT_TRUE(read_all(path("out.bin")) == read_all(path("source.bin")));
}

TEST_F(MakeTestPatchTest, CommandLinesThatCannotBeHonouredWriteNothing) {
    write_all(path("source.bin"), make_source(100000, 7));
    const std::string source = path("source.bin").string() + " ";
    const std::string out = path("out.vcdiff").string();
    EXPECT_EQ(run("--window-size 65536 --target-size 100000 --bad-checksum-window 2 " + source + out).status, 2);
    EXPECT_EQ(run("--identity --target-size 5 " + source + out).status, 2);
    EXPECT_EQ(run("--no-checksums --bad-checksum-window 0 " + source + out).status, 2);
    EXPECT_EQ(run("--source-size 100 " + out).status, 2);
    EXPECT_EQ(run("--identity --no-checksums --source-size 100 --sha256 " + out).status, 2);
    EXPECT_EQ(run("--window-size 67108865 " + source + out).status, 2);
    EXPECT_EQ(run("--seed x " + source + out).status, 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(run(path("missing.bin").string() + " " + out).status, 1);
    EXPECT_FALSE(fs::exists(out));
}

TEST(FastAdler32, AgreesWithTheSlowOneAcrossReductions) {
    Bytes bytes(20000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(255 - i % 7);
    for (std::size_t count : {0u, 1u, 5552u, 5553u, 20000u}) {
        EXPECT_EQ(fast_adler32(bytes.data(), count), reference_adler32(bytes.data(), count)) << count;
    }
}

}  // namespace

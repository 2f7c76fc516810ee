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
const fs::path FOLDER = fs::temp_directory_path() / ("orv_mtp_" + std::to_string(getpid()));

std::string path(const std::string& name) { return (FOLDER / name).string(); }

std::string read_all(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string digest(const std::string& bytes) {
    Sha256 hash;
    sha256_start(hash);
    sha256_add(hash, bytes.data(), bytes.size());
    return sha256_finish(hash);
}

// Runs the tool with small windows and --sha256; returns what it printed: the digest, then the rest.
std::string make(const std::string& arguments, const std::string& patch) {
    const std::string command = std::string(MAKE_TEST_PATCH_PATH) + " --window-size 65536 --sha256 " + arguments +
                                " " + path("source.bin") + " " + path(patch) + " >" + path("out.txt") + " 2>" +
                                path("err.txt");
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command;
    return read_all("out.txt") + read_all("err.txt");
}

int apply(const std::string& patch, const std::string& output) {
    return apply_patch(0, 0, 100, 0, path("source.bin").c_str(), path(output).c_str(), path(patch).c_str());
}

TEST(MakeTestPatch, PatchesGiveThePrintedTargetAndDependOnlyOnTheSeed) {
    fs::create_directories(FOLDER);
    // Removed on every way out, a failed assertion included.
    const struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{FOLDER};
    // A source with some structure, so that moved blocks and repeats are not all alike.
    std::string source(1000003, '\0');
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < source.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        source[i] = static_cast<char>(i % 4096 < 512 ? 0 : state >> 24);
    }
    std::ofstream(path("source.bin"), std::ios::binary).write(source.data(), std::streamsize(source.size()));

    EXPECT_EQ(make("--identity", "identity"), digest(source) + "\n");
    ASSERT_EQ(apply("identity", "identity.bin"), 0);
    EXPECT_TRUE(read_all("identity.bin") == source);

    const std::string stats = make("--seed 7 --stats --target-size 1200001", "a");
    ASSERT_EQ(apply("a", "a.bin"), 0);
    const std::string target = read_all("a.bin");
    EXPECT_EQ(target.size(), 1200001u);
    EXPECT_EQ(stats.substr(0, 65), digest(target) + "\n");
    EXPECT_NE(target.substr(0, source.size()), source);
    for (const std::string kind : {"adds ", "runs ", "same-offset copies ", "moved copies ", "target copies "}) {
        const std::size_t at = stats.find(kind);   // every kind of edit is there
        EXPECT_TRUE(at != std::string::npos && stats[at + kind.size()] != '0') << kind << " in " << stats;
    }
    EXPECT_EQ(make("--seed 7 --target-size 1200001 --no-checksums", "b"), digest(target) + "\n");
    EXPECT_EQ(fs::file_size(path("a")) - fs::file_size(path("b")), 4 * ((1200001 + WINDOW - 1) / WINDOW));
    ASSERT_EQ(apply("b", "b.bin"), 0);
    EXPECT_TRUE(read_all("b.bin") == target);
    EXPECT_NE(make("--seed 8 --target-size 1200001", "c"), digest(target) + "\n");

    make("--seed 7 --target-size 1200001 --bad-checksum-window 5", "bad");
    EXPECT_EQ(apply("bad", "bad.bin"), DECODE_CHECKSUM_MISMATCH);
    EXPECT_TRUE(read_all("bad.bin") == target.substr(0, 5 * WINDOW));
}

}  // namespace

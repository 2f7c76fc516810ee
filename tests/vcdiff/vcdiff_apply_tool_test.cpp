// The command-line contract of vcdiff-apply, which scripts and other checks parse:
// exit status, output removed on failure and the exact last line on stderr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "patch_reference.h"

namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(VcdiffApplyTool, StatusOutputAndLastLine) {
    const fs::path folder = fs::temp_directory_path() / ("orv_tool_" + std::to_string(getpid()));
    fs::create_directories(folder);
    // Removed on every way out, a failed assertion included.
    const struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{folder};
    std::ofstream(folder / "source", std::ios::binary).write("abcd", 4);
    InstructionEncoder enc;
    encoder_start(&enc, 4);
    encode_copy(&enc, 0, 4);
    encode_add(&enc, {'e', 'f'});
    WindowSpec window = checked_window(&enc, {'a', 'b', 'c', 'd'});
    for (const char* name : {"good", "bad"}) {
        const Bytes patch = patch_bytes({window});
        std::ofstream(folder / name, std::ios::binary) << std::string(patch.begin(), patch.end());
        window.checksum ^= 1;
    }
    std::ofstream(folder / "header-only", std::ios::binary).write("\xD6\xC3\xC4\0\0", 5);
    const struct {
        const char* arguments;
        int status;
        const char* last_line;
        const char* output;   // null: no output file left
    } cases[] = {
        {"source good output", 0, "", "abcdef"},
        {"source bad output", 1, "vcdiff-apply: DECODE_CHECKSUM_MISMATCH (-17715): target window checksum mismatch",
         nullptr},
        {"source header-only output", 1, "vcdiff-apply: APPLY_PATCH_NO_WINDOW (-17807): patch holds no window",
         nullptr},
        {"source absent output", 1, "vcdiff-apply: APPLY_PATCH_OPEN_FAILED (-17801): cannot open patch file", nullptr},
        {"source good", 2, "usage: vcdiff-apply SOURCE PATCH OUTPUT", nullptr},
    };
    for (const auto& c : cases) {
        fs::remove(folder / "output");
        const std::string command = "cd " + folder.string() + " && " + VCDIFF_APPLY_PATH + " " + c.arguments + " 2>err";
        const int raw = std::system(command.c_str());
        std::string err = read_text(folder / "err");
        if (!err.empty() && err.back() == '\n') err.pop_back();
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.arguments;
        EXPECT_EQ(err.substr(err.rfind('\n') == std::string::npos ? 0 : err.rfind('\n') + 1), c.last_line);
        EXPECT_EQ(fs::exists(folder / "output"), c.output != nullptr) << c.arguments;
        if (c.output != nullptr) {
            EXPECT_EQ(read_text(folder / "output"), c.output);
        }
    }
}

}  // namespace

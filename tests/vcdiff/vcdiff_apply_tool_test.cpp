// The command-line contract of vcdiff-apply, which scripts and other checks parse:
// exit status, removed output and the exact last line on stderr.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "patch_reference.h"
#include "vcdiff/decode_types.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status;
    std::string last_line;
};

fs::path folder_for_test() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path path = fs::temp_directory_path() / (std::string("orv_tool_") + info->name());
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
}

void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ToolRun run_tool(const fs::path& folder, const std::string& arguments) {
    const fs::path err = folder / "stderr.txt";
    const std::string command = std::string(VCDIFF_APPLY_PATH) + " " + arguments + " 2> " + err.string();
    const int raw = std::system(command.c_str());
    std::string text = read_text(err);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const std::size_t start = text.rfind('\n');
    return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, start == std::string::npos ? text : text.substr(start + 1)};
}

Bytes one_window_patch(const Bytes& source, std::uint32_t checksum_xor) {
    InstructionEncoder enc;
    encoder_start(&enc, 4);
    encode_copy(&enc, 0, 4);
    encode_add(&enc, {'e', 'f'});
    WindowSpec window = checked_window(&enc, source);
    window.checksum ^= checksum_xor;
    return patch_bytes({window});
}

TEST(VcdiffApplyTool, SuccessFailureAndUsage) {
    const fs::path folder = folder_for_test();
    const std::string source = (folder / "source").string();
    const std::string patch = (folder / "patch").string();
    const std::string output = (folder / "output").string();
    const Bytes source_bytes{'a', 'b', 'c', 'd'};
    write_file(source, source_bytes);

    write_file(patch, one_window_patch(source_bytes, 0));
    ToolRun run = run_tool(folder, source + " " + patch + " " + output);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_text(output), "abcdef");

    write_file(patch, one_window_patch(source_bytes, 1));
    run = run_tool(folder, source + " " + patch + " " + output);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.last_line, "vcdiff-apply: DECODE_CHECKSUM_MISMATCH (-17715): target window checksum mismatch");
    EXPECT_FALSE(fs::exists(output));

    run = run_tool(folder, source + " " + (folder / "absent").string() + " " + output);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.last_line, "vcdiff-apply: APPLY_PATCH_OPEN_FAILED (-17801): cannot open patch file");

    run = run_tool(folder, source + " " + patch);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.last_line, "usage: vcdiff-apply SOURCE PATCH OUTPUT");
    fs::remove_all(folder);
}

}  // namespace

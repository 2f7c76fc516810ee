// The driver with a failing disk: each open, read, seek, write and close it makes
// can fail, and every such failure must end the application with the right code
// and with every file closed (the sanitizer build reports a stream left open).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "patch_writer.h"
#include "platform/fault_injection.h"
#include "vcdiff/apply_patch.h"
#include "vcdiff/decode_types.h"

namespace {

namespace fs = std::filesystem;

struct Files {
    fs::path folder;
    std::string source, patch, output;
    Bytes expected;
    ~Files() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A source of two blocks and a patch of two windows that copy from block 1, then
// block 0 again, so the application opens three files, reads the source in order and
// then seeks back in it, and writes twice.
void make_files(Files* files) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    files->folder = fs::temp_directory_path() / (std::string("orv_apply_fault_") + info->name());
    fs::remove_all(files->folder);
    fs::create_directories(files->folder);
    files->source = (files->folder / "source").string();
    files->patch = (files->folder / "patch").string();
    files->output = (files->folder / "output").string();
    Bytes source(2 * SOURCE_BLOCK_SIZE);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>((i * 13) ^ (i >> 8));   // no two blocks alike
    write_file(files->source, source);
    std::vector<WindowSpec> windows;
    for (std::uint64_t offset : {SOURCE_BLOCK_SIZE + 5, 0u}) {
        InstructionEncoder enc;
        encoder_start(&enc, 100);
        encode_copy(&enc, 0, 100);
        Bytes target;
        windows.push_back(checked_window(&enc, source, offset, &target));
        files->expected.insert(files->expected.end(), target.begin(), target.end());
    }
    write_file(files->patch, patch_bytes(windows));
    fault_injection_reset();
}

struct Result {
    int code;
    std::string message;
};

Result apply(const Files& files) {
    const char* message = nullptr;
    const int code =
        apply_patch(0, 0, 100, 200, files.source.c_str(), files.output.c_str(), files.patch.c_str(), &message);
    return Result{code, message != nullptr ? message : ""};
}

TEST(ApplyPatchFaults, CleanRunReadsBothBlocks) {
    Files files;
    make_files(&files);
    EXPECT_EQ(apply(files).code, 0);
    EXPECT_EQ(fault_injection_count(FAULT_OPEN), 3u);
    EXPECT_EQ(fault_injection_count(FAULT_CLOSE), 3u);
    std::ifstream in(files.output, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), files.expected);
}

TEST(ApplyPatchFaults, OneOfEachOperation) {
    const struct {
        FaultOperation operation;
        std::uint64_t nth;
        FaultKind kind;
        int code;
    } cases[] = {
        {FAULT_OPEN, 3, FAULT_FAIL, APPLY_OUTPUT_OPEN_FAILED},
        {FAULT_READ, 2, FAULT_SHORT, APPLY_PATCH_READ_FAILED},    // the patch's only chunk
        {FAULT_READ, 1, FAULT_FAIL, APPLY_SOURCE_READ_FAILED},    // the source's first block, or its mapping
        {FAULT_WRITE, 2, FAULT_SHORT, APPLY_OUTPUT_WRITE_FAILED},
        {FAULT_CLOSE, 1, FAULT_FAIL, APPLY_OUTPUT_WRITE_FAILED},  // the output: its last bytes may be lost
    };
    Files files;
    make_files(&files);
    for (const auto& c : cases) {
        fault_injection_reset();
        fault_injection_arm(c.operation, c.nth, c.kind);
        EXPECT_EQ(apply(files).code, c.code) << c.operation << " " << c.nth;
    }
}

}  // namespace

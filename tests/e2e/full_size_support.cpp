#include "full_size_support.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "expected_texts.h"
#include "sha256.h"

namespace fs = std::filesystem;

namespace {

std::string run_tool(const char* tool, const std::vector<std::string>& arguments) {
    TempFolder folder;
    RunOptions options;
    options.program = tool;
    options.arguments = arguments;
    options.folder = folder.path;
    options.timeout_seconds = FULL_RUN_TIMEOUT_SECONDS;
    const ProgramRun run = run_program(options);
    if (run.exit_status != 0) throw std::runtime_error(std::string(tool) + " failed");
    return run.output;
}

}  // namespace

RunOptions full_run(const fs::path& folder, const char* program) {
    RunOptions options = patcher_in(folder);
    if (program != nullptr) options.program = program;
    options.timeout_seconds = FULL_RUN_TIMEOUT_SECONDS;
    return options;
}

void make_test_image(const std::string& release, const std::string& content, const fs::path& path) {
    run_tool(ORV_MAKE_TEST_IMAGE, {release, content, path.string()});
}

std::string make_test_patch(std::vector<std::string> arguments, bool digest) {
    if (digest) arguments.insert(arguments.begin(), "--sha256");
    const std::string printed = run_tool(ORV_MAKE_TEST_PATCH, arguments);
    if (digest && printed.size() != 65) throw std::runtime_error("make-test-patch printed " + printed);
    return printed.substr(0, 64);
}

std::string file_sha256(const fs::path& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) throw std::runtime_error("cannot open " + path.string());
    std::vector<char> buffer(8u << 20);
    Sha256 hash;
    sha256_start(hash);
    for (std::size_t got = buffer.size(); got == buffer.size();) {
        got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        sha256_add(hash, buffer.data(), got);
    }
    if (std::ferror(file.get())) throw std::runtime_error("cannot read " + path.string());
    return sha256_finish(hash);
}

std::string progress_lines(int first, int last) {
    std::string text;
    for (int percent = first; percent <= last; ++percent) text += progress(percent);
    return text;
}

int driver_percent(std::uint64_t written, int start, int end) {
    return start + static_cast<int>(written * static_cast<std::uint64_t>(end - start) / FULL_TARGET_SIZE);
}

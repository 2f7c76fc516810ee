#include "full_size_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "e2e_support.h"
#include "expected_texts.h"
#include "sha256.h"

namespace fs = std::filesystem;

namespace {

// One shell word. Built with append: g++ 12 warns falsely on + of short literals at -O3.
std::string quoted(const std::string& word) {
    std::string text;
    text.push_back('\'');
    for (char c : word) {
        if (c == '\'') {
            text.append("'\\''");
        } else {
            text.push_back(c);
        }
    }
    text.push_back('\'');
    return text;
}

std::string read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

ToolResult run_tool(const std::string& tool, const std::vector<std::string>& arguments) {
    TempFolder capture;
    std::string command = quoted(tool);
    for (const std::string& argument : arguments) command.append(" ").append(quoted(argument));
    command.append(" > ").append(quoted((capture.path / "out").string()));
    command.append(" 2> ").append(quoted((capture.path / "err").string()));
    const int raw = std::system(command.c_str());
    return ToolResult{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_whole(capture.path / "out"),
                      read_whole(capture.path / "err")};
}

void make_test_image(const std::string& release, const std::string& content, const fs::path& path) {
    const ToolResult made = run_tool(ORV_MAKE_TEST_IMAGE, {release, content, path.string()});
    if (made.status != 0) throw std::runtime_error("make-test-image failed: " + made.err);
}

std::string make_test_patch(const std::vector<std::string>& arguments) {
    std::vector<std::string> with_digest = arguments;
    with_digest.insert(with_digest.begin(), "--sha256");
    const ToolResult made = run_tool(ORV_MAKE_TEST_PATCH, with_digest);
    if (made.status != 0 || made.out.size() != 65) throw std::runtime_error("make-test-patch failed: " + made.err);
    return made.out.substr(0, 64);
}

std::string file_sha256(const fs::path& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) throw std::runtime_error("cannot open " + path.string());
    std::vector<char> buffer(8u << 20);
    Sha256 hash;
    sha256_start(hash);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        sha256_add(hash, buffer.data(), got);
        if (got < buffer.size()) break;
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

std::vector<std::string> split_progress(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end = text.find('\r'); end != std::string::npos; end = text.find('\r', from)) {
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    if (from != text.size()) lines.push_back(text.substr(from));
    return lines;
}

void StepTimer::lap(const char* step) {
    const auto now = std::chrono::steady_clock::now();
    std::printf("[ %-44s %6.1f s ]\n", step, std::chrono::duration<double>(now - started).count());
    std::fflush(stdout);
    started = now;
}

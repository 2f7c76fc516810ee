// make-test-patch: writes a realistic patch for a given source image, for tests, the
// demo and benchmarks.
//
//   make-test-patch [OPTIONS] SOURCE OUTPUT
//   make-test-patch --identity --no-checksums --source-size N OUTPUT
//
//   --target-size N          bytes of target (default 2620872704; the source's size
//                            with --identity)
//   --identity               the target is the source, byte for byte
//   --no-checksums           no Adler-32 in the windows
//   --bad-checksum-window K  window K (from 0) carries a wrong Adler-32
//   --seed N                 edit script seed (default 1)
//   --window-size N          target bytes per window (default 8388608, at most 67108864)
//   --sha256                 print the expected target's SHA-256 on stdout
//   --sha256-file F          write it to F
//   --source-size N          no SOURCE file: an identity patch without checksums for a
//                            source of N bytes, which needs none of its bytes
//   --stats                  print what the edit script holds on stderr
//
// The edit script is deterministic from the seed: changed text runs (ADD), blocks
// moved from elsewhere in the source and the unchanged source itself (COPY from the
// source), fills (RUN), repeats of earlier target bytes (COPY from the target), and
// past the source's end a tail that brings the target to its size.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_patch.h"
#include "vcdiff/decode_types.h"

namespace {

int usage(const char* problem) {
    std::fprintf(stderr, "make-test-patch: %s\n", problem);
    std::fprintf(stderr,
                 "usage: make-test-patch [--target-size N] [--identity] [--no-checksums]\n"
                 "         [--bad-checksum-window K] [--seed N] [--window-size N] [--sha256]\n"
                 "         [--sha256-file F] [--stats] SOURCE OUTPUT\n"
                 "       make-test-patch --identity --no-checksums --source-size N OUTPUT\n");
    return 2;
}

std::optional<std::uint64_t> parse_number(const char* text) {
    if (text == nullptr || *text == '\0' || std::strlen(text) > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
    }
    return value;
}

struct CommandLine {
    TestPatchOptions options;
    bool target_size_given = false;
    bool print_sha256 = false;
    bool print_stats = false;
    std::string sha256_file;
    std::optional<std::uint64_t> source_size;
    std::vector<std::string> paths;
};

// Returns an error text, or an empty string.
std::string parse(int argc, char** argv, CommandLine* line) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        auto number = [&](std::uint64_t* into) {
            const auto value = has_value ? parse_number(argv[++i]) : std::nullopt;
            if (value) *into = *value;
            return value.has_value();
        };
        std::uint64_t value = 0;
        if (arg == "--identity") {
            line->options.identity = true;
        } else if (arg == "--no-checksums") {
            line->options.checksums = false;
        } else if (arg == "--sha256") {
            line->print_sha256 = true;
        } else if (arg == "--stats") {
            line->print_stats = true;
        } else if (arg == "--sha256-file") {
            if (!has_value) return "--sha256-file needs a file name";
            line->sha256_file = argv[++i];
        } else if (arg == "--target-size") {
            if (!number(&line->options.target_size)) return "--target-size needs a number";
            line->target_size_given = true;
        } else if (arg == "--bad-checksum-window") {
            if (!number(&value)) return "--bad-checksum-window needs a number";
            line->options.bad_checksum_window = value;
        } else if (arg == "--seed") {
            if (!number(&line->options.seed)) return "--seed needs a number";
        } else if (arg == "--window-size") {
            if (!number(&line->options.window_size)) return "--window-size needs a number";
        } else if (arg == "--source-size") {
            if (!number(&value)) return "--source-size needs a number";
            line->source_size = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            line->paths.push_back(arg);
        }
    }
    const TestPatchOptions& options = line->options;
    if (line->paths.size() != (line->source_size ? 1u : 2u)) return "wrong number of file names";
    if (options.window_size == 0 || options.window_size > MAX_TARGET_WINDOW) {
        return "--window-size must be 1 to 67108864";
    }
    if (options.identity && line->target_size_given) return "--identity takes the source's size";
    if (!options.checksums && options.bad_checksum_window) return "--bad-checksum-window needs checksums";
    if (line->source_size && (!options.identity || options.checksums || line->print_sha256 ||
                              !line->sha256_file.empty())) {
        return "--source-size is for identity patches without checksums or digest";
    }
    return "";
}

bool write_text_file(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool wrote = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && wrote;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    const std::string problem = parse(argc, argv, &line);
    if (!problem.empty()) return usage(problem.c_str());
    TestPatchOptions& options = line.options;
    const std::string& output_path = line.paths.back();

    PatchSourceFile source;
    if (line.source_size) {
        source.size = *line.source_size;
    } else {
        source.fd = platform_open(line.paths[0].c_str(), OPEN_READ_ONLY);
        const std::int64_t length = source.fd < 0 ? -1 : platform_file_length(source.fd);
        if (length < 0) {
            if (source.fd >= 0) platform_close(source.fd);
            std::fprintf(stderr, "make-test-patch: cannot read %s\n", line.paths[0].c_str());
            return 1;
        }
        source.size = static_cast<std::uint64_t>(length);
    }
    if (options.identity) options.target_size = source.size;
    if (options.bad_checksum_window && *options.bad_checksum_window >= test_patch_window_count(options)) {
        if (source.fd >= 0) platform_close(source.fd);
        return usage("--bad-checksum-window is past the last window");
    }

    std::FILE* output = std::fopen(output_path.c_str(), "wb");
    if (output == nullptr) {
        if (source.fd >= 0) platform_close(source.fd);
        std::fprintf(stderr, "make-test-patch: cannot create %s\n", output_path.c_str());
        return 1;
    }
    std::vector<char> output_buffer(1u << 20);
    std::setvbuf(output, output_buffer.data(), _IOFBF, output_buffer.size());

    const bool want_digest = line.print_sha256 || !line.sha256_file.empty();
    Sha256 hash;
    sha256_start(hash);
    PatchSink sink = sink_to_file(output);
    TestPatchResult result = write_test_patch(options, source, &sink, want_digest ? &hash : nullptr);
    if (std::fclose(output) != 0 && result.ok) {
        result.ok = false;
        result.error = "cannot write the patch";
    }
    if (source.fd >= 0) platform_close(source.fd);
    if (!result.ok) {
        std::remove(output_path.c_str());
        std::fprintf(stderr, "make-test-patch: %s\n", result.error.c_str());
        return 1;
    }

    if (line.print_stats) {
        const TestPatchStats& s = result.stats;
        std::fprintf(stderr,
                     "windows %" PRIu64 ", adds %" PRIu64 " (%" PRIu64 " bytes), runs %" PRIu64
                     ", same-offset copies %" PRIu64 ", moved copies %" PRIu64 ", target copies %" PRIu64
                     ", patch %" PRIu64 " bytes\n",
                     s.windows, s.adds, s.add_bytes, s.runs, s.same_offset_copies, s.moved_copies, s.target_copies,
                     sink.written);
    }
    if (want_digest) {
        const std::string digest = sha256_finish(hash);
        if (line.print_sha256) std::printf("%s\n", digest.c_str());
        if (!line.sha256_file.empty() && !write_text_file(line.sha256_file, digest + "\n")) {
            std::fprintf(stderr, "make-test-patch: cannot write %s\n", line.sha256_file.c_str());
            return 1;
        }
    }
    return 0;
}

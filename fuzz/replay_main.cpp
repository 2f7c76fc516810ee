// Runs every file of the fuzz corpus through the fuzz entry, without libFuzzer, so
// the seeds and the crashes found earlier stay checked in every build; the named
// seeds that are valid patches must also decode to their known output.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_decoder_entry.h"
#include "sha256.h"

namespace {

struct KnownSeed {
    const char* name;
    bool complete;
    std::size_t size;
    const char* sha256;
};

// Digests of the targets worked out from the seeds' instructions when they were written.
const KnownSeed KNOWN_SEEDS[] = {
    {"header_only", true, 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"app_header", true, 10, "f59f6b84765cfd55cb6a6af43b2a12cb7bb5bda368ce0dc4f4c0f5072eb9986a"},
    {"add_run_copy", true, 1435, "a37881877d2bd3b58c3a7a2a986524271f006607f96b756be3955a3c4db25550"},
    {"add_run_copy_bytewise", true, 1435, "a37881877d2bd3b58c3a7a2a986524271f006607f96b756be3955a3c4db25550"},
    {"address_modes", true, 1193, "a865705a0961484e168066e4192623a00bf6fcfef7c7bd46b9fa1283cdd681ce"},
    {"every_opcode", true, 3168, "cfa719b56c91a9f36c89a37c3b0e34a320d9c6c98f521be5e33a17d079aaaf3a"},
    {"long_run", true, 135536, "68ab5f658c0f9fafeda89399bfd241fd691fc6d521b85536c4c95a95582cce82"},
    {"multiple_windows", true, 404, "cd7bfac3faefa5a96b91fbfdcc270dd42941c35a9d8d0eb484d4e41305925edd"},
    {"checksum_not_verified", true, 468, "783b6cde0f2ea135daf92dc7a0d7aa2fbec3e2881d87cceb48a6d226b42af779"},
    {"checksum_mismatch", false, 404, "cd7bfac3faefa5a96b91fbfdcc270dd42941c35a9d8d0eb484d4e41305925edd"},
    {"padded_fields", true, 15, "e5bd99ec54f5c8e057b0898d4feb35437966f41c8c9a44248480d6c7f07a8c79"},
    {"source_windows", true, 20579, "5b6d0661a50251019b1a6a4f94f325ab9db056200262c6dcc938bed56d628df4"},
    {"source_windows_chunked", true, 20579, "5b6d0661a50251019b1a6a4f94f325ab9db056200262c6dcc938bed56d628df4"},
    {"source_windows_block_rounded", true, 20579, "5b6d0661a50251019b1a6a4f94f325ab9db056200262c6dcc938bed56d628df4"},
    {"source_windows_one_block", true, 20579, "5b6d0661a50251019b1a6a4f94f325ab9db056200262c6dcc938bed56d628df4"},
    {"source_windows_unloaded", true, 20579, "5b6d0661a50251019b1a6a4f94f325ab9db056200262c6dcc938bed56d628df4"},
    {"source_windows_callback", true, 20579, "5b6d0661a50251019b1a6a4f94f325ab9db056200262c6dcc938bed56d628df4"},
    {"section_buffer_grows", true, 17300, "0e75e2837b19282d1475d9ea012980c053b42fa5e66a274ed7519209e4660490"},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_corpus_replay CORPUS_FOLDER\n");
        return 2;
    }
    std::size_t count = 0, broken = 0, known_found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ++count;
        FuzzDecoded decoded;
        const int verdict = run_decoder_fuzz_input(bytes.data(), bytes.size(), &decoded);
        std::string problem = verdict != 0 ? "verdict " + std::to_string(verdict) : "";
        for (const KnownSeed& seed : KNOWN_SEEDS) {
            if (entry.path().filename() != seed.name) continue;
            ++known_found;
            Sha256 hash;
            sha256_start(hash);
            sha256_add(hash, decoded.output.data(), decoded.output.size());
            const bool known = decoded.complete == seed.complete && decoded.output.size() == seed.size &&
                               sha256_finish(hash) == seed.sha256;
            if (problem.empty() && !known) problem = "not its known output";
        }
        if (!problem.empty()) {
            ++broken;
            std::fprintf(stderr, "%s: %s\n", entry.path().string().c_str(), problem.c_str());
        }
    }
    const std::size_t known_missing = std::size(KNOWN_SEEDS) - known_found;
    std::printf("%zu passed, %zu failed, %zu known seeds missing\n", count - broken, broken, known_missing);
    return count == 0 || broken != 0 || known_missing != 0 ? 1 : 0;
}

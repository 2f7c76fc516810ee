// Runs every file of the fuzz corpus through the fuzz entry, without libFuzzer, so
// the seeds and the crashes found earlier stay checked in every build.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

// The entry is chosen at build time: the decoder's unless ORV_FUZZ_PATHS is defined.
#ifdef ORV_FUZZ_PATHS
#include "fuzz_paths_entry.h"
#define ORV_FUZZ_ENTRY run_paths_fuzz_input
#else
#include "fuzz_decoder_entry.h"
#define ORV_FUZZ_ENTRY run_decoder_fuzz_input
#endif

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_corpus_replay CORPUS_FOLDER\n");
        return 2;
    }
    std::size_t count = 0;
    std::size_t broken = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ++count;
        const int verdict = ORV_FUZZ_ENTRY(bytes.data(), bytes.size());
        if (verdict != 0) {
            ++broken;
            std::fprintf(stderr, "%s: verdict %d\n", entry.path().string().c_str(), verdict);
        }
    }
    std::printf("%zu passed, %zu failed\n", count - broken, broken);
    return count == 0 || broken != 0 ? 1 : 0;
}

// libFuzzer target: a path helper that breaks its promise stops the run like a crash.
#include <cstdlib>

#include "fuzz_paths_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (run_paths_fuzz_input(data, size) != 0) std::abort();
    return 0;
}

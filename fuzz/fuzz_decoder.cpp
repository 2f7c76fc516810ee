// libFuzzer target: a broken promise of the decoder stops the run like a crash.
#include <cstdlib>

#include "fuzz_decoder_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (run_decoder_fuzz_input(data, size) != 0) std::abort();
    return 0;
}

// One fuzz input through the path helpers and the search's extension matching,
// shared by the libFuzzer target and the corpus replay test.
//
// Input layout: 2 control bytes, then up to two texts separated by a zero byte.
//   0  which helper: drop_path_prefix, cut_path_tail, strip_directories,
//      cut_last_component, join_path, name_matches_extension, fits_in (byte % 7)
//   1  n for drop_path_prefix and cut_path_tail; the buffer capacity for join_path and
//      fits_in (the texts' own buffers are exactly as long as they are, so the
//      sanitizers see any byte written or read past them)
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t PATHS_FUZZ_CONTROL_BYTES = 2;

// 0 when the helper kept its promise (checked against a plain reference), nonzero
// when it broke it. Crashes and overflows are left to the sanitizers.
int run_paths_fuzz_input(const std::uint8_t* data, std::size_t size);

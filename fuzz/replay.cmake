# Normal builds: the replay of the committed corpus through the fuzz entry (no
# libFuzzer needed). Included from tests/vcdiff.
if(CMAKE_CROSSCOMPILING)
  return()   # the replay reads the corpus through Linux paths
endif()
set(ORV_FUZZ_DIR ${PROJECT_SOURCE_DIR}/fuzz)

add_executable(fuzz_corpus_replay ${ORV_FUZZ_DIR}/replay_main.cpp ${ORV_FUZZ_DIR}/fuzz_decoder_entry.cpp)
target_include_directories(fuzz_corpus_replay PRIVATE ${ORV_FUZZ_DIR})
target_link_libraries(fuzz_corpus_replay PRIVATE orvelia_test_support orvelia_tool_common)
add_test(NAME fuzz_corpus_replay COMMAND fuzz_corpus_replay ${ORV_FUZZ_DIR}/corpus/decoder)
set_tests_properties(fuzz_corpus_replay PROPERTIES LABELS "unit;vcdiff;fuzz")

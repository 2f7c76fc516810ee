# Sources of this folder, added to orvelia_core.
target_sources(orvelia_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decode_step.cpp
  ${CMAKE_CURRENT_LIST_DIR}/code_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/instructions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/source_blocks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_completion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/adler32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/adler32_x86.cpp
  ${CMAKE_CURRENT_LIST_DIR}/result_names.cpp
)
target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/apply_patch.cpp ${CMAKE_CURRENT_LIST_DIR}/source_reader.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/window_memory.cpp)

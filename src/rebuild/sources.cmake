# Sources of this folder, added to orvelia_core.
target_sources(orvelia_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/output_append.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_relocation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_bank_split.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rebuild_steps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rebuild_script.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_facts.cpp)

# The tables are compiled in: the .tsv files become a .cpp when CMake configures,
# and a change to any of them configures again.
set(orv_rebuild_table_files
  ${CMAKE_CURRENT_LIST_DIR}/relocation_targets.tsv
  ${CMAKE_CURRENT_LIST_DIR}/relocation_sources.tsv
  ${CMAKE_CURRENT_LIST_DIR}/sound_banks.tsv)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${orv_rebuild_table_files} ${CMAKE_CURRENT_LIST_DIR}/generate_rebuild_tables.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/generate_rebuild_tables.cmake)
orv_generate_rebuild_tables(${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_BINARY_DIR}/rebuild_tables.cpp)
target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/rebuild_tables.cpp)

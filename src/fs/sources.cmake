# Sources of this folder, added to orvelia_core.
target_sources(orvelia_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_access.cpp
  ${CMAKE_CURRENT_LIST_DIR}/path_helpers.cpp)

# Sources of this folder, added to orvelia_core.
target_sources(orvelia_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp
  ${CMAKE_CURRENT_LIST_DIR}/code_page_850.cpp)

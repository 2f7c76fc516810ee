# Sources of this folder, added to orvelia_core.
target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/progress_line.cpp)

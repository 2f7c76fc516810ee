target_sources(orvelia_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/identification.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_crc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preflight.cpp
  ${CMAKE_CURRENT_LIST_DIR}/failure_reasons.cpp
  ${CMAKE_CURRENT_LIST_DIR}/messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/find_and_patch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/run_patching.cpp)

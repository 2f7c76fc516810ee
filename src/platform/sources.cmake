# Sources of this folder, added to orvelia_core.
if(WIN32)
  target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/file_mapping_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/large_blocks_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/wide_names_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/console_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/run_checks_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/handle_info_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/hold_wait_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/entry_names_windows.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/file_failure_windows.cpp)
else()
  target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform_posix.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/file_mapping_posix.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/large_blocks_posix.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/console_posix.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/run_checks_posix.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/write_out_posix.cpp)
endif()
target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/platform_streams.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/console_print.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/file_failure.cpp)
# Empty unless ORV_FAULT_INJECTION is defined (the _faults variant of the library).
target_sources(orvelia_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fault_injection.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/fault_roles.cpp)

# orv_add_unit_test(NAME SOURCES file... [LIBS lib...] [LABELS label...])
# One GoogleTest executable, linked with the core library (or with orvelia_core_faults when
# LIBS names it), registered with CTest under the label "unit" and the LABELS given.
if(CMAKE_CROSSCOMPILING)
  # Debian ships GoogleTest as sources: build them with the cross toolchain.
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    target_compile_options(gtest PRIVATE -w)
    target_compile_options(gtest_main PRIVATE -w)
  endif()
  set(ORV_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(ORV_GTEST_LIBS GTest::gtest GTest::gtest_main)
  include(GoogleTest)
endif()

# orv_discover_tests(TARGET [TEST_PREFIX prefix] [TEST_FILTER filter] [EXTRA_ARGS arg...]
#                    [LABELS label...] [PROPERTIES name value...])
# Linux builds: gtest_discover_tests, each test case its own CTest test, with every label.
# The labels are set by a script of our own that CTest reads after the discovered tests:
# a list handed to gtest_discover_tests through PROPERTIES loses its separators on the way,
# and every label after the first would be taken for a property name.
function(orv_discover_tests target)
  cmake_parse_arguments(ARG "" "TEST_PREFIX;TEST_FILTER" "EXTRA_ARGS;LABELS;PROPERTIES" ${ARGN})
  string(MAKE_C_IDENTIFIER "${target}_${ARG_TEST_PREFIX}${ARG_TEST_FILTER}tests" list_var)
  set(filter "")
  if(ARG_TEST_FILTER)
    set(filter TEST_FILTER "${ARG_TEST_FILTER}")
  endif()
  set(properties "")
  if(ARG_PROPERTIES)
    set(properties PROPERTIES ${ARG_PROPERTIES})
  endif()
  gtest_discover_tests(${target}
    TEST_PREFIX "${ARG_TEST_PREFIX}"
    ${filter}
    EXTRA_ARGS ${ARG_EXTRA_ARGS}
    ${properties}
    TEST_LIST ${list_var}
    DISCOVERY_TIMEOUT 60)
  if(ARG_LABELS)
    set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${list_var}_labels.cmake")
    file(WRITE "${label_script}"
         "if(${list_var})\n"
         "  set_tests_properties(\${${list_var}} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
  endif()
endfunction()

function(orv_add_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # A test that asks for the fault-injection library gets it instead of the plain one: the
  # two hold the same symbols and must not be mixed in one executable.
  set(core orvelia_core)
  if(orvelia_core_faults IN_LIST ARG_LIBS)
    set(core "")
  endif()
  target_link_libraries(${name} PRIVATE ${core} ${ARG_LIBS} ${ORV_GTEST_LIBS})
  set(labels unit ${ARG_LABELS})
  if(CMAKE_CROSSCOMPILING)
    # Listing the tests would start the emulator once more per build: register the whole executable.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${labels}")
  else()
    orv_discover_tests(${name} LABELS ${labels})
  endif()
endfunction()

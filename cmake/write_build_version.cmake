# Writes the header that holds the program's version line, at every build, so that the
# commit it names is the one the program is built from. The file is rewritten only when
# its text changes, so an unchanged commit rebuilds nothing.
#   cmake -DOUTPUT=<header> -DVERSION=<x.y.z> [-DCOMMIT=<commit>] -DSOURCE_DIR=<tree> -P write_build_version.cmake
# Without COMMIT, git names the checked-out commit, with "-dirty" when the tree has
# changes, and "unknown" outside a git checkout.

if(NOT COMMIT)
  set(COMMIT unknown)
  find_program(GIT_COMMAND git)
  if(GIT_COMMAND)
    # No lock on the index: a build must never get in the way of a git command.
    set(ENV{GIT_OPTIONAL_LOCKS} 0)
    execute_process(COMMAND ${GIT_COMMAND} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE head RESULT_VARIABLE head_status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(head_status EQUAL 0 AND head MATCHES "^[0-9a-f]+$")
      set(COMMIT ${head})
      execute_process(COMMAND ${GIT_COMMAND} -C ${SOURCE_DIR} status --porcelain
                      OUTPUT_VARIABLE changes RESULT_VARIABLE status_status ERROR_QUIET)
      if(NOT status_status EQUAL 0 OR NOT changes STREQUAL "")
        string(APPEND COMMIT -dirty)
      endif()
    endif()
  endif()
endif()

# Plain ASCII: it goes to the console as it is, on every system.
if(NOT "${VERSION} ${COMMIT}" MATCHES "^[0-9.]+ [0-9A-Za-z._-]+$")
  message(FATAL_ERROR "version '${VERSION}' or commit '${COMMIT}' is not plain ASCII")
endif()
string(CONCAT text "// Made by cmake/write_build_version.cmake at build time.\n#pragma once\n\n"
         "inline constexpr char BUILD_VERSION_LINE[] = \"orvelia-patcher ${VERSION} (commit ${COMMIT})\\n\";\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old_text)
  if(old_text STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${text}")

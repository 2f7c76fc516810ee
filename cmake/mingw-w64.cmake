# Cross build of the Windows program with Debian's mingw-w64 (x86_64).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The -posix compilers use winpthreads, which GoogleTest's thread support needs; the
# top-level CMakeLists links everything statically, so the .exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORV_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(ORV_MINGW_CXX NAMES ${ORV_MINGW_TRIPLET}-g++-posix ${ORV_MINGW_TRIPLET}-g++ REQUIRED)
find_program(ORV_MINGW_CC NAMES ${ORV_MINGW_TRIPLET}-gcc-posix ${ORV_MINGW_TRIPLET}-gcc REQUIRED)
find_program(ORV_MINGW_RC NAMES ${ORV_MINGW_TRIPLET}-windres)
set(CMAKE_CXX_COMPILER ${ORV_MINGW_CXX})
set(CMAKE_C_COMPILER ${ORV_MINGW_CC})
if(ORV_MINGW_RC)
  set(CMAKE_RC_COMPILER ${ORV_MINGW_RC})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${ORV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs the Windows executables through Wine; the wrapper gives them a quiet,
# prepared prefix of their own.
get_filename_component(ORV_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ORV_SOURCE_ROOT}/scripts/wine-run")

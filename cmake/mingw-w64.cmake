# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread model, for std::thread),
# tests run under Wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# tools/windows.sh does this and runs the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# Libraries and headers of the target only; programs (the build's own tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest starts every test program through Wine (wine64 itself: /usr/bin/wine asks for wine32 first).
find_program(MORVANDELL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(MORVANDELL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVANDELL_WINE64})
endif()

# nlohmann/json is header only: Debian's copy serves the cross build too, through a package file that
# offers its headers alone (Debian's own would put all of /usr/include on the MinGW include path).
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/nlohmann_json CACHE PATH "nlohmann_json for the cross build")

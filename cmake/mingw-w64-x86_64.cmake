# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model: the win32 one has
# no std::mutex or std::thread). Everything is linked statically, so the .exe needs only the
# system's own DLLs.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(COMPACTOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${COMPACTOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${COMPACTOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${COMPACTOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${COMPACTOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs (and gtest_discover_tests' listing) run under Wine.
find_program(COMPACTOR_WINE wine)
if(COMPACTOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${COMPACTOR_WINE})
endif()

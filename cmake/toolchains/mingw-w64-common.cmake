# Shared part of the mingw-w64 cross toolchains; the per-architecture files set
# PELMORA_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR, then include this file.
#
# The posix thread-model variants of Debian's compilers are used: GCC 12's win32 variant has no
# std::thread or std::mutex. Everything is linked statically (libgcc, libstdc++, winpthread), so
# pelmora.dll and the test programs import nothing but system DLLs.

set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${PELMORA_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${PELMORA_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${PELMORA_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${PELMORA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The PE header's link time stamp is left 0, so the same sources link to the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Test programs cannot run on the build machine; list their cases only when ctest runs them.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# find_package(GTest) is answered by building Debian's googletest sources for the target.
list(APPEND CMAKE_PROJECT_TOP_LEVEL_INCLUDES "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-gtest.cmake")
list(REMOVE_DUPLICATES CMAKE_PROJECT_TOP_LEVEL_INCLUDES)

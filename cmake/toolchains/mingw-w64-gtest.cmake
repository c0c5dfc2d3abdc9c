# Included at the first project() of a mingw-w64 cross build: installs a dependency provider that
# answers find_package(GTest) with Debian's googletest sources built for the target, since the
# host's libgtest cannot link into Windows programs.

set(PELMORA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources to build for the target")

macro(pelmora_provide_gtest method package)
  if("${package}" STREQUAL "GTest" AND NOT TARGET GTest::gtest)
    if(NOT EXISTS "${PELMORA_GTEST_SOURCE_DIR}/CMakeLists.txt")
      message(FATAL_ERROR "googletest sources not found in ${PELMORA_GTEST_SOURCE_DIR} (Debian package googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory("${PELMORA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL)
    set(GTest_FOUND TRUE)
  elseif("${package}" STREQUAL "GTest")
    set(GTest_FOUND TRUE)
  endif()
endmacro()

cmake_language(SET_DEPENDENCY_PROVIDER pelmora_provide_gtest SUPPORTED_METHODS FIND_PACKAGE)

# Project-wide compile settings, applied through interface targets rather than global state.

add_library(pelmora_warnings INTERFACE)
add_library(pelmora::warnings ALIAS pelmora_warnings)
if(MSVC)
  target_compile_options(pelmora_warnings INTERFACE /W4 $<$<BOOL:${PELMORA_WERROR}>:/WX>)
else()
  target_compile_options(pelmora_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
    -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual -Wformat=2
    $<$<BOOL:${PELMORA_WERROR}>:-Werror>)
endif()

# Exact IEEE arithmetic: no contraction into FMA, no fast-math.
add_library(pelmora_exact_fp INTERFACE)
add_library(pelmora::exact_fp ALIAS pelmora_exact_fp)
if(NOT MSVC)
  target_compile_options(pelmora_exact_fp INTERFACE -ffp-contract=off -fno-fast-math)
endif()

# AddressSanitizer and UndefinedBehaviorSanitizer (PELMORA_SANITIZE) for every target that takes
# the project's warnings, which is every target the project compiles.
add_library(pelmora_sanitize INTERFACE)
add_library(pelmora::sanitize ALIAS pelmora_sanitize)
if(PELMORA_SANITIZE)
  target_compile_options(pelmora_sanitize INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=all)
  target_link_options(pelmora_sanitize INTERFACE -fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # Clang links its sanitizer runtime into executables only; shared libraries linked with
    # --no-undefined need the shared runtime, found at run time through the rpath.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-x86_64.so
                    OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(asan_runtime_dir "${asan_runtime}" DIRECTORY)
    target_link_options(pelmora_sanitize INTERFACE -shared-libasan "-Wl,-rpath,${asan_runtime_dir}")
  endif()
endif()
if(PELMORA_BUILD_FUZZ)
  # Coverage for the fuzzer in every library; the fuzz targets link libFuzzer itself.
  target_compile_options(pelmora_sanitize INTERFACE -fsanitize=fuzzer-no-link)
endif()
target_link_libraries(pelmora_warnings INTERFACE pelmora_sanitize)

# The Windows files that ship name no folder of the machine that built them (assertion texts,
# __FILE__): the source and build folders are mapped to fixed names, so the same sources compiled
# anywhere give the same bytes.
add_library(pelmora_reproducible INTERFACE)
if(WIN32 AND NOT MSVC)
  target_compile_options(pelmora_reproducible INTERFACE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=src/"
                                                        "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=build/")
endif()
target_link_libraries(pelmora_warnings INTERFACE pelmora_reproducible)

# pelmora_add_test(NAME SOURCES... LIBS...): a GoogleTest executable with the strict warnings.
function(pelmora_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS;LABELS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} pelmora::warnings GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${arg_LABELS}")
endfunction()

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
endif()
target_link_libraries(pelmora_warnings INTERFACE pelmora_sanitize)

# pelmora_add_test(NAME SOURCES... LIBS...): a GoogleTest executable with the strict warnings.
function(pelmora_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS;LABELS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} pelmora::warnings GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${arg_LABELS}")
endfunction()

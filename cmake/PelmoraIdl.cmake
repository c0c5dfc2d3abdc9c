# Compiling an IDL file with widl (Debian's mingw-w64-tools) into a C/C++ header and a type
# library, and carrying a type library inside a Linux shared library.
#
#   pelmora_compile_idl(<target> IDL <file.idl> HEADER <name.h> TLB <name.tlb>
#                       [ARCH win32|win64] [TYPEFLAGS <type name> <flags> ...])
#     Defines the INTERFACE target <target> whose include directory holds the generated header,
#     and sets the target property PELMORA_TLB to the full path of the generated .tlb.
#     ARCH selects widl's --win32/--win64 (the syskind and pointer size written into the type
#     library); without it widl's default (win64 on this toolchain) is used.
#     TYPEFLAGS: type flags widl refuses to write (nonextensible on a dispinterface), set in the
#     .tlb right after widl by tools/tlb_typeflags.cpp, which finds each type by its name and
#     fails the build when it cannot. Pairs of a type's name and the flags to add (0x80 is
#     TYPEFLAG_FNONEXTENSIBLE).
#
#   pelmora_idl_class_header(<target> IDL <file.idl> HEADER <name.h> PREFIX <PREFIX>)
#     Writes, beside <target>'s generated header, <name.h> with what the IDL's one coclass declares
#     for registration but no type library carries: <PREFIX>_PROGID (progid), <PREFIX>_VI_PROGID
#     (vi_progid) and <PREFIX>_THREADING_MODEL (threading, as the registry's ThreadingModel value
#     spells it), as C string literals. Read when CMake configures; an edit of the IDL reconfigures.
#
#   pelmora_embed_typelib(<target> <tlb>)
#     Linux: adds the .tlb to <target> as the ELF section ".typelib", where LoadTypeLibEx finds it
#     when given the library's own path (Windows carries it as the TYPELIB resource instead).

#
#   pelmora_com_objects(<target>)
#     For targets that implement COM interfaces: COM objects are destroyed by their own Release,
#     never deleted through an interface pointer, and the interfaces (by their binary contract)
#     have no virtual destructor, so -Wnon-virtual-dtor does not apply to them. Set on the
#     target's sources, where it follows the project's warning options on the command line.
#     Call it after all sources are added.

function(pelmora_com_objects target)
  if(MSVC)
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  foreach(src IN LISTS sources)
    if(src MATCHES "\\.(cpp|cc|cxx)$")
      if(NOT IS_ABSOLUTE "${src}")
        set(src "${dir}/${src}")
      endif()
      set_property(SOURCE "${src}" DIRECTORY "${dir}" APPEND PROPERTY COMPILE_OPTIONS -Wno-non-virtual-dtor)
    endif()
  endforeach()
endfunction()

find_program(PELMORA_WIDL NAMES x86_64-w64-mingw32-widl i686-w64-mingw32-widl widl REQUIRED)
set(PELMORA_WIDL_IDL_DIR "/usr/include/wine/wine/windows" CACHE PATH
    "System IDL files for widl (oaidl.idl, ocidl.idl); never given to the C++ compiler")
set(PELMORA_WIDL_TLB_DIR "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows" CACHE PATH
    "Folder holding stdole2.tlb for importlib")

# widl writes the time it ran into a type library ("Created by WIDL ... at ..."); with faketime
# (Debian's faketime) its clock is held at one fixed instant, so that the type library, and the DLL
# that carries it, depend on the IDL alone.
find_program(PELMORA_FAKETIME faketime)
if(PELMORA_FAKETIME)
  set(PELMORA_WIDL_CLOCK ${CMAKE_COMMAND} -E env TZ=UTC "${PELMORA_FAKETIME}" -f "2000-01-01 00:00:00")
else()
  set(PELMORA_WIDL_CLOCK)
  message(STATUS "widl: no faketime, so each type library carries the time it was made")
endif()

set(PELMORA_TYPEFLAGS_SOURCE "${CMAKE_CURRENT_LIST_DIR}/../tools/tlb_typeflags.cpp")

# The type-flag tool runs on the build machine, so it is compiled with the build machine's own
# compiler also in a cross build.
function(pelmora_typeflags_tool out)
  set(tool "${CMAKE_BINARY_DIR}/tools/tlb-typeflags")
  if(NOT TARGET pelmora_typeflags_tool)
    if(CMAKE_CROSSCOMPILING)
      find_program(PELMORA_BUILD_CXX NAMES c++ g++ clang++ REQUIRED)
    else()
      set(PELMORA_BUILD_CXX "${CMAKE_CXX_COMPILER}")
    endif()
    get_filename_component(source "${PELMORA_TYPEFLAGS_SOURCE}" ABSOLUTE)
    add_custom_command(
      OUTPUT "${tool}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/tools"
      COMMAND "${PELMORA_BUILD_CXX}" -std=c++17 -O1 -Wall -Wextra -Werror -o "${tool}" "${source}"
      DEPENDS "${source}"
      COMMENT "tlb-typeflags (for the build machine)"
      VERBATIM)
    add_custom_target(pelmora_typeflags_tool DEPENDS "${tool}")
  endif()
  set(${out} "${tool}" PARENT_SCOPE)
endfunction()

function(pelmora_compile_idl target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "IDL;HEADER;TLB;ARCH" "TYPEFLAGS")
  get_filename_component(idl "${arg_IDL}" ABSOLUTE)
  set(outdir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  set(header "${outdir}/include/${arg_HEADER}")
  set(tlb "${outdir}/${arg_TLB}")
  set(arch_flag)
  if(arg_ARCH STREQUAL "win32")
    set(arch_flag --win32)
  elseif(arg_ARCH STREQUAL "win64")
    set(arch_flag --win64)
  elseif(arg_ARCH)
    message(FATAL_ERROR "pelmora_compile_idl: ARCH must be win32 or win64")
  endif()
  set(flag_steps)
  set(flag_tool)
  list(LENGTH arg_TYPEFLAGS n)
  math(EXPR odd "${n} % 2")
  if(odd)
    message(FATAL_ERROR "pelmora_compile_idl: TYPEFLAGS takes pairs of a type name and flags")
  endif()
  if(n GREATER 0)
    pelmora_typeflags_tool(flag_tool)
    math(EXPR last "${n} - 1")
    foreach(i RANGE 0 ${last} 2)
      math(EXPR j "${i} + 1")
      list(GET arg_TYPEFLAGS ${i} type_name)
      list(GET arg_TYPEFLAGS ${j} type_flags)
      list(APPEND flag_steps COMMAND "${flag_tool}" "${tlb}" "${type_name}" "${type_flags}")
    endforeach()
  endif()
  add_custom_command(
    OUTPUT "${header}" "${tlb}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${outdir}/include"
    COMMAND ${PELMORA_WIDL_CLOCK} "${PELMORA_WIDL}" ${arch_flag} -I "${PELMORA_WIDL_IDL_DIR}" -L "${PELMORA_WIDL_TLB_DIR}"
            -h -H "${header}" -t -T "${tlb}" "${idl}"
    ${flag_steps}
    DEPENDS "${idl}" ${flag_tool}
    COMMENT "widl ${arg_IDL}"
    VERBATIM)
  add_custom_target(${target}_generate DEPENDS "${header}" "${tlb}")
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_generate)
  # Generated code: included as a system header so the strict warnings do not apply to it.
  target_include_directories(${target} SYSTEM INTERFACE "$<BUILD_INTERFACE:${outdir}/include>")
  set_target_properties(${target} PROPERTIES PELMORA_TLB "${tlb}")
endfunction()

function(pelmora_idl_class_header target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "IDL;HEADER;PREFIX" "")
  get_filename_component(idl "${arg_IDL}" ABSOLUTE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${idl}")
  file(READ "${idl}" text)
  string(REGEX MATCHALL "[^_a-z]progid\\(\"[^\"]*\"\\)" progids "${text}")
  string(REGEX MATCHALL "vi_progid\\(\"[^\"]*\"\\)" vi_progids "${text}")
  string(REGEX MATCHALL "threading\\([a-z]+\\)" threadings "${text}")
  foreach(list progids vi_progids threadings)
    list(LENGTH ${list} n)
    if(NOT n EQUAL 1)
      message(FATAL_ERROR "pelmora_idl_class_header: ${arg_IDL} must declare one coclass with progid, vi_progid and "
                          "threading (found ${n} of ${list})")
    endif()
  endforeach()
  string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" progid "${progids}")
  string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" vi_progid "${vi_progids}")
  string(REGEX REPLACE "threading\\(([a-z]+)\\)" "\\1" threading "${threadings}")
  set(models apartment Apartment free Free both Both neutral Neutral)
  list(FIND models "${threading}" i)
  if(i LESS 0)
    message(FATAL_ERROR "pelmora_idl_class_header: threading(${threading}) in ${arg_IDL} has no ThreadingModel value")
  endif()
  math(EXPR i "${i} + 1")
  list(GET models ${i} model)
  get_filename_component(name "${idl}" NAME)
  file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${target}/include/${arg_HEADER}" CONTENT
"/* Generated from ${name}: its coclass's ProgIDs and threading model, which registration writes. */
#pragma once
#define ${arg_PREFIX}_PROGID \"${progid}\"
#define ${arg_PREFIX}_VI_PROGID \"${vi_progid}\"
#define ${arg_PREFIX}_THREADING_MODEL \"${model}\"
" @ONLY)
endfunction()

function(pelmora_embed_typelib target tlb)
  if(WIN32)
    return()
  endif()
  set(src "${CMAKE_CURRENT_BINARY_DIR}/${target}_typelib.cpp")
  file(GENERATE OUTPUT "${src}" CONTENT
"// Generated: the type library, carried in the ELF section .typelib.
asm(\".pushsection .typelib,\\\"a\\\",@progbits\\n\"
    \".incbin \\\"${tlb}\\\"\\n\"
    \".popsection\\n\");
")
  target_sources(${target} PRIVATE "${src}")
  set_source_files_properties("${src}" PROPERTIES OBJECT_DEPENDS "${tlb}" GENERATED TRUE)
endfunction()

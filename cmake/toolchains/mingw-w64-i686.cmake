# Cross build for 32-bit x86 Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PELMORA_MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")

# Doubles in SSE2 registers, never the x87 stack: x87 keeps 80-bit intermediates, which would make
# the calculators' results differ from the 64-bit builds. Windows callers only guarantee a 4-byte
# aligned stack, so functions that need more realign it themselves.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

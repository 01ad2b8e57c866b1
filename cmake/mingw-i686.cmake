# Cross build for 32-bit Windows with the MinGW-w64 "-posix" compilers (std::thread needs them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOVI_MINGW_PREFIX i686-w64-mingw32)
# No identical-code folding: on i686 GCC 12 merges a member function (thiscall) with a static one
# (cdecl) whose bodies compile alike, and a call through the other convention then leaves the stack
# a slot off. cmake/folded_functions.py checks every shipped binary for such a pair.
set(CMAKE_C_FLAGS_INIT "-fno-ipa-icf")
set(CMAKE_CXX_FLAGS_INIT "-fno-ipa-icf")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

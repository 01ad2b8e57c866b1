set(CMAKE_C_COMPILER ${TOVI_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVI_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVI_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOVI_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
# Headers only: header-only libraries from the host (RapidJSON) serve the cross build too.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static C and C++ runtime and winpthread: the programs must import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

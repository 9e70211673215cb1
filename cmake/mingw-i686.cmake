# Cross build of the 32-bit Windows console program with Debian's mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(FOLIO_MINGW_PREFIX i686-w64-mingw32)
# The posix threads variant: the one whose C++ runtime has std::thread and
# friends, should anything use them.
set(CMAKE_C_COMPILER ${FOLIO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FOLIO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FOLIO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FOLIO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

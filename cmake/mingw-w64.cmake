# The part of the Windows cross toolchains that both share: Debian's mingw-w64 compilers of the
# posix threading model for ZAVN_MINGW_TRIPLE, and its sysroot for libraries and headers.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZAVN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZAVN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZAVN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZAVN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

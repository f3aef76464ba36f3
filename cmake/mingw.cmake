# Cross build for Windows with mingw-w64, shared by both architectures'
# toolchain files, which set ZEPHRA_MINGW_ARCH (i686 or x86_64) first.
# The -posix drivers carry std::thread/std::mutex, which GoogleTest needs; the
# shipped program does not use them but is built by the same compiler so that
# one toolchain serves all.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZEPHRA_MINGW_ARCH})
set(triple ${ZEPHRA_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER   ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under Wine through a wrapper that fixes the prefix, the
# ANSI code page (932) and the display; see scripts/wine-run.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)

# The shipped launcher: 32-bit Windows (PE32), build/win32.
set(ZEPHRA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

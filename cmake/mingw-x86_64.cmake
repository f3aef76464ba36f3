# The same source for 64-bit Windows (PE32+), build/win64: the Windows suite
# runs on hosts that cannot execute 32-bit x86 code.
set(ZEPHRA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

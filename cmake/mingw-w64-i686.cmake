# Cross build of the 32-bit x86 Windows DLL (g++-mingw-w64-i686), the one
# 32-bit hosts load.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTOVATIFF_TARGET_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

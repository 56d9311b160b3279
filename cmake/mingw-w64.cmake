# What both Windows toolchains share: Debian's mingw-w64 for the triple the
# toolchain file set (g++-mingw-w64-*, mingw-w64-tools for widl). Tests run
# under wine where it is installed.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTOVATIFF_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KESTOVATIFF_TARGET_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${KESTOVATIFF_TARGET_TRIPLE}-windres)
set(KESTOVATIFF_WIDL ${KESTOVATIFF_TARGET_TRIPLE}-widl)
set(KESTOVATIFF_OBJDUMP ${KESTOVATIFF_TARGET_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTOVATIFF_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine starts 32-bit and 64-bit programs alike once wine32 is
# installed; wine64 alone runs only 64-bit ones.
find_program(KESTOVATIFF_WINE NAMES wine wine64)
if(KESTOVATIFF_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTOVATIFF_WINE})
endif()

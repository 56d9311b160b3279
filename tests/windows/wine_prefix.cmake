# Makes the wine prefix that both Windows builds' tests share, with
# `wineboot -i`, unless it is there already. A prefix that 64-bit wine made
# alone has no 32-bit system folder and stops working once wine32 is
# installed: such a prefix, if made here, is made again.
# Run as: cmake -DWINEPREFIX=DIR -P wine_prefix.cmake
if(NOT WINEPREFIX)
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
get_filename_component(parent "${WINEPREFIX}" DIRECTORY)
file(MAKE_DIRECTORY "${parent}")
# Two test runs at once make it once.
file(LOCK "${WINEPREFIX}.lock" GUARD PROCESS TIMEOUT 900)

set(stamp "${WINEPREFIX}/made-for-kestovatiff")
# Debian's wine32:i386 puts the 32-bit loader here.
if(EXISTS "${WINEPREFIX}/system.reg" AND EXISTS /usr/lib/wine/wine
   AND NOT EXISTS "${WINEPREFIX}/drive_c/windows/syswow64/kernel32.dll")
  if(NOT EXISTS "${stamp}")
    message(FATAL_ERROR "${WINEPREFIX} has no 32-bit system: remove it, or choose another prefix")
  endif()
  message(STATUS "${WINEPREFIX} was made without wine32: making it again")
  file(REMOVE_RECURSE "${WINEPREFIX}")
endif()
if(EXISTS "${WINEPREFIX}/system.reg")
  message(STATUS "wine prefix: ${WINEPREFIX}")
  return()
endif()

find_program(wineboot NAMES wineboot REQUIRED)
find_program(wineserver NAMES wineserver REQUIRED)
set(ENV{WINEPREFIX} "${WINEPREFIX}")
set(ENV{WINEDEBUG} "-all")
string(TIMESTAMP started "%s")
execute_process(COMMAND ${wineboot} -i RESULT_VARIABLE failed)
# wineboot returns before the prefix is finished: wait for its server.
execute_process(COMMAND ${wineserver} -w)
if(failed OR NOT EXISTS "${WINEPREFIX}/system.reg")
  message(FATAL_ERROR "wineboot -i could not make ${WINEPREFIX}")
endif()
file(TOUCH "${stamp}")
string(TIMESTAMP finished "%s")
math(EXPR seconds "${finished} - ${started}")
message(STATUS "wine prefix made in ${seconds} s: ${WINEPREFIX}")

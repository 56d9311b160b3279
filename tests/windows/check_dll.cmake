# Fails unless the DLL is exactly the module its hosts know: its machine,
# name, ordinals, the system DLLs it imports, version strings, string 101
# and the type library. Run as:
#   cmake -DOBJDUMP=... -DWINDRES=... -DDLL=... -DFORMAT=pei-i386|pei-x86-64 -P
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${DLL}")
endif()
set(problems "")
macro(expect text where what)
  string(FIND "${${where}}" "${text}" at)
  if(at EQUAL -1)
    string(APPEND problems "\n  ${what}: expected ${text}")
  endif()
endmacro()

string(REGEX MATCH "file format ([^\n]+)" _ "${headers}")
if(NOT CMAKE_MATCH_1 STREQUAL FORMAT)
  string(APPEND problems "\n  machine: expected ${FORMAT}, found '${CMAKE_MATCH_1}'")
endif()

# Only the system's own DLLs: the C++ runtime and zlib are linked in.
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(SORT imports)
if(NOT imports STREQUAL "KERNEL32.dll;msvcrt.dll")
  string(APPEND problems "\n  imports: expected KERNEL32.dll;msvcrt.dll, found ${imports}")
endif()

# The export table.
string(REGEX MATCH "Name[ \t]+[0-9a-fA-F]+ ([^\n]+)" _ "${headers}")
if(NOT CMAKE_MATCH_1 STREQUAL "KESTOVATIFF.dll")
  string(APPEND problems "\n  module name: expected KESTOVATIFF.dll, found '${CMAKE_MATCH_1}'")
endif()
string(REGEX MATCH "Ordinal Base ([0-9]+)" _ "${headers}")
set(base ${CMAKE_MATCH_1})
# The names, from the table that lists them up to the blank line after it.
string(FIND "${headers}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${headers}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\\[ *([0-9]+)\\] ([A-Za-z0-9_@?]+)" names "${table}")
set(exports "")
foreach(entry IN LISTS names)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${entry}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND exports "${CMAKE_MATCH_2}@${ordinal}")
endforeach()
# Listed by name; the first two at their ordinals since the first DLL,
# KestovaConvert at the next.
list(SORT exports)
if(NOT exports STREQUAL "Bmp2Tiff@1;KestovaConvert@3;Tiff2Bmp@2")
  string(APPEND problems "\n  exports: expected Bmp2Tiff@1;KestovaConvert@3;Tiff2Bmp@2, found ${exports}")
endif()

# The resources, as windres reads them back.
execute_process(COMMAND ${WINDRES} -i ${DLL} -O rc OUTPUT_VARIABLE rc RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${WINDRES} could not read the resources of ${DLL}")
endif()
foreach(text
    "FILEVERSION 1, 0, 0, 1" "PRODUCTVERSION 1, 0, 0, 1" "LANGUAGE 9, 1" "BLOCK \"040904b0\""
    "VALUE \"CompanyName\", \"\"" "VALUE \"FileDescription\", \"KestovaTIFF DLL\""
    "VALUE \"FileVersion\", \"1, 0, 0, 1\"" "VALUE \"InternalName\", \"KestovaTIFF\""
    "VALUE \"LegalTrademarks\", \"\"" "VALUE \"OLESelfRegister\", \"\""
    "VALUE \"OriginalFilename\", \"KestovaTIFF.DLL\""
    "VALUE \"ProductName\", \"KestovaTIFF Dynamic Link Library\""
    "VALUE \"ProductVersion\", \"1, 0, 0, 1\"" "VALUE \"Translation\", 0x409, 1200"
    "101, \"Windows sockets initialization failed.\"" "1 \"TYPELIB\"")
  expect("${text}" rc "resources")
endforeach()

# The type library's name, "KestovaTIFFW", is in its bytes, which windres
# prints as little-endian 32-bit words ("Kest" is 0x7473654b).
string(FIND "${rc}" "1 \"TYPELIB\"" at)
if(NOT at EQUAL -1)
  string(SUBSTRING "${rc}" ${at} -1 typelib)
  string(FIND "${typelib}" "END" end)
  string(SUBSTRING "${typelib}" 0 ${end} typelib)
  string(REGEX MATCHALL "0x[0-9a-fA-F]+" words "${typelib}")
  set(bytes "")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 2 -1 digits)
    string(LENGTH "${digits}" length)
    math(EXPR pad "8 - ${length}")
    string(REPEAT "0" ${pad} zeros)
    set(digits "${zeros}${digits}")
    foreach(from 6 4 2 0)
      string(SUBSTRING "${digits}" ${from} 2 byte)
      string(APPEND bytes "${byte}")
    endforeach()
  endforeach()
  string(TOLOWER "${bytes}" bytes)
  string(FIND "${bytes}" "4b6573746f76615449464657" named)  # K e s t o v a T I F F W
  if(named EQUAL -1)
    string(APPEND problems "\n  type library: the name KestovaTIFFW is not in it")
  endif()
endif()

if(problems)
  message(FATAL_ERROR "the DLL is not as its hosts know it:${problems}")
endif()
message(STATUS "KESTOVATIFF.dll (${FORMAT}): exports ${exports}; imports ${imports}; version 1.0.0.1; string 101; type library KestovaTIFFW")

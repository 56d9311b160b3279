# Compiles the C# declarations and call shown in a page (the first ```csharp
# block) with Mono and runs them against the built library, so the struct's
# layout, the calling convention and the UTF-16 strings are checked as a
# .NET caller gets them. Arguments: -DPAGE= -DLIBRARY= -DMCS= -DMONO= -DHOST= -DWORK=
file(READ "${PAGE}" page)
string(REGEX MATCH "```csharp\n(.*)" rest "${page}")
string(REGEX REPLACE "\n```.*" "" block "${CMAKE_MATCH_1}")
if(block STREQUAL "")
  message(FATAL_ERROR "no ```csharp block in ${PAGE}")
endif()
# The declarations come first, then a blank line, then the call.
string(FIND "${block}" "\n\n" split)
string(SUBSTRING "${block}" 0 ${split} declarations)
math(EXPR split "${split} + 2")
string(SUBSTRING "${block}" ${split} -1 call)
string(REGEX REPLACE "@\"[^\"]*\\.tif\"" "args[0]" call "${call}")
string(REGEX REPLACE "@\"[^\"]*\\.bmp\"" "args[1]" call "${call}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/example.cs" "using System;
using System.Runtime.InteropServices;
static class Example {
${declarations}
static int Main(string[] args) {
${call}
if (result != 999) { Console.WriteLine(\"example: {0}\", result); return 1; }
// The fields past flags, read and written through the same declaration.
options.maxPixels = 1;
result = KestovaConvert(args[0], args[1] + \".limited\", ref options);
Console.WriteLine(\"{0} {1} {2}\", result, options.reason, options.reasonValue);
return 0;
}
}
")
file(WRITE "${WORK}/example.exe.config"
  "<configuration><dllmap dll=\"KESTOVATIFF.dll\" target=\"${LIBRARY}\"/></configuration>\n")
execute_process(COMMAND "${MCS}" -nologo -out:example.exe example.cs WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the C# example does not compile")
endif()
execute_process(COMMAND "${HOST}" --demo "${WORK}" OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the host's --demo failed")
endif()
# A name outside ASCII: the strings must arrive as UTF-16.
file(RENAME "${WORK}/test-card.tif" "${WORK}/scan é.tif")
execute_process(COMMAND "${MONO}" example.exe "scan é.tif" "scan é.bmp" WORKING_DIRECTORY "${WORK}"
  OUTPUT_VARIABLE output RESULT_VARIABLE failed)
# 320 x 240: the test card's rows need no padding, so the bytes are the round trip's.
file(SHA256 "${WORK}/scan é.bmp" got)
file(SHA256 "${WORK}/test-card-back.bmp" want)
if(failed OR NOT got STREQUAL want OR NOT output STREQUAL "-4 61 76800\n")
  message(FATAL_ERROR "the C# example gave: ${output}")
endif()

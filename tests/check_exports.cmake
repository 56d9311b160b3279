# Fails unless the shared library's dynamic symbol table defines exactly the
# expected functions. Run as: cmake -DNM=... -DLIBRARY=... -DEXPECTED=a;b -P
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(defined "")
foreach(line IN LISTS lines)
  # "address type name"; absolute symbols (type A) are version nodes.
  if(line MATCHES "^[0-9a-fA-F]+ ([a-zA-Z]) ([^ @]+)" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND defined ${CMAKE_MATCH_2})
  endif()
endforeach()
list(SORT defined)
list(SORT EXPECTED)
if(NOT defined STREQUAL EXPECTED)
  message(FATAL_ERROR "exported: [${defined}], expected: [${EXPECTED}]")
endif()
message(STATUS "exported exactly: ${defined}")

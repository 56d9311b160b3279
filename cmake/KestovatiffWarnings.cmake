# Warnings for the project's own code. The library's code also gets the
# conversion warnings: every narrowing of a size is meant and spelled out.
function(kestovatiff_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  endif()
  if(KESTOVATIFF_WERROR)
    target_compile_options(${target} PRIVATE $<IF:$<BOOL:${MSVC}>,/WX,-Werror>)
  endif()
endfunction()

function(kestovatiff_strict_warnings target)
  kestovatiff_warnings(${target})
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -Wconversion -Wsign-conversion -Wshadow)
  endif()
endfunction()

# Every relative link in README.md and docs/*.md must lead somewhere: the
# file must exist, and a #fragment must be a heading of the target page,
# named as GitHub names heading anchors (lower case, punctuation dropped,
# spaces as hyphens, -1, -2 for repeats). Inline links (with or without a
# title) and reference definitions (`[name]: target`) are read; fenced code
# blocks are not. The check first runs on a page of known faults, so that
# a check that stopped seeing them fails too.
# Run as: cmake -DSOURCE_DIR=... -P check_docs.cmake
cmake_minimum_required(VERSION 3.20)

# The lines of a Markdown file outside fenced code blocks, as a list. A
# CMake list splits at ";" and not inside square brackets, so ";" becomes
# "," and the brackets become markers: "<link>(" for "](", "<ref>:" for
# "]:", "<lb>" for "[", and a lone "]" goes.
function(markdown_lines file out)
  file(READ "${file}" text)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "](" "<link>(" text "${text}")
  string(REPLACE "]:" "<ref>:" text "${text}")
  string(REPLACE "[" "<lb>" text "${text}")
  string(REPLACE "]" "" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(kept "")
  set(fenced OFF)
  foreach(line IN LISTS lines)
    # A fence opens and closes a block whatever the block holds, a lone
    # backtick included.
    if(line MATCHES "^ ? ? ?(```|~~~)")
      if(fenced)
        set(fenced OFF)
      else()
        set(fenced ON)
      endif()
    elseif(NOT fenced)
      list(APPEND kept "${line}")
    endif()
  endforeach()
  set(${out} "${kept}" PARENT_SCOPE)
endfunction()

# The anchors of a Markdown file's headings.
function(heading_anchors file out)
  markdown_lines("${file}" lines)
  set(anchors "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^#+ +(.*)$")
      string(REPLACE "<lb>" "" anchor "${CMAKE_MATCH_1}")
      string(TOLOWER "${anchor}" anchor)
      string(REGEX REPLACE "[^a-z0-9 _-]" "" anchor "${anchor}")
      string(REPLACE " " "-" anchor "${anchor}")
      set(unique "${anchor}")
      set(n 0)
      while(unique IN_LIST anchors)
        math(EXPR n "${n} + 1")
        set(unique "${anchor}-${n}")
      endwhile()
      list(APPEND anchors "${unique}")
    endif()
  endforeach()
  set(${out} "${anchors}" PARENT_SCOPE)
endfunction()

# Checks the relative links of `pages`: sets `broken_out` to a line for
# each that leads nowhere, and `checked_out` to how many were checked.
function(check_links pages broken_out checked_out)
  set(broken "")
  set(checked 0)
  foreach(page IN LISTS pages)
    get_filename_component(dir "${page}" DIRECTORY)
    markdown_lines("${page}" lines)
    set(targets "")
    foreach(line IN LISTS lines)
      # A reference definition: up to three spaces, [name]: target.
      if(line MATCHES "^ ? ? ?<lb>[^<]*<ref>: *<?([^ >]+)")
        list(APPEND targets "${CMAKE_MATCH_1}")
      endif()
      # Inline links; the target ends at a space (a title follows), ")" or ">".
      string(REGEX MATCHALL "<link>\\( *<?[^) >]+" links "${line}")
      foreach(link IN LISTS links)
        string(REGEX REPLACE "^<link>\\( *<?" "" target "${link}")
        list(APPEND targets "${target}")
      endforeach()
    endforeach()
    foreach(target IN LISTS targets)
      if(target MATCHES "^[a-z]+:")
        continue()  # a web address, not checked offline
      endif()
      math(EXPR checked "${checked} + 1")
      string(REGEX REPLACE "#.*$" "" path "${target}")
      if(path STREQUAL "")
        set(file "${page}")
      else()
        get_filename_component(file "${dir}/${path}" ABSOLUTE)
      endif()
      if(NOT EXISTS "${file}")
        list(APPEND broken "${page}: ${target}: no such file")
      elseif(target MATCHES "#(.*)$")
        set(fragment "${CMAKE_MATCH_1}")
        heading_anchors("${file}" anchors)
        if(NOT fragment IN_LIST anchors)
          list(APPEND broken "${page}: ${target}: no heading with that anchor")
        endif()
      endif()
    endforeach()
  endforeach()
  set(${broken_out} "${broken}" PARENT_SCOPE)
  set(${checked_out} "${checked}" PARENT_SCOPE)
endfunction()

# The page of known faults: each broken link below must be found, and
# nothing else (the good links, and a broken one inside a fenced block).
set(probe "${CMAKE_CURRENT_BINARY_DIR}/check-docs-probe.md")
file(WRITE "${probe}" [=[
# Probe; heading

```sh
echo `one backtick
[in code](missing-in-code.md)
```

[after a fence](missing-after-fence.md), [titled](missing-titled.md "a title"),
[angled](<missing-angled.md>), [good](#probe-heading), [web](https://example.org/x.md)
[bad anchor](#no-such-heading) and [reference][r]

[r]: missing-reference.md
  [good reference]: #probe-heading "title"
[web reference]: https://example.org/y.md

```
[closing code](missing-in-second-code.md)
```
]=])
check_links("${probe}" found checked)
set(expected "")
foreach(fault IN ITEMS "missing-after-fence.md: no such file" "missing-titled.md: no such file"
              "missing-angled.md: no such file" "#no-such-heading: no heading with that anchor"
              "missing-reference.md: no such file")
  list(APPEND expected "${probe}: ${fault}")
endforeach()
file(REMOVE "${probe}")
if(NOT found STREQUAL expected OR NOT checked EQUAL 7)
  list(JOIN found "\n" found)
  message(FATAL_ERROR "the check misreads its page of known faults (${checked} links checked), finding:\n${found}")
endif()

file(GLOB pages "${SOURCE_DIR}/docs/*.md")
check_links("${SOURCE_DIR}/README.md;${pages}" broken checked)
if(broken)
  list(JOIN broken "\n" broken)
  message(FATAL_ERROR "broken links:\n${broken}")
endif()
if(checked LESS 10)
  message(FATAL_ERROR "only ${checked} relative links found: the check does not read the pages")
endif()
message(STATUS "${checked} relative links resolve")

# Makes the Debian package with cpack, checks what it holds and what it
# depends on, unpacks it into a scratch root and runs the host from there,
# and runs lintian on it where lintian is installed.
# Run as: cmake -DBUILD_DIR=... -DWORK_DIR=... -DJPEG=ON|OFF -P check_package.cmake
cmake_minimum_required(VERSION 3.20)
function(run out)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE text ERROR_VARIABLE text)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

find_program(DPKG_DEB dpkg-deb)
find_program(CPACK cpack HINTS ${CMAKE_COMMAND}/..)
if(NOT DPKG_DEB)
  message("SKIPPED: dpkg-deb is not installed")
  return()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
run(made ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
file(GLOB deb ${WORK_DIR}/kestovatiff_*.deb)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT deb MATCHES "/kestovatiff_[0-9.]+_${arch}\\.deb$")
  message(FATAL_ERROR "cpack made no kestovatiff_VERSION_${arch}.deb:\n${made}")
endif()

# What a user of the library and of the host needs, each as a line of
# dpkg-deb -c: the library and its SONAME link, header, CMake and
# pkg-config files, the host, its manual page gzip'd, the copyright file.
run(contents ${DPKG_DEB} -c ${deb})
foreach(entry IN ITEMS
    " ./usr/bin/kestovatiff\n"
    " ./usr/lib/[^ ]*libkestovatiff\\.so\\.1 -> libkestovatiff\\.so\\.[0-9.]+\n"
    " ./usr/lib/[^ ]*libkestovatiff\\.so -> "
    " ./usr/include/kestovatiff\\.h\n"
    " ./usr/lib/[^ ]*cmake/kestovatiff/kestovatiffConfig\\.cmake\n"
    " ./usr/lib/[^ ]*pkgconfig/kestovatiff\\.pc\n"
    " ./usr/share/man/man1/kestovatiff\\.1\\.gz\n"
    " ./usr/share/doc/kestovatiff/copyright\n")
  string(REGEX MATCH "[^\n]*${entry}" found "${contents}")
  if(found STREQUAL "")
    message(FATAL_ERROR "the package lacks ${entry}:\n${contents}")
  endif()
endforeach()

# Depends comes from dpkg-shlibdeps: the libraries the binaries link.
run(depends ${DPKG_DEB} -f ${deb} Depends)
set(needed libc6 libstdc\\+\\+6 zlib1g)
if(JPEG)
  list(APPEND needed libjpeg62-turbo)
endif()
foreach(package IN LISTS needed)
  if(NOT depends MATCHES "(^|, )${package} \\(>= ")
    message(FATAL_ERROR "Depends lacks ${package}: ${depends}")
  endif()
endforeach()

# Unpacked, not installed: dpkg -i would run the package's ldconfig
# trigger on this machine. The host finds the library beside it through
# its RPATH; LD_LIBRARY_PATH makes sure no other copy is taken.
set(root ${WORK_DIR}/root)
run(unpacked ${DPKG_DEB} -x ${deb} ${root})
file(MAKE_DIRECTORY ${WORK_DIR}/demo)
file(GLOB_RECURSE libdir LIST_DIRECTORIES false ${root}/usr/lib/*libkestovatiff.so.1)
get_filename_component(libdir "${libdir}" DIRECTORY)
run(demo ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${root}/usr/bin/kestovatiff --demo ${WORK_DIR}/demo)
if(NOT demo MATCHES "round trip: identical, byte for byte")
  message(FATAL_ERROR "the packaged host's demo:\n${demo}")
endif()

find_program(LINTIAN lintian)
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --allow-root ${deb} OUTPUT_VARIABLE report ERROR_VARIABLE report)
  if(report MATCHES "(^|\n)E: ")
    message(FATAL_ERROR "lintian finds errors:\n${report}")
  endif()
  message(STATUS "lintian:\n${report}")
else()
  message(STATUS "lintian is not installed: the package is not linted")
endif()

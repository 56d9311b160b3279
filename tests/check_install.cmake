# Installs the build into a scratch prefix, then builds and runs a C host
# that finds it with find_package, and checks the pkg-config file.
# Run as: cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_RPATH=${prefix}/lib)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)
file(GLOB_RECURSE pc ${prefix}/*/kestovatiff.pc)
file(READ "${pc}" text)
if(NOT text MATCHES "Libs: -L\\$\\{libdir\\} -lkestovatiff")
  message(FATAL_ERROR "unexpected pkg-config file:\n${text}")
endif()

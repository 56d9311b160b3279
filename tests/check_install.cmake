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
# pkg-config, as a build outside CMake would use it: the flags it gives
# must compile and link the same host against the scratch prefix.
find_program(PKG_CONFIG pkg-config)
find_program(CC NAMES cc gcc)
if(PKG_CONFIG AND CC)
  file(GLOB_RECURSE pc ${prefix}/*/kestovatiff.pc)
  get_filename_component(pcdir "${pc}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} "${pcdir}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs kestovatiff OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "pkg-config does not find kestovatiff in ${pcdir}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CC} -std=c11 ${SOURCE_DIR}/tests/consumer/main.c ${flags} -o ${WORK_DIR}/pkg-consumer)
  run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib ${WORK_DIR}/pkg-consumer)
else()
  message(STATUS "pkg-config or a C compiler missing: the pkg-config file is not checked")
endif()

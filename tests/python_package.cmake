# The Python package as a user installs it: a fresh virtual environment,
# the library installed into it with cmake --install, the package with pip
# (offline: Debian's setuptools and wheel, no build isolation), then its
# tests, once finding the installed library and once the one that
# KESTOVATIFF_LIBRARY names.
# Run as: cmake -DPYTHON=... -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DLIBRARY=... -P
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()
execute_process(COMMAND ${PYTHON} -c "import ensurepip, setuptools, wheel" RESULT_VARIABLE missing
                OUTPUT_QUIET ERROR_QUIET)
if(missing)
  if(DEFINED ENV{CI})
    message(FATAL_ERROR "${PYTHON} lacks venv, setuptools or wheel, and CI must run this test")
  endif()
  message(STATUS "SKIPPED: ${PYTHON} lacks venv, setuptools or wheel (python3-venv, python3-setuptools, python3-wheel)")
  return()
endif()
set(venv ${WORK_DIR}/venv)
run(${PYTHON} -m venv --system-site-packages ${venv})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${venv})
# pip builds in the folder it is given: a copy, not the source tree.
file(COPY ${SOURCE_DIR}/python/ DESTINATION ${WORK_DIR}/package)
run(${venv}/bin/python -m pip install --quiet --no-index --no-deps --no-build-isolation ${WORK_DIR}/package)
set(tests -B -m unittest discover --start-directory ${SOURCE_DIR}/python/tests)
run(${CMAKE_COMMAND} -E env --unset=KESTOVATIFF_LIBRARY PYTHONDONTWRITEBYTECODE=1 ${venv}/bin/python ${tests})
file(REMOVE ${venv}/lib/libkestovatiff.so ${venv}/lib/libkestovatiff.so.1)
run(${CMAKE_COMMAND} -E env KESTOVATIFF_LIBRARY=${LIBRARY} PYTHONDONTWRITEBYTECODE=1 ${venv}/bin/python ${tests})

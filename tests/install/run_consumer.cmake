# Installs the build into a fresh prefix, then configures, builds and runs the consumer project
# against it. Variables: BUILD_DIR, WORK_DIR, CONSUMER_DIR, GENERATOR, CXX, C, and PYTHON (where
# the Python module was built).
file(REMOVE_RECURSE "${WORK_DIR}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}")
  endif()
endfunction()
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
run("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_C_COMPILER=${C}" "-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix" -DCMAKE_BUILD_TYPE=Release)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
run("${WORK_DIR}/build/calc_consumer")
if(EXISTS "${WORK_DIR}/build/centile_consumer")
  run("${WORK_DIR}/build/centile_consumer")
endif()
# The Python module, where it was built, imports from where the package put it.
file(GLOB_RECURSE python_module "${WORK_DIR}/prefix/*/pelmora/__init__.py")
if(python_module AND PYTHON)
  list(GET python_module 0 init)
  get_filename_component(site "${init}" DIRECTORY)
  get_filename_component(site "${site}" DIRECTORY)
  run("${CMAKE_COMMAND}" -E env "PYTHONPATH=${site}" "${PYTHON}" -c
      "import pelmora; assert round(float(pelmora.centile('uk', 3500, 280, 64, 163, 1, 1, 0)), 4) == 48.4398")
endif()
if(EXISTS "${WORK_DIR}/build/host_consumer")
  run("${WORK_DIR}/build/host_consumer")
endif()
# Nothing the package uses may point back into the build tree.
file(GLOB_RECURSE cmake_files "${WORK_DIR}/prefix/*.cmake")
foreach(f IN LISTS cmake_files)
  file(READ "${f}" content)
  string(FIND "${content}" "${BUILD_DIR}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${f} names the build tree")
  endif()
endforeach()

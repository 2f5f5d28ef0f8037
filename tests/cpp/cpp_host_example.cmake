# Installs the core into WORK_DIR/prefix, configures and builds
# examples/cpp_host against that prefix alone, runs it and checks its output.
#   cmake -D BUILD_DIR=... -D WORK_DIR=... -D EXAMPLE_DIR=... -D CONFIG=...
#         -D GENERATOR=... -D CXX_COMPILER=... [-D CXX_COMPILER_LAUNCHER=...] -P this
set(prefix ${WORK_DIR}/prefix)
set(build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

set(launcher)
if(CXX_COMPILER_LAUNCHER)
  set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${CXX_COMPILER_LAUNCHER})
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${build} -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=${CONFIG} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} ${launcher}
    -DCMAKE_PREFIX_PATH=${prefix}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --config ${CONFIG}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

execute_process(COMMAND ${build}/burn_watch_host
  OUTPUT_VARIABLE output RESULT_VARIABLE status)
set(expected "0.18 is shown as 0.1800\nSN1: 0.18 -> 0.25\nSN10: 0 -> 0.1\n")
if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "burn_watch_host exited with ${status} and printed:\n${output}"
    "expected:\n${expected}")
endif()

# QVT7702_OLD_STRING_ABI: the plug-in is built alone with the pre-C++11
# std::string ABI, and the binary report says so. Its host symbols read the
# same as the C++11 build's list.
#
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DCXX_COMPILER=...
#         -P OldStringAbiTest.cmake

cmake_minimum_required(VERSION 3.25)

set(build "${WORK_DIR}/build")
file(REMOVE_RECURSE "${WORK_DIR}")

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE text ERROR_VARIABLE text)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${what} failed\n---- output ----\n${text}")
  endif()
  set(step_output "${text}" PARENT_SCOPE)
endfunction()

run_step("configuring with QVT7702_OLD_STRING_ABI"
  ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${build}" -G "${GENERATOR}"
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DQVT7702_BUILD_TESTS=OFF -DQVT7702_OLD_STRING_ABI=ON)
string(FIND "${step_output}" "_GLIBCXX_USE_CXX11_ABI=0; the stand-in host" said)
if(said EQUAL -1)
  message(FATAL_ERROR "the configure step did not say that only the plug-in is built\n${step_output}")
endif()

# One compiler at a time: ctest counts this test as one job.
run_step("building qvt7702.so" ${CMAKE_COMMAND} --build "${build}" --target qvt7702)
run_step("the binary report of the old-ABI library"
  "${SOURCE_DIR}/scripts/abi-report" --host-symbols "${SOURCE_DIR}/plugin/host-symbols.txt"
  "${build}/qvt7702.so")
string(REGEX MATCH "C\\+\\+ string ABI: *pre-C\\+\\+11[^\n]*" abi "${step_output}")
if(NOT abi)
  message(FATAL_ERROR "the report does not name the pre-C++11 string ABI\n${step_output}")
endif()
message(STATUS "${abi}")

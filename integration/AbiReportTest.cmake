# scripts/abi-report's verdicts, each on a library or list that must fail:
# host symbols that differ from the kept list, a runtime version above the
# ceiling, an export besides get_providers, and files that are not shared
# objects.
#
#   cmake -DSOURCE_DIR=... -DLIBRARY=<qvt7702.so> -DTWO_EXPORTS=<library>
#         -DNOT_SHARED=<an executable> -DWORK_DIR=... -P AbiReportTest.cmake

cmake_minimum_required(VERSION 3.25)

set(report "${SOURCE_DIR}/scripts/abi-report")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# Runs the report; it must exit with EXPECTED_CODE and print every text given.
function(expect_report what expected_code)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ARGS;PRINTS")
  execute_process(COMMAND "${report}" ${arg_ARGS}
                  RESULT_VARIABLE code OUTPUT_VARIABLE text ERROR_VARIABLE text)
  if(NOT code EQUAL expected_code)
    message(FATAL_ERROR "${what}: exit status ${code}, expected ${expected_code}\n${text}")
  endif()
  string(REGEX REPLACE "[ \n]+" " " flat "${text}")
  foreach(expected IN LISTS arg_PRINTS)
    string(FIND "${flat}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${what}: the report does not say \"${expected}\"\n${text}")
    endif()
  endforeach()
  set(report_output "${text}" PARENT_SCOPE)
  message(STATUS "${what}: exit ${code} as expected")
endfunction()

# One symbol fewer and one more in the list than the library needs.
file(STRINGS "${SOURCE_DIR}/plugin/host-symbols.txt" kept)
set(changed "${kept}")
list(REMOVE_ITEM changed "SMDVDevice::ReadAi(int)")
list(APPEND changed "SMDVDevice::RetiredOperation(int)")
list(JOIN changed "\n" changed_text)
file(WRITE "${WORK_DIR}/host-symbols.txt" "${changed_text}\n")
expect_report("host symbols other than the list" 1
  ARGS --host-symbols "${WORK_DIR}/host-symbols.txt" "${LIBRARY}"
  PRINTS "now needed: SMDVDevice::ReadAi(int)"
         "no longer needed: SMDVDevice::RetiredOperation(int)"
         "Acknowledge it in the same change")

expect_report("the kept list" 0
  ARGS --host-symbols "${SOURCE_DIR}/plugin/host-symbols.txt" "${LIBRARY}"
  PRINTS "exported: get_providers")

expect_report("a C library ceiling below what is required" 1
  ARGS --runtime-ceiling "GLIBC_2.0.1" "${LIBRARY}"
  PRINTS "newer than the ceiling GLIBC_2.0.1" "Acknowledge it in the same change by raising the ceiling")

expect_report("an export besides get_providers" 1
  ARGS "${TWO_EXPORTS}"
  PRINTS "exported: get_providers unexpected_export"
         "FAIL: the library must export get_providers and nothing else")

# Not a shared object: one line, exit status 2.
foreach(path "${NOT_SHARED}" "${SOURCE_DIR}/README.md" "${WORK_DIR}/no-such-library.so")
  expect_report("${path}" 2 ARGS "${path}" PRINTS "${path} is not a shared object")
  string(REGEX MATCHALL "\n" newlines "${report_output}")
  list(LENGTH newlines lines)
  if(NOT lines EQUAL 1)
    message(FATAL_ERROR "${path}: ${lines} lines where one was expected\n${report_output}")
  endif()
endforeach()

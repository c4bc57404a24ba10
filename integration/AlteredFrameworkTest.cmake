# A framework header that differs from what the plug-in assumes must fail the
# build with the contract's sentence naming the member, and only that one;
# headers whose virtual operations sit in other slots must fail it with the
# layout check's sentence for each slot; data laid out otherwise must build
# and be listed in the layout file and in the binary report.
#
# Copies FRAMEWORK_DIR to WORK_DIR, configures the project against the copy
# (plug-in only), checks that the unchanged copy builds, then changes one
# declaration at a time and builds the contract and the layout check alone.
# Last, a folder that does not exist and one without a header must fail to
# configure.
#
#   cmake -DSOURCE_DIR=... -DFRAMEWORK_DIR=... -DLIBRARY=<qvt7702.so> -DWORK_DIR=...
#         -DGENERATOR=... -DCXX_COMPILER=... -P AlteredFrameworkTest.cmake

cmake_minimum_required(VERSION 3.25)
# Compiler messages in plain ASCII quotes, as the patterns below expect.
set(ENV{LC_ALL} C)

set(pristine "${WORK_DIR}/pristine")
set(headers "${WORK_DIR}/framework")
set(build "${WORK_DIR}/build")

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${FRAMEWORK_DIR}/" DESTINATION "${pristine}")

function(fail what output)
  message(FATAL_ERROR "${what}\n---- output ----\n${output}")
endfunction()

# Runs a command; OUT gets its exit code and its output.
function(run out_code out_text)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_code} "${code}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

function(configure framework_dir out_code out_text)
  run(code text ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${build}" -G "${GENERATOR}"
      -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DQVT7702_BUILD_TESTS=OFF
      -DQVT7702_FRAMEWORK_DIR=${framework_dir})
  set(${out_code} "${code}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# Builds the contract, then the layout check (the build makes it in that order).
function(build_contract out_code out_text)
  # The objects of an earlier good build would otherwise stand in for a failed
  # one; restored headers keep the copy's old time, so nothing would be redone.
  # (The layout probe compiled with framework/ itself stays.)
  file(GLOB_RECURSE objects "${build}/*FrameworkContract.cpp.o"
                            "${build}/*framework_layout_used.dir/*FrameworkLayoutProbe.cpp.o")
  if(objects)
    file(REMOVE ${objects})
  endif()
  file(REMOVE "${build}/framework-layout.txt")
  run(code text ${CMAKE_COMMAND} --build "${build}" --target framework_layout)
  set(${out_code} "${code}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

function(expect_configure_failure what framework_dir sentence)
  configure("${framework_dir}" code text)
  # CMake wraps its error messages; compare with white space runs as one space.
  string(REGEX REPLACE "[ \n]+" " " flat "${text}")
  string(FIND "${flat}" "${sentence}" at)
  if(code EQUAL 0 OR at EQUAL -1)
    fail("${what} must fail to configure with \"${sentence}\"" "${text}")
  endif()
  message(STATUS "${what}: configure fails with \"${sentence}\"")
endfunction()

function(restore_headers)
  file(REMOVE_RECURSE "${headers}")
  file(COPY "${pristine}/" DESTINATION "${headers}")
endfunction()

# In HEADER, replaces FROM with TO; fails when FROM is not there, so that an
# edit of the real header cannot quietly turn a case into a no-op.
function(alter header from to)
  file(READ "${headers}/${header}" text)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${header} no longer declares \"${from}\"; update this test")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
  file(WRITE "${headers}/${header}" "${text}")
endfunction()

# In HEADER, puts FIRST where SECOND was and SECOND where FIRST was.
function(swap header first second)
  alter("${header}" "${first}" "@swapped@")
  alter("${header}" "${second}" "${first}")
  alter("${header}" "@swapped@" "${second}")
endfunction()

function(expect_contract_failure name header from to)
  restore_headers()
  alter("${header}" "${from}" "${to}")
  expect_build_failure("${name}" ${ARGN})
endfunction()

function(expect_swap_failure name header first second)
  restore_headers()
  swap("${header}" "${first}" "${second}")
  expect_build_failure("${name}" ${ARGN})
endfunction()

# A change the layout check lets through: the build must succeed, and both
# the layout file and the binary report given that file must list exactly
# the expected differences. (The report reads them from the layout file
# only, so LIBRARY, built with framework/, stands for the library.)
function(expect_listed_differences name header from to)
  restore_headers()
  alter("${header}" "${from}" "${to}")
  build_contract(code text)
  if(NOT code EQUAL 0)
    fail("${name}: the build failed" "${text}")
  endif()
  file(READ "${build}/framework-layout.txt" layout)
  run(code report "${SOURCE_DIR}/scripts/abi-report"
      --framework-layout "${build}/framework-layout.txt" "${LIBRARY}")
  if(NOT code EQUAL 0)
    fail("${name}: the binary report failed" "${report}")
  endif()
  list(LENGTH ARGN expected_count)
  foreach(what layout report)
    if(NOT ${what} MATCHES "differences from framework/ \\(${expected_count}\\):|${expected_count} differences from framework/")
      fail("${name}: the ${what} does not count ${expected_count} differences" "${${what}}")
    endif()
    foreach(pattern IN LISTS ARGN)
      if(NOT ${what} MATCHES "\n  ${pattern}\n")
        fail("${name}: the ${what} does not list \"${pattern}\"" "${${what}}")
      endif()
    endforeach()
  endforeach()
  message(STATUS "${name}: builds; the layout file and the report list ${expected_count} differences")
endfunction()

# The build must fail with one error per expected pattern, each pattern found.
function(expect_build_failure name)
  build_contract(code text)
  if(code EQUAL 0)
    fail("${name}: the contract object built against the altered header" "${text}")
  endif()
  string(REGEX MATCHALL "[^\n]*: error: [^\n]*" errors "${text}")
  list(LENGTH errors error_count)
  list(LENGTH ARGN expected_count)
  foreach(pattern IN LISTS ARGN)
    if(NOT text MATCHES "${pattern}")
      fail("${name}: the build failed without naming \"${pattern}\"" "${text}")
    endif()
  endforeach()
  if(NOT error_count EQUAL expected_count)
    fail("${name}: ${error_count} errors where ${expected_count} were expected" "${text}")
  endif()
  list(GET errors 0 first)
  string(REGEX REPLACE "^.*: error: " "" first "${first}")
  message(STATUS "${name}: fails with \"${first}\"")
endfunction()

# The unchanged copy, in a folder other than framework/: plug-in only, with
# one message saying so, and the contract holds.
restore_headers()
configure("${headers}" code text)
if(NOT code EQUAL 0)
  fail("configuring against an unchanged copy of the framework headers failed" "${text}")
endif()
string(REGEX MATCHALL "are left out" left_out "${text}")
list(LENGTH left_out left_out_count)
if(NOT left_out_count EQUAL 1)
  fail("configuring against another framework folder must say once what is left out" "${text}")
endif()
build_contract(code text)
if(NOT code EQUAL 0)
  fail("the contract object or the layout check failed against an unchanged copy" "${text}")
endif()
file(READ "${build}/framework-layout.txt" layout)
if(NOT layout MATCHES "\ndifferences from framework/: none\n")
  fail("the layout of an unchanged copy must not differ from framework/'s" "${layout}")
endif()
message(STATUS "unchanged copy: configures plug-in only, contract holds, layout as framework/")

expect_contract_failure("2048-byte receive buffer" SMDSPDevice.h
  "unsigned char rx_buffer_[kRxBufferSize]" "unsigned char rx_buffer_[2048]"
  "SMDSPDevice::rx_buffer_ must be unsigned char\\[4096\\]")
expect_contract_failure("fill count as short" SMDSPDevice.h
  "int rx_length_ = 0;" "short rx_length_ = 0;"
  "SMDSPDevice::rx_length_ must be an int")
expect_contract_failure("station address as int" SPModbus.h
  "std::uint8_t station_address_" "int station_address_"
  "SPModbus::station_address_ must be an unsigned 8-bit integer")
expect_contract_failure("threshold levels as float" SMDVDevice.h
  "std::map<std::string, int> threshold_levels_" "std::map<std::string, float> threshold_levels_"
  "SMDVDevice::threshold_levels_ must map std::string signal keys to int")
expect_contract_failure("time stamp as seconds" SMDVDevice.h
  "boost::posix_time::ptime last_update_;" "long long last_update_;"
  "SMDVDevice::last_update_ must be a boost::posix_time::ptime")
# A virtual operation with another signature also breaks the meter's slot.
expect_contract_failure("SendSP with a 16-bit length" SMDVDevice.h
  "unsigned int len, bool urgent" "unsigned short len, bool urgent"
  "SMDVDevice::SendSP must take \\(int data_id, const unsigned char\\* data, unsigned int len, bool\\)"
  "SendSP\\(int, const unsigned char\\*, unsigned int, bool\\)' marked 'override', but does not override")
expect_contract_failure("DoBatchCheckThreshold without a result" SMDVDevice.h
  "bool DoBatchCheckThreshold(" "void DoBatchCheckThreshold("
  "SMDVDevice::DoBatchCheckThreshold must take \\(const std::vector<rule_value>&\\) and return bool")
expect_contract_failure("RefreshStatus not virtual" SMDSPDevice.h
  "virtual int RefreshStatus();" "int RefreshStatus();"
  "RefreshStatus\\(\\)' marked 'override', but does not override")
expect_contract_failure("get_ttime taking a reference" TTime.h
  "TTime get_ttime(boost::posix_time::ptime time);"
  "TTime get_ttime(const boost::posix_time::ptime& time);"
  "get_ttime must take the boost::posix_time::ptime by value")

# Operations in each other's slots keep every signature the contract checks.
# The layout check names the class, the slot and both operations, and tells
# overloads apart by their parameters.
set(slot "virtual-table slot")
set(used "in the headers used \\([^)]*\\)")
expect_swap_failure("RefreshStatus and OpenPort swapped" SMDSPDevice.h
  "virtual int RefreshStatus();" "virtual int OpenPort();"
  "SMDSPDevice ${slot} 23 is OpenPort\\(\\) ${used} but RefreshStatus\\(\\) in framework/"
  "SMDSPDevice ${slot} 29 is RefreshStatus\\(\\) ${used} but OpenPort\\(\\) in framework/")
expect_swap_failure("LoadFromCache overloads swapped" VDeviceInterface.h
  "    // Re-load a stored record, as a byte string.
    virtual int LoadFromCache(const std::string& blob) {
        if (blob.size() > static_cast<std::size_t>(INT_MAX))
            return 0;
        return LoadFromCache(reinterpret_cast<const unsigned char*>(blob.data()),
                             static_cast<int>(blob.size()));
    }"
  "    // Re-load a stored record: 1 when accepted, 0 when refused.
    virtual int LoadFromCache(const unsigned char* data, int len) = 0;"
  "VDeviceInterface ${slot} 1 is LoadFromCache\\(unsigned char const\\*, int\\) ${used} but LoadFromCache\\(std::string const&\\) in framework/"
  "VDeviceInterface ${slot} 2 is LoadFromCache\\(std::string const&\\) ${used} but LoadFromCache\\(unsigned char const\\*, int\\) in framework/")
expect_contract_failure("an operation added before process_payload" SPModbus.h
  "    virtual int process_payload(" "    virtual int flush_line() { return 0; }\n    virtual int process_payload("
  "SPModbus ${slot} 31 is flush_line\\(\\) ${used} but process_payload\\(SPModbus::tab_type, unsigned int\\) in framework/"
  "SPModbus ${slot} 32 is process_payload\\(SPModbus::tab_type, unsigned int\\) ${used} but on_error\\(\\) in framework/"
  "SPModbus ${slot} 33 is on_error\\(\\) ${used} but no recorded operation in framework/")

# Data laid out otherwise is listed, not refused: the plug-in reaches every
# member by name, and the contract has checked their types.
set(bytes "offset [0-9]+ \\(4 bytes\\)")
expect_listed_differences("rx_length_ moved before rx_buffer_" SMDSPDevice.h
  "    unsigned char rx_buffer_[kRxBufferSize] = {};\n    int rx_length_ = 0;\n"
  "    int rx_length_ = 0;\n    unsigned char rx_buffer_[kRxBufferSize] = {};\n"
  "SMDSPDevice::rx_buffer_: offset [0-9]+ \\(4096 bytes\\) in the headers used, offset [0-9]+ \\(4096 bytes\\) in framework/"
  "SMDSPDevice::rx_length_: ${bytes} in the headers used, ${bytes} in framework/")
expect_listed_differences("a member added to SPModbus" SPModbus.h
  "std::uint8_t station_address_ = 0;" "std::uint8_t station_address_ = 0;\n    std::uint64_t line_errors_ = 0;"
  "SPModbus: [0-9]+ bytes with base SMDSPDevice at 0 in the headers used, [0-9]+ bytes with base SMDSPDevice at 0 in framework/"
  "SPModbus::line_errors_: offset [0-9]+ \\(8 bytes\\) in the headers used, not in framework/")

# Bad framework folders stop the configure step with the folder and the header.
expect_configure_failure("a folder that does not exist" "${WORK_DIR}/no-such-folder"
  "the framework header folder ${WORK_DIR}/no-such-folder does not exist")
restore_headers()
file(REMOVE "${headers}/TTime.h")
expect_configure_failure("a folder without TTime.h" "${headers}"
  "the framework header folder ${headers} has no TTime.h")

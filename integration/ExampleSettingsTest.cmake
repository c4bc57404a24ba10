# Every example settings file names in "thresholdSetting" exactly the driver's
# signals: each key the signal_keys program prints, and no other. A signal
# renamed or added in drivers/qvt7702/QVT7702Signals.h without the examples
# (which the release package ships) fails here, as does a misspelt key.
#
#   cmake -DSIGNAL_KEYS=<signal_keys program> -DEXAMPLES_DIR=... -P ExampleSettingsTest.cmake

cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${SIGNAL_KEYS}" RESULT_VARIABLE code OUTPUT_VARIABLE keys_text)
if(NOT code EQUAL 0 OR keys_text STREQUAL "")
  message(FATAL_ERROR "signal_keys failed (exit ${code})")
endif()
string(STRIP "${keys_text}" keys_text)
string(REPLACE "\n" ";" keys "${keys_text}")
set(sorted_keys "${keys}")
list(SORT sorted_keys)

file(GLOB examples "${EXAMPLES_DIR}/*.json")
if(NOT examples)
  message(FATAL_ERROR "no example settings in ${EXAMPLES_DIR}")
endif()
foreach(example IN LISTS examples)
  get_filename_component(name "${example}" NAME)
  file(READ "${example}" json)
  string(JSON count ERROR_VARIABLE error LENGTH "${json}" thresholdSetting)
  if(error)
    message(FATAL_ERROR "${name}: no thresholdSetting object: ${error}")
  endif()
  set(named "")
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON key MEMBER "${json}" thresholdSetting ${i})
    list(APPEND named "${key}")
  endforeach()
  list(SORT named)
  if(NOT named STREQUAL sorted_keys)
    set(unknown "${named}")
    list(REMOVE_ITEM unknown ${keys})
    set(absent "${keys}")
    list(REMOVE_ITEM absent ${named})
    message(FATAL_ERROR "${name}: thresholdSetting names \"${named}\"; the driver's signals are "
                        "\"${keys}\" (not signals: \"${unknown}\"; left out: \"${absent}\")")
  endif()
  message(STATUS "${name}: the ${count} signals")
endforeach()

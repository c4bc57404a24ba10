# Checked builds of the whole tree. Every option applies to the targets
# configured after this file is included, so include it before any target.

option(QVT7702_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer; any finding aborts" OFF)
option(QVT7702_COVERAGE "Build with gcov line and branch counters" OFF)
option(QVT7702_FUZZ "Build the libFuzzer targets in fuzz/ (clang only; implies the sanitizers)" OFF)

if(QVT7702_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QVT7702_FUZZ needs clang: libFuzzer is part of clang's runtime")
  endif()
  set(QVT7702_SANITIZE ON)
  # Coverage feedback for the fuzzers from everything they link, not only
  # from the fuzz targets themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QVT7702_SANITIZE)
  # -fno-sanitize-recover: the first finding stops the process with an error,
  # so a test run or a fuzz run fails instead of printing and going on.
  set(QVT7702_SANITIZER_FLAGS
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${QVT7702_SANITIZER_FLAGS})
  add_link_options(${QVT7702_SANITIZER_FLAGS})
  # The records are packed: a pointer to one of their fields may be
  # misaligned, and on the controller's processor a load through it faults.
  # UBSan catches such loads at run time; this catches taking the pointer.
  add_compile_options(-Werror=address-of-packed-member)
endif()

if(QVT7702_COVERAGE)
  add_compile_options(--coverage)
  add_link_options(--coverage)
endif()

# The test executables compile against GoogleTest, Asio and Date_Time in
# most files; a checked build compiles them all again, so there
# they come precompiled, once per test executable.
option(QVT7702_PRECOMPILED_HEADERS "Precompile the heavy library headers of every test executable" OFF)

function(qvt7702_collect_test_executables directory out)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  set(found "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE" AND target MATCHES "_tests?$")
      list(APPEND found ${target})
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    qvt7702_collect_test_executables("${subdirectory}" below)
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(qvt7702_precompile_test_headers)
  qvt7702_collect_test_executables("${CMAKE_SOURCE_DIR}" tests)
  foreach(target IN LISTS tests)
    target_precompile_headers(${target} PRIVATE
      <gtest/gtest.h> <boost/asio/io_context.hpp> <boost/asio/steady_timer.hpp>
      <boost/date_time/posix_time/posix_time.hpp>)
  endforeach()
endfunction()

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

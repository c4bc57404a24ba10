# Tests that run in real time (the bench host polling the simulated line
# against answer timeouts of a few hundred milliseconds, a scan, a gateway)
# sleep nearly all the time: two of them at once leave the processor idle.
# What starves them is a compile, so a test that compiles takes every slot
# and runs alone among them. ctest hands out the slots from the resource
# file written below, which the build tree's CTestTestfile names; ctest's
# own -j still bounds how many tests of any kind run at once.
#
#   set_tests_properties(t PROPERTIES ${QVT7702_REALTIME_TEST})
#   set_tests_properties(t PROPERTIES ${QVT7702_COMPILING_TEST})
#   gtest_discover_tests(exe PROPERTIES ${QVT7702_REALTIME_TEST})
set(QVT7702_REALTIME_SLOTS 2 CACHE STRING "Real-time tests that may run at once")
set(QVT7702_REALTIME_TEST RESOURCE_GROUPS "realtime:1")
set(QVT7702_COMPILING_TEST RESOURCE_GROUPS "realtime:${QVT7702_REALTIME_SLOTS}")

set(CTEST_RESOURCE_SPEC_FILE "${CMAKE_BINARY_DIR}/realtime-resources.json")
file(WRITE "${CTEST_RESOURCE_SPEC_FILE}"
  "{\"version\": {\"major\": 1, \"minor\": 0}, "
  "\"local\": [{\"realtime\": [{\"id\": \"0\", \"slots\": ${QVT7702_REALTIME_SLOTS}}]}]}\n")

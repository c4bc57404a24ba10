# The layout of the framework classes qvt7702.so derives from or calls
# through, as the compiler lays them out from the headers used, compared at
# build time with framework/'s (scripts/lib/framework-layout). A virtual-table
# slot that holds another operation fails the build with a sentence naming
# the class, the slot and both operations; other differences (sizes, data
# members) are listed in framework-layout.txt beside qvt7702.so, which the
# binary report shows and the release package carries.
#
# The contract (plugin/FrameworkContract.cpp) is built first, so that a
# member of another type or an operation of another signature is told by its
# own sentence. Include after the framework_contract and qvt7702 targets.

# Bases before the classes derived from them.
set(QVT7702_FRAMEWORK_CLASSES
    VDeviceInterface SMDVDevice SMDSPDevice SPModbus Provider SMDSPDeviceProvider rule_value TTime)

# Definitions of classes whose key function is elsewhere are left out of the
# debug information unless asked for.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(_layout_debug_flags -g -femit-class-debug-always)
elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(_layout_debug_flags -g -fstandalone-debug)
else()
  message(FATAL_ERROR "The framework layout check reads GCC's or Clang's debug information; "
                      "${CMAKE_CXX_COMPILER_ID} is neither")
endif()

function(_qvt7702_layout_probe target include_dir)
  add_library(${target} OBJECT plugin/FrameworkLayoutProbe.cpp)
  target_include_directories(${target} PRIVATE ${include_dir})
  target_link_libraries(${target} PRIVATE Boost::headers PkgConfig::JSONCPP)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 11 CXX_EXTENSIONS OFF
    POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} PRIVATE ${_layout_debug_flags})
  if(QVT7702_OLD_STRING_ABI)
    target_compile_definitions(${target} PRIVATE _GLIBCXX_USE_CXX11_ABI=0)
  endif()
endfunction()

_qvt7702_layout_probe(framework_layout_used "${QVT7702_FRAMEWORK_INCLUDE_DIR}")
set(_layout_objects $<TARGET_OBJECTS:framework_layout_used>)
set(_layout_probes framework_layout_used)
if(NOT QVT7702_OWN_FRAMEWORK)
  _qvt7702_layout_probe(framework_layout_own "${CMAKE_CURRENT_SOURCE_DIR}/framework")
  list(APPEND _layout_objects $<TARGET_OBJECTS:framework_layout_own>)
  list(APPEND _layout_probes framework_layout_own)
endif()

set(QVT7702_FRAMEWORK_LAYOUT "${CMAKE_BINARY_DIR}/framework-layout.txt")
# The toolchain's readelf, or GNU readelf where that is LLVM's, whose
# output is another. The integration checks use it too.
set(QVT7702_READELF "${CMAKE_READELF}")
if(NOT QVT7702_READELF OR QVT7702_READELF MATCHES "llvm-readelf")
  find_program(QVT7702_GNU_READELF readelf REQUIRED)
  set(QVT7702_READELF "${QVT7702_GNU_READELF}")
endif()
string(JOIN " " _layout_classes ${QVT7702_FRAMEWORK_CLASSES})
set(_layout_script "${CMAKE_CURRENT_SOURCE_DIR}/scripts/lib/framework-layout")
add_custom_command(OUTPUT "${QVT7702_FRAMEWORK_LAYOUT}"
  COMMAND bash "${_layout_script}" "${QVT7702_READELF}" "${_layout_classes}"
          "${QVT7702_FRAMEWORK_LABEL}" "${QVT7702_FRAMEWORK_LAYOUT}" ${_layout_objects}
  DEPENDS ${_layout_objects} ${_layout_probes} "${_layout_script}"
          "${CMAKE_CURRENT_SOURCE_DIR}/scripts/lib/framework-layout-dwarf.awk"
          "${CMAKE_CURRENT_SOURCE_DIR}/scripts/lib/framework-layout-compare.awk"
  COMMENT "Comparing the framework layout of ${QVT7702_FRAMEWORK_LABEL} with framework/"
  VERBATIM)
add_custom_target(framework_layout ALL DEPENDS "${QVT7702_FRAMEWORK_LAYOUT}")
add_dependencies(framework_layout ${_layout_probes})
foreach(_probe IN LISTS _layout_probes)
  add_dependencies(${_probe} framework_contract)
endforeach()
add_dependencies(qvt7702 framework_layout)
install(FILES "${QVT7702_FRAMEWORK_LAYOUT}" DESTINATION share/doc/qvt7702)

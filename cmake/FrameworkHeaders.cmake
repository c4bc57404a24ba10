# Which framework headers the plug-in is compiled against.
#
# framework/ is this repository's copy of the controller framework's
# interface, which the stand-in host, the tests and the tools implement and
# use. An integrator points QVT7702_FRAMEWORK_DIR at the controller vendor's
# own headers instead; then only the plug-in and its framework contract are
# built, because everything else needs the stand-in host that goes with
# framework/.
#
# Sets QVT7702_OWN_FRAMEWORK (ON when the folder is framework/), and
# QVT7702_FRAMEWORK_LABEL, the folder as the framework layout and the
# release package name it: framework/, a path under <source>/ or <build>/
# when it lies in the source or build tree, else the folder's own path.

set(QVT7702_FRAMEWORK_DIR "${CMAKE_CURRENT_SOURCE_DIR}/framework" CACHE PATH
    "Folder with the controller framework's headers the plug-in is compiled against")

# Every framework header the plug-in's sources include themselves.
set(QVT7702_FRAMEWORK_HEADERS
    Provider.h SMDSPDeviceProvider.h VDeviceInterface.h SMDVDevice.h SMDSPDevice.h SPModbus.h
    TTime.h rule_value.h)

get_filename_component(_framework_dir "${QVT7702_FRAMEWORK_DIR}" ABSOLUTE
                       BASE_DIR "${CMAKE_BINARY_DIR}")
if(NOT IS_DIRECTORY "${_framework_dir}")
  message(FATAL_ERROR "QVT7702_FRAMEWORK_DIR: the framework header folder ${_framework_dir} does not exist")
endif()
foreach(_header IN LISTS QVT7702_FRAMEWORK_HEADERS)
  if(NOT EXISTS "${_framework_dir}/${_header}")
    message(FATAL_ERROR "QVT7702_FRAMEWORK_DIR: the framework header folder ${_framework_dir} has no ${_header}")
  endif()
endforeach()

get_filename_component(_framework_real "${_framework_dir}" REALPATH)
get_filename_component(_own_framework_real "${CMAKE_CURRENT_SOURCE_DIR}/framework" REALPATH)
if(_framework_real STREQUAL _own_framework_real)
  set(QVT7702_OWN_FRAMEWORK ON)
else()
  set(QVT7702_OWN_FRAMEWORK OFF)
endif()
set(QVT7702_FRAMEWORK_INCLUDE_DIR "${_framework_dir}")

# Neither tree's own path is named: a package of one commit must read the
# same from any folder.
if(QVT7702_OWN_FRAMEWORK)
  set(QVT7702_FRAMEWORK_LABEL "framework/")
else()
  set(QVT7702_FRAMEWORK_LABEL "${_framework_real}")
  foreach(_tree_name IN ITEMS build source)
    if(_tree_name STREQUAL "build")
      get_filename_component(_tree "${CMAKE_BINARY_DIR}" REALPATH)
    else()
      get_filename_component(_tree "${CMAKE_SOURCE_DIR}" REALPATH)
    endif()
    string(FIND "${_framework_real}/" "${_tree}/" _at)
    if(_at EQUAL 0)
      file(RELATIVE_PATH _inside "${_tree}" "${_framework_real}")
      set(QVT7702_FRAMEWORK_LABEL "<${_tree_name}>/${_inside}")
      break()
    endif()
  endforeach()
endif()
# For scripts/package, which records them.
set(QVT7702_FRAMEWORK_HEADERS_USED "${_framework_real}" CACHE INTERNAL
    "Framework header folder qvt7702.so is compiled against")
set(QVT7702_FRAMEWORK_HEADERS_LABEL "${QVT7702_FRAMEWORK_LABEL}" CACHE INTERNAL
    "That folder as the package names it")

# Which framework headers the plug-in is compiled against.
#
# framework/ is this repository's copy of the controller framework's
# interface, which the stand-in host, the tests and the tools implement and
# use. An integrator points QVT7702_FRAMEWORK_DIR at the controller vendor's
# own headers instead; then only the plug-in and its framework contract are
# built, because everything else needs the stand-in host that goes with
# framework/.
#
# Sets QVT7702_OWN_FRAMEWORK (ON when the folder is framework/).

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

# hidapi, in two targets:
#   kx::hidapi          library and headers, for the programs that talk to a real instrument
#   kx::hidapi_headers  headers only, for the simulated instrument that defines the calls itself
# On Linux: the system's shared library (libusb back end) through pkg-config.
# On Windows: hidapi's Windows back end compiled from its source tree, named by
# KX_HIDAPI_SOURCE (scripts/fetch-hidapi-source fetches Debian's).
add_library(kx_hidapi_headers INTERFACE)
add_library(kx::hidapi_headers ALIAS kx_hidapi_headers)
if(WIN32)
  set(KX_HIDAPI_SOURCE "" CACHE PATH "hidapi source tree for the Windows build")
  if(NOT EXISTS "${KX_HIDAPI_SOURCE}/windows/hid.c")
    message(FATAL_ERROR "KX_HIDAPI_SOURCE must name a hidapi source tree (see scripts/fetch-hidapi-source)")
  endif()
  target_include_directories(kx_hidapi_headers INTERFACE ${KX_HIDAPI_SOURCE}/hidapi ${KX_HIDAPI_SOURCE}/windows)
  add_library(kx_hidapi_win STATIC ${KX_HIDAPI_SOURCE}/windows/hid.c)
  set_target_properties(kx_hidapi_win PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON)
  target_compile_options(kx_hidapi_win PRIVATE -w)
  target_link_libraries(kx_hidapi_win PUBLIC kx_hidapi_headers)
  add_library(kx::hidapi ALIAS kx_hidapi_win)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-libusb)
  add_library(kx::hidapi ALIAS PkgConfig::HIDAPI)
  target_include_directories(kx_hidapi_headers INTERFACE ${HIDAPI_INCLUDE_DIRS})
endif()

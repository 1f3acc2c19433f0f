# hidapi: the shared library of the system (libusb back end on Linux), found
# through pkg-config. Two targets come out of it:
#   kx::hidapi          link and headers, for the programs that talk to a real instrument
#   kx::hidapi_headers  headers only, for the simulated instrument that defines the calls itself
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIDAPI REQUIRED IMPORTED_TARGET hidapi-libusb)
add_library(kx::hidapi ALIAS PkgConfig::HIDAPI)
add_library(kx_hidapi_headers INTERFACE)
target_include_directories(kx_hidapi_headers INTERFACE ${HIDAPI_INCLUDE_DIRS})
add_library(kx::hidapi_headers ALIAS kx_hidapi_headers)

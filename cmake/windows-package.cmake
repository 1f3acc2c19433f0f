# The Windows zip: the three programs, a short guide (no driver is needed: the
# instrument is a HID device) and the licences of what the programs contain:
# this project (GPL-3.0-or-later), hidapi (compiled in, used under its BSD
# licence), and the GCC and MinGW-w64 runtime libraries linked statically.
configure_file(packaging/README-windows.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE WIN32)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${KX_HIDAPI_SOURCE}/LICENSE-bsd.txt DESTINATION licences RENAME hidapi-LICENSE-bsd.txt)
install(FILES ${KX_HIDAPI_SOURCE}/LICENSE.txt DESTINATION licences RENAME hidapi-LICENSE.txt)
# Debian's copyright files of the runtime packages carry the licence texts.
set(kx_runtime_licences
    gcc-mingw-w64-base:gcc-runtime-and-libstdc++.txt
    mingw-w64-common:mingw-w64-runtime-and-winpthreads.txt)
foreach(entry ${kx_runtime_licences})
  string(REPLACE ":" ";" pair ${entry})
  list(GET pair 0 package)
  list(GET pair 1 name)
  if(NOT EXISTS /usr/share/doc/${package}/copyright)
    message(FATAL_ERROR "/usr/share/doc/${package}/copyright is missing: install ${package}")
  endif()
  install(FILES /usr/share/doc/${package}/copyright DESTINATION licences RENAME ${name})
endforeach()
install(FILES /usr/share/common-licenses/GPL-3 DESTINATION licences RENAME GPL-3.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME kxtools-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

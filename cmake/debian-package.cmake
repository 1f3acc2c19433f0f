# The Debian package: programs, manual pages compressed with gzip -9n (no name,
# no time stamp), the udev rule, the changelog and the machine-readable
# copyright file. Version and dates come from the sources alone, so that two
# builds of one commit give the same package (cpack honours SOURCE_DATE_EPOCH;
# scripts/package sets it from the commit).
find_program(GZIP gzip REQUIRED)
set(kx_gz_files "")
foreach(page kxlogreader kxflash kxconvert)
  configure_file(man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  list(APPEND kx_gz_files ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
                     COMMAND ${GZIP} -9n -c ${CMAKE_BINARY_DIR}/man/${page}.1 > ${CMAKE_BINARY_DIR}/man/${page}.1.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
                   COMMAND ${GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(documents ALL DEPENDS ${kx_gz_files} ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/70-kxplus.rules DESTINATION lib/udev/rules.d)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kxtools.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
kxlogreader downloads the log memory of a KX+ instrument over USB, checking
every part with CRC-8, splits the log into flights and writes each flight
as a KML document for Google Earth and as a CSV table for a spreadsheet.
.
kxflash updates the firmware of the instrument: it chooses the newest
firmware file, sends it part by part with acknowledgements, has the
instrument verify what it stored and restarts it.
.
kxconvert keeps the pilot's flight library: every flight of a downloaded log
as IGC for flight-log and scoring sites, GPX for maps and GPSBabel, KML with
time for Google Earth's replay and a page with its barogram, engine charts
and track, one stable name per flight, and a logbook of flight and engine
time merged across downloads, with an index of the library.
.
A udev rule lets the user logged in at the computer open the instrument.")

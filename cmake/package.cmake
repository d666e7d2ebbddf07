# The Debian package: `cpack -G DEB` in the build folder (or
# `cmake --build build --target package`) makes quon-host_VERSION_amd64.deb
# from the install rules: the program in /usr/bin, the module and the
# string library in the host's own folder /usr/lib/quon-host (found through
# run paths), the examples, the docs, the man page and the systemd unit.
# tests/package installs it in a fresh Debian 12 root.

# The man page, its version filled in and compressed as Debian keeps them.
set(QUON_MAN_PAGE ${PROJECT_BINARY_DIR}/share/man/man1/quon-host.1)
add_custom_command(OUTPUT ${QUON_MAN_PAGE}.gz
  COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/quon-host.1 -DOUT=${QUON_MAN_PAGE}
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
  COMMAND gzip -9nf ${QUON_MAN_PAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/quon-host.1 ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
  COMMENT "The man page")
# `man quon-host-serve` and the like open the same page, at its command.
set(QUON_MAN_PAGES ${QUON_MAN_PAGE}.gz)
foreach(command run shell validate serve check)
  set(page ${PROJECT_BINARY_DIR}/share/man/man1/quon-host-${command}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E echo ".so man1/quon-host.1" > ${page}
    COMMAND gzip -9nf ${page}
    COMMENT "The man page of quon-host ${command}")
  list(APPEND QUON_MAN_PAGES ${page}.gz)
endforeach()
add_custom_target(quon_man_page ALL DEPENDS ${QUON_MAN_PAGES})
install(FILES ${QUON_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The unit names the program by its installed path.
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/examples/quon-host.service\" unit)
  string(REPLACE \"/usr/bin/quon-host\" \"\${CMAKE_INSTALL_PREFIX}/bin/quon-host\" unit \"\${unit}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/quon-host.service\" \"\${unit}\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/quon-host.service\")
")

set(CPACK_PACKAGE_NAME quon-host)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the quon-host developers")
set(CPACK_PACKAGE_CONTACT "quon-host developers <quon-host@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "panel host for script components, and a live wall of under-monitor displays")
set(CPACK_PACKAGE_DESCRIPTION "quon-host runs script components (the Korvane under-monitor display) \
against Videohub, SW-P-08 and Ember+ routers, drives TSL UMD screens and a browser wall, checks wall \
files and validates component modules.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quon-host_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the system's libraries the program needs (OpenSSL's
# libssl3 among them); the private ones are in the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The system's store, which verifies a router at an https:// address that
# names no CaFile=.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ca-certificates)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${QUON_PRIVATE_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Installing and packaging: both programs, their man pages, the systemd units
# with the system user and data directory they run with. `cmake --install`
# puts them below CMAKE_INSTALL_PREFIX; `cpack -G DEB` packages the same
# below /usr.
include(GNUInstallDirs)

install(TARGETS busytime-harvest nsfutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/busytime-harvest.1 man/nsfutil.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# systemd reads units, sysusers.d and tmpfiles.d below both /usr/lib and
# /usr/local/lib, so they follow the prefix.
install(FILES contrib/systemd/busytime-harvest.timer DESTINATION lib/systemd/system)
install(FILES contrib/systemd/busytime-harvest.sysusers DESTINATION lib/sysusers.d
        RENAME busytime-harvest.conf)
install(FILES contrib/systemd/busytime-harvest.tmpfiles DESTINATION lib/tmpfiles.d
        RENAME busytime-harvest.conf)
# The service names the program where this installation puts it, which is
# only known at install time (cpack installs with its own prefix).
install(CODE "set(harvest_service_source \"${CMAKE_CURRENT_SOURCE_DIR}/contrib/systemd/busytime-harvest.service\")")
install(CODE [[
  set(service "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/busytime-harvest.service")
  file(READ "${harvest_service_source}" unit)
  string(REPLACE "/usr/bin/busytime-harvest" "${CMAKE_INSTALL_PREFIX}/bin/busytime-harvest"
         unit "${unit}")
  message(STATUS "Installing: ${service}")
  file(WRITE "${service}" "${unit}")
]])

# `cmake --build BUILD --target package` makes the Debian package too.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME busytime-harvest)
set(CPACK_PACKAGE_VENDOR "busytime-harvest")
set(CPACK_PACKAGE_CONTACT "busytime-harvest maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "imports published free/busy time into the busy-time database")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The DEB generator installs with DESTDIR and this prefix, so the service
# names /usr/bin/busytime-harvest whatever the build's own prefix.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# The libraries the programs link (libcurl, libsqlite3, and whatever else
# they come to need) are found by dpkg-shlibdeps; systemd provides the
# sysusers and tmpfiles tools the postinst uses when it is there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/contrib/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

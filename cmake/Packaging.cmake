# kavrin's service, the man pages and the Debian package (cpack -G DEB).

install(FILES docs/man/mirelo.1 docs/man/termsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/man/kavrin.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# The unit, the service's user and its settings: where they go depends on the
# prefix given at install time, so it is decided then (cmake/InstallService.cmake).
install(CODE "set(MIRELO_PACKAGING \"${PROJECT_SOURCE_DIR}/packaging\")
set(MIRELO_EXAMPLES \"${PROJECT_SOURCE_DIR}/examples\")
set(MIRELO_CONFIGURED \"${PROJECT_BINARY_DIR}/packaging\")
set(MIRELO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
install(SCRIPT cmake/InstallService.cmake)

# The package: everything above with prefix /usr, the settings under
# /etc/mirelo as conffiles (an operator's changes survive upgrades).
set(MIRELO_CONFFILES kavrin.conf kavrin.ini pg_service.conf prices.txt)
list(TRANSFORM MIRELO_CONFFILES PREPEND /etc/mirelo/)
list(JOIN MIRELO_CONFFILES "\n" conffiles)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/debian/conffiles "${conffiles}\n")
file(COPY packaging/debian/postinst packaging/debian/prerm packaging/debian/postrm
     DESTINATION ${PROJECT_BINARY_DIR}/packaging/debian)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Korvex)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Driver for networked price-check terminals, its tools and the price lookup service")
set(CPACK_PACKAGE_DESCRIPTION "The Mirelo driver (libmirelo.so, libmirelo-runtime.so, the interface header,
CMake and pkg-config files), the mirelo shell, the terminal simulator termsim and
the price lookup responder kavrin with its systemd unit kavrin.service.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Korvex <support@korvex.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/debian/postinst ${PROJECT_BINARY_DIR}/packaging/debian/prerm
    ${PROJECT_BINARY_DIR}/packaging/debian/postrm ${PROJECT_BINARY_DIR}/packaging/debian/conffiles)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installed with DESTDIR and prefix /usr, so that the settings land in /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

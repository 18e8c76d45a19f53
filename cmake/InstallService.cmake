# Run at install time (cmake/Packaging.cmake): kavrin.service, the sysusers
# entry of its user, and its settings. With prefix /usr the settings go to
# /etc/mirelo, as the Debian package has them; any other prefix keeps them
# under itself (PREFIX/etc/mirelo). The state is where the unit's
# StateDirectory puts it. Settings that are already there are kept.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(MIRELO_ETC /etc/mirelo)
else()
  set(MIRELO_ETC ${CMAKE_INSTALL_PREFIX}/etc/mirelo)
endif()
set(MIRELO_STATE /var/lib/mirelo)
set(KAVRIN ${CMAKE_INSTALL_PREFIX}/${MIRELO_BINDIR}/kavrin)

# One folder per destination: two installs at once do not mix their files.
string(MD5 destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(configured ${MIRELO_CONFIGURED}/${destination})
configure_file(${MIRELO_PACKAGING}/kavrin.service.in ${configured}/kavrin.service @ONLY)
configure_file(${MIRELO_PACKAGING}/kavrin.conf.in ${configured}/kavrin.conf @ONLY)
file(INSTALL ${configured}/kavrin.service DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
file(INSTALL ${MIRELO_PACKAGING}/sysusers.conf DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d
     RENAME mirelo-kavrin.conf)

foreach(setting ${configured}/kavrin.conf ${MIRELO_PACKAGING}/kavrin.ini
        ${MIRELO_PACKAGING}/pg_service.conf ${MIRELO_EXAMPLES}/prices.txt)
  get_filename_component(name ${setting} NAME)
  if(EXISTS "$ENV{DESTDIR}${MIRELO_ETC}/${name}")
    message(STATUS "Keeping: $ENV{DESTDIR}${MIRELO_ETC}/${name}")
  else()
    file(INSTALL ${setting} DESTINATION ${MIRELO_ETC})
  endif()
endforeach()

# Installation as a desktop program, and a Debian package made by CPack.
#
#   cmake --install build --prefix /usr/local
#   cpack --config build/CPackConfig.cmake -G DEB -B build/package
#
# The link libraries are private to the program: they go to lib/nivelix, and
# nivelix3 finds them there through a RUNPATH relative to itself, so that any
# prefix works without ldconfig.
include(GNUInstallDirs)

set(NIVELIX_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/nivelix)
# Named after the package, as Debian looks for it (not after the project).
set(NIVELIX_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/nivelix)
file(RELATIVE_PATH nivelix_bin_to_lib
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${NIVELIX_PRIVATE_LIBDIR})

install(TARGETS com72500 com72800
        LIBRARY DESTINATION ${NIVELIX_PRIVATE_LIBDIR} COMPONENT program)
install(TARGETS nivelix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
if(TARGET nivelix3)
  set_target_properties(nivelix3 PROPERTIES INSTALL_RPATH "\$ORIGIN/${nivelix_bin_to_lib}")
  install(TARGETS nivelix3 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
endif()
if(TARGET nivelix-record)
  set_target_properties(nivelix-record PROPERTIES INSTALL_RPATH "\$ORIGIN/${nivelix_bin_to_lib}")
  install(TARGETS nivelix-record RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  # Under the prefix's lib: /usr/lib/systemd/system in the package.
  install(FILES packaging/nivelix-record@.service
          DESTINATION lib/systemd/system COMPONENT program)
  install(FILES packaging/nivelix-record.conf.example DESTINATION ${NIVELIX_DOCDIR} COMPONENT program)
endif()
install(FILES packaging/nivelix3.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES packaging/nivelix.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT program)
install(FILES README.md docs/user-guide.md DESTINATION ${NIVELIX_DOCDIR} COMPONENT program)
# The guide's pictures, beside it as its links expect them.
install(DIRECTORY docs/screenshots DESTINATION ${NIVELIX_DOCDIR} COMPONENT program
        FILES_MATCHING PATTERN "*.png")

set(CPACK_PACKAGE_NAME nivelix)
set(CPACK_PACKAGE_VENDOR "KORVALIS S.A.")
set(CPACK_PACKAGE_CONTACT "KORVALIS S.A. technical support")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Digital inclinometers on a serial port: scan, live angles, acquisitions")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps finds the Qt and C++ runtime packages from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/link ${PROJECT_BINARY_DIR}/familyb)
# Makes the system user of the recording service.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Installation as a desktop program, and Debian packages made by CPack.
#
#   cmake --install build --prefix /usr/local
#   cpack --config build/CPackConfig.cmake -G DEB -B build/package
#
# The link libraries are private to the program: they go to lib/nivelix, and
# nivelix3 finds them there through a RUNPATH relative to itself, so that any
# prefix works without ldconfig.
include(GNUInstallDirs)

# Three Debian packages, one per install component:
#   nivelix          (program) nivelix3, its desktop entry and icon, the
#                    documentation; the viewer's rules use this component too;
#   nivelix-record   (record)  the recorder without a window (Qt Core and
#                    libmosquitto only), its systemd unit and system user;
#   libnivelix-link  (link)    the two sensor link libraries, the simulator
#                    nivelix-sim (tried against on a desk and on a site
#                    alike, and needing nothing but the C++ runtime) and
#                    the port lock folder that both programs share.
# Both programs depend on libnivelix-link of the same version.
set(NIVELIX_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/nivelix)
# Named after the package, as Debian looks for it (not after the project).
set(NIVELIX_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/nivelix)
set(NIVELIX_RECORD_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/nivelix-record)
file(RELATIVE_PATH nivelix_bin_to_lib
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${NIVELIX_PRIVATE_LIBDIR})

install(TARGETS com72500 com72800
        LIBRARY DESTINATION ${NIVELIX_PRIVATE_LIBDIR} COMPONENT link)
install(TARGETS nivelix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT link)
# Under the prefix's lib: /usr/lib/tmpfiles.d in the package.
install(FILES packaging/nivelix.tmpfiles DESTINATION lib/tmpfiles.d RENAME nivelix.conf
        COMPONENT link)
if(TARGET nivelix3)
  set_target_properties(nivelix3 PROPERTIES INSTALL_RPATH "\$ORIGIN/${nivelix_bin_to_lib}")
  install(TARGETS nivelix3 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
endif()
if(TARGET nivelix-record)
  set_target_properties(nivelix-record PROPERTIES INSTALL_RPATH "\$ORIGIN/${nivelix_bin_to_lib}")
  install(TARGETS nivelix-record RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT record)
  # Under the prefix's lib: /usr/lib/systemd/system in the package.
  install(FILES packaging/nivelix-record@.service
          DESTINATION lib/systemd/system COMPONENT record)
  # The guide without its pictures, for a computer without a desktop.
  install(FILES packaging/nivelix-record.conf.example docs/user-guide.md
          DESTINATION ${NIVELIX_RECORD_DOCDIR} COMPONENT record)
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

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program record link)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME nivelix)
set(CPACK_DEBIAN_RECORD_PACKAGE_NAME nivelix-record)
set(CPACK_DEBIAN_LINK_PACKAGE_NAME libnivelix-link)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "nivelix3 finds the sensors of an RS232 line or an RS485 bus, shows and writes\ntheir configuration, shows their angles live and records timed acquisitions.")
set(CPACK_DEBIAN_RECORD_DESCRIPTION
    "Unattended inclinometer recording, without a window\nnivelix-record writes the acquisition file of nivelix3 every period and\npublishes each sample to an MQTT broker; a systemd unit runs it as a service.")
set(CPACK_DEBIAN_LINK_DESCRIPTION
    "Sensor link libraries of Nivelix, and the sensor simulator\nThe serial line and wire protocols of both sensor families, used by nivelix3\nand nivelix-record, and nivelix-sim, which plays sensors on a pseudo-terminal.")
set(CPACK_COMPONENT_PROGRAM_DEPENDS link)
set(CPACK_COMPONENT_RECORD_DEPENDS link)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps finds the Qt and C++ runtime packages from the binaries;
# the link libraries are libnivelix-link's, named above.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/link ${PROJECT_BINARY_DIR}/familyb)
# The recorder's package makes the system user of its service and stops
# its recordings when removed; the link's makes the port lock folder.
set(CPACK_DEBIAN_RECORD_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/record/postinst ${CMAKE_CURRENT_SOURCE_DIR}/packaging/record/prerm)
set(CPACK_DEBIAN_LINK_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/link/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

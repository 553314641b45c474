# Install layout and the Debian package.
#
# The programs go to bin/ and their data files to share/halvane-discovery/data/, where the
# programs look for them when no "data" folder lies beside them.

include(GNUInstallDirs)

set(GENERATOR_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATAROOTDIR}/halvane-discovery/data)

install(TARGETS generate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# convert is built by its own library folder; until that lands only generate is installed.
if(TARGET convert)
  install(TARGETS convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${GENERATOR_DATA_FILES} DESTINATION ${GENERATOR_INSTALL_DATA_DIR})

# The Debian 12 packages that hold the shared libraries the programs link; the install test
# compares this list with what the installed programs really load.
set(GENERATOR_DEBIAN_DEPENDS
    libc6 libstdc++6 libgcc-s1
    libcurl4 libssl3 libyaml-0-2 libxlsxwriter4 libzip4 libexpat1 libfmt9 zlib1g)
list(JOIN GENERATOR_DEBIAN_DEPENDS ", " generator_debian_depends_text)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvane-discovery)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Halvane migration tooling <migration-tools@halvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${generator_debian_depends_text}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Discovery of AWS VPCs for the move onto the Halvane platform
 generate logs in to the Halvane Controller, scans the VPCs of the configured AWS
 accounts, proposes a gateway subnet and name per VPC and writes a discovery YAML
 file and/or a workbook; convert turns the edited workbook into the discovery file.")
set(CPACK_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
include(CPack)

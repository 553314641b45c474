# Install layout and the Debian package.
#
# The build tree keeps the short names generate and convert; installed, the programs are
# halvane-generate and halvane-convert, because /usr/bin/convert belongs to ImageMagick (through the
# alternatives system) and generate is just as generic. They name themselves as they were started,
# so usage, help, man pages and messages follow the installed name. Their data files go to
# share/halvane-discovery/data/, where the programs look when no "data" folder lies beside them.
#
# Besides the programs: a manual page each (section 1, made from the program's own --help with
# help2man and the sections in packaging/man), one bash completion file answering for both
# names, and the Debian copyright file and changelog from packaging/debian.

include(GNUInstallDirs)

set(GENERATOR_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATAROOTDIR}/halvane-discovery/data)
set(GENERATOR_PROGRAMS generate convert)
set(GENERATOR_INSTALLED_NAME_PREFIX halvane-)
set(generator_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(generator_packaging_build_dir ${PROJECT_BINARY_DIR}/packaging)

# install(TARGETS) cannot rename, and install(PROGRAMS) would not strip: the program is installed
# under its build name and renamed in the install tree, after stripping.
foreach(program IN LISTS GENERATOR_PROGRAMS)
  set(installed ${GENERATOR_INSTALLED_NAME_PREFIX}${program})
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(CODE "
    set(bin_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    message(STATUS \"Renaming: \${bin_dir}/${program} -> ${installed}\")
    file(RENAME \"\${bin_dir}/${program}\" \"\${bin_dir}/${installed}\")")
endforeach()
install(FILES ${GENERATOR_DATA_FILES} DESTINATION ${GENERATOR_INSTALL_DATA_DIR})

# Manual pages: help2man reads each built program's --help and --version through
# packaging/man/help2man-input, which runs the program under its installed name, so that the page
# shows the name a user types.
find_program(HELP2MAN_PROGRAM help2man REQUIRED)
find_program(GZIP_PROGRAM gzip REQUIRED)
set(generator_man_pages)
set(man_dir ${generator_packaging_build_dir}/man)
foreach(program IN LISTS GENERATOR_PROGRAMS)
  set(installed ${GENERATOR_INSTALLED_NAME_PREFIX}${program})
  set(sections ${generator_packaging_dir}/man/${installed}.h2m)
  set(page ${man_dir}/${installed}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}/bin
    COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:${program}> ${man_dir}/bin/${installed}
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${generator_packaging_dir}/man/help2man-input ${man_dir}/${installed}
    COMMAND ${HELP2MAN_PROGRAM} --no-info --section=1 --include=${sections} --output=${page} ${man_dir}/${installed}
    COMMAND ${GZIP_PROGRAM} -9nf ${page}
    DEPENDS ${program} ${sections} ${generator_packaging_dir}/man/help2man-input
    COMMENT "Manual page of ${installed}"
    VERBATIM)
  list(APPEND generator_man_pages ${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${generator_man_pages})
install(FILES ${generator_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion loads a command's completion from a file of the command's name: one file, and a
# link for the other name.
set(generator_completion_dir ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
list(GET GENERATOR_PROGRAMS 0 first_program)
set(completion_file ${GENERATOR_INSTALLED_NAME_PREFIX}${first_program})
install(FILES ${generator_packaging_dir}/completion/halvane-discovery.bash
        DESTINATION ${generator_completion_dir} RENAME ${completion_file})
foreach(program IN LISTS GENERATOR_PROGRAMS)
  set(installed ${GENERATOR_INSTALLED_NAME_PREFIX}${program})
  if(NOT installed STREQUAL completion_file)
    install(CODE "
      set(completion_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${generator_completion_dir}\")
      message(STATUS \"Linking: \${completion_dir}/${installed} -> ${completion_file}\")
      file(CREATE_LINK ${completion_file} \"\${completion_dir}/${installed}\" SYMBOLIC)")
  endif()
endforeach()

# The Debian version is the project version and the Debian revision of the changelog's latest
# entry; a project version without its own changelog entry stops the configuration.
set(generator_changelog ${generator_packaging_dir}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${generator_changelog})
file(STRINGS ${generator_changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^halvane-discovery \\(([^)]+)-([^)-]+)\\) ")
  message(FATAL_ERROR "${generator_changelog}: the first line must read "
                      "\"halvane-discovery (VERSION-REVISION) ...\", not \"${changelog_head}\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${generator_changelog}: the latest entry is for ${CMAKE_MATCH_1}, the "
                      "project is ${PROJECT_VERSION}; add an entry for ${PROJECT_VERSION}-1")
endif()
set(GENERATOR_DEBIAN_REVISION ${CMAKE_MATCH_2})

set(generator_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/halvane-discovery)
set(generator_changelog_gz ${generator_packaging_build_dir}/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${generator_changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${generator_changelog} ${generator_packaging_build_dir}/changelog.Debian
  COMMAND ${GZIP_PROGRAM} -9nf ${generator_packaging_build_dir}/changelog.Debian
  DEPENDS ${generator_changelog}
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${generator_changelog_gz})
install(FILES ${generator_packaging_dir}/debian/copyright ${generator_changelog_gz}
        DESTINATION ${generator_doc_dir})

# The Debian 12 packages that hold the shared libraries the programs link; the install test
# compares this list with what the installed programs really load.
set(GENERATOR_DEBIAN_DEPENDS
    libc6 libstdc++6 libgcc-s1
    libcurl4 libssl3 libyaml-0-2 libxlsxwriter4 libzip4 libexpat1 libfmt9 zlib1g)
list(JOIN GENERATOR_DEBIAN_DEPENDS ", " generator_debian_depends_text)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvane-discovery)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${GENERATOR_DEBIAN_REVISION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Halvane migration tooling <migration-tools@halvane.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${generator_debian_depends_text}")
# The extended description below the summary line; cpack indents each line by one blank, and
# Debian's tools show them within 80 columns.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Discovery of the AWS VPCs of an organisation for its move onto the
Halvane platform. halvane-generate logs in to the Halvane Controller, scans
the VPCs of the configured AWS accounts, proposes a gateway subnet and name
per VPC and writes a discovery YAML file, a workbook and an address map;
halvane-convert turns the edited workbook into the discovery file.")
set(CPACK_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${generator_packaging_dir}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

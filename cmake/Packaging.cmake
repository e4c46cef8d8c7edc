# Installation layout and the Debian package (cpack -G DEB in a build folder).
#
# The console lives in a folder of its own under /opt with its settings file
# beside it; /usr/bin/Orvel_Console is a link to it (it finds its folder
# through /proc/self/exe). The maintainer scripts (dist/debian) make the
# groups, give the folder to the group orvel (3775) and set the store's rights.

set(ORVEL_CONSOLE_DIR /opt/orvel/console CACHE PATH "Folder of Orvel_Console and its settings file")
set(ORVEL_SYSTEMD_SYSTEM_DIR /lib/systemd/system CACHE PATH "Where systemd looks for system units")
set(ORVEL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvel-console)

# The command in /usr/bin.
set(consoleLink ${CMAKE_BINARY_DIR}/dist/Orvel_Console)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist/man)
file(CREATE_LINK ${ORVEL_CONSOLE_DIR}/Orvel_Console ${consoleLink} SYMBOLIC)
install(FILES ${consoleLink} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Compressed man pages and changelog, as Debian wants them.
set(compressed)
foreach(page Orvel_Console.1 Orvel_Server.1 orvel-reg.1 orvel-run.1)
  set(output ${CMAKE_BINARY_DIR}/dist/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/dist/man/${page} > ${output}
                     DEPENDS ${PROJECT_SOURCE_DIR}/dist/man/${page} VERBATIM)
  list(APPEND compressed ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(changelog ${CMAKE_BINARY_DIR}/dist/changelog.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/dist/debian/changelog > ${changelog}
                   DEPENDS ${PROJECT_SOURCE_DIR}/dist/debian/changelog VERBATIM)
add_custom_target(orvel_dist_files ALL DEPENDS ${compressed} ${changelog})

# systemd: the user unit, the system unit (one instance per user), the
# socket and store folders and the groups.
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel-server.service
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel-server@.service
        DESTINATION ${ORVEL_SYSTEMD_SYSTEM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel.tmpfiles.conf
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d RENAME orvel.conf)
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel.sysusers.conf
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d RENAME orvel.conf)

# The desktop: the console's entry and icon (the autostart entry of the log-on
# runner is installed by src/tools/orvelrun).
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel-console.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel-console.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)

# The documents.
file(GLOB orvelDocs ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${orvelDocs} ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/dist/debian/copyright
              ${changelog}
        DESTINATION ${ORVEL_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/dist/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME orvel-console)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel-console)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quarlen)
set(CPACK_PACKAGE_CONTACT "Orvel Team <orvel@quarlen.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Orvel Console and suite server")
set(CPACK_PACKAGE_DESCRIPTION
    "The Orvel Console watches and controls the component servers of the Orvel\n"
    "suite through the suite server, which runs as a systemd service. The package\n"
    "holds the console, the suite server, the registry tool and the log-on runner.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the programs' shared libraries, plus the Qt plug-in that draws
# the SVG icon (loaded at run time, so no library names it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/prerm
    ${PROJECT_SOURCE_DIR}/dist/debian/postrm ${PROJECT_SOURCE_DIR}/dist/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

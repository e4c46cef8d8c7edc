# Installation layout and the Debian package (cpack -G DEB in a build folder).
#
# The console lives in a folder of its own under /opt with its settings file
# beside it; /usr/bin/Orvel_Console is a link to it (it finds its folder
# through /proc/self/exe). The maintainer scripts (dist/debian) make the
# groups, give the folder to the group orvel (3775) and set the store's rights.
#
# A program installs itself from its own folder; its man page is in dist/man and
# in the list below.

set(ORVEL_CONSOLE_DIR /opt/orvel/console CACHE PATH "Folder of Orvel_Console and its settings file")
set(ORVEL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvel-console)

# The command in /usr/bin.
set(consoleLink ${CMAKE_BINARY_DIR}/dist/Orvel_Console)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist/man)
file(CREATE_LINK ${ORVEL_CONSOLE_DIR}/Orvel_Console ${consoleLink} SYMBOLIC)
install(FILES ${consoleLink} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Compressed man pages and changelog, as Debian wants them.
set(compressed)
foreach(page Orvel_Console.1 Orvel_Server.1 orvel-cert.1 orvel-reg.1 orvel-run.1)
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
# socket and store folders and the groups. The units name the server by its
# installed path, known only at install time.
function(orvel_install_unit source destination)
  get_filename_component(name ${source} NAME)
  install(CODE "
    set(ORVEL_SERVER_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Orvel_Server\")
    configure_file(\"${source}\" \"${CMAKE_BINARY_DIR}/dist/${name}\" @ONLY)
    set(folder \"\${CMAKE_INSTALL_PREFIX}/${destination}\")
    # Debian 12 keeps the system units of packages in /lib.
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\" AND \"${destination}\" STREQUAL \"lib/systemd/system\")
      set(folder /lib/systemd/system)
    endif()
    file(INSTALL \"${CMAKE_BINARY_DIR}/dist/${name}\" DESTINATION \"\${folder}\")
  ")
endfunction()
orvel_install_unit(${PROJECT_SOURCE_DIR}/dist/orvel-server.service lib/systemd/user)
orvel_install_unit(${PROJECT_SOURCE_DIR}/dist/orvel-server@.service lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel.tmpfiles.conf
        DESTINATION lib/tmpfiles.d RENAME orvel.conf)
install(FILES ${PROJECT_SOURCE_DIR}/dist/orvel.sysusers.conf
        DESTINATION lib/sysusers.d RENAME orvel.conf)

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
# Depends from the programs' shared libraries, plus what is loaded or run
# without a library naming it: the Qt plug-in that draws the SVG icon, the
# platform plug-ins the console needs to show a window at all (only
# recommended by Qt, so a root installed without Recommends has none), and
# the openssl program that orvel-cert runs; groupadd (passwd) for postinst
# where systemd-sysusers is missing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, openssl, passwd, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/prerm
    ${PROJECT_SOURCE_DIR}/dist/debian/postrm ${PROJECT_SOURCE_DIR}/dist/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

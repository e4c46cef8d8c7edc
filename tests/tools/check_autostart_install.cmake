# Installs the autostart component into a staging folder (DESTDIR) under a
# prefix other than /usr and checks where the XDG autostart entry lands.
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix /opt/orvel-test
                        --component autostart
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${output}")
endif()
set(entry "${STAGE}/opt/orvel-test/etc/xdg/autostart/orvel-run.desktop")
if(NOT EXISTS "${entry}")
  message(FATAL_ERROR "no autostart entry at ${entry}: ${output}")
endif()
if(NOT EXISTS "${STAGE}/opt/orvel-test/bin/orvel-run")
  message(FATAL_ERROR "orvel-run not installed: ${output}")
endif()
file(READ "${entry}" text)
if(NOT text MATCHES "\nExec=/opt/orvel-test/bin/orvel-run --log-on\n")
  message(FATAL_ERROR "the entry does not start the installed runner:\n${text}")
endif()
file(REMOVE_RECURSE "${STAGE}")

# The server row refresh and the poll tick with real X11 window lookups (own
# Xvfb under openbox, fifty windows) against the real suite server.
add_executable(bench_launcher ${CMAKE_CURRENT_LIST_DIR}/bench_launcher.cpp ${ORVEL_SERVER_HARNESS}
               ${ORVEL_X_SUPPORT})
target_include_directories(bench_launcher PRIVATE ${PROJECT_SOURCE_DIR}/tests/server
                           ${PROJECT_SOURCE_DIR}/tests/mainwindow ${PROJECT_SOURCE_DIR}/tests/x11)
target_link_libraries(bench_launcher PRIVATE mainwindow suiteclient platform_linux orvel_fakes
                      PkgConfig::XCB benchmark::benchmark GTest::gtest)
target_compile_definitions(bench_launcher PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(bench_launcher Orvel_Server orvel-demo-component)

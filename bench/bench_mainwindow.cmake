# The main window against the real suite server over its unix socket; window
# lookups are faked.
add_executable(bench_mainwindow ${CMAKE_CURRENT_LIST_DIR}/bench_mainwindow.cpp
               ${ORVEL_SERVER_HARNESS})
target_include_directories(bench_mainwindow PRIVATE ${PROJECT_SOURCE_DIR}/tests/server
                           ${PROJECT_SOURCE_DIR}/tests/mainwindow)
target_link_libraries(bench_mainwindow PRIVATE mainwindow suiteclient dcom startup platform_linux
                      platform_qt
                      orvel_fakes benchmark::benchmark GTest::gtest)
target_compile_definitions(bench_mainwindow PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(bench_mainwindow Orvel_Server orvel-demo-component)

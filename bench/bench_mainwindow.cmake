# The main window against the real suite server over its unix socket; window
# lookups are faked. Built once the suite server builds.
if(TARGET Orvel_Server AND TARGET orvel_fakes AND TARGET startup)
  add_executable(bench_mainwindow ${CMAKE_CURRENT_LIST_DIR}/bench_mainwindow.cpp
                 ${PROJECT_SOURCE_DIR}/tests/server/SuiteServerHarness.cpp)
  target_include_directories(bench_mainwindow PRIVATE ${PROJECT_SOURCE_DIR}/tests/server
                             ${PROJECT_SOURCE_DIR}/tests/mainwindow)
  target_link_libraries(bench_mainwindow PRIVATE mainwindow server orvel_fakes
                        benchmark::benchmark GTest::gtest)
  target_compile_definitions(bench_mainwindow PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_dependencies(bench_mainwindow Orvel_Server orvel-demo-component)
  target_link_libraries(bench_mainwindow PRIVATE dcom startup)
endif()

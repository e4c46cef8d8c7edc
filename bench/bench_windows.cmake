# FindWindowA among 50 top-level windows on an Xvfb the benchmark starts itself.
add_executable(bench_windows ${CMAKE_CURRENT_LIST_DIR}/bench_windows.cpp ${ORVEL_X_SUPPORT})
target_include_directories(bench_windows PRIVATE ${PROJECT_SOURCE_DIR}/tests/x11)
target_link_libraries(bench_windows PRIVATE platform_linux PkgConfig::XCB benchmark::benchmark)

# A component start through the real launcher with and without its output routed.
add_executable(bench_component_output ${CMAKE_CURRENT_LIST_DIR}/bench_component_output.cpp)
target_link_libraries(bench_component_output PRIVATE suiteserver platform_linux
                      benchmark::benchmark)
target_compile_definitions(bench_component_output PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(bench_component_output orvel-logpipe)

# The registry store on a temporary file: a string value read and a value write.
add_executable(bench_registry ${CMAKE_CURRENT_LIST_DIR}/bench_registry.cpp)
target_link_libraries(bench_registry PRIVATE platform_linux benchmark::benchmark)

# The registry store on a temporary file: a string value read, a value write,
# and orvel-reg exports of wide, deep and growing trees.
add_executable(bench_registry ${CMAKE_CURRENT_LIST_DIR}/bench_registry.cpp)
target_link_libraries(bench_registry PRIVATE orvelreg platform_linux benchmark::benchmark)

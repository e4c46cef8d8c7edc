# The NT-style process walk over at least 1,000 processes; budget 10 ms.
add_executable(bench_processes ${CMAKE_CURRENT_LIST_DIR}/bench_processes.cpp)
target_link_libraries(bench_processes PRIVATE platform_linux processes benchmark::benchmark)

# The suite server's state file: the record written before each start; budget 1 ms.
add_executable(bench_server_records ${CMAKE_CURRENT_LIST_DIR}/bench_server_records.cpp)
target_link_libraries(bench_server_records PRIVATE suiteserver orvel_fakes benchmark::benchmark)

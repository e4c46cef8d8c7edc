# The registry helpers on the SQLite store.
add_executable(bench_settings ${CMAKE_CURRENT_LIST_DIR}/bench_settings.cpp)
target_link_libraries(bench_settings PRIVATE settings platform_linux orvel_fakes benchmark::benchmark)

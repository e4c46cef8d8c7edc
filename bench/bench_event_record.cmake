# The suite's record: one event appended (budget 100 us at the median) and the
# last 1,000 events read back from a full file (budget 20 ms).
add_executable(bench_event_record ${CMAKE_CURRENT_LIST_DIR}/bench_event_record.cpp)
target_link_libraries(bench_event_record PRIVATE suiteserver orvel_fakes benchmark::benchmark)

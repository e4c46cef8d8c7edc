# Measures the registry helpers on the SQLite store, so it waits for that store.
if(EXISTS ${PROJECT_SOURCE_DIR}/src/platform/SqliteRegistry.h)
  add_executable(bench_settings ${CMAKE_CURRENT_LIST_DIR}/bench_settings.cpp)
  target_link_libraries(bench_settings PRIVATE settings orvel_fakes benchmark::benchmark)
endif()

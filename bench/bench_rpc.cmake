# Round trips to the suite server: the bare unix socket floor, GetComponentStatus
# through the console's client over the unix socket and TCP loopback, a full
# status refresh, and a component's exit reaching the event handler.
if(TARGET Orvel_Server)
  add_executable(bench_rpc ${CMAKE_CURRENT_SOURCE_DIR}/bench_rpc.cpp
                 ${PROJECT_SOURCE_DIR}/tests/server/SuiteServerHarness.cpp)
  target_include_directories(bench_rpc PRIVATE ${PROJECT_SOURCE_DIR}/tests/server)
  target_link_libraries(bench_rpc PRIVATE server suite platform benchmark::benchmark GTest::gtest)
  target_compile_definitions(bench_rpc PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_dependencies(bench_rpc Orvel_Server orvel-demo-component)
endif()

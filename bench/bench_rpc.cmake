# Round trips to the suite server: the bare unix socket floor, GetComponentStatus
# through the console's client over the unix socket and TLS on TCP loopback,
# the same call over plain-text TCP (in-process floor) against TLS, a whole
# TLS connect, a full status refresh, and a component's exit reaching the
# event handler.
add_executable(bench_rpc ${CMAKE_CURRENT_LIST_DIR}/bench_rpc.cpp ${ORVEL_SERVER_HARNESS})
target_include_directories(bench_rpc PRIVATE ${PROJECT_SOURCE_DIR}/tests/server)
target_link_libraries(bench_rpc PRIVATE suiteclient suite suite_rpc suiteserver platform_linux
                      orvel_fakes benchmark::benchmark GTest::gtest)
target_compile_definitions(bench_rpc PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(bench_rpc Orvel_Server orvel-cert orvel-demo-component)

# The server under many consoles and connections, run by hand (about a minute).
add_executable(rpc_load ${CMAKE_CURRENT_LIST_DIR}/rpc_load.cpp ${ORVEL_SERVER_HARNESS})
target_include_directories(rpc_load PRIVATE ${PROJECT_SOURCE_DIR}/tests/server)
target_link_libraries(rpc_load PRIVATE suiteclient suite suite_rpc platform_linux orvel_fakes
                      GTest::gtest)
target_compile_definitions(rpc_load PRIVATE ORVEL_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
add_dependencies(rpc_load Orvel_Server orvel-cert orvel-demo-component)

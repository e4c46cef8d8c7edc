// The client tests run on the runtime the console holds (RpcRuntime), so its
// poll engine carries every call, stream, deadline and TLS connection they
// make; the servers they start get the environment as it was.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "suiteclient/RpcRuntime.h"

namespace {

std::optional<std::string> PollStrategy() {
    const char* value = std::getenv("GRPC_POLL_STRATEGY");
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// Programs the console starts must not inherit its choice, and an engine the
// operator names is kept.
TEST(ConsoleRpcRuntime, LeavesTheEnvironmentAsItFoundIt) {
    const auto before = PollStrategy();
    unsetenv("GRPC_POLL_STRATEGY");
    { orvel::suiteclient::RpcRuntime runtime; }
    EXPECT_EQ(PollStrategy(), std::nullopt);
    setenv("GRPC_POLL_STRATEGY", "epoll1", 1);
    { orvel::suiteclient::RpcRuntime runtime; }
    EXPECT_EQ(PollStrategy(), "epoll1");
    if (before) {
        setenv("GRPC_POLL_STRATEGY", before->c_str(), 1);
    } else {
        unsetenv("GRPC_POLL_STRATEGY");
    }
}

}  // namespace

int main(int argc, char** argv) {
    orvel::suiteclient::RpcRuntime runtime;
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

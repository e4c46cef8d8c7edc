#include "suiteclient/RpcRuntime.h"

#include <grpc/grpc.h>

#include <cstdlib>

namespace orvel::suiteclient {

namespace {
constexpr const char* kPollStrategy = "GRPC_POLL_STRATEGY";
}

RpcRuntime::RpcRuntime() {
    const bool chosen = std::getenv(kPollStrategy) != nullptr;
    if (!chosen) setenv(kPollStrategy, "poll", 1);
    // gRPC reads the engine when it starts; this reference keeps it started,
    // so no later start reads the restored environment.
    grpc_init();
    if (!chosen) unsetenv(kPollStrategy);
}

RpcRuntime::~RpcRuntime() {
    grpc_shutdown();
}

}  // namespace orvel::suiteclient

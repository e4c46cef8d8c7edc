#pragma once

// gRPC's runtime for a console, held by its main() for the program's life.
//
// A console talks to one or a few servers, each instance with a thread waiting
// for its events. gRPC's default poll engine on Linux (one shared epoll set,
// edge-triggered for writing too) wakes that thread for every reply and every
// peer read and hands the caller its reply from there: about two more context
// switches per call than the socket needs. The poll() engine waits on each
// call's own descriptors and only for what is pending, so the calling thread
// reads its own reply. It is chosen here, before gRPC first starts, unless the
// environment already names an engine (GRPC_POLL_STRATEGY, kept as given).
// The environment is left as it was found, so programs the console starts do
// not inherit the choice.

namespace orvel::suiteclient {

class RpcRuntime {
  public:
    // Construct before any other thread of the program starts: it changes the
    // environment for a moment.
    RpcRuntime();
    ~RpcRuntime();
    RpcRuntime(const RpcRuntime&) = delete;
    RpcRuntime& operator=(const RpcRuntime&) = delete;
};

}  // namespace orvel::suiteclient

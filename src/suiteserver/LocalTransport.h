#pragma once

// The sockets the server accepts itself before gRPC sees a connection.
// The unix socket: each caller's credentials are read from the kernel
// (SO_PEERCRED), so only the server's own user, root and members of the
// suite's group are served, whatever the socket's mode.
// The TCP port: its listening socket stays open for the server's whole run,
// and a connection that comes when the descriptors run short is closed at
// once instead of costing the listener or the connections already served.

#include <grpcpp/server.h>
#include <grpcpp/server_builder.h>
#include <sys/types.h>

#include <atomic>
#include <memory>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"
#include "suiteserver/ServerLog.h"
#include "suiteserver/SuiteRpcService.h"

namespace orvel::suiteserver {

inline constexpr const char* kSuiteGroup = "orvel";

// Whether the user may use the suite server: the server's own user, root, or a
// member of the suite's group (primary or supplementary).
bool MayUseSuiteServer(uid_t uid, gid_t primaryGid, uid_t serverUid);

class LocalListener final : public LocalPeers {
  public:
    explicit LocalListener(ServerLog& log) : log_(log) {}
    ~LocalListener() override;
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    // Binds and listens on path (a stale socket file is replaced); the problem,
    // or "" when it listens.
    std::string Open(const std::string& path);
    // Accepts until Stop, handing each admitted connection to server.
    void Start(grpc::Server& server);
    void Stop();

    std::optional<LocalPeer> PeerOf(const std::string& peer) override;

  private:
    void AcceptLoop(grpc::Server* server);

    ServerLog& log_;
    platform::UniqueFd listenFd_;
    // A byte written here wakes the accept loop to end it.
    platform::UniqueFd wakeRead_;
    platform::UniqueFd wakeWrite_;
    std::thread thread_;
    std::mutex mutex_;
    std::map<int, LocalPeer> uids_;  // by the connection's descriptor
};

class TcpListener {
  public:
    explicit TcpListener(ServerLog& log) : log_(log) {}
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds and listens on host:port (host empty: every IPv4 and IPv6
    // address); the problem, or "" when it listens.
    std::string Open(const std::string& host, int port);
    // Accepts until Stop, handing each connection to acceptor (the TLS server's).
    void Start(std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor);
    void Stop();
    // Connections closed at once because descriptors ran short.
    std::size_t Shed() const { return shed_; }

  private:
    void AcceptLoop();
    void ShedOne(int error);

    ServerLog& log_;
    platform::UniqueFd listenFd_;
    platform::UniqueFd reserveFd_;  // given up for a moment to accept and close one connection
    platform::UniqueFd wakeRead_;
    platform::UniqueFd wakeWrite_;
    std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor_;
    std::thread thread_;
    std::atomic<std::size_t> shed_{0};
};

}  // namespace orvel::suiteserver

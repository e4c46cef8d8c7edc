#pragma once

// The unix socket, accepted by the server itself: each caller's credentials
// are read from the kernel (SO_PEERCRED) before gRPC sees the connection, so
// only the server's own user, root and members of the suite's group are served,
// whatever the socket's mode.

#include <grpcpp/server.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    std::map<int, LocalPeer> uids_;  // by the connection's descriptor
};

}  // namespace orvel::suiteserver

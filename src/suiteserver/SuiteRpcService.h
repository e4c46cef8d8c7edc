#pragma once

// The suite server's RPC face: each call checked and handed to the core.

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "suite_server.grpc.pb.h"
#include "suiteserver/SuiteServerCore.h"
#include "suiteserver/TransportSecurity.h"

namespace orvel::suiteserver {

struct ServiceLimits {
    // Instances all remote callers together may hold; the rest of the core's
    // maximum is kept for the local socket.
    std::size_t remoteInstances = 224;
};

// Who calls: a local user by user id, or a remote computer by its address and
// the serial number of its TLS certificate.
struct Caller {
    bool local = true;
    std::string owner;  // same owner, same caller: "uid 1000", "certificate 1A2B"
    std::string host;   // what the per-host cap counts: "uid 1000", "ipv4:192.0.2.7"
    std::string label;  // for the log
    std::string name;   // a remote caller's certificate name
};

// The user behind a local connection, from the peer text gRPC gives it
// ("fd:12"); the local transport fills it in.
struct LocalPeer {
    uid_t uid = 0;
    bool allowed = false;
};
class LocalPeers {
  public:
    virtual ~LocalPeers() = default;
    virtual std::optional<LocalPeer> PeerOf(const std::string& peer) = 0;
};

class SuiteRpcService final : public orvel::rpc::SuiteServer::Service {
  public:
    // revoked: the TCP transport's revocation list (nullptr: no TCP).
    SuiteRpcService(SuiteServerCore& core, ServerLog& log, RevocationList* revoked = nullptr,
                    LocalPeers* localPeers = nullptr, ServiceLimits limits = {})
        : core_(core), log_(log), revoked_(revoked), localPeers_(localPeers), limits_(limits) {}

    // Ends every event stream at its next wake-up (at shutdown).
    void BeginShutdown() { shuttingDown_ = true; }
    // Releases the instances of certificates revoked since the last look (their
    // event streams end, every further call is refused); the count released.
    std::size_t EndRevoked();

    using Ctx = grpc::ServerContext;
    using Ref = orvel::rpc::InstanceRef;
    using Idx = orvel::rpc::IndexRequest;
    using I16 = orvel::rpc::Int16Reply;
    using I32 = orvel::rpc::Int32Reply;
    using Str = orvel::rpc::StringReply;

    grpc::Status CreateInstance(Ctx* context, const orvel::rpc::CreateInstanceRequest* request,
                                Ref* reply) override;
    grpc::Status ReleaseInstance(Ctx* context, const Ref* request,
                                 orvel::rpc::Empty* reply) override;
    grpc::Status Events(Ctx* context, const Ref* request,
                        grpc::ServerWriter<orvel::rpc::ServerEvent>* writer) override;

    grpc::Status GetClientCount(Ctx* context, const Ref* request, I16* reply) override;
    grpc::Status GetActiveSet(Ctx* context, const Ref* request, Str* reply) override;
    grpc::Status DisconnectClient(Ctx* context, const Ref* request, I16* reply) override;
    grpc::Status ConnectClient(Ctx* context, const orvel::rpc::ConnectClientRequest* request,
                               I16* reply) override;
    grpc::Status GetComponentName(Ctx* context, const Idx* request, Str* reply) override;
    grpc::Status GetComponentStatus(Ctx* context, const Idx* request, I32* reply) override;
    grpc::Status StopComponent(Ctx* context, const Idx* request, I32* reply) override;
    grpc::Status StartComponent(Ctx* context, const Idx* request, I32* reply) override;
    grpc::Status GetPlatformId(Ctx* context, const Ref* request, I16* reply) override;
    grpc::Status GetServerTime(Ctx* context, const Ref* request,
                               orvel::rpc::DateTimeReply* reply) override;
    grpc::Status GetOSBuild(Ctx* context, const Ref* request, I16* reply) override;
    grpc::Status GetOSMinorVersion(Ctx* context, const Ref* request, I16* reply) override;
    grpc::Status GetOSMajorVersion(Ctx* context, const Ref* request, I16* reply) override;
    grpc::Status GetServerName(Ctx* context, const Ref* request, Str* reply) override;
    grpc::Status GetServerVersion(Ctx* context, const Ref* request, Str* reply) override;
    grpc::Status SendOperatorMessage(Ctx* context, const orvel::rpc::OperatorMessage* request,
                                     orvel::rpc::Empty* reply) override;

  private:
    struct Handle {
        InstanceId id = 0;
        Caller caller;
    };
    // The caller, or a refusal when it may not call at all.
    grpc::Status Identify(const grpc::ServerContext* context, Caller* caller);
    // The core's instance behind the handle, when this caller created it.
    grpc::Status Resolve(const grpc::ServerContext* context, const std::string& handle,
                         InstanceId* id, Caller* caller = nullptr);
    void Forget(const std::string& handle);

    SuiteServerCore& core_;
    ServerLog& log_;
    RevocationList* revoked_ = nullptr;
    LocalPeers* localPeers_ = nullptr;
    ServiceLimits limits_;
    std::atomic<bool> shuttingDown_{false};

    std::mutex handlesMutex_;
    std::map<std::string, Handle> handles_;
    std::uint64_t revocationSeen_ = 0;

    // Certificates already read, by their text: a call costs a lookup, not a parse.
    std::mutex identitiesMutex_;
    std::unordered_map<std::string, CertificateIdentity> identities_;
};

// The status a refusal travels as.
grpc::Status RefusalStatus(Refusal refusal);

}  // namespace orvel::suiteserver

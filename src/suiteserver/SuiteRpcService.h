#pragma once

// The suite server's RPC face: each call checked and handed to the core.
// Calls that only look something up are answered on the gRPC thread that
// read them; those that may wait (a component's start or stop, a client's
// registration written to the store) go to a small pool of handler threads.
// Event streams are written as their events come, with no thread of their own.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

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

// Threads that run the handlers that may wait, a bounded queue of them.
class HandlerPool {
  public:
    HandlerPool(std::size_t threads, std::size_t maxQueued);
    ~HandlerPool();
    HandlerPool(const HandlerPool&) = delete;
    HandlerPool& operator=(const HandlerPool&) = delete;
    // False when the queue is full or the pool stopped: the work is not run.
    bool Run(std::function<void()> work);

  private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::size_t maxQueued_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

class SuiteRpcService final : public orvel::rpc::SuiteServer::CallbackService {
  public:
    // revoked: the TCP transport's revocation list (nullptr: no TCP).
    SuiteRpcService(SuiteServerCore& core, ServerLog& log, RevocationList* revoked = nullptr,
                    LocalPeers* localPeers = nullptr, ServiceLimits limits = {})
        : core_(core), log_(log), revoked_(revoked), localPeers_(localPeers), limits_(limits) {}

    // Ends every event stream at its next event; the instances' close (at
    // shutdown) wakes them all.
    void BeginShutdown() { shuttingDown_ = true; }
    // Releases the instances of certificates revoked since the last look (their
    // event streams end, every further call is refused); the count released.
    std::size_t EndRevoked();

    using Ctx = grpc::CallbackServerContext;
    using Unary = grpc::ServerUnaryReactor;
    using Ref = orvel::rpc::InstanceRef;
    using Idx = orvel::rpc::IndexRequest;
    using I16 = orvel::rpc::Int16Reply;
    using I32 = orvel::rpc::Int32Reply;
    using Str = orvel::rpc::StringReply;

    Unary* CreateInstance(Ctx* context, const orvel::rpc::CreateInstanceRequest* request,
                          Ref* reply) override;
    Unary* ReleaseInstance(Ctx* context, const Ref* request, orvel::rpc::Empty* reply) override;
    grpc::ServerWriteReactor<orvel::rpc::ServerEvent>* Events(Ctx* context,
                                                              const Ref* request) override;

    Unary* GetClientCount(Ctx* context, const Ref* request, I16* reply) override;
    Unary* GetActiveSet(Ctx* context, const Ref* request, Str* reply) override;
    Unary* DisconnectClient(Ctx* context, const Ref* request, I16* reply) override;
    Unary* ConnectClient(Ctx* context, const orvel::rpc::ConnectClientRequest* request,
                         I16* reply) override;
    Unary* GetComponentName(Ctx* context, const Idx* request, Str* reply) override;
    Unary* GetComponentStatus(Ctx* context, const Idx* request, I32* reply) override;
    Unary* StopComponent(Ctx* context, const Idx* request, I32* reply) override;
    Unary* StartComponent(Ctx* context, const Idx* request, I32* reply) override;
    Unary* GetPlatformId(Ctx* context, const Ref* request, I16* reply) override;
    Unary* GetServerTime(Ctx* context, const Ref* request,
                         orvel::rpc::DateTimeReply* reply) override;
    Unary* GetOSBuild(Ctx* context, const Ref* request, I16* reply) override;
    Unary* GetOSMinorVersion(Ctx* context, const Ref* request, I16* reply) override;
    Unary* GetOSMajorVersion(Ctx* context, const Ref* request, I16* reply) override;
    Unary* GetServerName(Ctx* context, const Ref* request, Str* reply) override;
    Unary* GetServerVersion(Ctx* context, const Ref* request, Str* reply) override;
    Unary* SendOperatorMessage(Ctx* context, const orvel::rpc::OperatorMessage* request,
                               orvel::rpc::Empty* reply) override;

  private:
    struct Handle {
        InstanceId id = 0;
        Caller caller;
    };
    class EventStream;

    // The caller, or a refusal when it may not call at all.
    grpc::Status Identify(const grpc::ServerContextBase* context, Caller* caller);
    // The core's instance behind the handle, when this caller created it.
    grpc::Status Resolve(const grpc::ServerContextBase* context, const std::string& handle,
                         InstanceId* id, Caller* caller = nullptr);
    void Forget(const std::string& handle);

    // Answers at once, on the calling thread.
    static Unary* Answer(Ctx* context, const grpc::Status& status);
    // Answers from a handler thread with what work returns.
    Unary* Later(Ctx* context, std::function<grpc::Status()> work);
    // The instance's call, resolved first, answered at once.
    template <typename Request, typename Work>
    Unary* Now(Ctx* context, const Request* request, Work work);

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

    // Last: its threads end before anything they use.
    HandlerPool handlers_{4, 4096};
};

// The status a refusal travels as.
grpc::Status RefusalStatus(Refusal refusal);

}  // namespace orvel::suiteserver

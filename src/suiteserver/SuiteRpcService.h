#pragma once

// The suite server's RPC face: each call checked and handed to the core, and
// the serving of a gRPC server's calls with the asynchronous API. One thread
// polls the server's completion queue and answers the calls that only look
// something up right there, with no hand-over to another thread; those that
// may wait (a component's start or stop, a registration written to the
// store) go to a small pool of handler threads. An event stream is written
// as its events come, with no thread of its own.

#include <grpcpp/server_builder.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "suite_server.grpc.pb.h"
#include "suiteserver/EventRecord.h"
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

class SuiteRpcService {
  public:
    // revoked: the TCP transport's revocation list (nullptr: no TCP).
    // record: the suite's record, for GetRecentEvents and the refusals of
    // callers (nullptr: none kept, GetRecentEvents answers no events).
    SuiteRpcService(SuiteServerCore& core, ServerLog& log, RevocationList* revoked = nullptr,
                    LocalPeers* localPeers = nullptr, ServiceLimits limits = {},
                    EventRecord* record = nullptr)
        : core_(core),
          log_(log),
          revoked_(revoked),
          localPeers_(localPeers),
          limits_(limits),
          record_(record) {}

    // Ends every event stream at its next event; the instances' close (at
    // shutdown) wakes them all.
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
                                Ref* reply);
    grpc::Status ReleaseInstance(Ctx* context, const Ref* request, orvel::rpc::Empty* reply);
    // The instance's event queue for its stream, when this caller may have it.
    grpc::Status OpenEvents(const Ctx* context, const Ref* request, InstanceId* id,
                            std::shared_ptr<EventQueue>* queue);
    // The stream broke (its client went away): the instance goes.
    void EventsBroken(const std::string& handle, InstanceId id);
    bool ShuttingDown() const { return shuttingDown_; }

    grpc::Status GetClientCount(Ctx* context, const Ref* request, I16* reply);
    grpc::Status GetActiveSet(Ctx* context, const Ref* request, Str* reply);
    grpc::Status DisconnectClient(Ctx* context, const Ref* request, I16* reply);
    grpc::Status ConnectClient(Ctx* context, const orvel::rpc::ConnectClientRequest* request,
                               I16* reply);
    grpc::Status GetComponentName(Ctx* context, const Idx* request, Str* reply);
    grpc::Status GetComponentStatus(Ctx* context, const Idx* request, I32* reply);
    grpc::Status StopComponent(Ctx* context, const Idx* request, I32* reply);
    grpc::Status StartComponent(Ctx* context, const Idx* request, I32* reply);
    grpc::Status GetPlatformId(Ctx* context, const Ref* request, I16* reply);
    grpc::Status GetServerTime(Ctx* context, const Ref* request, orvel::rpc::DateTimeReply* reply);
    grpc::Status GetOSBuild(Ctx* context, const Ref* request, I16* reply);
    grpc::Status GetOSMinorVersion(Ctx* context, const Ref* request, I16* reply);
    grpc::Status GetOSMajorVersion(Ctx* context, const Ref* request, I16* reply);
    grpc::Status GetServerName(Ctx* context, const Ref* request, Str* reply);
    grpc::Status GetServerVersion(Ctx* context, const Ref* request, Str* reply);
    grpc::Status GetRecentEvents(Ctx* context, const orvel::rpc::RecentEventsRequest* request,
                                 orvel::rpc::RecentEventsReply* reply);
    grpc::Status SendOperatorMessage(Ctx* context, const orvel::rpc::OperatorMessage* request,
                                     orvel::rpc::Empty* reply);

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
    // A TCP caller refused, into the suite's record.
    void RecordRefusal(const std::string& client, const std::string& why);

    SuiteServerCore& core_;
    ServerLog& log_;
    RevocationList* revoked_ = nullptr;
    LocalPeers* localPeers_ = nullptr;
    ServiceLimits limits_;
    EventRecord* record_ = nullptr;
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
// The status of a caller that may not make this call.
grpc::Status PermissionDenied();

// Threads that run the handlers that may wait, with a bounded queue.
class HandlerPool {
  public:
    HandlerPool(std::size_t threads, std::size_t maxQueued);
    ~HandlerPool();
    HandlerPool(const HandlerPool&) = delete;
    HandlerPool& operator=(const HandlerPool&) = delete;
    // False when the queue is full or the pool stopped: the work is not run.
    bool Run(std::function<void()> work);
    // Runs what is queued, then ends the threads.
    void Stop();

  private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::size_t maxQueued_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// One gRPC server's calls, served with the asynchronous API.
class AsyncServing {
  public:
    explicit AsyncServing(SuiteRpcService& service);
    ~AsyncServing();
    AsyncServing(const AsyncServing&) = delete;
    AsyncServing& operator=(const AsyncServing&) = delete;

    // Before the server is built.
    void Register(grpc::ServerBuilder& builder);
    // Once it is built: the calls are awaited and answered.
    void Start();
    // Before the server's Shutdown: no new call is awaited.
    void BeginShutdown();
    // After the server's Shutdown: handlers end, the queue drains.
    void Stop();

    // For the calls' own use.
    SuiteRpcService& Service() { return service_; }
    orvel::rpc::SuiteServer::AsyncService& Async() { return async_; }
    grpc::ServerCompletionQueue* Queue() { return queue_.get(); }
    HandlerPool& Handlers() { return handlers_; }
    // Runs await() (which asks gRPC for the next call of a method) unless
    // the server is shutting down.
    void Await(const std::function<void()>& await);

  private:
    SuiteRpcService& service_;
    orvel::rpc::SuiteServer::AsyncService async_;
    std::unique_ptr<grpc::ServerCompletionQueue> queue_;
    HandlerPool handlers_{3, 4096};
    std::mutex awaitMutex_;
    bool awaiting_ = true;
    std::thread thread_;
};

}  // namespace orvel::suiteserver

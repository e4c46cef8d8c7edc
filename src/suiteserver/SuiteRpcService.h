#pragma once

// The suite server's RPC face: each call checked and handed to the core.

#include <atomic>

#include "suite_server.grpc.pb.h"
#include "suiteserver/SuiteServerCore.h"

namespace orvel::suiteserver {

class SuiteRpcService final : public orvel::rpc::SuiteServer::Service {
  public:
    SuiteRpcService(SuiteServerCore& core, ServerLog& log) : core_(core), log_(log) {}

    // Ends every event stream at its next wake-up (at shutdown).
    void BeginShutdown() { shuttingDown_ = true; }

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
    SuiteServerCore& core_;
    ServerLog& log_;
    std::atomic<bool> shuttingDown_{false};
};

// The status a refusal travels as.
grpc::Status RefusalStatus(Refusal refusal);

}  // namespace orvel::suiteserver

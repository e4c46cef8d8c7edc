// The calls of an instance, each checked and handed to the core.

#include <cstdint>
#include <limits>

#include "platform/Clamp.h"
#include "suiteserver/SuiteRpcService.h"

namespace orvel::suiteserver {

namespace {

template <typename T, typename Reply>
grpc::Status Deliver(const Outcome<T, Refusal>& answer, Reply* reply) {
    if (!answer.ok()) return RefusalStatus(answer.error());
    reply->set_value(answer.value());
    return grpc::Status::OK;
}

// A 16-bit index travels in a wider field; anything outside 16 bits is no slot.
int IndexOf(const orvel::rpc::IndexRequest* request) {
    int index = request->index();
    return index < std::numeric_limits<std::int16_t>::min() ||
                   index > std::numeric_limits<std::int16_t>::max()
               ? -1
               : index;
}

}  // namespace

grpc::Status RefusalStatus(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone:
            return grpc::Status::OK;
        case Refusal::kUnknownInstance:
            return {grpc::StatusCode::NOT_FOUND, "unknown instance"};
        case Refusal::kBadIndex:
            return {grpc::StatusCode::INVALID_ARGUMENT, "index outside 0..19"};
        case Refusal::kTooManyInstances:
            return {grpc::StatusCode::RESOURCE_EXHAUSTED, "too many instances"};
        case Refusal::kBadArgument:
            return {grpc::StatusCode::INVALID_ARGUMENT, "argument too long"};
        case Refusal::kAlreadyAttached:
            return {grpc::StatusCode::ALREADY_EXISTS, "events already being delivered"};
    }
    return {grpc::StatusCode::INTERNAL, "unknown refusal"};
}

grpc::Status SuiteRpcService::CreateInstance(Ctx* context,
                                             const orvel::rpc::CreateInstanceRequest* request,
                                             Ref* reply) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return status;
    std::lock_guard lock(handlesMutex_);
    // Instances the core let go by itself (never attached, shut down) are
    // forgotten here too.
    std::size_t remote = 0;
    for (auto it = handles_.begin(); it != handles_.end();) {
        if (!core_.Known(it->second.id)) {
            it = handles_.erase(it);
            continue;
        }
        if (!it->second.caller.local) ++remote;
        ++it;
    }
    if (!caller.local && remote >= limits_.remoteInstances) {
        log_.Line("refused instance for " + caller.label + ": " + std::to_string(remote) +
                  " remote instances exist (the rest is kept for local consoles)");
        return RefusalStatus(Refusal::kTooManyInstances);
    }
    std::string program = EscapeForLog(request->client_program());
    if (!caller.local) program += " of \"" + caller.name + "\"";
    auto answer = core_.CreateInstance(caller.host, program);
    if (!answer.ok()) return RefusalStatus(answer.error());
    std::string handle;
    do {
        handle = RandomHandle();
    } while (handles_.count(handle) != 0);
    handles_[handle] = Handle{answer.value(), std::move(caller)};
    reply->set_instance(handle);
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::ReleaseInstance(Ctx* context, const Ref* request,
                                              orvel::rpc::Empty*) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    Forget(request->instance());
    return core_.ReleaseInstance(id) ? grpc::Status::OK : RefusalStatus(Refusal::kUnknownInstance);
}

grpc::Status SuiteRpcService::OpenEvents(const Ctx* context, const Ref* request, InstanceId* id,
                                         std::shared_ptr<EventQueue>* queue) {
    if (auto status = Resolve(context, request->instance(), id); !status.ok()) return status;
    auto attached = core_.AttachEvents(*id);
    if (!attached.ok()) return RefusalStatus(attached.error());
    *queue = attached.value();
    return grpc::Status::OK;
}

void SuiteRpcService::EventsBroken(const std::string& handle, InstanceId id) {
    Forget(handle);
    core_.EventStreamBroken(id);
}

grpc::Status SuiteRpcService::GetClientCount(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetClientCount(id), reply);
}

grpc::Status SuiteRpcService::GetActiveSet(Ctx* context, const Ref* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetActiveSet(id), reply);
}

grpc::Status SuiteRpcService::DisconnectClient(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.DisconnectClient(id), reply);
}

grpc::Status SuiteRpcService::ConnectClient(Ctx* context,
                                            const orvel::rpc::ConnectClientRequest* request,
                                            I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.ConnectClient(id, request->name()), reply);
}

grpc::Status SuiteRpcService::GetComponentName(Ctx* context, const Idx* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetComponentName(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::GetComponentStatus(Ctx* context, const Idx* request, I32* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetComponentStatus(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::StopComponent(Ctx* context, const Idx* request, I32* reply) {
    InstanceId id = 0;
    Caller caller;
    if (auto status = Resolve(context, request->instance(), &id, &caller); !status.ok()) {
        return status;
    }
    // A remote console never stops a component server; over TCP nobody may.
    if (!caller.local) {
        log_.Line("refused StopComponent from " + caller.label + ": remote callers may not stop");
        return PermissionDenied();
    }
    return Deliver(core_.StopComponent(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::StartComponent(Ctx* context, const Idx* request, I32* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.StartComponent(id, IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::GetPlatformId(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetPlatformId(id), reply);
}

grpc::Status SuiteRpcService::GetServerTime(Ctx* context, const Ref* request,
                                            orvel::rpc::DateTimeReply* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    auto answer = core_.GetServerTime(id);
    if (!answer.ok()) return RefusalStatus(answer.error());
    reply->set_year(answer->year);
    reply->set_month(answer->month);
    reply->set_day(answer->day);
    reply->set_hour(answer->hour);
    reply->set_minute(answer->minute);
    reply->set_second(answer->second);
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::GetOSBuild(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetOSBuild(id), reply);
}

grpc::Status SuiteRpcService::GetOSMinorVersion(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetOSMinorVersion(id), reply);
}

grpc::Status SuiteRpcService::GetOSMajorVersion(Ctx* context, const Ref* request, I16* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetOSMajorVersion(id), reply);
}

grpc::Status SuiteRpcService::GetServerName(Ctx* context, const Ref* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetServerName(id), reply);
}

grpc::Status SuiteRpcService::GetServerVersion(Ctx* context, const Ref* request, Str* reply) {
    InstanceId id = 0;
    if (auto status = Resolve(context, request->instance(), &id); !status.ok()) return status;
    return Deliver(core_.GetServerVersion(id), reply);
}

grpc::Status SuiteRpcService::SendOperatorMessage(Ctx* context,
                                                  const orvel::rpc::OperatorMessage* request,
                                                  orvel::rpc::Empty*) {
    Caller caller;
    if (auto status = Identify(context, &caller); !status.ok()) return status;
    if (!caller.local) {
        log_.Line("message refused from " + caller.label + ": local socket only");
        return PermissionDenied();
    }
    return RefusalStatus(core_.SendOperatorMessage(platform::ClampToInt16(request->int_message()),
                                                   platform::ClampToInt16(request->int_var()),
                                                   request->str_var()));
}

}  // namespace orvel::suiteserver

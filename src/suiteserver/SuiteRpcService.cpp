#include "suiteserver/SuiteRpcService.h"

#include <chrono>
#include <limits>

#include "platform/Clamp.h"

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

bool IsLocalPeer(const grpc::ServerContext* context) {
    return context->peer().rfind("unix:", 0) == 0;
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
    auto answer = core_.CreateInstance(context->peer(), request->client_program());
    if (!answer.ok()) return RefusalStatus(answer.error());
    reply->set_instance(answer.value());
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::ReleaseInstance(Ctx*, const Ref* request, orvel::rpc::Empty*) {
    return core_.ReleaseInstance(request->instance()) ? grpc::Status::OK
                                                      : RefusalStatus(Refusal::kUnknownInstance);
}

grpc::Status SuiteRpcService::Events(Ctx* context, const Ref* request,
                                     grpc::ServerWriter<orvel::rpc::ServerEvent>* writer) {
    InstanceId id = request->instance();
    auto attached = core_.AttachEvents(id);
    if (!attached.ok()) return RefusalStatus(attached.error());
    auto queue = attached.value();
    // Send the headers now: the client then knows the stream stands.
    writer->SendInitialMetadata();
    orvel::rpc::ServerEvent message;
    for (;;) {
        bool closed = false;
        auto events = queue->Wait(std::chrono::milliseconds(200), &closed);
        if (closed || shuttingDown_) return grpc::Status::OK;
        if (context->IsCancelled()) break;
        bool broken = false;
        for (const auto& event : events) {
            message.Clear();
            if (event.isMessage) {
                auto* body = message.mutable_message();
                body->set_int_message(event.intMessage);
                body->set_int_var(event.intVar);
                body->set_str_var(event.strVar);
            } else {
                message.mutable_server_change()->set_idx_index(event.idxIndex);
            }
            if (!writer->Write(message)) {
                broken = true;
                break;
            }
        }
        if (broken) break;
    }
    core_.EventStreamBroken(id);
    return grpc::Status::CANCELLED;
}

grpc::Status SuiteRpcService::GetClientCount(Ctx*, const Ref* request, I16* reply) {
    return Deliver(core_.GetClientCount(request->instance()), reply);
}

grpc::Status SuiteRpcService::GetActiveSet(Ctx*, const Ref* request, Str* reply) {
    return Deliver(core_.GetActiveSet(request->instance()), reply);
}

grpc::Status SuiteRpcService::DisconnectClient(Ctx*, const Ref* request, I16* reply) {
    return Deliver(core_.DisconnectClient(request->instance()), reply);
}

grpc::Status SuiteRpcService::ConnectClient(Ctx*, const orvel::rpc::ConnectClientRequest* request,
                                            I16* reply) {
    return Deliver(core_.ConnectClient(request->instance(), request->name()), reply);
}

grpc::Status SuiteRpcService::GetComponentName(Ctx*, const Idx* request, Str* reply) {
    return Deliver(core_.GetComponentName(request->instance(), IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::GetComponentStatus(Ctx*, const Idx* request, I32* reply) {
    return Deliver(core_.GetComponentStatus(request->instance(), IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::StopComponent(Ctx*, const Idx* request, I32* reply) {
    return Deliver(core_.StopComponent(request->instance(), IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::StartComponent(Ctx*, const Idx* request, I32* reply) {
    return Deliver(core_.StartComponent(request->instance(), IndexOf(request)), reply);
}

grpc::Status SuiteRpcService::GetPlatformId(Ctx*, const Ref* request, I16* reply) {
    return Deliver(core_.GetPlatformId(request->instance()), reply);
}

grpc::Status SuiteRpcService::GetServerTime(Ctx*, const Ref* request,
                                            orvel::rpc::DateTimeReply* reply) {
    auto answer = core_.GetServerTime(request->instance());
    if (!answer.ok()) return RefusalStatus(answer.error());
    reply->set_year(answer->year);
    reply->set_month(answer->month);
    reply->set_day(answer->day);
    reply->set_hour(answer->hour);
    reply->set_minute(answer->minute);
    reply->set_second(answer->second);
    return grpc::Status::OK;
}

grpc::Status SuiteRpcService::GetOSBuild(Ctx*, const Ref* request, I16* reply) {
    return Deliver(core_.GetOSBuild(request->instance()), reply);
}

grpc::Status SuiteRpcService::GetOSMinorVersion(Ctx*, const Ref* request, I16* reply) {
    return Deliver(core_.GetOSMinorVersion(request->instance()), reply);
}

grpc::Status SuiteRpcService::GetOSMajorVersion(Ctx*, const Ref* request, I16* reply) {
    return Deliver(core_.GetOSMajorVersion(request->instance()), reply);
}

grpc::Status SuiteRpcService::GetServerName(Ctx*, const Ref* request, Str* reply) {
    return Deliver(core_.GetServerName(request->instance()), reply);
}

grpc::Status SuiteRpcService::GetServerVersion(Ctx*, const Ref* request, Str* reply) {
    return Deliver(core_.GetServerVersion(request->instance()), reply);
}

grpc::Status SuiteRpcService::SendOperatorMessage(Ctx* context,
                                                  const orvel::rpc::OperatorMessage* request,
                                                  orvel::rpc::Empty*) {
    if (!IsLocalPeer(context)) {
        log_.Line("message refused from " + context->peer() + ": local socket only");
        return {grpc::StatusCode::PERMISSION_DENIED, "messages are sent on the local socket only"};
    }
    return RefusalStatus(core_.SendOperatorMessage(platform::ClampToInt16(request->int_message()),
                                                   platform::ClampToInt16(request->int_var()),
                                                   request->str_var()));
}

}  // namespace orvel::suiteserver

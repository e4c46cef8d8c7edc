#include "suiteclient/GrpcSuiteServerFactory.h"

#include <grpcpp/grpcpp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <future>
#include <iostream>
#include <limits>
#include <sstream>
#include <thread>

#include "platform/Clamp.h"
#include "suite/OperatorGroup.h"
#include "suite/ServerName.h"
#include "suite/SuiteServerSettings.h"
#include "suite_server.grpc.pb.h"

namespace orvel::suiteclient {

namespace {

using platform::MakeError;
using platform::RuntimeError;
using Stub = orvel::rpc::SuiteServer::Stub;

constexpr int kMaxReceiveBytes = 64 * 1024;

std::int16_t To16(std::int32_t value) {
    return platform::ClampToInt16(value);
}

std::chrono::system_clock::time_point After(std::chrono::milliseconds span) {
    return std::chrono::system_clock::now() + span;
}

// Why a connection to the local socket failed: EACCES means the socket is
// there but this user may not use it.
bool LocalSocketDeniesUs(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = errno;
    close(fd);
    return rc != 0 && (error == EACCES || error == EPERM);
}

// A run-time error with the reason an operator can act on.
RuntimeError Refusal(int number, std::string reason) {
    RuntimeError error = MakeError(number);
    error.reason = std::move(reason);
    return error;
}

// What a failed TLS connection says, in the words an operator can act on.
std::string TlsReason(const std::string& message) {
    std::string lower = message;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("revoked") != std::string::npos) return "certificate revoked";
    if (lower.find("certificate_verify_failed") != std::string::npos ||
        lower.find("certificate verify failed") != std::string::npos) {
        return "certificate verify failed";
    }
    if (lower.find("permission denied") != std::string::npos) return "permission denied";
    return "server unreachable";
}

// One suite server instance: its own channel, the calls with their deadline,
// and a thread that reads its events and posts them to the user-interface thread.
class GrpcSuiteServer final : public SuiteServer {
  public:
    GrpcSuiteServer(std::unique_ptr<Stub> stub, std::string instance,
                    std::chrono::milliseconds deadline, std::chrono::milliseconds attachDeadline,
                    platform::UiDispatcher& dispatcher)
        : stub_(std::move(stub)),
          instance_(std::move(instance)),
          deadline_(deadline),
          dispatcher_(dispatcher),
          sink_(std::make_shared<EventSink>()) {
        ref_.set_instance(instance_);
        // The instance is handed out once its event stream stands, so the server
        // can tell from the stream when this console goes away.
        std::promise<void> attached;
        auto standing = attached.get_future();
        eventsThread_ = std::thread([this, sink = sink_, attached = std::move(attached)]() mutable {
            ReadEvents(sink, attached);
        });
        standing.wait_for(attachDeadline);
    }

    ~GrpcSuiteServer() override {
        // No handler runs once the release has begun.
        sink_->alive = false;
        releasing_ = true;
        if (!lost_) {
            grpc::ClientContext context;
            context.set_deadline(After(deadline_));
            orvel::rpc::Empty reply;
            stub_->ReleaseInstance(&context, ref_, &reply);
        }
        eventsContext_.TryCancel();
        eventsThread_.join();
    }

    Outcome<std::int16_t> GetClientCount() override { return Call16(&Stub::GetClientCount, ref_); }
    Outcome<std::string> GetActiveSet() override { return CallText(&Stub::GetActiveSet, ref_); }
    Outcome<std::int16_t> DisconnectClient() override {
        return Call16(&Stub::DisconnectClient, ref_);
    }
    Outcome<std::int16_t> ConnectClient(const std::string& name) override {
        orvel::rpc::ConnectClientRequest request;
        request.set_instance(instance_);
        request.set_name(name);
        return Call16(&Stub::ConnectClient, request);
    }
    Outcome<std::string> GetComponentName(std::int16_t index) override {
        return CallText(&Stub::GetComponentName, Indexed(index));
    }
    Outcome<std::int32_t> GetComponentStatus(std::int16_t index) override {
        return Call32(&Stub::GetComponentStatus, Indexed(index));
    }
    Outcome<std::int32_t> StopComponent(std::int16_t index) override {
        return Call32(&Stub::StopComponent, Indexed(index));
    }
    Outcome<std::int32_t> StartComponent(std::int16_t index) override {
        return Call32(&Stub::StartComponent, Indexed(index));
    }
    Outcome<std::int16_t> GetPlatformId() override { return Call16(&Stub::GetPlatformId, ref_); }
    Outcome<platform::DateTime> GetServerTime() override {
        return Call<platform::DateTime>(
            &Stub::GetServerTime, ref_, [](const orvel::rpc::DateTimeReply& reply) {
                return platform::DateTime{reply.year(), reply.month(),  reply.day(),
                                          reply.hour(), reply.minute(), reply.second()};
            });
    }
    Outcome<std::int16_t> GetOSBuild() override { return Call16(&Stub::GetOSBuild, ref_); }
    Outcome<std::int16_t> GetOSMinorVersion() override {
        return Call16(&Stub::GetOSMinorVersion, ref_);
    }
    Outcome<std::int16_t> GetOSMajorVersion() override {
        return Call16(&Stub::GetOSMajorVersion, ref_);
    }
    Outcome<std::string> GetServerName() override { return CallText(&Stub::GetServerName, ref_); }
    Outcome<std::string> GetServerVersion() override {
        return CallText(&Stub::GetServerVersion, ref_);
    }
    Outcome<std::vector<RecordedServerEvent>> GetRecentEvents(std::uint64_t sinceSequence,
                                                              std::uint32_t max) override {
        orvel::rpc::RecentEventsRequest request;
        request.set_instance(instance_);
        request.set_since_sequence(sinceSequence);
        request.set_max(max);
        // A server older than the call answers UNIMPLEMENTED: no record to
        // show, and no sign of a lost server.
        if (!lost_) {
            grpc::ClientContext probe;
            probe.set_deadline(After(deadline_));
            orvel::rpc::RecentEventsReply reply;
            grpc::Status status = stub_->GetRecentEvents(&probe, request, &reply);
            if (status.error_code() == grpc::StatusCode::UNIMPLEMENTED)
                return MakeError(platform::kErrInvalidCall);
            if (!status.ok()) return Failure(status);
            return EventsOf(reply);
        }
        return MakeError(platform::kErrServerUnavailable);
    }

    static std::vector<RecordedServerEvent> EventsOf(const orvel::rpc::RecentEventsReply& reply) {
        std::vector<RecordedServerEvent> events;
        events.reserve(static_cast<std::size_t>(reply.events_size()));
        for (const auto& in : reply.events()) {
            RecordedServerEvent out;
            out.sequence = in.sequence();
            out.timeMs = in.time_ms();
            out.event = in.event();
            out.slot = in.slot();
            out.component = in.component();
            out.pid = in.pid();
            out.client = in.client();
            if (in.has_exit_code()) out.exitCode = in.exit_code();
            if (in.has_signal()) out.signal = in.signal();
            out.runTimeMs = in.run_time_ms();
            out.detail = in.detail();
            events.push_back(std::move(out));
        }
        return events;
    }

    void SetEventHandlers(SuiteServerEvents handlers) override {
        sink_->handlers = std::move(handlers);
    }
    void SetLostHandler(std::function<void()> handler) override {
        sink_->lost = std::move(handler);
    }
    void Abandon() override { lost_ = true; }

  private:
    // Touched on the user-interface thread only; the reader thread merely
    // keeps it alive inside the work it posts.
    struct EventSink {
        bool alive = true;
        SuiteServerEvents handlers;
        std::function<void()> lost;
    };

    template <typename Request, typename Reply>
    using Method = grpc::Status (Stub::*)(grpc::ClientContext*, const Request&, Reply*);

    template <typename T, typename Request, typename Reply, typename Extract>
    Outcome<T> Call(Method<Request, Reply> method, const Request& request, Extract extract) {
        if (lost_) return MakeError(platform::kErrServerUnavailable);
        grpc::ClientContext context;
        context.set_deadline(After(deadline_));
        Reply reply;
        grpc::Status status = (stub_.get()->*method)(&context, request, &reply);
        if (status.ok()) return extract(reply);
        return Failure(status);
    }
    template <typename Request, typename Reply>
    Outcome<std::int16_t> Call16(Method<Request, Reply> method, const Request& request) {
        return Call<std::int16_t>(method, request,
                                  [](const Reply& reply) { return To16(reply.value()); });
    }
    template <typename Request, typename Reply>
    Outcome<std::int32_t> Call32(Method<Request, Reply> method, const Request& request) {
        return Call<std::int32_t>(method, request,
                                  [](const Reply& reply) { return reply.value(); });
    }
    template <typename Request, typename Reply>
    Outcome<std::string> CallText(Method<Request, Reply> method, const Request& request) {
        return Call<std::string>(method, request, [](const Reply& reply) { return reply.value(); });
    }

    orvel::rpc::IndexRequest Indexed(std::int16_t index) const {
        orvel::rpc::IndexRequest request;
        request.set_instance(instance_);
        request.set_index(index);
        return request;
    }

    RuntimeError Failure(const grpc::Status& status) {
        switch (status.error_code()) {
            case grpc::StatusCode::PERMISSION_DENIED:
                return MakeError(platform::kErrPermissionDenied);
            case grpc::StatusCode::INVALID_ARGUMENT:
            case grpc::StatusCode::RESOURCE_EXHAUSTED:
                return MakeError(platform::kErrInvalidCall);
            case grpc::StatusCode::DEADLINE_EXCEEDED:
            case grpc::StatusCode::UNAVAILABLE:
            case grpc::StatusCode::NOT_FOUND:  // the server no longer knows this instance
                lost_ = true;
                return MakeError(platform::kErrServerUnavailable);
            default:
                return MakeError(platform::kErrServerUnavailable);
        }
    }

    // The thread that runs this holds its own reference to the sink; each posted
    // handler takes another, so the sink outlives this object if need be.
    void ReadEvents(const std::shared_ptr<EventSink>& sink, std::promise<void>& attached) {
        auto reader = stub_->Events(&eventsContext_, ref_);
        reader->WaitForInitialMetadata();
        attached.set_value();
        orvel::rpc::ServerEvent event;
        while (reader->Read(&event)) {
            if (event.has_server_change()) {
                std::int16_t index = To16(event.server_change().idx_index());
                dispatcher_.Post([sink, index] {
                    if (sink->alive && sink->handlers.serverChange) {
                        sink->handlers.serverChange(index);
                    }
                });
            } else if (event.has_message()) {
                std::int16_t intMessage = To16(event.message().int_message());
                std::int16_t intVar = To16(event.message().int_var());
                std::string strVar = event.message().str_var();
                dispatcher_.Post([sink, intMessage, intVar, strVar] {
                    if (sink->alive && sink->handlers.message) {
                        sink->handlers.message(intMessage, intVar, strVar);
                    }
                });
            }
        }
        reader->Finish();
        // A stream that ended while this side still holds the instance means
        // the server is gone (killed, stopped for good, or shutting down).
        if (!releasing_) {
            lost_ = true;
            dispatcher_.Post([sink] {
                if (sink->alive && sink->lost) sink->lost();
            });
        }
    }

    std::unique_ptr<Stub> stub_;
    std::string instance_;
    orvel::rpc::InstanceRef ref_;
    std::chrono::milliseconds deadline_;
    platform::UiDispatcher& dispatcher_;
    std::shared_ptr<EventSink> sink_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> releasing_{false};
    grpc::ClientContext eventsContext_;
    std::thread eventsThread_;
};

bool ReadWhole(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return !in.bad() && !text->empty();
}

}  // namespace

ConsoleBundle ReadConsoleBundle(const std::string& tlsFolder) {
    ConsoleBundle bundle;
    if (tlsFolder.empty()) {
        bundle.problem = "no TLS folder is known to this console";
        return bundle;
    }
    std::string folder = tlsFolder + "/" + std::string(suite::kConsoleBundleFolder);
    const std::pair<std::string_view, std::string*> files[] = {
        {suite::kAuthorityCertFile, &bundle.authorityCert},
        {suite::kBundleCertFile, &bundle.cert},
        {suite::kBundleKeyFile, &bundle.key}};
    for (const auto& [name, text] : files) {
        std::string path = folder + "/" + std::string(name);
        if (!ReadWhole(path, text)) {
            bundle.problem = "no console bundle: cannot read " + path +
                             " (issue one with \"orvel-cert bundle\" on the suite server's "
                             "computer and install it here with \"orvel-cert install\")";
            return bundle;
        }
    }
    return bundle;
}

GrpcSuiteServerFactory::GrpcSuiteServerFactory(SuiteServerEndpoints endpoints,
                                               platform::UiDispatcher& dispatcher)
    : endpoints_(std::move(endpoints)), dispatcher_(dispatcher) {}

GrpcSuiteServerFactory::~GrpcSuiteServerFactory() = default;

Outcome<std::shared_ptr<SuiteServer>> GrpcSuiteServerFactory::CreateLocal() {
    return Create("unix:" + endpoints_.socketPath, true);
}

Outcome<std::shared_ptr<SuiteServer>> GrpcSuiteServerFactory::CreateRemote(
    const std::string& computerName) {
    std::string name = computerName;
    name.erase(0, name.find_first_not_of('\\'));
    if (!suite::IsValidServerName(name)) {
        Report("cannot connect to \"" + computerName + "\": not a computer name");
        return Refusal(platform::kErrCannotCreateObject, "not a computer name");
    }
    std::string host = name.find(':') != std::string::npos ? "[" + name + "]" : name;
    return Create(host + ":" + std::to_string(endpoints_.tcpPort), false, name);
}

void GrpcSuiteServerFactory::Report(const std::string& problem) const {
    if (endpoints_.reportProblem) {
        endpoints_.reportProblem(problem);
    } else {
        std::cerr << endpoints_.clientProgram << ": " << problem << "\n";
    }
}

Outcome<std::shared_ptr<SuiteServer>> GrpcSuiteServerFactory::Create(
    const std::string& target, bool local, const std::string& computerName) {
    grpc::ChannelArguments arguments;
    // Every instance has a connection of its own, so a lost one stays lost
    // and a new instance starts afresh.
    arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    arguments.SetMaxReceiveMessageSize(kMaxReceiveBytes);
    // The console pings its server itself, so a server that stopped answering
    // (hung, or its computer gone) breaks the event stream and counts as lost:
    // within two seconds on the local socket, ten over the network, where a
    // short stall should not cost the connection.
    arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, local ? 1000 : 5000);
    arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, local ? 1000 : 5000);
    arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    arguments.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
    std::shared_ptr<grpc::ChannelCredentials> credentials;
    if (local) {
        credentials = grpc::InsecureChannelCredentials();
    } else {
        // Mutual TLS: this console's certificate for the server, and the
        // server's checked against the site authority and the name typed.
        ConsoleBundle bundle = ReadConsoleBundle(endpoints_.tlsFolder);
        if (!bundle.problem.empty()) {
            Report("cannot connect to \\\\" + computerName + ": " + bundle.problem);
            return Refusal(platform::kErrCannotCreateObject, "no console bundle");
        }
        grpc::SslCredentialsOptions options;
        options.pem_root_certs = bundle.authorityCert;
        options.pem_private_key = bundle.key;
        options.pem_cert_chain = bundle.cert;
        credentials = grpc::SslCredentials(options);
    }
    auto channel = grpc::CreateCustomChannel(target, credentials, arguments);
    auto stub = orvel::rpc::SuiteServer::NewStub(channel);

    grpc::ClientContext context;
    context.set_deadline(After(endpoints_.createDeadline));
    orvel::rpc::CreateInstanceRequest request;
    request.set_client_program(endpoints_.clientProgram);
    orvel::rpc::InstanceRef reply;
    grpc::Status status = stub->CreateInstance(&context, request, &reply);
    if (!status.ok() && !local) {
        // Refused or unreachable alike: the server cannot be created here.
        Report("cannot connect to \\\\" + computerName + " (" + target +
               "): " + status.error_message());
        return Refusal(platform::kErrCannotCreateObject, TlsReason(status.error_message()));
    }
    if (!status.ok()) {
        if (status.error_code() == grpc::StatusCode::PERMISSION_DENIED) {
            return Refusal(platform::kErrPermissionDenied, suite::kNotOperatorReason);
        }
        if (local && status.error_code() == grpc::StatusCode::UNAVAILABLE &&
            LocalSocketDeniesUs(endpoints_.socketPath)) {
            return Refusal(platform::kErrPermissionDenied, suite::kNotOperatorReason);
        }
        return Refusal(platform::kErrCannotCreateObject,
                       status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED
                           ? "no answer from the suite server"
                           : "no suite server running");
    }
    return std::shared_ptr<SuiteServer>(std::make_shared<GrpcSuiteServer>(
        std::move(stub), reply.instance(), endpoints_.callDeadline, endpoints_.createDeadline,
        dispatcher_));
}

}  // namespace orvel::suiteclient

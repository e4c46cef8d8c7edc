#include "suiteserver/StatusCommand.h"

#include <arpa/inet.h>
#include <grpcpp/grpcpp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>

#include "platform/UniqueFd.h"
#include "suite/ComponentCatalog.h"
#include "suite/SuiteServerSettings.h"
#include "suite_server.grpc.pb.h"

namespace orvel::suiteserver {

namespace {

constexpr auto kCallDeadline = std::chrono::seconds(2);

// True when a connection to the port on this computer is accepted.
bool AcceptsOnLoopback(int port) {
    if (port <= 0 || port > 65535) return false;
    platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

class Calls {
  public:
    explicit Calls(const std::string& socketPath)
        : stub_(rpc::SuiteServer::NewStub(
              grpc::CreateChannel("unix:" + socketPath, grpc::InsecureChannelCredentials()))) {}

    // Runs one call with its deadline; remembers the first failure.
    template <typename Request, typename Reply, typename Method>
    bool Call(Method method, const Request& request, Reply* reply) {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + kCallDeadline);
        grpc::Status status = (stub_.get()->*method)(&context, request, reply);
        if (!status.ok() && firstFailure.ok()) firstFailure = status;
        return status.ok();
    }

    grpc::Status firstFailure = grpc::Status::OK;

  private:
    std::unique_ptr<rpc::SuiteServer::Stub> stub_;
};

}  // namespace

std::string SlotStatusText(std::int32_t status) {
    switch (status) {
        case -1:
            return "unused";
        case 0:
            return "stopped";
        case 1:
            return "running";
        case 256:
            return "not registered";
        case 513:
            return "program missing";
        default:
            return "status " + std::to_string(status);
    }
}

std::string FormatStatus(const ServerStatus& status) {
    std::ostringstream text;
    text << "Server:     " << status.socketPath;
    if (!status.version.empty()) text << " (version " << status.version << ")";
    text << "\nClients:    " << status.clients << "\nActive set: \"" << status.activeSet
         << "\"\nTCP:        ";
    if (!status.remoteEnabled) {
        text << "not served (remote use not enabled)";
    } else if (status.tcpListening) {
        text << "served on port " << status.tcpPort;
    } else {
        text << "not served (port " << status.tcpPort << " does not answer)";
    }
    text << "\nSlots:\n";
    for (const SlotStatus& slot : status.slots) {
        text << "  " << (slot.index < 10 ? " " : "") << slot.index << "  " << slot.name;
        text << std::string(slot.name.size() < 28 ? 28 - slot.name.size() : 1, ' ')
             << SlotStatusText(slot.status) << "\n";
    }
    return text.str();
}

int RunStatusCommand(const platform::InstallRoot& root, platform::Registry& registry,
                     std::ostream& out, std::ostream& err) {
    ServerStatus status;
    status.socketPath = root.suiteServerSocket();
    // A socket this user may not write cannot be connected to; one in a
    // folder this user may not enter (the socket folder is the group orvel's)
    // cannot even be seen: both are a refusal, not a server that is missing.
    const bool exists = access(status.socketPath.c_str(), F_OK) == 0;
    if ((!exists && errno == EACCES) || (exists && access(status.socketPath.c_str(), W_OK) != 0)) {
        err << "Orvel_Server: this user may not use " << status.socketPath
            << " (a member of the group orvel may)\n";
        return kStatusNotPermitted;
    }
    Calls calls(status.socketPath);

    rpc::CreateInstanceRequest create;
    create.set_client_program("Orvel_Server --status");
    rpc::InstanceRef instance;
    if (!calls.Call(&rpc::SuiteServer::Stub::CreateInstance, create, &instance)) {
        const grpc::StatusCode code = calls.firstFailure.error_code();
        if (code == grpc::StatusCode::PERMISSION_DENIED) {
            err << "Orvel_Server: the suite server on " << status.socketPath
                << " refused this user (" << calls.firstFailure.error_message() << ")\n";
            return kStatusNotPermitted;
        }
        err << "Orvel_Server: no suite server answers on " << status.socketPath << "\n";
        return kStatusNotRunning;
    }

    rpc::StringReply text;
    if (calls.Call(&rpc::SuiteServer::Stub::GetServerVersion, instance, &text))
        status.version = text.value();
    rpc::Int16Reply number;
    if (calls.Call(&rpc::SuiteServer::Stub::GetClientCount, instance, &number))
        status.clients = number.value();
    if (calls.Call(&rpc::SuiteServer::Stub::GetActiveSet, instance, &text))
        status.activeSet = text.value();
    for (int index = 0; index < suite::kComponentSlots; ++index) {
        rpc::IndexRequest request;
        request.set_instance(instance.instance());
        request.set_index(index);
        SlotStatus slot;
        slot.index = index;
        if (calls.Call(&rpc::SuiteServer::Stub::GetComponentName, request, &text))
            slot.name = text.value();
        rpc::Int32Reply code;
        if (calls.Call(&rpc::SuiteServer::Stub::GetComponentStatus, request, &code))
            slot.status = code.value();
        status.slots.push_back(slot);
    }
    rpc::Empty none;
    calls.Call(&rpc::SuiteServer::Stub::ReleaseInstance, instance, &none);

    status.remoteEnabled = suite::RemoteUseEnabled(registry);
    status.tcpPort = suite::ReadTcpPort(registry);
    status.tcpListening = status.remoteEnabled && AcceptsOnLoopback(status.tcpPort);

    out << FormatStatus(status);
    if (!calls.firstFailure.ok()) {
        err << "Orvel_Server: some answers are missing: " << calls.firstFailure.error_message()
            << "\n";
        return kStatusIncomplete;
    }
    return kStatusAnswered;
}

}  // namespace orvel::suiteserver

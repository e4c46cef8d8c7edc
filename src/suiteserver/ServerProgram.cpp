#include "suiteserver/ServerProgram.h"

#include <fcntl.h>
#include <grpcpp/grpcpp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "platform/VersionInfo.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "suite/MachineDefaults.h"
#include "suite/SuiteServerSettings.h"
#include "suite_server.grpc.pb.h"
#include "suiteserver/ProcessLauncher.h"
#include "suiteserver/ServerRegistration.h"
#include "suiteserver/SuiteRpcService.h"
#include "suiteserver/SuiteServerCore.h"

namespace orvel::suiteserver {

namespace {

constexpr const char* kUsage =
    "Usage: Orvel_Server [OPTION]\n"
    "The Orvel suite server: client registrations, the component servers, the\n"
    "active set and this computer's identity, for the Orvel consoles.\n"
    "\n"
    "  (no option)      serve until stopped (SIGTERM, SIGINT or SIGHUP)\n"
    "  --regserver      write the server's class registration and the missing\n"
    "                   machine defaults of the remote-call settings\n"
    "  --unregserver    remove the server's class registration\n"
    "  --message TEXT   show TEXT to the operator of every connected console\n"
    "  --clear-message  withdraw the message\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "ORVEL_ROOT relocates the registry store and the socket folder.\n";

constexpr int kMaxReceiveBytes = 16 * 1024;
constexpr int kMaxSendBytes = 64 * 1024;

std::string OwnExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string Describe(platform::LONG result) {
    switch (result) {
        case platform::ERROR_ACCESS_DENIED:
            return "access denied (5): the registry store may not be written by this user";
        case platform::ERROR_BADDB:
            return "the registry store is damaged (1009)";
        default:
            return "registry error " + std::to_string(result);
    }
}

int Register(bool install) {
    auto root = platform::LocateInstallRoot();
    auto registry = platform::OpenRegistryStore(root);
    if (auto problem = registry->StoreProblem(); !problem.empty()) {
        std::cerr << "Orvel_Server: " << problem << "\n";
        return 1;
    }
    platform::LONG result = platform::ERROR_SUCCESS;
    if (install) {
        std::string self = OwnExecutable();
        if (self.empty()) {
            std::cerr << "Orvel_Server: cannot find its own program file\n";
            return 1;
        }
        result = RegisterServerClass(*registry, self);
        if (result == platform::ERROR_SUCCESS)
            result = suite::WriteMissingMachineDefaults(*registry);
    } else {
        result = UnregisterServerClass(*registry);
    }
    if (result != platform::ERROR_SUCCESS) {
        std::cerr << "Orvel_Server: " << (install ? "registration" : "unregistration")
                  << " failed: " << Describe(result) << "\n";
        return 1;
    }
    std::cout << "Orvel_Server: class " << suite::kSuiteServerProgId << " "
              << (install ? "registered" : "unregistered") << " in " << root.registryStore << "\n";
    return 0;
}

std::unique_ptr<grpc::Server> BuildServer(SuiteRpcService& service, const std::string& socketPath,
                                          int tcpPort, std::size_t maxThreads) {
    grpc::ServerBuilder builder;
    builder.AddListeningPort("unix:" + socketPath, grpc::InsecureServerCredentials());
    if (tcpPort > 0) {
        builder.AddListeningPort("0.0.0.0:" + std::to_string(tcpPort),
                                 grpc::InsecureServerCredentials());
    }
    builder.RegisterService(&service);
    builder.SetMaxReceiveMessageSize(kMaxReceiveBytes);
    builder.SetMaxSendMessageSize(kMaxSendBytes);
    // A console that vanished without closing its connection (unplugged, or
    // its computer stopped) is found by keep-alive pings within 20 s; a
    // network stall shorter than that keeps its registration.
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 10000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 10000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
    // The consoles ping every second on the local socket: such pings are
    // welcome and never answered with a GOAWAY.
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 500);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, 5);
    grpc::ResourceQuota quota("orvel-suite-server");
    quota.SetMaxThreads(static_cast<int>(maxThreads));
    builder.SetResourceQuota(quota);
    return builder.BuildAndStart();
}

}  // namespace

int ServeUntilSignalled(const platform::InstallRoot& root, platform::Registry& registry,
                        ServerLog& log) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::error_code error;
    if (!std::filesystem::exists(root.socketFolder, error)) {
        std::filesystem::create_directories(root.socketFolder, error);
        if (error) {
            log.Line("cannot create the socket folder " + root.socketFolder + ": " +
                     error.message());
            return 1;
        }
        chmod(root.socketFolder.c_str(), 0770);
    }
    // One server per socket: a second one would take the socket from the first.
    std::string lockPath = root.socketFolder + "/suite-server.lock";
    int lockFd = open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0660);
    if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        log.Line("another Orvel_Server already serves " + root.suiteServerSocket() +
                 " (or its lock file " + lockPath + " cannot be opened)");
        if (lockFd >= 0) close(lockFd);
        return 1;
    }

    if (auto problem = registry.StoreProblem(); !problem.empty()) {
        log.Line("registry store problem: " + problem + "; serving what can be answered");
    }
    bool remote = suite::RemoteUseEnabled(registry);
    int tcpPort = remote ? suite::ReadTcpPort(registry) : 0;
    CoreOptions options;
    options.stopGrace = std::chrono::milliseconds(
        suite::ReadDwordValue(registry, platform::HKEY_LOCAL_MACHINE, suite::kServerSettingsKey,
                              suite::kStopGraceValue)
            .value_or(suite::kDefaultStopGraceMs));

    ChildProcessLauncher launcher;
    platform::SystemClock clock;
    platform::LinuxSystemInfo systemInfo;
    std::unique_ptr<grpc::Server> server;
    {
        SuiteServerCore core(registry, launcher, clock, systemInfo, log, options);
        SuiteRpcService service(core, log);
        std::string socketPath = root.suiteServerSocket();
        std::size_t maxThreads = options.maxInstances + 64;
        mode_t previousMask = umask(0007);  // socket: owner and group only
        server = BuildServer(service, socketPath, tcpPort, maxThreads);
        if (!server && tcpPort > 0) {
            log.Line("cannot listen on TCP port " + std::to_string(tcpPort) +
                     "; serving the local socket only");
            tcpPort = 0;
            server = BuildServer(service, socketPath, 0, maxThreads);
        }
        umask(previousMask);
        if (!server) {
            log.Line("cannot listen on " + socketPath);
            close(lockFd);
            return 1;
        }
        chmod(socketPath.c_str(), 0660);
        log.Line("serving " + socketPath +
                 (tcpPort > 0 ? " and TCP port " + std::to_string(tcpPort)
                              : std::string(" (TCP off: remote use not enabled)")) +
                 ", registry store " + root.registryStore);

        int received = 0;
        sigwait(&stopSignals, &received);
        log.Line(std::string("stopping on signal ") + std::to_string(received));
        service.BeginShutdown();
        core.CloseAllInstances();
        server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
        server->Wait();
        server.reset();
        std::filesystem::remove(socketPath, error);
    }  // the core stops its components here
    log.Line("stopped");
    close(lockFd);
    return 0;
}

int SendMessageToServer(const std::string& socketPath, std::int16_t intMessage, std::int16_t intVar,
                        const std::string& text) {
    auto channel = grpc::CreateChannel("unix:" + socketPath, grpc::InsecureChannelCredentials());
    auto stub = orvel::rpc::SuiteServer::NewStub(channel);
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(2));
    orvel::rpc::OperatorMessage request;
    request.set_int_message(intMessage);
    request.set_int_var(intVar);
    request.set_str_var(text);
    orvel::rpc::Empty reply;
    grpc::Status status = stub->SendOperatorMessage(&context, request, &reply);
    if (status.ok()) return 0;
    if (status.error_code() == grpc::StatusCode::UNAVAILABLE ||
        status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED) {
        std::cerr << "Orvel_Server: no suite server answers on " << socketPath << "\n";
    } else {
        std::cerr << "Orvel_Server: the message was refused: " << status.error_message() << "\n";
    }
    return 1;
}

int RunServerProgram(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto usageError = [](const std::string& why) {
        std::cerr << "Orvel_Server: " << why << "\n" << kUsage;
        return 2;
    };
    if (args.empty()) {
        StderrLog log;
        auto root = platform::LocateInstallRoot();
        auto registry = platform::OpenRegistryStore(root);
        return ServeUntilSignalled(root, *registry, log);
    }
    const std::string& option = args[0];
    if (option == "--message") {
        if (args.size() != 2) return usageError("--message takes exactly one TEXT");
        return SendMessageToServer(platform::LocateInstallRoot().suiteServerSocket(), 0, -1,
                                   args[1]);
    }
    if (args.size() != 1) return usageError("unexpected argument \"" + args[1] + "\"");
    if (option == "--help" || option == "-h") {
        std::cout << kUsage;
        return 0;
    }
    if (option == "--version") {
        auto info = platform::ProgramVersionInfo();
        std::cout << "Orvel_Server " << info.major << "." << info.minor << "." << info.revision
                  << " (" << info.releaseMarker << ")\n";
        return 0;
    }
    if (option == "--regserver") return Register(true);
    if (option == "--unregserver") return Register(false);
    if (option == "--clear-message") {
        return SendMessageToServer(platform::LocateInstallRoot().suiteServerSocket(), 0, 0, "");
    }
    return usageError("unknown option \"" + option + "\"");
}

}  // namespace orvel::suiteserver

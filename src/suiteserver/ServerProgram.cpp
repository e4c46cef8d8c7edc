#include "suiteserver/ServerProgram.h"

#include <fcntl.h>
#include <grp.h>
#include <grpc/support/log.h>
#include <grpcpp/grpcpp.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "platform/VersionInfo.h"
#include "platform/linux/FileInstanceLock.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "suite/MachineDefaults.h"
#include "suite/SuiteServerSettings.h"
#include "suite_server.grpc.pb.h"
#include "suiteserver/ComponentRecords.h"
#include "suiteserver/EventRecord.h"
#include "suiteserver/EventsCommand.h"
#include "suiteserver/LocalTransport.h"
#include "suiteserver/ProcessLauncher.h"
#include "suiteserver/ServerRegistration.h"
#include "suiteserver/ServiceNotify.h"
#include "suiteserver/StatusCommand.h"
#include "suiteserver/SuiteRpcService.h"
#include "suiteserver/SuiteServerCore.h"
#include "suiteserver/TransportSecurity.h"

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
    "  --status         print the running server's slots, clients, active set and\n"
    "                   whether TCP is served; exit status 0 answered, 1 partly\n"
    "                   answered, 3 no server answers, 4 refused for this user\n"
    "  --events [--since TIME] [--slot K] [--follow] [--json]\n"
    "                   print the suite's record (starts, stops, exits, clients,\n"
    "                   refusals) from its file; TIME: YYYY-MM-DD [HH:MM[:SS]],\n"
    "                   today, yesterday, -10m, -2h, -7d; K: a slot, 0 to 19;\n"
    "                   --follow waits for more, --json prints JSON lines\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "ORVEL_ROOT relocates the registry store, the socket folder and the record.\n";

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

// How much memory all the TCP connections together may make the server hold
// (buffers of requests under way): beyond it gRPC refuses or waits, instead of
// growing without end.
constexpr std::size_t kTcpMemoryQuota = std::size_t{32} * 1024 * 1024;
// A TCP connection that has not finished its TLS handshake by then is closed,
// and one that carries no call at all for kIdleLimitMs.
constexpr int kHandshakeLimitMs = 5000;
constexpr int kIdleLimitMs = 60000;

// gRPC's errors go to standard error (the journal), one line each.
void WatchGrpcLog(gpr_log_func_args* args) {
    if (args->severity < GPR_LOG_SEVERITY_ERROR) return;
    std::string message = args->message != nullptr ? args->message : "";
    std::string line = "grpc: " + EscapeForLog(message) + "\n";
    [[maybe_unused]] auto ignored = write(STDERR_FILENO, line.data(), line.size());
}

void CommonArguments(grpc::ServerBuilder& builder) {
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
}

std::string TcpAddress(const std::string& bindAddress, int port) {
    std::string host = bindAddress.empty() ? "[::]" : bindAddress;  // [::]: IPv4 and IPv6
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    return host + ":" + std::to_string(port);
}

// The one gRPC server of both transports, with no listening port of its own:
// the local listener hands it each admitted connection of the unix socket,
// the TCP listener (credentials given) each TCP connection, to be served with
// TLS. One server, so one thread polls for both.
std::unique_ptr<grpc::Server> BuildServer(
    AsyncServing& calls, std::shared_ptr<grpc::ServerCredentials> tlsCredentials,
    std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor>* acceptor) {
    grpc::ServerBuilder builder;
    if (tlsCredentials) {
        *acceptor = builder.experimental().AddExternalConnectionAcceptor(
            grpc::ServerBuilder::experimental_type::ExternalConnectionType::FROM_FD,
            std::move(tlsCredentials));
        builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, kHandshakeLimitMs);
        builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, kIdleLimitMs);
        grpc::ResourceQuota quota("orvel-suite-server");
        quota.Resize(kTcpMemoryQuota);
        builder.SetResourceQuota(quota);
    }
    calls.Register(builder);
    CommonArguments(builder);
    return builder.BuildAndStart();
}

// Many connections need many descriptors: the soft limit goes up to the hard one.
void RaiseOpenFileLimit(ServerLog& log) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0) {
        log.Line("open-file limit raised from " + std::to_string(before) + " to " +
                 std::to_string(limit.rlim_max));
    }
}

// Stop signals are taken by sigtimedwait, not by handlers; a peer gone away
// fails a write instead of ending the process.
sigset_t PrepareProcess(ServerLog& log) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    gpr_set_log_function(WatchGrpcLog);
    RaiseOpenFileLimit(log);
    return stopSignals;
}

// The socket folder, made when missing (after a reboot without systemd nothing
// else recreates /run/orvel). Made by root it gets the rights the package gives
// it: group orvel, setgid, 2770. Anyone else makes only a folder of an
// installation root of their own; /run is root's, so the log says what to run.
bool MakeSocketFolder(const std::string& folder, ServerLog& log) {
    std::error_code error;
    if (std::filesystem::exists(folder, error)) return true;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::string line = "cannot create the socket folder " + folder + ": " + error.message();
        if (error == std::errc::permission_denied) {
            line += " (as root: install -d -o root -g " + std::string(kSuiteGroup) + " -m 2770 " +
                    folder + ")";
        }
        log.Line(line);
        return false;
    }
    if (geteuid() == 0) {
        std::vector<char> buffer(16384);
        group entry{};
        group* found = nullptr;
        if (getgrnam_r(kSuiteGroup, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && chown(folder.c_str(), 0, found->gr_gid) == 0) {
            chmod(folder.c_str(), 02770);
            return true;
        }
        log.Line("the socket folder " + folder + " has no group " + kSuiteGroup +
                 ": only root may use this server");
    }
    chmod(folder.c_str(), 0770);
    return true;
}

// Where the server listens on TCP, with TLS; port 0 when it does not.
struct TcpPlan {
    int port = 0;
    std::string bindAddress;  // empty: every address
    std::string address;
    TlsFiles tlsFiles;
    std::string offNote = " (TCP off: remote use not enabled)";
};

TcpPlan PlanTcp(const platform::InstallRoot& root, platform::Registry& registry, ServerLog& log) {
    TcpPlan plan;
    const bool remote = suite::RemoteUseEnabled(registry);
    plan.port = remote ? suite::ReadTcpPort(registry) : 0;
    plan.bindAddress = suite::ReadBindAddress(registry);
    plan.address = TcpAddress(plan.bindAddress, plan.port);
    plan.tlsFiles = TlsFilesIn(suite::TlsFolder(root.registryStore));
    if (plan.port > 0) {
        if (auto problem = TlsFilesProblem(plan.tlsFiles); !problem.empty()) {
            log.Line("TCP port " + std::to_string(plan.port) + " stays closed: " + problem);
            plan.offNote = " (TCP off: no TLS key and certificate)";
            plan.port = 0;
        }
    }
    return plan;
}

CoreOptions ReadCoreOptions(platform::Registry& registry) {
    CoreOptions options;
    options.stopGrace = std::chrono::milliseconds(
        suite::ReadDwordValue(registry, platform::HKEY_LOCAL_MACHINE, suite::kServerSettingsKey,
                              suite::kStopGraceValue)
            .value_or(suite::kDefaultStopGraceMs));
    const std::uint32_t perCaller =
        suite::ReadDwordValue(registry, platform::HKEY_LOCAL_MACHINE, suite::kServerSettingsKey,
                              suite::kInstancesPerCallerValue)
            .value_or(suite::kDefaultInstancesPerCaller);
    options.maxInstancesPerPeer = std::clamp<std::size_t>(perCaller, 1, options.maxInstances);
    // For the crash tests only: the server dies at once at the named step of
    // a start or a stop, as a kill -9 at that instant would end it.
    if (const char* step = std::getenv("ORVEL_TEST_CRASH_AT"); step != nullptr && *step != 0) {
        options.reached = [at = std::string(step)](std::string_view reached) {
            if (reached == at) raise(SIGKILL);
        };
    }
    return options;
}

// What the gRPC server is built from and serves.
struct Serving {
    SuiteRpcService& service;
    AsyncServing& calls;
    LocalListener& localListener;
    TcpListener& tcpListener;
    const TcpPlan& tcp;
    RevocationList& revoked;
    std::string socketPath;
    ServerLog& log;
};

// Opens the TCP port when planned, starts the gRPC server, then opens the
// socket and tells the supervisor the server is ready. False, with what was
// started shut down again, when a listener cannot be opened.
bool StartServer(const Serving& serving, const std::string& registryStore,
                 std::unique_ptr<grpc::Server>& server, SuiteEvents* events) {
    ServerLog& log = serving.log;
    // TCP first: once the socket is there, the whole server is.
    const int tcpPort = serving.tcp.port;
    std::shared_ptr<grpc::ServerCredentials> credentials;
    if (tcpPort > 0) {
        std::string problem = serving.tcpListener.Open(serving.tcp.bindAddress, tcpPort);
        if (!problem.empty()) {
            log.Line("cannot listen on TCP " + serving.tcp.address + ": " + problem +
                     " (the port is in use or the address is not this computer's)");
            return false;
        }
        credentials = MakeServerCredentials(serving.tcp.tlsFiles, serving.revoked, log, events);
    }
    std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor;
    server = BuildServer(serving.calls, credentials, &acceptor);
    if (!server || (tcpPort > 0 && !acceptor)) {
        log.Line("gRPC did not start");
        serving.tcpListener.Stop();
        return false;
    }
    serving.calls.Start();
    if (tcpPort > 0) serving.tcpListener.Start(std::move(acceptor));
    // Said before the socket appears: once it answers, this line is in the log.
    log.Line("serving " + serving.socketPath +
             (tcpPort > 0
                  ? " and TCP port " + std::to_string(tcpPort) + " (" + serving.tcp.address +
                        ", TLS, client certificates of " + serving.tcp.tlsFiles.authorityCert + ")"
                  : serving.tcp.offNote) +
             ", registry store " + registryStore);
    mode_t previousMask = umask(0007);  // socket: owner and group only
    std::string problem = serving.localListener.Open(serving.socketPath);
    umask(previousMask);
    if (!problem.empty()) {
        log.Line("cannot listen on " + serving.socketPath + ": " + problem);
        serving.tcpListener.Stop();
        serving.calls.BeginShutdown();
        server->Shutdown(std::chrono::system_clock::now());
        serving.calls.Stop();
        return false;
    }
    chmod(serving.socketPath.c_str(), 0660);
    serving.localListener.Start(*server);
    NotifyReady(tcpPort > 0 ? "serving the local socket and TCP port " + std::to_string(tcpPort)
                            : "serving the local socket");
    return true;
}

// Serves until a stop signal comes; once a second, revoked connections are
// ended. Every ten seconds the memory freed since (the buffers of connections
// that came and went) goes back to the system: the allocator would keep it.
int ServeLoop(const sigset_t& stopSignals, const Serving& serving) {
    for (int tick = 1;; ++tick) {
        timespec second{1, 0};
        const int received = sigtimedwait(&stopSignals, nullptr, &second);
        if (received > 0) return received;
        serving.service.EndRevoked();
        if (tick % 10 == 0) malloc_trim(0);
    }
}

// Refuses new calls, closes the instances and lets the calls under way end
// (two seconds at most), then takes the socket away.
void ShutDown(const Serving& serving, SuiteServerCore& core, grpc::Server& server) {
    NotifyStopping();
    serving.service.BeginShutdown();
    core.CloseAllInstances();
    serving.localListener.Stop();
    serving.tcpListener.Stop();
    serving.calls.BeginShutdown();
    server.Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
    serving.calls.Stop();
    server.Wait();
    std::error_code error;
    std::filesystem::remove(serving.socketPath, error);
}

}  // namespace

int ServeUntilSignalled(const platform::InstallRoot& root, platform::Registry& registry,
                        ServerLog& log) {
    const sigset_t stopSignals = PrepareProcess(log);
    if (!MakeSocketFolder(root.socketFolder, log)) return 1;
    // One server per socket: a second one would take the socket from the first.
    std::string lockPath = root.socketFolder + "/suite-server.lock";
    platform::FileInstanceLock lock(lockPath);
    if (lock.PreviousInstance() || access(lockPath.c_str(), F_OK) != 0) {
        log.Line("another Orvel_Server already serves " + root.suiteServerSocket() +
                 " (or its lock file " + lockPath + " cannot be opened)");
        return 1;
    }

    if (auto problem = registry.StoreProblem(); !problem.empty()) {
        log.Line("registry store problem: " + problem + "; serving what can be answered");
    }
    const TcpPlan tcp = PlanTcp(root, registry, log);
    CoreOptions options = ReadCoreOptions(registry);
    // The suite's record outlives the core: stopping its components at the
    // end is recorded too.
    SystemEventJournal journal;
    EventRecord record(EventRecordPath(root), {}, log,
                       StderrLog::StderrIsJournal() ? &journal : nullptr);
    options.events = &record;
    {
        SuiteEvent started;
        started.kind = SuiteEventKind::kServerStarted;
        started.pid = getpid();
        started.detail = "version " + platform::ProgramVersionInfo().releaseMarker;
        record.Record(started);
    }
    SuiteEvent stopped;
    stopped.kind = SuiteEventKind::kServerStopped;
    stopped.pid = getpid();

    const auto output = MakeComponentOutput(root, StderrLog::StderrIsJournal());
    log.Line("components' output goes to " + output->Where());
    ChildProcessLauncher launcher(output.get());
    ComponentStateFile records(ComponentStatePath(root.socketFolder, root.relocated),
                               root.socketFolder);
    // An earlier server kept the records in the socket folder: its components still run.
    if (auto moved = records.TakeOver(root.socketFolder + "/components.state"); !moved.empty()) {
        log.Line(moved);
    }
    platform::SystemClock clock;
    platform::LinuxSystemInfo systemInfo;
    RevocationList revoked(tcp.tlsFiles.revoked);

    {
        SuiteServerCore core(registry, launcher, records, clock, systemInfo, log, options);
        LocalListener localListener(log);
        TcpListener tcpListener(log);
        ServiceLimits limits;
        limits.remoteInstances = options.maxInstances - options.maxInstances / 8;
        SuiteRpcService service(core, log, tcp.port > 0 ? &revoked : nullptr, &localListener,
                                limits, &record);
        std::unique_ptr<grpc::Server> server;  // destroyed after its calls' serving has ended
        AsyncServing calls(service);
        const Serving serving{
            service, calls, localListener, tcpListener, tcp, revoked, root.suiteServerSocket(),
            log};
        if (!StartServer(serving, root.registryStore, server, &record)) {
            stopped.detail = "could not serve";
            record.Record(stopped);
            return 1;
        }
        const int received = ServeLoop(stopSignals, serving);
        log.Line(std::string("stopping on signal ") + std::to_string(received));
        stopped.detail = "on signal " + std::to_string(received);
        ShutDown(serving, core, *server);
    }  // the core stops its components here, then the launcher's watcher
    records.RemoveWhenEmpty();
    record.Record(stopped);
    log.Line("stopped");
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
    if (status.error_code() == grpc::StatusCode::PERMISSION_DENIED ||
        (status.error_code() == grpc::StatusCode::UNAVAILABLE &&
         access(socketPath.c_str(), F_OK) == 0 && access(socketPath.c_str(), R_OK | W_OK) != 0)) {
        std::cerr << "Orvel_Server: permission denied: " << socketPath
                  << " serves its owner, root and the group " << kSuiteGroup << " only\n";
        return 1;
    }
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
    if (option == "--events") {
        std::string why;
        const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        auto arguments = ParseEventsArguments({args.begin() + 1, args.end()}, nowMs, &why);
        if (!arguments) return usageError(why);
        return RunEventsCommand(EventRecordPath(platform::LocateInstallRoot()), *arguments,
                                std::cout, std::cerr, [] { return true; });
    }
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
    if (option == "--status") {
        auto root = platform::LocateInstallRoot();
        return RunStatusCommand(root, *platform::OpenRegistryStore(root), std::cout, std::cerr);
    }
    if (option == "--regserver") return Register(true);
    if (option == "--unregserver") return Register(false);
    if (option == "--clear-message") {
        return SendMessageToServer(platform::LocateInstallRoot().suiteServerSocket(), 0, 0, "");
    }
    return usageError("unknown option \"" + option + "\"");
}

}  // namespace orvel::suiteserver

// The suite server's transports against the real server over loopback: who
// is admitted on TCP (mutual TLS, revocation), what a remote caller may do,
// whose instance is whose, local callers by credentials, and a listener that
// outlives floods.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "ChildAsNobody.h"
#include "LoopbackClients.h"
#include "SuiteServerHarness.h"
#include "TempDir.h"
#include "suite/CertificateSerial.h"
#include "suite_server.grpc.pb.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using platform::HKEY_LOCAL_MACHINE;
using Stub = orvel::rpc::SuiteServer::Stub;
namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;

// A server on loopback with remote use on and its TLS folder made by orvel-cert.
struct RemoteServer {
    SuiteServerHarness harness;
    std::uint16_t port = FreeTcpPort();

    explicit RemoteServer(bool start = true) {
        harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
        harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", "Y");
        harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect",
                          "Y");
        harness.SetUpTls();
        if (start) harness.StartServer();
    }
    std::string Tls() const { return harness.root + "/tls"; }
    std::string Bundle(const std::string& computer) const { return Tls() + "/bundles/" + computer; }
    std::string IssueBundle(const std::string& computer) {
        int code = -1;
        std::string output = harness.RunProgram({"orvel-cert", "bundle", computer}, &code);
        EXPECT_EQ(code, 0) << output;
        return Bundle(computer);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(port); }
    // A connection over TCP with the console certificate of the bundle folder.
    std::unique_ptr<Stub> StubWith(const std::string& bundle) const {
        return StubFor(Target(), BundleCredentials(bundle));
    }
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> Factory() {
        return harness.MakeFactory(port, 3000ms);
    }
};

grpc::Status CreateOn(Stub& stub, std::string* handle = nullptr) {
    return CreateInstanceOn(stub, "transport_tests", 3s, handle);
}

grpc::Status StatusOn(Stub& stub, const std::string& handle) {
    return FirstStatusOn(stub, handle, 3s);
}

TEST(TransportAdmission, OnlyCertificatesOfTheSiteAuthorityAreServedAndTheNameIsChecked) {
    RemoteServer server;
    auto good = server.StubWith(server.Bundle("testpc"));
    EXPECT_TRUE(CreateOn(*good).ok());

    auto plain = StubFor(server.Target(), grpc::InsecureChannelCredentials());
    EXPECT_FALSE(CreateOn(*plain).ok()) << "plain text";

    auto anonymous = StubFor(server.Target(), BundleCredentials(server.Bundle("testpc"), false));
    EXPECT_FALSE(CreateOn(*anonymous).ok()) << "no client certificate";

    RemoteServer other(false);  // another site's authority and bundle
    auto stranger = server.StubWith(other.Bundle("testpc"));
    EXPECT_FALSE(CreateOn(*stranger).ok()) << "certificate of another authority";

    // The console checks the server's name: 127.0.0.2 reaches the same server,
    // but its certificate does not name it.
    auto factory = server.Factory();
    auto served = factory->CreateRemote("\\\\127.0.0.1");
    ASSERT_TRUE(served) << server.harness.lastProblem;
    EXPECT_GE((*served)->ConnectClient("Remote").value_or(0), 1);
    EXPECT_EQ(factory->CreateRemote("127.0.0.2").error().number, 429);
    EXPECT_THAT(server.harness.lastProblem, HasSubstr("127.0.0.2"));
    // Without a bundle: the same error, and the reason names the missing file.
    fs::remove_all(server.Tls() + "/console");
    EXPECT_EQ(factory->CreateRemote("127.0.0.1").error().number, 429);
    EXPECT_THAT(server.harness.lastProblem, HasSubstr("no console bundle"));
}

// Every spelling of a serial that people and tools write reads as one.
TEST(CertificateSerials, AreReadInOneFormWhateverTheSpelling) {
    for (const auto& [written, read] :
         std::vector<std::pair<std::string, std::string>>{{"0x1A2B", "1A2B"},
                                                          {"1a:2b", "1A2B"},
                                                          {"001A2B", "1A2B"},
                                                          {"0X1a 2B", "1A2B"},
                                                          {"00", "0"},
                                                          {"0x", ""},
                                                          {":", ""},
                                                          {"1G", ""},
                                                          {"", ""}}) {
        EXPECT_EQ(suite::NormalizeSerial(written), read) << written;
    }
    EXPECT_EQ(suite::ParseRevokedSerials("0x1a2b  # pc1\n\n# note\n00:FF\tpc2\r\nnot-hex\n"),
              (std::set<std::string>{"1A2B", "FF"}));
}

TEST(TransportAdmission, RevocationRefusesNewConnectionsAndEndsOpenOnesWithoutRestart) {
    RemoteServer server;
    std::string doomed = server.IssueBundle("doomedpc");
    auto kept = server.StubWith(server.Bundle("testpc"));
    auto stub = server.StubWith(doomed);
    std::string keptHandle, handle;
    ASSERT_TRUE(CreateOn(*kept, &keptHandle).ok());
    ASSERT_TRUE(CreateOn(*stub, &handle).ok());
    ASSERT_TRUE(StatusOn(*stub, handle).ok());

    // Revoked by its serial in another spelling ("0x" and lower case): the
    // command and the server read serials by one rule.
    int code = -1;
    std::string output = server.harness.RunProgram({"orvel-cert", "list"}, &code);
    std::smatch serial;
    ASSERT_TRUE(std::regex_search(output, serial, std::regex("doomedpc  serial ([0-9A-F]+)")));
    std::string spelled = serial[1].str();
    std::transform(spelled.begin(), spelled.end(), spelled.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
    output = server.harness.RunProgram({"orvel-cert", "revoke", "0x" + spelled}, &code);
    ASSERT_EQ(code, 0) << output;
    output = server.harness.RunProgram({"orvel-cert", "list"}, &code);
    EXPECT_THAT(output, ContainsRegex("doomedpc .*expires .*REVOKED"));

    // The open connection's calls stop; a new connection is refused.
    EXPECT_TRUE(WaitUntil([&] { return !StatusOn(*stub, handle).ok(); }, 10s));
    auto again = server.StubWith(doomed);
    EXPECT_FALSE(CreateOn(*again).ok());
    // Nobody else is touched.
    EXPECT_TRUE(StatusOn(*kept, keptHandle).ok());
    EXPECT_THAT(server.harness.ServerLog(), HasSubstr("revoked"));
    // The refusals are in the suite's record.
    output = server.harness.RunProgram({"Orvel_Server", "--events", "--json"}, &code);
    EXPECT_THAT(output, HasSubstr("\"event\":\"tls-refused\""));
    EXPECT_THAT(output, HasSubstr("\"detail\":\"certificate revoked\""));
}

TEST(TransportAdmission, TcpListensOnTheBindAddressOnlyAndNotAtAllWithoutTheServersKey) {
    RemoteServer server(false);
    server.harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "BindAddress",
                             " ::1 ");
    server.harness.StartServer();
    EXPECT_THAT(server.harness.ServerLog(), HasSubstr("[::1]:" + std::to_string(server.port)));
    auto v6 =
        StubFor("[::1]:" + std::to_string(server.port), BundleCredentials(server.Bundle("testpc")));
    EXPECT_TRUE(CreateOn(*v6).ok());
    EXPECT_FALSE(server.Factory()->CreateRemote("127.0.0.1"));
    EXPECT_THAT(server.harness.lastProblem, HasSubstr("127.0.0.1"));
    server.harness.StopServer();

    fs::remove(server.Tls() + "/server.key");
    server.harness.StartServer();
    EXPECT_THAT(server.harness.ServerLog(),
                HasSubstr("stays closed: missing " + server.Tls() + "/server.key"));
    EXPECT_FALSE(CreateOn(*v6).ok());
    EXPECT_TRUE(server.harness.Factory().CreateLocal());
}

TEST(RemoteCallers, MayNotStopNorSendMessagesNorTouchAnotherPeersInstanceNorCrowdOthersOut) {
    RemoteServer server;
    server.harness.InstallComponent(0);
    auto remote = server.Factory()->CreateRemote("127.0.0.1");
    ASSERT_TRUE(remote) << server.harness.lastProblem;
    EXPECT_EQ((*remote)->StopComponent(0).error().number, 70);
    EXPECT_TRUE((*remote)->GetComponentStatus(0));
    // The record is read-only, so remote consoles read it too.
    auto recent = (*remote)->GetRecentEvents(0, 0);
    ASSERT_TRUE(recent);
    ASSERT_FALSE(recent->empty());
    EXPECT_EQ(recent->front().event, "server-started");

    auto a = server.StubWith(server.Bundle("testpc"));
    auto b = server.StubWith(server.IssueBundle("otherpc"));
    grpc::ClientContext messageContext;
    orvel::rpc::OperatorMessage message;
    message.set_str_var("from afar");
    orvel::rpc::Empty empty;
    EXPECT_EQ(a->SendOperatorMessage(&messageContext, message, &empty).error_code(),
              grpc::StatusCode::PERMISSION_DENIED);

    // Whose instance is whose: a handle answers only the peer that created it.
    auto local = StubFor("unix:" + server.harness.socketPath, grpc::InsecureChannelCredentials());
    std::string localHandle, handleA;
    ASSERT_TRUE(CreateOn(*local, &localHandle).ok());
    ASSERT_TRUE(CreateOn(*a, &handleA).ok());
    EXPECT_EQ(localHandle.size(), 16u);
    EXPECT_NE(handleA, localHandle);
    EXPECT_TRUE(StatusOn(*a, handleA).ok());
    EXPECT_EQ(StatusOn(*b, handleA).error_code(), grpc::StatusCode::PERMISSION_DENIED);
    EXPECT_EQ(StatusOn(*a, localHandle).error_code(), grpc::StatusCode::PERMISSION_DENIED);
    grpc::ClientContext releaseContext;
    orvel::rpc::InstanceRef ref;
    ref.set_instance(localHandle);
    EXPECT_EQ(b->ReleaseInstance(&releaseContext, ref, &empty).error_code(),
              grpc::StatusCode::PERMISSION_DENIED);
    EXPECT_TRUE(StatusOn(*local, localHandle).ok()) << "still there";
    EXPECT_THAT(server.harness.ServerLog(), HasSubstr("local uid " + std::to_string(geteuid())));

    // A request over the transport's limit never reaches the instance.
    grpc::ClientContext bigContext;
    orvel::rpc::ConnectClientRequest big;
    big.set_instance(localHandle);
    big.set_name(std::string(20000, 'x'));
    orvel::rpc::Int16Reply count;
    EXPECT_EQ(local->ConnectClient(&bigContext, big, &count).error_code(),
              grpc::StatusCode::RESOURCE_EXHAUSTED);

    // One host, a new connection for every instance: refused at the host's own
    // cap, whatever the number of connections; the local console still gets in.
    std::vector<std::unique_ptr<Stub>> connections;
    grpc::Status last;
    int created = 0;
    for (; created < 300; ++created) {
        connections.push_back(server.StubWith(server.Bundle("testpc")));
        if (!(last = CreateOn(*connections.back())).ok()) break;
    }
    EXPECT_EQ(last.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
    EXPECT_LT(created, 64);
    EXPECT_TRUE(server.harness.Factory().CreateLocal());
}

// Runs a program of the build on root as "nobody" (as ourselves when the test
// cannot switch users); its output, and its exit code in code.
std::string RunAsNobody(const std::string& root, std::vector<std::string> args, int* code) {
    const std::string output = root + "/nobody.out";
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    args[0] = BinDir() + "/" + args[0];
    auto argv = Pointers(args);
    std::string rootVar = "ORVEL_ROOT=" + root;
    char* envp[] = {rootVar.data(), nullptr};
    *code = fakes::ChildAsNobody([&] {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        execve(argv[0], argv.data(), envp);
        return 127;
    });
    close(fd);
    return fakes::ReadFile(output);
}

TEST(LocalCallers, AnotherUserIsRefusedWhateverTheSocketsMode) {
    SuiteServerHarness harness;
    harness.StartServer();
    if (fakes::CanSwitchUser()) {
        // Open the way to the socket for everybody: the credentials alone decide.
        chmod(harness.root.c_str(), 0755);
        chmod((harness.root + "/run").c_str(), 0777);
        chmod(harness.socketPath.c_str(), 0666);
    } else {
        chmod(harness.socketPath.c_str(), 0);  // the socket's mode keeps even its owner out
    }
    int code = -1;
    EXPECT_EQ(RunAsNobody(harness.root, {"suite_probe", "create"}, &code), "70\n");
    std::string output = RunAsNobody(harness.root, {"Orvel_Server", "--message", "hi"}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_THAT(output, HasSubstr("permission denied: " + harness.socketPath));
    if (fakes::CanSwitchUser()) {
        EXPECT_THAT(harness.ServerLog(), ContainsRegex("local socket: uid [0-9]+ .*refused"));
        EXPECT_TRUE(harness.Factory().CreateLocal()) << "the server's own user is served";
        // --status says "refused" (4), not "no server" (3), whether the socket
        // refuses the user or its folder hides it from the user.
        RunAsNobody(harness.root, {"Orvel_Server", "--status"}, &code);
        EXPECT_EQ(code, 4);
        chmod((harness.root + "/run").c_str(), 0750);
        output = RunAsNobody(harness.root, {"Orvel_Server", "--status"}, &code);
        EXPECT_EQ(code, 4) << output;
    }
}

int OpenIdleConnections(std::uint16_t port, int count, std::vector<platform::UniqueFd>* fds) {
    for (int i = 0; i < count; ++i) {
        auto fd = ConnectLoopback(port);
        if (!fd) break;
        fds->push_back(std::move(fd));
    }
    return static_cast<int>(fds->size());
}

bool SomebodyElseCanBind(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

TEST(Listener, AFloodAtTheOpenFileLimitCostsNoServedConsoleNorThePort) {
    rlimit own{};
    getrlimit(RLIMIT_NOFILE, &own);
    if (own.rlim_max < 1300) GTEST_SKIP() << "this test needs 1,300 open files";
    rlimit raised = own;
    raised.rlim_cur = own.rlim_max;
    setrlimit(RLIMIT_NOFILE, &raised);

    RemoteServer server;
    auto factory = server.Factory();
    auto created = factory->CreateRemote("127.0.0.1");
    ASSERT_TRUE(created) << server.harness.lastProblem;
    auto remote = *created;
    bool lost = false;
    std::vector<std::string> messages;
    remote->SetLostHandler([&] { lost = true; });
    remote->SetEventHandlers({{}, [&](std::int16_t, std::int16_t, const std::string& text) {
                                  messages.push_back(text);
                              }});

    rlimit low{256, 256};  // the server's own limit, lowered from outside
    ASSERT_EQ(prlimit(server.harness.serverPid, RLIMIT_NOFILE, &low, nullptr), 0);
    std::vector<platform::UniqueFd> flood;
    OpenIdleConnections(server.port, 1100, &flood);
    const std::string descriptors = "/proc/" + std::to_string(server.harness.serverPid) + "/fd";
    auto open = [&] {
        std::error_code error;
        auto range = fs::directory_iterator(descriptors, error);
        return error ? 0 : std::distance(begin(range), end(range));
    };
    ASSERT_TRUE(WaitUntil([&] { return open() >= 180; }, 30s)) << open();
    EXPECT_FALSE(SomebodyElseCanBind(server.port));

    // While the descriptors are short, the console served calls and gets its
    // events, and the local socket still serves.
    EXPECT_TRUE(remote->GetComponentStatus(0));
    int code = -1;
    server.harness.RunProgram({"Orvel_Server", "--message", "still served"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(server.harness.dispatcher.RunUntil(
        [&] { return !messages.empty() && messages.back() == "still served"; }, 10s));

    flood.clear();
    EXPECT_FALSE(SomebodyElseCanBind(server.port));
    EXPECT_TRUE(
        WaitUntil([&] { return static_cast<bool>(factory->CreateRemote("127.0.0.1")); }, 30s))
        << server.harness.lastProblem << "\n"
        << server.harness.ServerLog();
    EXPECT_TRUE(remote->GetComponentStatus(0));
    server.harness.dispatcher.RunUntil([] { return false; }, 100ms);
    EXPECT_FALSE(lost);
    EXPECT_THAT(server.harness.ServerLog(), HasSubstr("TCP: connection closed at once"));
    setrlimit(RLIMIT_NOFILE, &own);
}

TEST(Listener, AnIdleConnectionIsClosedAndASecondServerCannotTakeThePort) {
    RemoteServer first;
    std::vector<platform::UniqueFd> idle;
    ASSERT_EQ(OpenIdleConnections(first.port, 1, &idle), 1);

    RemoteServer second(false);
    second.harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort",
                            first.port);
    int code = -1;
    second.harness.RunProgram({"Orvel_Server"}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(first.Factory()->CreateRemote("127.0.0.1")) << first.harness.lastProblem;

    // The server's handshake limit is 5 s; the end of the connection shows as end of file.
    pollfd ready{idle[0].get(), POLLIN, 0};
    char byte = 0;
    ASSERT_EQ(poll(&ready, 1, 30000), 1);
    EXPECT_EQ(read(idle[0].get(), &byte, 1), 0);
}

TEST(OrvelCert, KeysAreKeptFromOthersAndBadRequestsChangeNothing) {
    RemoteServer server(false);
    const std::string tls = server.Tls();
    // Keys are for the suite's group where it exists, else for their owner alone.
    const fs::perms groupKey = ::getgrnam("orvel") != nullptr ? fs::perms(0640) : fs::perms(0600);
    EXPECT_EQ(fs::status(tls + "/ca.key").permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(tls + "/server.key").permissions(), groupKey);
    EXPECT_EQ(fs::status(tls + "/bundles/testpc/console.key").permissions(), groupKey);
    EXPECT_EQ(fs::status(tls + "/console/console.key").permissions(), groupKey);
    EXPECT_EQ(fs::status(tls + "/ca.crt").permissions(), fs::perms(0644));

    int code = -1;
    std::string output = server.harness.RunProgram({"orvel-cert", "list"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_THAT(output, ContainsRegex("server .*server.crt  expires "));
    EXPECT_THAT(output, ContainsRegex("console +testpc  serial [0-9A-F]+  expires "));

    // A bundle whose certificate another authority signed is not installed.
    RemoteServer other(false);
    std::string mixed = server.harness.root + "/mixed";
    fs::create_directories(mixed);
    fs::copy_file(tls + "/ca.crt", mixed + "/ca.crt");
    fs::copy_file(other.Bundle("testpc") + "/console.crt", mixed + "/console.crt");
    fs::copy_file(other.Bundle("testpc") + "/console.key", mixed + "/console.key");
    std::string before = fakes::ReadFile(tls + "/console/console.crt");
    server.harness.RunProgram({"orvel-cert", "install", mixed}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(fakes::ReadFile(tls + "/console/console.crt"), before);

    server.harness.RunProgram({"orvel-cert", "bundle", "../escape"}, &code);
    EXPECT_EQ(code, 2);
    EXPECT_FALSE(fs::exists(tls + "/escape"));
    server.harness.RunProgram({"orvel-cert", "revoke", "nosuchpc"}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(fs::exists(tls + "/revoked"));

    // Renewing needs the authority's key.
    fs::remove(tls + "/ca.key");
    std::string certificate = fakes::ReadFile(tls + "/server.crt");
    server.harness.RunProgram({"orvel-cert", "renew"}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(fakes::ReadFile(tls + "/server.crt"), certificate);
}

}  // namespace
}  // namespace orvel::testing

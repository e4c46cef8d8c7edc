#include "SuiteServerHarness.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/linux/ProcProcessTable.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/ComponentCatalog.h"

extern char** environ;

namespace orvel::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string BinDir() {
    return ORVEL_BIN_DIR;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::uint16_t FreeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

namespace {

bool SocketAnswers(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// Starts args (args[0] a program of the build) with ORVEL_ROOT=root; 0 when it cannot.
pid_t SpawnInRoot(const std::string& root, std::vector<std::string> args,
                  const posix_spawn_file_actions_t* actions) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "ORVEL_ROOT=", 11) != 0) env.emplace_back(*entry);
    }
    env.push_back("ORVEL_ROOT=" + root);
    args[0] = BinDir() + "/" + args[0];
    auto argv = Pointers(args);
    auto envp = Pointers(env);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), envp.data()) == 0 ? pid : 0;
}

}  // namespace

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (auto& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

SuiteServerHarness::SuiteServerHarness() {
    char pattern[] = "/tmp/orvel-suite-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    root = pattern;
    suiteFolder = root + "/suite";
    fs::create_directories(suiteFolder);
    socketPath = root + "/run/suite-server.sock";
    registry_ = std::make_unique<platform::SqliteRegistry>(root + "/registry.db");
}

SuiteServerHarness::~SuiteServerHarness() {
    factory_.reset();
    if (serverPid > 0) {
        kill(serverPid, SIGCONT);
        StopServer();
    }
    // Components outlive their server by design; a test that failed half-way
    // must not leave them running (they would hold the test runner's output).
    // One walk of the process table for the whole folder.
    platform::ProcProcessTable table;
    const std::string folder = suiteFolder + "/";
    for (pid_t pid : table.EnumProcesses()) {
        auto program = table.GetModuleFileNameExA(pid);
        if (program && program->rfind(folder, 0) == 0) kill(pid, SIGKILL);
    }
    registry_.reset();
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void SuiteServerHarness::SetString(platform::HKEY hive, const std::string& key,
                                   const std::string& name, const std::string& text) {
    fakes::Seed(*registry_, hive, key, name, platform::REG_SZ, fakes::Sz(text));
}

void SuiteServerHarness::SetDword(platform::HKEY hive, const std::string& key,
                                  const std::string& name, std::uint32_t value) {
    fakes::Seed(*registry_, hive, key, name, platform::REG_DWORD, fakes::Dword(value));
}

std::string SuiteServerHarness::InstallComponent(int slot) {
    const auto& definition = suite::ComponentDefinitions()[static_cast<std::size_t>(slot)];
    std::string program = suiteFolder + "/" + std::string(definition.exeName);
    fs::copy_file(BinDir() + "/orvel-demo-component", program,
                  fs::copy_options::overwrite_existing);
    SetString(platform::HKEY_CLASSES_ROOT,
              "CLSID\\" + std::string(definition.classId) + "\\LocalServer32", "", program);
    return program;
}

void SuiteServerHarness::StartServer() {
    std::string log = root + "/server.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    serverPid = SpawnInRoot(root, {"Orvel_Server"}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(serverPid, 0);
    // Up once the socket answers; or ended, which the log explains.
    WaitUntil([&] { return SocketAnswers(socketPath) || waitpid(serverPid, nullptr, WNOHANG); },
              10s);
    ASSERT_TRUE(SocketAnswers(socketPath)) << "server did not come up: " << ServerLog();
}

int SuiteServerHarness::StopServer() {
    if (serverPid <= 0) return -1;
    kill(serverPid, SIGTERM);
    int status = 0;
    if (!WaitUntil([&] { return waitpid(serverPid, &status, WNOHANG) != 0; }, 15s)) {
        kill(serverPid, SIGKILL);
        waitpid(serverPid, &status, 0);
    }
    serverPid = 0;
    return status;
}

std::string SuiteServerHarness::ServerLog() const {
    return fakes::ReadFile(root + "/server.log");
}

std::unique_ptr<suiteclient::GrpcSuiteServerFactory> SuiteServerHarness::MakeFactory(
    std::uint16_t tcpPort, std::chrono::milliseconds deadline) {
    suiteclient::SuiteServerEndpoints endpoints;
    endpoints.socketPath = socketPath;
    endpoints.tcpPort = tcpPort;
    endpoints.callDeadline = deadline;
    endpoints.createDeadline = deadline;
    endpoints.clientProgram = "server_tests";
    endpoints.tlsFolder = root + "/tls";
    endpoints.reportProblem = [this](const std::string& problem) { lastProblem = problem; };
    return std::make_unique<suiteclient::GrpcSuiteServerFactory>(endpoints, dispatcher);
}

suiteclient::GrpcSuiteServerFactory& SuiteServerHarness::Factory() {
    if (!factory_) factory_ = MakeFactory(FreeTcpPort(), 1500ms);
    return *factory_;
}

void SuiteServerHarness::SetUpTls() {
    int code = -1;
    std::string output = RunProgram({"orvel-cert", "init"}, &code);
    ASSERT_EQ(code, 0) << output;
    output = RunProgram({"orvel-cert", "bundle", "testpc"}, &code);
    ASSERT_EQ(code, 0) << output;
    output = RunProgram({"orvel-cert", "install", root + "/tls/bundles/testpc"}, &code);
    ASSERT_EQ(code, 0) << output;
}

pid_t SuiteServerHarness::StartProgram(const std::vector<std::string>& args, int* output) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = SpawnInRoot(root, args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    *output = pipeFds[0];
    return pid;
}

std::string SuiteServerHarness::RunProgram(const std::vector<std::string>& args, int* exitCode) {
    int fd = -1;
    pid_t pid = StartProgram(args, &fd);
    std::string output;
    char buffer[4096];
    ssize_t n = 0;
    while (fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0) output.append(buffer, n);
    if (fd >= 0) close(fd);
    int status = 0;
    bool exited = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    *exitCode = exited ? WEXITSTATUS(status) : -1;
    return output;
}

void StopProcess(pid_t pid) {
    kill(pid, SIGSTOP);
    int status = 0;
    waitpid(pid, &status, WUNTRACED);
}

std::vector<pid_t> ProcessesRunning(const std::string& path) {
    platform::ProcProcessTable table;
    std::vector<pid_t> found;
    for (pid_t pid : table.EnumProcesses()) {
        if (table.GetModuleFileNameExA(pid) == path) found.push_back(pid);
    }
    return found;
}

}  // namespace orvel::testing

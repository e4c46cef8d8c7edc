// Suite server round trips, measured in one run against a real Orvel_Server
// that this program starts on a temporary installation root.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/SqliteRegistry.h"
#include "server/GrpcSuiteServerFactory.h"
#include "suite/ComponentCatalog.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class QueueDispatcher : public orvel::platform::UiDispatcher {
  public:
    void Post(std::function<void()> work) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(work));
        }
        ready_.notify_all();
    }
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                if (!ready_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) {
                    return done();
                }
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
};

void SetString(orvel::platform::Registry& registry, orvel::platform::HKEY hive,
               const std::string& key, const std::string& name, const std::string& text) {
    orvel::platform::HKEY handle = 0;
    registry.RegCreateKeyA(hive, key, &handle);
    registry.RegSetValueExA(handle, name, orvel::platform::REG_SZ,
                            reinterpret_cast<const std::uint8_t*>(text.c_str()),
                            static_cast<orvel::platform::DWORD>(text.size() + 1));
    registry.RegCloseKey(handle);
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

// The server, its installation and one client of each kind, for the whole run.
struct Installation {
    std::string root;
    std::string component;
    pid_t serverPid = 0;
    std::uint16_t port = 0;
    QueueDispatcher dispatcher;
    std::unique_ptr<orvel::server::GrpcSuiteServerFactory> factory;
    std::shared_ptr<orvel::server::SuiteServer> local;
    std::shared_ptr<orvel::server::SuiteServer> remote;

    Installation() {
        char pattern[] = "/tmp/orvel-bench-XXXXXX";
        root = mkdtemp(pattern);
        fs::create_directories(root + "/suite");
        component = root + "/suite/DeviceControlServer.exe";
        fs::copy_file(std::string(ORVEL_BIN_DIR) + "/orvel-demo-component", component);
        port = FreeTcpPort();
        {
            orvel::platform::SqliteRegistry registry(root + "/registry.db");
            const auto& slot0 = orvel::suite::ComponentDefinitions()[0];
            SetString(registry, orvel::platform::HKEY_CLASSES_ROOT,
                      "CLSID\\" + std::string(slot0.classId) + "\\LocalServer32", "", component);
            SetString(registry, orvel::platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole",
                      "EnableDCOM", "Y");
            SetString(registry, orvel::platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole",
                      "EnableRemoteConnect", "Y");
            orvel::platform::HKEY handle = 0;
            registry.RegCreateKeyA(orvel::platform::HKEY_LOCAL_MACHINE,
                                   "SOFTWARE\\Quarlen\\Orvel\\Server", &handle);
            std::uint32_t value = port;
            registry.RegSetValueExA(handle, "TcpPort", orvel::platform::REG_DWORD,
                                    reinterpret_cast<const std::uint8_t*>(&value), 4);
            registry.RegCloseKey(handle);
        }
        std::string program = std::string(ORVEL_BIN_DIR) + "/Orvel_Server";
        std::string rootVar = "ORVEL_ROOT=" + root;
        std::string log = root + "/server.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT, 0644);
        char* argv[] = {program.data(), nullptr};
        char* envp[] = {rootVar.data(), nullptr};
        posix_spawn(&serverPid, program.c_str(), &actions, nullptr, argv, envp);
        posix_spawn_file_actions_destroy(&actions);

        orvel::server::SuiteServerEndpoints endpoints;
        endpoints.socketPath = root + "/run/suite-server.sock";
        endpoints.tcpPort = port;
        factory = std::make_unique<orvel::server::GrpcSuiteServerFactory>(endpoints, dispatcher);
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!local && std::chrono::steady_clock::now() < deadline) {
            auto created = factory->CreateLocal();
            if (created) local = *created;
            else std::this_thread::sleep_for(10ms);
        }
        auto created = factory->CreateRemote("127.0.0.1");
        if (created) remote = *created;
    }

    ~Installation() {
        local.reset();
        remote.reset();
        factory.reset();
        kill(serverPid, SIGTERM);
        waitpid(serverPid, nullptr, 0);
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

Installation& Shared() {
    static Installation installation;  // one server for the whole benchmark run
    return installation;
}

void BM_UnixSocketRoundTripFloor(benchmark::State& state) {
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    std::thread echo([fd = fds[1]] {
        char buffer[64];
        ssize_t n = 0;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            if (write(fd, buffer, static_cast<std::size_t>(n)) != n) break;
        }
    });
    char message[32] = "GetComponentStatus 0";
    char reply[32];
    for (auto _ : state) {
        if (write(fds[0], message, sizeof message) != sizeof message) break;
        std::size_t got = 0;
        while (got < sizeof reply) {
            ssize_t n = read(fds[0], reply + got, sizeof reply - got);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        benchmark::DoNotOptimize(reply);
    }
    shutdown(fds[0], SHUT_RDWR);
    echo.join();
    close(fds[0]);
    close(fds[1]);
}
BENCHMARK(BM_UnixSocketRoundTripFloor);

void BM_GetComponentStatusUnix(benchmark::State& state) {
    auto& server = Shared().local;
    if (!server) return state.SkipWithError("no local instance");
    for (auto _ : state) benchmark::DoNotOptimize(server->GetComponentStatus(0));
}
BENCHMARK(BM_GetComponentStatusUnix);

void BM_GetComponentStatusTcpLoopback(benchmark::State& state) {
    auto& server = Shared().remote;
    if (!server) return state.SkipWithError("no remote instance");
    for (auto _ : state) benchmark::DoNotOptimize(server->GetComponentStatus(0));
}
BENCHMARK(BM_GetComponentStatusTcpLoopback);

void BM_TwentyNameAndStatusPairsUnix(benchmark::State& state) {
    auto& server = Shared().local;
    if (!server) return state.SkipWithError("no local instance");
    for (auto _ : state) {
        for (std::int16_t i = 0; i < orvel::suite::kComponentSlots; ++i) {
            benchmark::DoNotOptimize(server->GetComponentName(i));
            benchmark::DoNotOptimize(server->GetComponentStatus(i));
        }
    }
}
BENCHMARK(BM_TwentyNameAndStatusPairsUnix);

// From the component's end (SIGKILL) to the console's change handler.
void BM_ComponentExitToEventHandler(benchmark::State& state) {
    auto& installation = Shared();
    auto& server = installation.local;
    if (!server) return state.SkipWithError("no local instance");
    int changes = 0;
    server->SetEventHandlers({[&](std::int16_t) { ++changes; }, {}});
    for (auto _ : state) {
        changes = 0;
        server->StartComponent(0);
        installation.dispatcher.RunUntil([&] { return changes >= 1; }, 2s);
        pid_t pid = 0;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::error_code error;
            auto exe = fs::read_symlink(entry.path() / "exe", error);
            if (!error && exe.string() == installation.component) {
                pid = std::atoi(entry.path().filename().c_str());
            }
        }
        if (pid <= 0) return state.SkipWithError("component not found");
        auto start = std::chrono::steady_clock::now();
        kill(pid, SIGKILL);
        installation.dispatcher.RunUntil([&] { return changes >= 2; }, 2s);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    server->SetEventHandlers({});
}
BENCHMARK(BM_ComponentExitToEventHandler)->UseManualTime()->Iterations(30);

}  // namespace

BENCHMARK_MAIN();

// The suite server under many consoles, run by hand (it takes a minute):
//   rpc_load [SECONDS]
// against a real Orvel_Server on a temporary installation root, over the unix
// socket and TLS on loopback only. Phases, each bounded in count and time:
//  1. at rest: the server's threads and resident memory;
//  2. consoles: the server's cap of 256 (128 on the local socket, 64 over TLS
//     from 127.0.0.1 and 64 from ::1: the per-caller cap is raised to 128 for
//     this, since one computer is every caller here), each with its event
//     stream open, each calling GetComponentStatus for SECONDS (20 by
//     default): the calls' status codes, the server's peak threads;
//  3. 1,000 TLS connections more beside them: a new console's
//     GetComponentStatus (p50, p99) and the server's threads;
//  4. all of them gone: threads and memory against rest. Phases 2 and 3 run
//     in a child process of their own, so that "gone" is the kernel closing
//     every connection at its exit: a gRPC client process keeps a destroyed
//     channel's connection open for a while;
//  5. 2,000 TCP connections that never begin their handshake, held 2 s and
//     closed: threads and memory against rest again.

#include <grpcpp/grpcpp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackClients.h"
#include "SuiteServerHarness.h"
#include "suite_server.grpc.pb.h"

namespace {

using namespace std::chrono_literals;
using Stub = orvel::rpc::SuiteServer::Stub;
using Clock = std::chrono::steady_clock;

long StatusField(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

struct Sample {
    long threads = 0;
    long rssKib = 0;
    long anonKib = 0;  // of it, the heap and stacks (the rest: program and library pages)
};

Sample Take(pid_t pid) {
    return {StatusField(pid, "Threads"), StatusField(pid, "VmRSS"), StatusField(pid, "RssAnon")};
}

using orvel::fakes::ReadFile;
using orvel::testing::OwnChannel;

std::chrono::system_clock::time_point In(std::chrono::milliseconds span) {
    return std::chrono::system_clock::now() + span;
}

// One console: its connection, its instance and its open event stream.
struct Console {
    std::unique_ptr<Stub> stub;
    std::string handle;
    grpc::ClientContext eventsContext;
    std::unique_ptr<grpc::ClientReader<orvel::rpc::ServerEvent>> events;

    bool Open(const std::shared_ptr<grpc::Channel>& channel) {
        stub = orvel::rpc::SuiteServer::NewStub(channel);
        if (!orvel::testing::CreateInstanceOn(*stub, "rpc_load", 5s, &handle).ok()) return false;
        orvel::rpc::InstanceRef ref;
        ref.set_instance(handle);
        events = stub->Events(&eventsContext, ref);
        events->WaitForInitialMetadata();
        return true;
    }
    grpc::StatusCode Status() {
        return orvel::testing::FirstStatusOn(*stub, handle, 2s).error_code();
    }
    void Close() {
        grpc::ClientContext context;
        context.set_deadline(In(2s));
        orvel::rpc::InstanceRef ref;
        ref.set_instance(handle);
        orvel::rpc::Empty empty;
        stub->ReleaseInstance(&context, ref, &empty);
        eventsContext.TryCancel();
        if (events) events->Finish();
    }
};

void Print(const char* phase, const Sample& sample, const Sample& rest) {
    std::printf(
        "%-34s threads %3ld (rest %ld)  RSS %6.1f MiB (rest %.1f, %+.0f %%), anonymous %.1f "
        "(rest %.1f)\n",
        phase, sample.threads, rest.threads, sample.rssKib / 1024.0, rest.rssKib / 1024.0,
        100.0 * (sample.rssKib - rest.rssKib) / std::max(1L, rest.rssKib), sample.anonKib / 1024.0,
        rest.anonKib / 1024.0);
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

// Where the child process of phases 2 and 3 finds the server.
struct Site {
    pid_t server = 0;
    std::string unixTarget;
    std::string v4;
    std::string v6;
    std::string bundle;  // the console's TLS bundle folder
};

int Clients(const Site& site, int seconds, const Sample& rest) {
    const pid_t server = site.server;
    const std::string& unixTarget = site.unixTarget;
    const std::string& v4 = site.v4;
    const std::string& v6 = site.v6;
    auto tls = orvel::testing::BundleCredentials(site.bundle);

    // 2. Consoles calling.
    std::vector<std::unique_ptr<Console>> consoles;
    for (const auto& target : {unixTarget, v4, v6}) {
        auto credentials = target == unixTarget ? grpc::InsecureChannelCredentials() : tls;
        const int count = target == unixTarget ? 128 : 64;
        for (int i = 0; i < count; ++i) {
            auto console = std::make_unique<Console>();
            if (!console->Open(OwnChannel(target, credentials))) {
                std::printf("console %zu on %s could not open\n", consoles.size(), target.c_str());
                continue;
            }
            consoles.push_back(std::move(console));
        }
    }
    std::mutex codesMutex;
    std::map<grpc::StatusCode, long> codes;
    std::atomic<bool> stop{false};
    std::atomic<long> peakThreads{0};
    std::vector<std::thread> callers;
    for (auto& console : consoles) {
        callers.emplace_back([&, c = console.get()] {
            std::map<grpc::StatusCode, long> own;
            while (!stop) ++own[c->Status()];
            std::lock_guard lock(codesMutex);
            for (auto [code, count] : own) codes[code] += count;
        });
    }
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        peakThreads = std::max(peakThreads.load(), Take(server).threads);
        std::this_thread::sleep_for(200ms);
    }
    stop = true;
    for (auto& thread : callers) thread.join();
    long calls = 0;
    for (auto [code, count] : codes) calls += count;
    std::printf(
        "%zu consoles calling %d s: %ld calls, %ld OK, %ld RESOURCE_EXHAUSTED, %ld other; "
        "server threads peak %ld\n",
        consoles.size(), seconds, calls, codes[grpc::StatusCode::OK],
        codes[grpc::StatusCode::RESOURCE_EXHAUSTED],
        calls - codes[grpc::StatusCode::OK] - codes[grpc::StatusCode::RESOURCE_EXHAUSTED],
        peakThreads.load());
    Print("with the consoles", Take(server), rest);

    // 3. A thousand TLS connections more, then a new console.
    std::vector<std::shared_ptr<grpc::Channel>> idle;
    for (int i = 0; i < 1000; ++i) {
        auto channel = OwnChannel(i % 2 ? v4 : v6, tls);
        channel->GetState(true);
        idle.push_back(channel);
    }
    long connected = 0;
    for (auto& channel : idle) {
        if (channel->WaitForConnected(In(10s))) ++connected;
    }
    // The new console takes the place of one that leaves (the caps are full).
    consoles.front()->Close();
    consoles.erase(consoles.begin());
    Console fresh;
    std::vector<double> millis;
    if (fresh.Open(OwnChannel(unixTarget, grpc::InsecureChannelCredentials()))) {
        for (int i = 0; i < 300; ++i) {
            auto start = Clock::now();
            fresh.Status();
            millis.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        fresh.Close();
    }
    std::printf(
        "%ld TLS connections more: a new console's GetComponentStatus p50 %.2f ms, "
        "p99 %.2f ms (%zu calls)\n",
        connected, Percentile(millis, 0.5), Percentile(millis, 0.99), millis.size());
    Print("with 1,000 connections more", Take(server), rest);

    for (auto& console : consoles) console->Close();
    std::fflush(stdout);
    return 0;
}

int Run(int seconds) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    orvel::testing::SuiteServerHarness harness;
    using orvel::platform::HKEY_LOCAL_MACHINE;
    harness.InstallComponent(0);
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", "Y");
    harness.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect", "Y");
    const std::uint16_t port = orvel::testing::FreeTcpPort();
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server",
                     "MaxInstancesPerCaller", 128);
    harness.SetUpTls();
    harness.StartServer();
    const pid_t server = harness.serverPid;
    const std::string portText = std::to_string(port);

    std::this_thread::sleep_for(1s);
    const Sample rest = Take(server);
    Print("at rest", rest, rest);

    // 2 and 3, in a child process.
    std::fflush(stdout);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::vector<std::string> args = {self,
                                           "--clients",
                                           std::to_string(server),
                                           "unix:" + harness.socketPath,
                                           "127.0.0.1:" + portText,
                                           "[::1]:" + portText,
                                           harness.root + "/tls/console",
                                           std::to_string(seconds),
                                           std::to_string(rest.threads),
                                           std::to_string(rest.rssKib),
                                           std::to_string(rest.anonKib)};
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "rpc_load: cannot start its client process\n");
        return 1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "rpc_load: its client process failed\n");
        return 1;
    }

    // 4. All gone.
    std::this_thread::sleep_for(11s);
    Print("after they left", Take(server), rest);

    // 5. Connections that never begin their handshake.
    std::vector<orvel::platform::UniqueFd> raw;
    for (int i = 0; i < 2000; ++i) {
        if (auto fd = orvel::testing::ConnectLoopback(port)) raw.push_back(std::move(fd));
    }
    std::this_thread::sleep_for(2s);
    Print("2,000 without a handshake", Take(server), rest);
    const std::size_t held = raw.size();
    raw.clear();
    std::this_thread::sleep_for(11s);
    std::printf("(%zu connected)\n", held);
    Print("after they were closed", Take(server), rest);
    std::printf("server threads:");
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(server) + "/task")) {
        std::string name = ReadFile(task.path().string() + "/comm");
        std::printf(" %s", name.substr(0, name.find('\n')).c_str());
    }
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 11 && std::string(argv[1]) == "--clients") {
        Site site{static_cast<pid_t>(std::atol(argv[2])), argv[3], argv[4], argv[5], argv[6]};
        return Clients(site, std::atoi(argv[7]),
                       Sample{std::atol(argv[8]), std::atol(argv[9]), std::atol(argv[10])});
    }
    int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (seconds <= 0 || seconds > 600) {
        std::fprintf(stderr, "usage: rpc_load [SECONDS, 1..600]\n");
        return 2;
    }
    return Run(seconds);
}

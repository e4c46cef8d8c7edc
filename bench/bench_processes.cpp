// One walk as the console's NT method does it: EnumProcesses, then
// GetModuleFileNameExA for every process; and the one-pass snapshot. The
// benchmark first starts 1,000 sleeping children so the table holds at least
// that many processes, and ends them afterwards. Budget: 10 ms per walk. Then
// the dialog's whole refresh (FillProcessListNT) against a suite folder whose
// programs exist, so that every unmatched process is looked at by file
// identity, and the server's walk of every process's stat line.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/ProcFs.h"
#include "platform/linux/ProcProcessTable.h"
#include "processes/ProcessList.h"

extern char** environ;

namespace {

constexpr int kChildren = 1000;

class Sleepers {
  public:
    Sleepers() {
        char program[] = "/bin/sleep";
        char seconds[] = "600";
        char* argv[] = {program, seconds, nullptr};
        for (int i = 0; i < kChildren; ++i) {
            pid_t pid = 0;
            if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) break;
            pids_.push_back(pid);
        }
    }
    ~Sleepers() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    std::size_t count() const { return pids_.size(); }

  private:
    std::vector<pid_t> pids_;
};

void BM_ProcessWalkNT(benchmark::State& state) {
    Sleepers sleepers;
    orvel::platform::ProcProcessTable table;
    std::size_t processes = 0;
    std::size_t readable = 0;
    for (auto _ : state) {
        std::vector<pid_t> pids = table.EnumProcesses();
        processes = pids.size();
        readable = 0;
        for (pid_t pid : pids) {
            if (auto path = table.GetModuleFileNameExA(pid)) {
                ++readable;
                benchmark::DoNotOptimize(path->data());
            }
        }
    }
    state.counters["children"] = static_cast<double>(sleepers.count());
    state.counters["processes"] = static_cast<double>(processes);
    state.counters["readable"] = static_cast<double>(readable);
}

void BM_ProcessSnapshot(benchmark::State& state) {
    Sleepers sleepers;
    orvel::platform::ProcProcessTable table;
    std::size_t processes = 0;
    for (auto _ : state) {
        auto entries = table.Snapshot();
        processes = entries.size();
        benchmark::DoNotOptimize(entries.data());
    }
    state.counters["processes"] = static_cast<double>(processes);
}

// A suite folder with every component program present: half of them
// scripts of /bin/sh, so that every shell's command line is read too.
class SuiteFolder {
  public:
    SuiteFolder() {
        char pattern[] = "/tmp/orvel-bench-suite-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        path_ = pattern;
        orvel::status::ComponentServerTable components;
        orvel::status::FillComponentServerTable(components, path_ + "/");
        bool script = false;
        for (const auto& entry : components) {
            std::ofstream file(path_ + "/" + entry.strExeName);
            file << (script ? "#!/bin/sh\nexit 0\n"
                            : "\x7f"
                              "ELF");
            script = !script;
        }
    }
    ~SuiteFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string folder() const { return path_ + "/"; }

  private:
    std::string path_;
};

// The whole refresh of the dialog's process list: the walk and the matching
// of every process against the twenty component server entries.
void BM_FillProcessListNT(benchmark::State& state) {
    Sleepers sleepers;
    SuiteFolder suite;
    orvel::platform::ProcProcessTable table;
    orvel::status::ComponentServerTable components;
    orvel::status::FillComponentServerTable(components, suite.folder());
    orvel::processes::ProcessLines lines;
    for (auto _ : state) {
        orvel::processes::FillProcessListNT(lines, table, components);
        benchmark::DoNotOptimize(lines.data());
    }
    state.counters["children"] = static_cast<double>(sleepers.count());
}

// The server's look at every process (its component member walk).
void BM_ServerStatWalk(benchmark::State& state) {
    Sleepers sleepers;
    const orvel::platform::ProcFs proc;
    std::size_t processes = 0;
    for (auto _ : state) {
        auto all = proc.AllStats();
        processes = all.size();
        benchmark::DoNotOptimize(&all);
    }
    state.counters["processes"] = static_cast<double>(processes);
}

BENCHMARK(BM_ProcessWalkNT)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_FillProcessListNT)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ServerStatWalk)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();

// One walk as the console's NT method does it: EnumProcesses, then
// GetModuleFileNameExA for every process; and the one-pass snapshot. The
// benchmark first starts 1,000 sleeping children so the table holds at least
// that many processes, and ends them afterwards. Budget: 10 ms per walk. The
// last one is the dialog's whole refresh: FillProcessListNT.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

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

// The whole refresh of the dialog's process list: the walk and the matching
// of every process against the twenty component server entries.
void BM_FillProcessListNT(benchmark::State& state) {
    Sleepers sleepers;
    orvel::platform::ProcProcessTable table;
    orvel::status::ComponentServerTable components;
    orvel::status::FillComponentServerTable(components, "/opt/orvel/");
    orvel::processes::ProcessLines lines;
    for (auto _ : state) {
        orvel::processes::FillProcessListNT(lines, table, components);
        benchmark::DoNotOptimize(lines.data());
    }
    state.counters["children"] = static_cast<double>(sleepers.count());
}

BENCHMARK(BM_ProcessWalkNT)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_FillProcessListNT)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();

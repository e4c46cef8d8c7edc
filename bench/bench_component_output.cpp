// What routing a component's output adds to its start: the time the real
// launcher takes to start /bin/true (the benchmark then waits, untimed, for
// its end), with the output left
// on this process's, to a bounded log file through a log pipe (one more
// process per start), and to the journal where there is one. The log files
// lie in /dev/shm unless ORVEL_BENCH_FOLDER names another folder. Budget: no
// measurable difference from the start alone (the start itself, a few
// hundred microseconds, varies more from run to run than that).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/ComponentOutput.h"
#include "suiteserver/ProcessLauncher.h"

namespace {

using orvel::suiteserver::ChildProcessLauncher;

enum Road { kNone, kLogFile, kJournal };

std::string MakeFolder() {
    const char* base = std::getenv("ORVEL_BENCH_FOLDER");
    std::string pattern = std::string(base != nullptr ? base : "/dev/shm") + "/orvel-output-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

void BM_ComponentStart(benchmark::State& state) {
    const std::string folder = MakeFolder();
    std::unique_ptr<orvel::platform::ComponentOutput> output;
    switch (static_cast<Road>(state.range(0))) {
        case kNone:
            break;
        case kLogFile:
            output = std::make_unique<orvel::platform::LogFileOutput>(
                folder + "/logs", std::string(ORVEL_BIN_DIR) + "/orvel-logpipe",
                orvel::platform::kDefaultComponentLogBytes);
            break;
        case kJournal:
            if (access(std::string(orvel::platform::kJournalStreamSocket).c_str(), W_OK) != 0) {
                state.SkipWithError("no journal here");
                return;
            }
            output = std::make_unique<orvel::platform::JournalOutput>();
            break;
    }
    ChildProcessLauncher launcher(output.get());
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    for (auto _ : state) {
        {
            std::lock_guard lock(mutex);
            done = false;
        }
        const auto begin = std::chrono::steady_clock::now();
        auto started = launcher.Launch("/bin/true", {}, {4, "Matrix Control"}, [&](pid_t, int) {
            std::lock_guard lock(mutex);
            done = true;
            ended.notify_all();
        });
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
        if (started.pid <= 0) {
            state.SkipWithError(started.error.c_str());
            break;
        }
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return done; });
        lock.unlock();
        launcher.Forget(started.pid);
    }
    launcher.StopWatching();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_ComponentStart)
    ->ArgName("road")
    ->Arg(kNone)
    ->Arg(kLogFile)
    ->Arg(kJournal)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

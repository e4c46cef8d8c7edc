// The suite's record. Appending is done under the supervisor's slot lock, so
// its cost is the cost added to a start or a stop: one write(2) of a record,
// and now and then a compaction (the kept tail written with ReplaceFile),
// which this benchmark includes since it appends far past the bound. Reading
// the last 1,000 events is what --events and a console's first look cost:
// the whole file (at its 10,000-event bound) read and parsed.
// The file lies in /var/lib/orvel in production; the benchmark writes to the
// temporary folder unless ORVEL_BENCH_FOLDER names another.
// Budgets: append 100 us at the median, reading 20 ms.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "suiteserver/EventRecord.h"

namespace {

using namespace orvel::suiteserver;

class NoLog : public ServerLog {
  public:
    void Line(std::string_view) override {}
};

std::string MakeFolder() {
    const char* base = std::getenv("ORVEL_BENCH_FOLDER");
    std::string pattern =
        (base != nullptr ? std::string(base) : std::filesystem::temp_directory_path().string()) +
        "/orvel-events-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

SuiteEvent Typical(int i) {
    SuiteEvent event;
    event.kind = SuiteEventKind::kComponentExited;
    event.slot = i % 20;
    event.component = "Router Link Server";
    event.pid = 40000 + i % 1000;
    event.client = "Orvel_Console (uid 1000)";
    event.exitCode = 1;
    event.runTime = std::chrono::milliseconds(252000);
    return event;
}

void BM_AppendEvent(benchmark::State& state) {
    const std::string folder = MakeFolder();
    if (folder.empty()) {
        state.SkipWithError("no folder");
        return;
    }
    NoLog log;
    {
        EventRecord record(folder + "/events", {}, log, nullptr);
        int i = 0;
        for (auto _ : state) record.Record(Typical(i++));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_AppendEvent)->Repetitions(5)->ReportAggregatesOnly(true);

// The one append in 5,000 that compacts: the file at half as many again as
// its bound, the kept 10,000 events written anew (ReplaceFile, synced).
void BM_AppendThatCompacts(benchmark::State& state) {
    const std::string folder = MakeFolder();
    if (folder.empty()) {
        state.SkipWithError("no folder");
        return;
    }
    NoLog log;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = folder + "/events" + std::to_string(round++);
        EventRecordOptions options;
        auto record = std::make_unique<EventRecord>(path, options, log, nullptr);
        for (std::size_t i = 0; i < options.maxEvents + options.maxEvents / 2; ++i)
            record->Record(Typical(static_cast<int>(i)));
        state.ResumeTiming();
        record->Record(Typical(0));
        state.PauseTiming();
        record.reset();
        std::filesystem::remove(path);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_AppendThatCompacts)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ReadLastThousand(benchmark::State& state) {
    const std::string folder = MakeFolder();
    if (folder.empty()) {
        state.SkipWithError("no folder");
        return;
    }
    const std::string path = folder + "/events";
    NoLog log;
    {
        EventRecordOptions options;
        EventRecord record(path, options, log, nullptr);
        for (std::size_t i = 0; i < options.maxEvents; ++i)
            record.Record(Typical(static_cast<int>(i)));
    }
    for (auto _ : state) {
        EventFileContent content = ReadEventFile(path, 1000);
        benchmark::DoNotOptimize(content.events.data());
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ReadLastThousand)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

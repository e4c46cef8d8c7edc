// What recording a start before its spawn adds to a start: one replacement of
// the state file (temporary file written, renamed over the old one; no sync)
// with a slot's record more than before. The state file lies on a tmpfs: the
// system server's /run/orvel, or a relocated installation's runtime folder
// ($XDG_RUNTIME_DIR/orvel). The benchmark writes to /dev/shm (a tmpfs) unless
// ORVEL_BENCH_FOLDER names another folder (a disk, to compare: even unsynced,
// ext4 starts writing back a file renamed over another). Budget: 1 ms at the
// median.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "suiteserver/ComponentRecords.h"

namespace {

std::string MakeFolder() {
    const char* base = std::getenv("ORVEL_BENCH_FOLDER");
    std::string pattern =
        std::string(base != nullptr ? base : "/dev/shm") + "/orvel-records-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

void BM_RecordStartIntent(benchmark::State& state) {
    const std::string folder = MakeFolder();
    if (folder.empty()) {
        state.SkipWithError("no folder");
        return;
    }
    orvel::suiteserver::ComponentStateFile file(folder + "/components.state");
    // Nine components run; the tenth start is recorded.
    std::vector<orvel::suiteserver::ComponentRecord> records;
    for (int slot = 0; slot < 9; ++slot) {
        records.push_back(
            {slot,
             {40000 + slot, 123456789u + static_cast<unsigned>(slot)},
             "/opt/Quarlen/Corvane Network Suite/Component" + std::to_string(slot) + ".exe",
             file.InstallationId() + ":" + std::to_string(slot) + ":0123456789abcdef",
             std::nullopt});
    }
    records.push_back({9,
                       {0, 0},
                       "/opt/Quarlen/Corvane Network Suite/Component9.exe",
                       file.InstallationId() + ":9:fedcba9876543210",
                       std::nullopt});
    std::string why;
    for (auto _ : state) {
        if (!file.Save(records, &why)) {
            state.SkipWithError(why.c_str());
            break;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_RecordStartIntent)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

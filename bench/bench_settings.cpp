// The registry helpers and the settings file, on temporary files.

#include <benchmark/benchmark.h>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "PlacedFileSystem.h"
#include "TempDir.h"
#include "platform/IniProfileFile.h"
#include "platform/linux/SqliteRegistry.h"
#include "settings/ConsoleSettings.h"
#include "settings/RegistryValues.h"

namespace {

using namespace orvel;

// Answers every box with its default and records nothing a benchmark looks at.
struct SilentDialogs : fakes::FakeDialogs {
    SilentDialogs() { AllowUnexpected(true); }
};
using fakes::PlacedFileSystem;
using StillClock = fakes::FakeClock;
using TempFolder = fakes::TempDir;

const std::string kKey = "SOFTWARE\\Quarlen\\Corvane\\Network";

void BM_GetRegistryString(benchmark::State& state) {
    TempFolder folder;
    platform::SqliteRegistry registry(folder.str("registry.db"));
    SilentDialogs dialogs;
    settings::RegistryContext context{registry, dialogs};
    settings::functWriteRegistryValue(context, platform::HKEY_LOCAL_MACHINE, kKey, "BaseAddress", 1,
                                      std::string("192.168.100.1"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(settings::functGetRegistryValue(
            context, platform::HKEY_LOCAL_MACHINE, kKey, "BaseAddress", 1));
    }
}
BENCHMARK(BM_GetRegistryString)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WriteRegistryValue(benchmark::State& state) {
    TempFolder folder;
    platform::SqliteRegistry registry(folder.str("registry.db"));
    SilentDialogs dialogs;
    settings::RegistryContext context{registry, dialogs};
    std::int32_t port = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(settings::functWriteRegistryValue(
            context, platform::HKEY_LOCAL_MACHINE, kKey, "CommPort", 4, ++port));
    }
}
BENCHMARK(BM_WriteRegistryValue)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WriteConsoleConfiguration(benchmark::State& state) {
    TempFolder folder;
    platform::IniProfileFile profile;
    PlacedFileSystem fileSystem(folder.str());
    SilentDialogs dialogs;
    StillClock clock;
    platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConfigurationContext context{profile, fileSystem, dialogs, clock, version};
    settings::ConsoleSettings values;
    values.RemoteServerName = "ROUTER2";
    settings::WriteConsoleConfiguration(context, values);
    for (auto _ : state) {
        values.ColorTheme = static_cast<std::int16_t>((values.ColorTheme + 1) % 5);
        settings::WriteConsoleConfiguration(context, values);
    }
}
BENCHMARK(BM_WriteConsoleConfiguration)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

// The registry helpers and the settings file, on temporary files.

#include <benchmark/benchmark.h>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "PlacedFileSystem.h"
#include "TempDir.h"
#include "platform/IniProfileFile.h"
#include "platform/IniProfileFormat.h"
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

// One key rewritten in a settings text of the console's size (27 entries),
// held as bytes (0) and as UTF-16 (1): the text rules alone, without the file.
void BM_ProfileTextWrite(benchmark::State& state) {
    std::string text = "[Orvel Console]\r\n";
    for (int i = 0; i < 27; ++i) {
        text += "Key" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
    }
    if (state.range(0) != 0) {
        std::string wide = "\xFF\xFE";
        for (char c : text) wide.append({c, '\0'});
        text = std::move(wide);
    }
    int round = 0;
    for (auto _ : state) {
        auto result =
            platform::ini::ApplyWrite(text, "orvel console", "Key13", std::to_string(++round % 2));
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ProfileTextWrite)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

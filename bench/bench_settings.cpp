// The registry helpers and the settings file, on temporary files.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "platform/IniProfileFile.h"
#include "platform/LinuxFileSystem.h"
#include "platform/SqliteRegistry.h"
#include "settings/ConsoleSettings.h"
#include "settings/RegistryValues.h"

namespace {

using namespace orvel;

class SilentDialogs : public platform::Dialogs {
  public:
    int MsgBox(std::string_view, int, std::string_view) override { return platform::vbOK; }
    std::string InputBox(std::string_view, std::string_view, std::string_view) override {
        return {};
    }
    void Beep() override {}
    int MousePointer() override { return pointer_; }
    void SetMousePointer(int pointer) override { pointer_ = pointer; }
    void DoEvents() override {}

  private:
    int pointer_ = platform::vbDefault;
};

class StillClock : public platform::Clock {
  public:
    platform::DateTime Now() override { return {2026, 12, 4, 15, 7, 9}; }
    std::chrono::steady_clock::time_point Monotonic() override {
        return std::chrono::steady_clock::now();
    }
};

class PlacedFileSystem : public platform::FileSystem {
  public:
    explicit PlacedFileSystem(std::string folder) : folder_(std::move(folder)) {}
    bool FileExists(const std::string& path) override { return real_.FileExists(path); }
    std::optional<std::string> ResolvePath(const std::string& path) override {
        return real_.ResolvePath(path);
    }
    std::string ExecutableFolder() override { return folder_; }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string& path) override { return real_.ChangeDirectory(path); }
    std::string CurrentDirectory() override { return real_.CurrentDirectory(); }

  private:
    platform::LinuxFileSystem real_;
    std::string folder_;
};

// A temporary folder, removed at the end of the benchmark.
struct TempFolder {
    TempFolder() {
        char pattern[] = "/tmp/orvel-bench-XXXXXX";
        path = ::mkdtemp(pattern) ? pattern : "/tmp";
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

const std::string kKey = "SOFTWARE\\Quarlen\\Corvane\\Network";

void BM_GetRegistryString(benchmark::State& state) {
    TempFolder folder;
    platform::SqliteRegistry registry(folder.path + "/registry.db");
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
    platform::SqliteRegistry registry(folder.path + "/registry.db");
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
    PlacedFileSystem fileSystem(folder.path);
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

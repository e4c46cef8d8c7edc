// The registry store on a temporary file: the console's hot path (open a key,
// read a string value, close) and one value write read back.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/SqliteRegistry.h"

namespace {

using namespace orvel::platform;

class TempStore {
  public:
    TempStore() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvel-bench-registry-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        registry_ = std::make_unique<SqliteRegistry>((folder_ / "registry.db").string());
        HKEY key = 0;
        registry_->RegCreateKeyA(HKEY_LOCAL_MACHINE,
                                 "SOFTWARE\\Quarlen\\Corvane Network Suite\\1.00.000", &key);
        const std::string folder = "/opt/Quarlen/Corvane Network Suite";
        registry_->RegSetValueExA(key, "OrvelPATH", REG_SZ,
                                  reinterpret_cast<const std::uint8_t*>(folder.c_str()),
                                  static_cast<DWORD>(folder.size() + 1));
        registry_->RegCloseKey(key);
    }
    ~TempStore() {
        registry_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    SqliteRegistry& registry() { return *registry_; }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<SqliteRegistry> registry_;
};

void BM_ReadStringValue(benchmark::State& state) {
    TempStore store;
    SqliteRegistry& registry = store.registry();
    char buffer[256];
    for (auto _ : state) {
        HKEY key = 0;
        registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                               "SOFTWARE\\Quarlen\\Corvane Network Suite\\1.00.000", 0, KEY_READ,
                               &key);
        DWORD type = 0;
        DWORD size = sizeof buffer;
        const LONG result = registry.RegQueryValueExA(
            key, "OrvelPATH", &type, reinterpret_cast<std::uint8_t*>(buffer), &size);
        registry.RegCloseKey(key);
        if (result != ERROR_SUCCESS) state.SkipWithError("the value could not be read");
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_ReadStringValue)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_WriteAndReadBack(benchmark::State& state) {
    TempStore store;
    SqliteRegistry& registry = store.registry();
    std::uint32_t counter = 0;
    for (auto _ : state) {
        HKEY key = 0;
        registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Corvane Network Suite", 0,
                               KEY_ALL_ACCESS, &key);
        ++counter;
        registry.RegSetValueExA(key, "Counter", REG_DWORD,
                                reinterpret_cast<const std::uint8_t*>(&counter), 4);
        std::uint32_t back = 0;
        DWORD size = 4;
        const LONG result = registry.RegQueryValueExA(
            key, "Counter", nullptr, reinterpret_cast<std::uint8_t*>(&back), &size);
        registry.RegCloseKey(key);
        if (result != ERROR_SUCCESS || back != counter) state.SkipWithError("write lost");
    }
}
BENCHMARK(BM_WriteAndReadBack)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();

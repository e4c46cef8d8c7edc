// The registry store on a temporary file: the console's hot path (open a key,
// read a string value, close), one value write read back, and orvel-reg's
// export of wide, deep and growing trees.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/RegistryKey.h"
#include "platform/linux/SqliteRegistry.h"
#include "tools/orvelreg/RegText.h"
#include "tools/orvelreg/RegTool.h"

namespace {

using namespace orvel::platform;

void SetString(Registry& registry, HKEY key, const std::string& name, const std::string& text) {
    registry.RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
}

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
        SetString(*registry_, key, "OrvelPATH", "/opt/Quarlen/Corvane Network Suite");
        registry_->RegCloseKey(key);
    }
    ~TempStore() {
        registry_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    SqliteRegistry& registry() { return *registry_; }
    const std::filesystem::path& Folder() const { return folder_; }
    // The store as orvel-reg's export opens it.
    SqliteRegistry Reader() const {
        return SqliteRegistry((folder_ / "registry.db").string(), StoreAccess::ReadOnly);
    }

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

// Makes keys (each with one string value) in one batch, as an import would.
void MakeKeys(Registry& registry, const std::vector<std::string>& paths) {
    registry.RegApplyBatch([&] {
        for (const std::string& path : paths) {
            RegistryKey key(registry);
            if (key.Create(HKEY_LOCAL_MACHINE, path) != ERROR_SUCCESS) return ERROR_BADDB;
            SetString(registry, key.get(), "v", "value");
        }
        return ERROR_SUCCESS;
    });
}

// orvel-reg with args against registry, its output kept in memory.
void RunOrvelReg(benchmark::State& state, Registry& registry,
                 const std::vector<std::string>& args) {
    std::string error;
    const auto command = orvel::tools::ParseCommandLine(args, &error);
    if (!command) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        std::ostringstream out, err;
        if (orvel::tools::RunCommand(*command, registry, out, err) != 0) {
            state.SkipWithError(err.str().c_str());
            break;
        }
        benchmark::DoNotOptimize(out.str().size());
    }
}

// The export of key from a new store that holds the keys of paths.
void ExportNewStore(benchmark::State& state, const std::vector<std::string>& paths,
                    const std::string& key) {
    TempStore store;
    MakeKeys(store.registry(), paths);
    SqliteRegistry reader = store.Reader();
    RunOrvelReg(state, reader, {"export", key, "-"});
}

void BM_ExportSiblingKeys(benchmark::State& state) {
    std::vector<std::string> paths;
    for (int i = 0; i < state.range(0); ++i)
        paths.push_back("SOFTWARE\\Wide\\K" + std::to_string(i));
    ExportNewStore(state, paths, "HKLM\\SOFTWARE\\Wide");
}
BENCHMARK(BM_ExportSiblingKeys)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ExportDeepPath(benchmark::State& state) {
    std::string path = "SOFTWARE\\Deep";
    for (int level = 2; level < state.range(0); ++level) path += "\\L" + std::to_string(level);
    ExportNewStore(state, {path}, "HKLM\\SOFTWARE\\Deep");
}
BENCHMARK(BM_ExportDeepPath)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Keys in groups of 100 under their parents: the time per key stays the same.
void BM_ExportGrowingTree(benchmark::State& state) {
    std::vector<std::string> paths;
    for (int i = 0; i < state.range(0); ++i) {
        paths.push_back("SOFTWARE\\Tree\\G" + std::to_string(i / 100) + "\\K" + std::to_string(i));
    }
    ExportNewStore(state, paths, "HKLM\\SOFTWARE\\Tree");
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ExportGrowingTree)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Writes a .reg file of count keys in groups of 100, each key with one string.
std::filesystem::path WriteRegFile(const std::filesystem::path& folder, int count) {
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (int i = 0; i < count; ++i) {
        text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Import\\G" + std::to_string(i / 100) + "\\K" +
                std::to_string(i) + "]\n\"v\"=\"value " + std::to_string(i) + "\"\n";
    }
    const std::filesystem::path file = folder / "import.reg";
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

// orvel-reg import FILE into a new store each time: 1M keys should take no more
// than ten times what 100k take.
void BM_ImportGrowingFile(benchmark::State& state) {
    TempStore files;
    const std::filesystem::path file =
        WriteRegFile(files.Folder(), static_cast<int>(state.range(0)));
    std::string error;
    const auto command = orvel::tools::ParseCommandLine({"import", file.string()}, &error);
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<TempStore>();
        state.ResumeTiming();
        std::ostringstream out, err;
        if (orvel::tools::RunCommand(*command, store->registry(), out, err) != 0) {
            state.SkipWithError(err.str().c_str());
            break;
        }
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ImportGrowingFile)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Repetitions(3)
    // On a shared machine the fastest run is the one least slowed by others.
    ->ComputeStatistics("min",
                        [](const std::vector<double>& runs) {
                            return *std::min_element(runs.begin(), runs.end());
                        })
    ->Unit(benchmark::kMillisecond);

// A key with many values, as orvel-reg query shows one of them (/v) or all.
void BM_QueryOneValueAmongMany(benchmark::State& state) {
    TempStore store;
    Registry& registry = store.registry();
    registry.RegApplyBatch([&] {
        RegistryKey key(registry);
        key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many");
        const std::uint32_t data = 7;
        for (int i = 0; i < state.range(0); ++i) {
            registry.RegSetValueExA(key.get(), "V" + std::to_string(i), REG_DWORD,
                                    reinterpret_cast<const std::uint8_t*>(&data), 4);
        }
        return ERROR_SUCCESS;
    });
    SqliteRegistry reader = store.Reader();
    RunOrvelReg(state, reader,
                {"query", "HKLM\\SOFTWARE\\Many", "/v", "v" + std::to_string(state.range(0) - 1)});
}
BENCHMARK(BM_QueryOneValueAmongMany)->Arg(100000)->Unit(benchmark::kMillisecond);

// query KEY of a key with many values and sub-keys, against export of the same key.
void FillWideKey(Registry& registry, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back("SOFTWARE\\Wide\\K" + std::to_string(i));
    MakeKeys(registry, paths);
    registry.RegApplyBatch([&] {
        RegistryKey key(registry);
        key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wide");
        for (int i = 0; i < count; ++i)
            SetString(registry, key.get(), "V" + std::to_string(i), "text");
        return ERROR_SUCCESS;
    });
}

void BM_QueryWideKey(benchmark::State& state) {
    TempStore store;
    FillWideKey(store.registry(), static_cast<int>(state.range(0)));
    SqliteRegistry reader = store.Reader();
    RunOrvelReg(state, reader, {"query", "HKLM\\SOFTWARE\\Wide"});
}
BENCHMARK(BM_QueryWideKey)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ExportWideKey(benchmark::State& state) {
    TempStore store;
    FillWideKey(store.registry(), static_cast<int>(state.range(0)));
    SqliteRegistry reader = store.Reader();
    RunOrvelReg(state, reader, {"export", "HKLM\\SOFTWARE\\Wide", "-"});
}
BENCHMARK(BM_ExportWideKey)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

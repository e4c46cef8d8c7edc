// FindWindowA among 50 top-level windows; budget 1 ms. Also fifteen titles
// in one batched lookup. The searched title is
// the bottom-most window's, or one that no window carries: both scan them all.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "XTestSupport.h"
#include "platform/linux/X11WindowSystem.h"

namespace {

constexpr int kWindows = 50;

struct Display {
    std::unique_ptr<orvel::xtest::XServer> server;
    std::unique_ptr<orvel::xtest::XClient> client;
    std::string why;
};

// Xvfb with 50 titled top-level windows, optionally managed by openbox.
bool Prepare(Display& display, bool managed, benchmark::State& state) {
    display.server = orvel::xtest::XServer::Start(display.why);
    if (display.server == nullptr) {
        state.SkipWithError(("no X server: " + display.why).c_str());
        return false;
    }
    if (managed && !display.server->StartWindowManager(display.why)) {
        state.SkipWithError(display.why.c_str());
        return false;
    }
    display.client = std::make_unique<orvel::xtest::XClient>(display.server->display());
    for (int i = 0; i < kWindows; ++i) {
        display.client->CreateWindow("Suite Tool Window " + std::to_string(i));
    }
    return true;
}

void Run(benchmark::State& state, bool managed, const std::string& title) {
    Display display;
    if (!Prepare(display, managed, state)) return;
    orvel::platform::X11WindowSystem windows(display.server->display());
    // Wait until every window is there (and managed) before measuring.
    bool ready = orvel::xtest::Eventually([&] {
        if (windows.FindWindowA("Suite Tool Window 0") == 0) return false;
        if (!managed) return true;
        auto list = display.client->Windows(display.client->root(), "_NET_CLIENT_LIST");
        return list.size() >= static_cast<std::size_t>(kWindows);
    });
    if (!ready) {
        state.SkipWithError("windows did not come up");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(windows.FindWindowA(title));
    }
}

// The fifteen launcher titles in one batched lookup, under openbox: what a
// poll tick's scans cost now.
void BM_FindWindowsFifteenTitlesOpenbox(benchmark::State& state) {
    Display display;
    if (!Prepare(display, true, state)) return;
    orvel::platform::X11WindowSystem windows(display.server->display());
    bool ready = orvel::xtest::Eventually([&] {
        auto list = display.client->Windows(display.client->root(), "_NET_CLIENT_LIST");
        return list.size() >= static_cast<std::size_t>(kWindows);
    });
    if (!ready) {
        state.SkipWithError("windows did not come up");
        return;
    }
    std::vector<std::string> names;
    for (int i = 0; i < 15; ++i) names.push_back("Suite Tool " + std::to_string(i * 7));
    names[3] = "suite tool window 0";
    const std::vector<std::string_view> titles(names.begin(), names.end());
    for (auto _ : state) {
        benchmark::DoNotOptimize(windows.FindWindows(titles));
    }
}

void BM_FindWindowBareServer(benchmark::State& state) {
    Run(state, false, "suite tool window 0");
}
void BM_FindWindowBareServerMissing(benchmark::State& state) {
    Run(state, false, "Port Set Editor");
}
void BM_FindWindowOpenbox(benchmark::State& state) {
    Run(state, true, "suite tool window 0");
}
void BM_FindWindowOpenboxMissing(benchmark::State& state) {
    Run(state, true, "Port Set Editor");
}

BENCHMARK(BM_FindWindowBareServer)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_FindWindowBareServerMissing)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_FindWindowOpenbox)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_FindWindowOpenboxMissing)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_FindWindowsFifteenTitlesOpenbox)->Unit(benchmark::kMicrosecond)->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();

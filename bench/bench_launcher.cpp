// The launcher's share of the main window's work with real window lookups:
// Orvel_Server over its unix socket, an own Xvfb under openbox holding fifty
// top-level windows, the console connected in local mode showing the tools
// category (seven visible slots). Measures the full server row refresh and
// the poll tick over its eleven-tick cycle.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>

#include "ConnectedConsole.h"
#include "XTestSupport.h"
#include "mainwindow/ApplicationPanel.h"
#include "platform/linux/X11WindowSystem.h"

namespace {

using namespace orvel;

// A connected console with every component started, showing the tools category.
struct Console : bench::ConnectedConsole<platform::X11WindowSystem> {
    explicit Console(const std::string& display) : ConnectedConsole(display) {
        window->cmdServerConnect_Click();
        Settle();
        window->tlbToolBar_ButtonClick("keyOrvelTools");
    }
};

Console* console = nullptr;

// The row refresh, and the poll tick with seven launcher slots shown.
[[maybe_unused]] const bool refreshAndTick =
    bench::RegisterRefreshAndTick(console, "BM_RefreshServerListX11", "BM_PollTickSevenSlots");

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::string why;
    auto server = xtest::XServer::Start(why);
    if (server == nullptr || !server->StartWindowManager(why)) {
        std::fprintf(stderr, "no X server for the benchmark: %s\n", why.c_str());
        return 1;
    }
    xtest::XClient client(server->display());
    for (int i = 0; i < 50; ++i) client.CreateWindow("Suite Tool Window " + std::to_string(i));
    client.Flush();
    {
        Console shared(server->display());
        console = &shared;
        if (console->window->Applications()->isHidden()) return 1;
        benchmark::RunSpecifiedBenchmarks();
        console = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}

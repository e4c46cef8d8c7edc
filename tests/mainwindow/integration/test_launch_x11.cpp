// The launch road end to end: the main window connected to the real
// Orvel_Server, the tool stand-in started from the launcher panel and found
// on a real X server (Xvfb), bare and under openbox.

#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "MainWindowFixture.h"
#include "SuiteServerHarness.h"
#include "XTestSupport.h"
#include "mainwindow/ApplicationPanel.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/X11WindowSystem.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::mainwindow::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One Xvfb for the program. The console's own window stays offscreen; the
// tools it starts open theirs on the X server.
class XServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        server = xtest::XServer::Start(why);
        if (server == nullptr) return;
        setenv("DISPLAY", server->display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);  // for the children only
    }
    void TearDown() override { server.reset(); }
    std::unique_ptr<xtest::XServer> server;
    std::string why;
};
XServerEnvironment* environment =
    static_cast<XServerEnvironment*>(::testing::AddGlobalTestEnvironment(new XServerEnvironment));

enum class Manager { None, Openbox };

class LaunchOnX11 : public MainWindowTest, public ::testing::WithParamInterface<Manager> {
  protected:
    void SetUp() override {
        if (environment->server == nullptr) GTEST_SKIP() << environment->why;
        auto& server = *environment->server;
        if (GetParam() == Manager::Openbox) {
            std::string why;
            if (!server.StartWindowManager(why)) GTEST_SKIP() << why;
        } else if (server.HasWindowManager()) {
            server.StopWindowManager();
        }
        for (int slot = 0; slot < 20; ++slot) {
            if (suite::IsUsedSlot(slot)) harness.InstallComponent(slot);
        }
        harness.SetString(platform::HKEY_LOCAL_MACHINE, std::string(suite::kActiveSetKey),
                          std::string(suite::kActiveSetValue), "Studio A");
        harness.StartServer();
        const std::string suite = harness.suiteFolder + "/";
        for (const char* file : {"Recorder.exe", "CardHealth.exe", "LinkCheck.exe"}) {
            fs::copy_file(ORVEL_DEMO_TOOL, suite + file, fs::copy_options::overwrite_existing);
        }
        status::FillComponentServerTable(table, suite);
        launcher::FillApplicationRows(catalogue, suite, "/nowhere/bin/", "Shaper.exe");
        windowSystem = std::make_unique<platform::X11WindowSystem>(server.display());
        factoryInUse = harness.MakeFactory(orvel::testing::FreeTcpPort(), 1500ms);
        context = std::make_unique<MainWindowContext>(
            MainWindowContext{settings, dialogs, clock, *windowSystem, instanceLock, *factoryInUse,
                              fileSystem, version, table, catalogue, themes, true});
        context->configureComputer = [this](std::int16_t role) {
            ApplyRoleHostKinds(table, settings, role);
        };
        context->programStarter = &starter;
        startFolder = fs::current_path();
    }
    void TearDown() override {
        for (auto& entry : catalogue) {
            if (entry.ProcessId > 0) kill(entry.ProcessId, SIGKILL);
        }
        if (!startFolder.empty()) fs::current_path(startFolder);
    }
    ~LaunchOnX11() override {
        window.reset();
        factoryInUse.reset();
    }

    // Runs poll ticks (and the server's events) until done holds.
    bool TickUntil(frmMain& w, const std::function<bool()>& done) {
        return xtest::Eventually([&] {
            w.tmrTimer_Timer();
            harness.dispatcher.RunPending();
            return done();
        });
    }
    QLabel* AppPanel(int s) { return Find<QLabel>(QString("pnlApplication_%1").arg(s)); }
    bool PanelRunning(int s) {
        return AppPanel(s)->palette().color(QPalette::Window) == ToQColor(status::kGreen);
    }

    orvel::testing::SuiteServerHarness harness;
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> factoryInUse;
    std::unique_ptr<platform::X11WindowSystem> windowSystem;
    platform::LinuxFileSystem fileSystem;
    platform::PosixProgramStarter starter;
    fs::path startFolder;
};

TEST_P(LaunchOnX11, EachCategoryLaunchesSeesItsToolRunAndSeesItGo) {
    auto& w = Loaded();
    w.cmdServerOrvelHost_Click();
    ASSERT_TRUE(w.Connected()) << harness.ServerLog();
    // The components this program needs are started by the click itself.
    w.cmdServerDisconnect_Click();
    harness.dispatcher.RunPending();

    const struct {
        const char* key;
        int slot;
        int index;
        const char* title;
    } launches[] = {
        {"keyOrvelApplications", 3, 4, "Recorder"},
        {"keyOrvelTools", 0, 8, "Card Health"},
        {"keyOrvelUtilities", 0, 15, "LinkCheck"},
    };
    for (const auto& launch : launches) {
        SCOPED_TRACE(launch.title);
        w.tlbToolBar_ButtonClick(launch.key);
        const auto& entry = catalogue[static_cast<std::size_t>(launch.index)];
        ASSERT_TRUE(Find<QPushButton>(QString("cmdApplication_%1").arg(launch.slot))->isEnabled());
        w.cmdApplication_Click(launch.slot);
        ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
        ASSERT_GT(entry.ProcessId, 0);
        for (auto slot : launcher::RequiredServersOf(launch.index).startList) {
            EXPECT_EQ(
                table[static_cast<std::size_t>(slot)].objServer->GetComponentStatus(slot).value_or(
                    0),
                1)
                << slot;
        }
        EXPECT_EQ(fs::current_path().string() + "/", entry.Path);
        ASSERT_TRUE(TickUntil(w, [&] { return PanelRunning(launch.slot); }));
        // Under a window manager the window is briefly out of sight while it is
        // being reparented; it is there again once managed.
        platform::HWND window = 0;
        ASSERT_TRUE(xtest::Eventually(
            [&] { return (window = windowSystem->FindWindowA(launch.title)) != 0; }));

        // A second click brings the same program forward; no second copy starts.
        const auto pid = entry.ProcessId;
        w.cmdApplication_Click(launch.slot);
        EXPECT_EQ(entry.ProcessId, pid);
        EXPECT_EQ(orvel::testing::ProcessesRunning(entry.Path + entry.FileName).size(), 1u);

        dialogs.ExpectBox("Cannot Exit Orvel Control Center");
        w.mnuFileExit_Click();
        EXPECT_TRUE(w.Connected());

        windowSystem->PostMessageA(window, platform::WM_CLOSE, 1, 1);
        EXPECT_TRUE(xtest::ProcessEndedWithin(pid, 20s));
        ASSERT_TRUE(TickUntil(w, [&] { return !PanelRunning(launch.slot); }));
        // Ready, or "[Ready]" once the poll has stopped the servers no tool needs.
        EXPECT_THAT(AppPanel(launch.slot)->text().toStdString(),
                    ::testing::AnyOf("Ready", "[Ready]"));
        dialogs.boxes.clear();
    }
}

INSTANTIATE_TEST_SUITE_P(X11, LaunchOnX11, ::testing::Values(Manager::None, Manager::Openbox),
                         [](const ::testing::TestParamInfo<Manager>& info) {
                             return std::string(info.param == Manager::None ? "BareServer"
                                                                            : "Openbox");
                         });

}  // namespace
}  // namespace orvel::mainwindow::testing

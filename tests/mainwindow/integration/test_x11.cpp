// The main window on a real X server (Xvfb): its outer size and its rows at
// the minimum size under openbox, and the launch road, bare and under
// openbox, with the real Orvel_Server and the tool stand-in. With
// ORVEL_SCREENSHOT_DIR set it saves the screen at the start and at the minimum.

#include <gmock/gmock.h>
#include <unistd.h>

#include <QApplication>
#include <QFontMetrics>
#include <QScreen>
#include <cstdlib>
#include <filesystem>

#include "MainWindowFixture.h"
#include "SuiteServerHarness.h"
#include "XTestSupport.h"
#include "mainwindow/WindowLayout.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/X11WindowSystem.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::mainwindow::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::unique_ptr<xtest::XServer> xServer;
std::string whyNoServer;

class ScreenTest : public MainWindowTest {
  protected:
    void SetUp() override {
        if (xServer == nullptr) GTEST_SKIP() << whyNoServer;
        std::string why;
        if (!xServer->HasWindowManager() && !xServer->StartWindowManager(why)) GTEST_SKIP() << why;
    }
    // Shows the window and waits until openbox has framed it.
    frmMain& ShownAndFramed() {
        auto& w = Loaded();
        w.show();
        EXPECT_TRUE(Settle([&] { return w.frameGeometry().size() != w.size(); }));
        return w;
    }
    template <typename Condition>
    static bool Settle(Condition condition) {
        return xtest::Eventually([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }
    // The window with its frame, as the X server shows it.
    void Save(const char* name) {
        const char* folder = std::getenv("ORVEL_SCREENSHOT_DIR");
        if (folder == nullptr) return;
        Settle([] { return true; });
        const QRect frame = window->frameGeometry();
        QGuiApplication::primaryScreen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(QString("%1/%2").arg(folder, name));
    }
};

TEST_F(ScreenTest, StartUpAndRestoreSizeGiveTheSameOuterSize) {
    auto& w = ShownAndFramed();
    Save("mainwindow-disabled-buttons.png");  // disconnected: the buttons are off
    const int standard = TwipsToPixels(kStandardSizeTwips, w.logicalDpiY());
    QSize atStart;
    EXPECT_TRUE(Settle([&] { return (atStart = w.frameGeometry().size()).height() == standard; }))
        << atStart.width() << " x " << atStart.height();
    EXPECT_EQ(atStart.width(), TwipsToPixels(kStandardSizeTwips, w.logicalDpiX()));
    w.resize(500, 450);
    ASSERT_TRUE(Settle([&] { return w.size() == QSize(500, 450); }));
    w.mnuFileRestoreSize_Click();
    EXPECT_TRUE(Settle([&] { return w.frameGeometry().size() == atStart; }))
        << w.frameGeometry().width() << " x " << w.frameGeometry().height();
    EXPECT_NEAR(settings.WindowFormHeight, kStandardSizeTwips, 15);
}

// At the minimum size every row keeps its caption readable: buttons, state
// panels, the side and host buttons and the identity labels.
TEST_F(ScreenTest, MinimumSizeKeepsEveryRowReadable) {
    local->statuses[5] = 1;
    auto& w = ShownAndFramed();
    ScriptServers();
    w.cmdServerOrvelHost_Click();  // the rows carry their captions
    ASSERT_TRUE(w.Connected());
    w.resize(100, 100);
    const int minimum = TwipsToPixels(kMinimumSizeTwips, w.logicalDpiY());
    ASSERT_TRUE(Settle([&] { return w.frameGeometry().height() == minimum; }))
        << w.frameGeometry().height();
    QStringList controls = {"cmdServerLocal",   "cmdServerRemote",     "cmdServerOrvelHost",
                            "cmdServerConnect", "cmdServerDisconnect", "lblOrvelServerOS"};
    for (int i = 0; i < 20; ++i) {
        controls << QString("cmdServers_%1").arg(i) << QString("pnlServers_%1").arg(i);
    }
    // The first visible control lower than its lettering. The frame reaches its
    // size before the X server reports the client's, so the rows are waited for.
    auto unreadable = [&]() -> std::string {
        for (const auto& name : controls) {
            auto* control = Find<QWidget>(name);
            if (control == nullptr) return name.toStdString() + " is missing";
            if (!control->isVisible()) continue;
            const int lettering = QFontMetrics(control->font()).height();
            if (lettering < 8 || control->height() < lettering) {
                return name.toStdString() + ": " + std::to_string(control->height()) +
                       " px for lettering of " + std::to_string(lettering);
            }
        }
        return {};
    };
    EXPECT_TRUE(Settle([&] { return unreadable().empty(); })) << unreadable();
    Save("mainwindow-minimum-size.png");
}

// The parameter: under openbox, or on the bare server.
class LaunchOnX11 : public MainWindowTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        if (xServer == nullptr) GTEST_SKIP() << whyNoServer;
        auto& server = *xServer;
        if (GetParam()) {
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
        MakeContext(*factoryInUse, *windowSystem, fileSystem);
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
    bool PanelRunning(int s) { return Back(AppPanel(s)) == ToQColor(status::kGreen); }

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

        windowSystem->PostMessageA(window, platform::WM_CLOSE, 1, 1);
        EXPECT_TRUE(xtest::ProcessEndedWithin(pid, 20s));
        ASSERT_TRUE(TickUntil(w, [&] { return !PanelRunning(launch.slot); }));
        // Ready, or "[Ready]" once the poll has stopped the servers no tool needs.
        EXPECT_THAT(AppPanel(launch.slot)->text().toStdString(),
                    ::testing::AnyOf("Ready", "[Ready]"));
    }
}

INSTANTIATE_TEST_SUITE_P(X11, LaunchOnX11, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "Openbox" : "BareServer");
});

}  // namespace
}  // namespace orvel::mainwindow::testing

// The X server comes first: the application connects to it.
int main(int argc, char** argv) {
    using orvel::mainwindow::testing::whyNoServer;
    using orvel::mainwindow::testing::xServer;
    xServer = orvel::xtest::XServer::Start(whyNoServer);
    if (xServer != nullptr) {
        setenv("DISPLAY", xServer->display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    xServer.reset();
    return result;
}

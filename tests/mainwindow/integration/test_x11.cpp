// The main window on a real X server (Xvfb): its outer size and its rows at
// the minimum size under openbox, and the launch road, bare and under
// openbox, with the real Orvel_Server and the tool stand-in. With
// ORVEL_SCREENSHOT_DIR set it saves the screen at the start and at the minimum.

#include <gmock/gmock.h>
#include <unistd.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <cstdlib>
#include <filesystem>

#include "MainWindowFixture.h"
#include "SuiteServerHarness.h"
#include "XTestSupport.h"
#include "mainwindow/StatePanel.h"
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
            .toImage()
            .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
            .save(QString("%1/%2").arg(folder, name));  // a few colours: small files
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

// Where a control falls short: its caption wider or taller than the box it
// is drawn in, or its box outside the widget that holds it. Empty: it fits.
std::string Misfit(const QWidget& control) {
    const QString name = control.objectName();
    QString caption;
    QRect box = control.contentsRect();
    if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        caption = QString(button->text()).remove('&');
        // Across, the caption keeps clear of the margins; down, it needs the
        // room inside the button's frame.
        const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option);
        const QRect inside = button->rect().marginsRemoved({frame, frame, frame, frame});
        box = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        box.setTop(inside.top());
        box.setBottom(inside.bottom());
    } else if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        caption = label->text();
        if (const auto* panel = qobject_cast<const StatePanel*>(label);
            panel != nullptr && panel->ShownText() != caption) {
            return name.toStdString() + " shows \"" + panel->ShownText().toStdString() +
                   "\" for \"" + caption.toStdString() + "\"";
        }
    } else if (const auto* frame = qobject_cast<const QGroupBox*>(&control)) {
        caption = frame->title().remove('&');
        box = frame->rect().marginsRemoved({4, 0, 4, 0});  // the title's height is its own
    }
    const QFontMetrics metrics(control.font());
    const int wide = metrics.horizontalAdvance(caption);
    const QWidget* holder = control.parentWidget();
    std::string why;
    if (metrics.height() < 8) why = "lettering of " + std::to_string(metrics.height()) + " px";
    if (wide > box.width() || metrics.height() > box.height()) {
        why = "caption " + std::to_string(wide) + " x " + std::to_string(metrics.height()) +
              " in " + std::to_string(box.width()) + " x " + std::to_string(box.height());
    }
    if (!holder->rect().contains(control.geometry())) {
        why = "box " + std::to_string(control.geometry().right()) + "," +
              std::to_string(control.geometry().bottom()) + " outside " +
              holder->objectName().toStdString() + " " + std::to_string(holder->width()) + " x " +
              std::to_string(holder->height());
    }
    return why.empty() ? why : name.toStdString() + ": " + why;
}

// Every size from the minimum to the whole screen, in both directions: each
// visible row's button and state panel, each control of the identity panel,
// each launcher row keeps its caption whole in its box and its box in its
// row, and the rows stay within their frame.
TEST_F(ScreenTest, EverySizeKeepsEveryCaptionInItsBoxAndEveryBoxInItsRow) {
    local->statuses[5] = 1;
    auto& w = ShownAndFramed();
    // The start-up size is applied again once the frame is known: the walk
    // starts after that, so that it does not undo a size of the walk.
    const int standard = TwipsToPixels(kStandardSizeTwips, w.logicalDpiY());
    ASSERT_TRUE(Settle([&] { return w.frameGeometry().height() == standard; }))
        << w.frameGeometry().height();
    ScriptServers();
    w.cmdServerOrvelHost_Click();  // the rows carry their captions
    ASSERT_TRUE(w.Connected());
    const int minimum = TwipsToPixels(kMinimumSizeTwips, w.logicalDpiY());
    QStringList serverControls = {"cmdServerLocal",   "cmdServerRemote",       "cmdServerOrvelHost",
                                  "cmdServerConnect", "cmdServerDisconnect",   "lblOrvelServerName",
                                  "lblOrvelServerOS", "lblOrvelServerVersion", "fraOrvelServer",
                                  "fraOrvelServerOS"};
    QStringList launcherControls = {"fraApplications"};
    for (int i = 0; i < 20; ++i) {
        serverControls << QString("cmdServers_%1").arg(i) << QString("pnlServers_%1").arg(i)
                       << QString("spltServers_%1").arg(i);
    }
    for (int s = 0; s < 7; ++s) {
        launcherControls << QString("cmdApplication_%1").arg(s)
                         << QString("pnlApplication_%1").arg(s)
                         << QString("spltApplication_%1").arg(s);
    }
    auto firstMisfit = [&](const QStringList& controls) -> std::string {
        for (const auto& name : controls) {
            auto* control = Find<QWidget>(name);
            if (control == nullptr) return name.toStdString() + " is missing";
            if (!control->isVisible()) continue;
            if (auto why = Misfit(*control); !why.empty()) return why;
        }
        return {};
    };
    const struct {
        const char* name;
        QSize outer;  // empty: maximised
        const char* screenshot;
    } sizes[] = {
        {"minimum", {minimum, minimum}, "mainwindow-minimum-size.png"},
        {"380 x 800", {minimum, 800}, "mainwindow-380x800.png"},
        {"1000 x 380", {1000, minimum}, "mainwindow-1000x380.png"},
        {"640 x 480", {640, 480}, "mainwindow-640x480.png"},
        {"1280 x 1024", {1280, 1024}, "mainwindow-1280x1024.png"},
        {"maximised", {}, "mainwindow-maximised.png"},
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.name);
        if (size.outer.isEmpty()) {
            w.showMaximized();
            ASSERT_TRUE(Settle([&] { return w.isMaximized() && w.width() > 1000; }));
        } else {
            const QSize frame = w.frameGeometry().size() - w.size();
            w.resize(size.outer - frame);
            // The window manager answers the request; the frame then has the size.
            ASSERT_TRUE(Settle([&] { return w.frameGeometry().size() == size.outer; }))
                << w.frameGeometry().width() << " x " << w.frameGeometry().height();
        }
        // The layout follows the resize event; the rows are waited for.
        EXPECT_TRUE(Settle([&] { return firstMisfit(serverControls).empty(); }))
            << firstMisfit(serverControls);
        Save(size.screenshot);
        w.tlbToolBar_ButtonClick("keyOrvelApplications");
        EXPECT_TRUE(Settle([&] { return firstMisfit(launcherControls).empty(); }))
            << firstMisfit(launcherControls);
        w.tlbToolBar_ButtonClick("keyOrvelServers");
    }
    w.showNormal();
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

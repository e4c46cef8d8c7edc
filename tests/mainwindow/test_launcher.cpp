// The launcher panel of the main window on fakes: launch states, the launch
// action, the poll's launched-tool scan.

#include <QApplication>
#include <QMouseEvent>
#include <set>

#include "FakeProgramStarter.h"
#include "MainWindowFixture.h"
#include "mainwindow/ApplicationPanel.h"

namespace orvel::mainwindow::testing {
namespace {

// Every program file is there but those listed missing; the launch's change
// of folder is recorded, not made.
class SomeFiles : public fakes::PlacedFileSystem {
  public:
    SomeFiles() : PlacedFileSystem("/opt/console") {}
    std::set<std::string> missing;
    std::string currentDirectory = "/";
    bool FileExists(const std::string& path) override { return !missing.count(path); }
    bool ChangeDirectory(const std::string& path) override {
        currentDirectory = path;
        return true;
    }
};

// Slot 9 is reported down for a number of queries, then up: a server that
// comes up while the launch is under way.
class SlowNine : public fakes::FakeSuiteServer {
  public:
    int downFor = 0;
    platform::Outcome<std::int32_t> GetComponentStatus(std::int16_t index) override {
        auto status = FakeSuiteServer::GetComponentStatus(index);
        if (index != 9) return status;
        if (downFor > 0) {
            --downFor;
            return 0;
        }
        return 1;
    }
};

class LauncherTest : public MainWindowTest {
  protected:
    LauncherTest() {
        context = std::make_unique<MainWindowContext>(
            MainWindowContext{settings, dialogs, clock, windows, instanceLock, factory, someFiles,
                              version, table, catalogue, themes, true});
        context->configureComputer = [this](std::int16_t role) {
            ApplyRoleHostKinds(table, settings, role);
        };
        context->programStarter = &starter;
    }
    // Connected in local mode with every component running.
    frmMain& ConnectedAllUp() {
        auto& w = ConnectedLocal();
        for (auto& s : local->statuses) s = 1;
        for (auto& s : remote->statuses) s = 1;
        return w;
    }
    void ShowTools(frmMain& w) { w.tlbToolBar_ButtonClick("keyOrvelTools"); }
    QLabel* AppPanel(int s) { return Find<QLabel>(QString("pnlApplication_%1").arg(s)); }
    QPushButton* AppButton(int s) { return Find<QPushButton>(QString("cmdApplication_%1").arg(s)); }
    void Tick(frmMain& w) { w.tmrTimer_Timer(); }

    SomeFiles someFiles;
    fakes::FakeProgramStarter starter;
};

struct Look {
    const char* caption;
    std::uint32_t back;
    std::uint32_t text;
};

void ExpectLook(QLabel* panel, const Look& look, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(panel->text(), look.caption);
    EXPECT_EQ(panel->palette().color(QPalette::Window), ToQColor(look.back));
    EXPECT_EQ(panel->palette().color(QPalette::WindowText), ToQColor(look.text));
}

TEST_F(LauncherTest, EveryLaunchStateShowsItsCaptionAndColours) {
    // Off line: grey on black, every button disabled.
    auto& w = Loaded();
    ShowTools(w);
    EXPECT_EQ(w.Applications()->title(), "Orvel Tools");
    for (int s = 0; s < kApplicationSlots; ++s) {
        ExpectLook(AppPanel(s), {"Off Line", status::kBlack, status::kGrayText}, "disconnected");
        EXPECT_FALSE(AppButton(s)->isEnabled());
    }
    w.tlbToolBar_ButtonClick("keyOrvelUtilities");
    EXPECT_FALSE(Find<QWidget>("spltApplication_0")->isHidden());
    EXPECT_TRUE(Find<QWidget>("spltApplication_1")->isHidden());

    ScriptServers();
    w.cmdServerOrvelHost_Click();
    for (auto& s : local->statuses) s = 1;
    for (auto& s : remote->statuses) s = 1;
    local->statuses[14] = 0;                              // Lock Breaker needs 14
    someFiles.missing.insert("/suite/DirectSwitch.exe");  // slot 3
    windows.AddWindow("ConfLoad", 31);                    // slot 2 runs
    ShowTools(w);
    ExpectLook(AppPanel(0), {"Ready", status::kBlack, status::kGreen}, "ready");
    ExpectLook(AppPanel(1), {"[Ready]", status::kBlack, status::kGreen}, "server missing");
    // Running keeps the caption it had and turns green with black text.
    ExpectLook(AppPanel(2), {"Off Line", status::kGreen, status::kBlack}, "running");
    ExpectLook(AppPanel(3), {"UnRegistered", status::kBlack, status::kRed}, "file missing");
    EXPECT_EQ(AppPanel(3)->toolTip(), "DirectSwitch.exe");
    for (int s : {0, 1, 2}) EXPECT_TRUE(AppButton(s)->isEnabled()) << s;
    EXPECT_FALSE(AppButton(3)->isEnabled());
    EXPECT_EQ(AppButton(0)->text(), "Card Health");
    EXPECT_EQ(AppButton(0)->toolTip(), "Orvel Card Health");
    EXPECT_EQ(Find<QWidget>("spltApplication_6")->property("Tag").toString(), "14");

    // Against a remote server the programs that cannot run there say so.
    settings.LocalServerSelected = false;
    w.RefreshApplicationState(12);
    ExpectLook(AppPanel(4), {"UnSupported", status::kBlack, status::kGrayText}, "remote");

    // The looks no window scenario reaches as easily.
    const struct {
        std::int16_t state;
        std::optional<std::string> caption;
        std::uint32_t back, text;
        std::optional<int> size;
    } looks[] = {
        {3, "Registered", status::kBlack, status::kYellow, std::nullopt},
        {6, std::nullopt, status::kGreen, status::kBlack, 250},
        {7, "Error", status::kRed, status::kWhite, 10},
        {-5, "Error", status::kRed, status::kWhite, 10},
    };
    for (const auto& row : looks) {
        const auto look = launcher::LookOfState(row.state);
        EXPECT_EQ(look.caption, row.caption) << row.state;
        EXPECT_EQ(look.back, row.back) << row.state;
        EXPECT_EQ(look.text, row.text) << row.state;
        EXPECT_EQ(look.size, row.size) << row.state;
    }
}

TEST_F(LauncherTest, OneClickStartsServersAndProgramThenTheWindowIsFollowed) {
    auto& w = ConnectedLocal();  // every component off line, starts bring them up
    ShowTools(w);
    ExpectLook(AppPanel(0), {"[Ready]", status::kBlack, status::kGreen}, "before");
    local->calls.clear();
    remote->calls.clear();
    w.cmdApplication_Click(0);  // Card Health: 11, 7, 3, then 9
    EXPECT_EQ(remote->CountCalls("StartComponent(11)"), 1);
    EXPECT_EQ(remote->CountCalls("StartComponent(7)"), 1);
    EXPECT_EQ(remote->CountCalls("StartComponent(3)"), 1);
    EXPECT_EQ(local->CountCalls("StartComponent(9)"), 1);
    ASSERT_EQ(starter.starts.size(), 1u);
    EXPECT_EQ(starter.starts[0].programPath, "/suite/CardHealth.exe");
    EXPECT_EQ(starter.starts[0].windowStyle, 1);
    EXPECT_EQ(someFiles.currentDirectory, "/suite/");
    EXPECT_EQ(catalogue[8].ProcessId, 4100);
    EXPECT_EQ(dialogs.pointer, platform::vbDefault);
    // No window yet: the refresh after the start decides.
    EXPECT_EQ(AppPanel(0)->text(), "Ready");
    // Clicked again while the program still opens its window: nothing starts
    // twice, and its servers are kept by the poll's stop of unneeded ones.
    starter.alive.insert(4100);
    w.cmdApplication_Click(0);
    EXPECT_EQ(starter.starts.size(), 1u);
    EXPECT_TRUE(windows.shown.empty());
    w.StopUnneededServers();
    EXPECT_EQ(local->CountCalls("StopComponent(9)"), 0);

    // The window appears: one tick paints it running, later ticks leave it.
    windows.AddWindow("Card Health", 55);
    Tick(w);
    EXPECT_EQ(AppPanel(0)->palette().color(QPalette::Window), ToQColor(status::kGreen));
    local->calls.clear();
    Tick(w);
    Tick(w);
    EXPECT_EQ(local->CountCalls("GetComponentStatus"), 0);

    // A second click, on the state panel, brings it forward instead.
    auto* panel = AppPanel(0);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel, &press);
    EXPECT_EQ(starter.starts.size(), 1u);
    EXPECT_EQ(windows.shown,
              (std::vector<std::pair<platform::HWND, int>>{{55, platform::SW_SHOWNORMAL}}));
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{55});

    dialogs.ExpectBox("Cannot Exit Orvel Control Center");
    w.mnuFileExit_Click();
    EXPECT_TRUE(w.Connected());

    windows.RemoveWindow(windows.FindWindowA("Card Health"));
    Tick(w);
    ExpectLook(AppPanel(0), {"Ready", status::kBlack, status::kGreen}, "closed");
}

TEST_F(LauncherTest, RefusalsAndFailuresAreReportedAndNothingIsTakenForRunning) {
    auto& w = Loaded();
    ShowTools(w);
    dialogs.ExpectBox("Orvel Server is NOT Connected");
    w.cmdApplication_Click(0);
    EXPECT_EQ(BoxText(0),
              "Cannot Start the Application \r\r'Card Health'\r\rUntil the Orvel Server is "
              "Started");
    EXPECT_TRUE(w.Applications()->isHidden());
    EXPECT_TRUE(Find<QAction>("keyOrvelServers")->isChecked());

    // A required server that stays down is named; nothing is started.
    ScriptServers();
    w.cmdServerOrvelHost_Click();
    for (auto& s : remote->statuses) s = 1;
    local->startStopChangesStatus = false;
    ShowTools(w);
    dialogs.ExpectBox("Orvel Servers");
    w.cmdApplication_Click(0);
    EXPECT_EQ(BoxText(1), "The Required Orvel Server\r\r'" + table[9].strDisplayName +
                              " Server'\r\r Did Not Start. Cannot Launch Application");
    EXPECT_TRUE(starter.starts.empty());
    EXPECT_EQ(AppPanel(0)->text(), "[Ready]");

    // A start that fails names the program and the reason and stores nothing.
    for (auto& s : local->statuses) s = 1;
    starter.FailNext("No such file or directory");
    dialogs.ExpectBox("Application Not Started");
    w.cmdApplication_Click(0);
    EXPECT_NE(BoxText(2).find("'Card Health'"), std::string::npos);
    EXPECT_NE(BoxText(2).find("No such file or directory"), std::string::npos);
    EXPECT_EQ(catalogue[8].ProcessId, 0);
    EXPECT_EQ(catalogue[8].State, launcher::kStateReady);
    ExpectLook(AppPanel(0), {"Ready", status::kBlack, status::kGreen}, "failed start");
}

TEST_F(LauncherTest, ServerThatCameUpMeanwhileGivesNoBoxAndTheProgramStarts) {
    auto late = std::make_shared<SlowNine>();
    local = late;
    auto& w = ConnectedAllUp();
    local->startStopChangesStatus = false;
    ShowTools(w);
    // Down when the click decides the state, up when the launch asks which is missing.
    late->downFor = 1;
    w.cmdApplication_Click(0);
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(starter.starts.size(), 1u);
}

}  // namespace
}  // namespace orvel::mainwindow::testing

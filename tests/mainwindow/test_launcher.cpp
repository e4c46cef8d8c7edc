// The launcher panel of the main window on fakes: launch states, the launch
// action, the poll's launched-tool scan.

#include <QTest>

#include "FakeProgramStarter.h"
#include "MainWindowFixture.h"
#include "RegistryTestSupport.h"
#include "mainwindow/ApplicationPanel.h"
#include "platform/linux/SqliteRegistry.h"
#include "settings/RegistryValues.h"

namespace orvel::mainwindow::testing {
namespace {

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
    // Every program file is there.
    LauncherTest() {
        for (const auto& entry : catalogue) files.files.insert(entry.Path + entry.FileName);
        context->programStarter = &starter;
    }
    void ShowTools(frmMain& w) { w.tlbToolBar_ButtonClick("keyOrvelTools"); }
    QPushButton* AppButton(int s) { return Find<QPushButton>(QString("cmdApplication_%1").arg(s)); }

    void ExpectLook(int slot, const char* caption, std::uint32_t back, std::uint32_t text) {
        SCOPED_TRACE(caption);
        EXPECT_EQ(AppPanel(slot)->text(), caption);
        EXPECT_EQ(Back(AppPanel(slot)), ToQColor(back));
        EXPECT_EQ(Text(AppPanel(slot)), ToQColor(text));
    }

    fakes::FakeProgramStarter starter;
};

TEST_F(LauncherTest, EveryLaunchStateShowsItsCaptionAndColours) {
    auto& w = Loaded();
    // A category button switches the view however it is toggled (mouse,
    // keyboard, an accessibility client); toggled again, it stays pressed.
    for (int i = 0; i < 2; ++i) Find<QAction>("keyOrvelTools")->toggle();
    EXPECT_TRUE(Find<QWidget>("fraServers")->isHidden());
    EXPECT_EQ(w.Applications()->title(), "Orvel Tools");
    EXPECT_TRUE(Find<QAction>("keyOrvelTools")->isChecked());
    EXPECT_FALSE(Find<QAction>("keyOrvelServers")->isChecked());
    for (int s = 0; s < kApplicationSlots; ++s) {
        ExpectLook(s, "Off Line", status::kBlack, status::kGrayText);
        EXPECT_FALSE(AppButton(s)->isEnabled());
    }
    w.tlbToolBar_ButtonClick("keyOrvelUtilities");
    EXPECT_FALSE(Find<QWidget>("spltApplication_0")->isHidden());
    EXPECT_TRUE(Find<QWidget>("spltApplication_1")->isHidden());

    ScriptServers();
    w.cmdServerOrvelHost_Click();
    AllRunning();
    local->statuses[14] = 0;                       // Lock Breaker needs 14
    files.files.erase("/suite/DirectSwitch.exe");  // slot 3
    windows.AddWindow("ConfLoad", 31);             // slot 2 runs
    ShowTools(w);
    ExpectLook(0, "Ready", status::kBlack, status::kGreen);
    ExpectLook(1, "[Ready]", status::kBlack, status::kGreen);
    // Running keeps the caption it had and turns green with black text.
    ExpectLook(2, "Off Line", status::kGreen, status::kBlack);
    ExpectLook(3, "UnRegistered", status::kBlack, status::kRed);
    EXPECT_EQ(AppPanel(3)->toolTip(), "DirectSwitch.exe");
    for (int s : {0, 1, 2}) EXPECT_TRUE(AppButton(s)->isEnabled()) << s;
    EXPECT_FALSE(AppButton(3)->isEnabled());
    EXPECT_EQ(AppButton(0)->text(), "Card Health");
    EXPECT_EQ(AppButton(0)->toolTip(), "Orvel Card Health");

    // Against a remote server the programs that cannot run there say so.
    settings.LocalServerSelected = false;
    w.RefreshApplicationState(12);
    ExpectLook(4, "UnSupported", status::kBlack, status::kGrayText);

    // A state no scenario reaches: the error look.
    EXPECT_EQ(launcher::LookOfState(-5).caption, "Error");
}

// The clients button is no category: it hides both frames and leaves every
// category button released.
TEST_F(LauncherTest, ClientsButtonHidesBothFramesAndPressesNone) {
    auto& w = Loaded();
    ShowTools(w);
    auto* clients = Find<QAction>("keyOrvelClients");
    EXPECT_EQ(clients->text(), "Orvel Clicents");
    clients->trigger();
    EXPECT_TRUE(w.Applications()->isHidden());
    EXPECT_TRUE(Find<QWidget>("fraServers")->isHidden());
    for (const char* key : {"keyOrvelApplications", "keyOrvelTools", "keyOrvelUtilities",
                            "keyOrvelServers", "keyOrvelClients"}) {
        EXPECT_FALSE(Find<QAction>(key)->isChecked()) << key;
    }
}

// Row 14, the setup editor, lives where the registry's "EditorPath" and
// "Editor" say, each with its own default; every other row stays in the
// suite folder.
TEST(SetupEditorRow, FolderAndFileFromTheRegistryEachWithItsDefault) {
    const struct {
        const char* editorPath;  // nullptr: no value
        const char* editor;
        const char* path;
        const char* fileName;
    } cases[] = {
        {nullptr, nullptr, "/corvane/bin/", "Shaper.exe"},
        {"/opt/shaper/", nullptr, "/opt/shaper/", "Shaper.exe"},
        {nullptr, "Shaper2.exe", "/corvane/bin/", "Shaper2.exe"},
        {"/opt/shaper/", "Shaper2.exe", "/opt/shaper/", "Shaper2.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.editorPath ? c.editorPath : "-") << " " << (c.editor ? c.editor : "-"));
        platform::SqliteRegistry registry(":memory:");
        for (const auto& [name, value] :
             {std::pair{"EditorPath", c.editorPath}, std::pair{"Editor", c.editor}}) {
            if (value == nullptr) continue;
            fakes::Seed(registry, platform::HKEY_LOCAL_MACHINE, "Software\\Quarlen\\Corvane", name,
                        platform::REG_SZ, fakes::Sz(value));
        }
        fakes::FakeDialogs dialogs;
        settings::RegistryContext context{registry, dialogs};
        fakes::FakeFileSystem files;
        files.files.insert(std::string(c.path) + c.fileName);
        launcher::ApplicationCatalogue catalogue;
        launcher::BuildApplicationCatalogue(catalogue, context, files, "/suite/", "/corvane/");
        EXPECT_EQ(catalogue[14].Path, c.path);
        EXPECT_EQ(catalogue[14].FileName, c.fileName);
        EXPECT_EQ(catalogue[14].State, launcher::kStateFilePresent);
        EXPECT_EQ(catalogue[13].Path, "/suite/");
        EXPECT_TRUE(dialogs.boxes.empty());
    }
}

TEST_F(LauncherTest, OneClickStartsServersAndProgramThenTheWindowIsFollowed) {
    auto& w = ConnectedLocal();  // every component off line, starts bring them up
    ShowTools(w);
    ExpectLook(0, "[Ready]", status::kBlack, status::kGreen);
    local->calls.clear();
    w.cmdApplication_Click(0);  // Card Health needs 11, 7, 3 and 9 (the launcher's rules)
    EXPECT_EQ(local->CountCalls("StartComponent(9)"), 1);
    EXPECT_EQ(starter.starts.at(0).programPath, "/suite/CardHealth.exe");
    EXPECT_EQ(starter.starts.at(0).windowStyle, 1);
    EXPECT_EQ(files.currentDirectory, "/suite/");
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

    // The window appears: a tick paints it running.
    windows.AddWindow("Card Health", 55);
    Ticks(1);
    EXPECT_EQ(Back(AppPanel(0)), ToQColor(status::kGreen));

    // A second click, on the state panel, brings it forward instead.
    QTest::mouseClick(AppPanel(0), Qt::LeftButton);
    EXPECT_EQ(starter.starts.size(), 1u);
    EXPECT_EQ(windows.shown,
              (std::vector<std::pair<platform::HWND, int>>{{55, platform::SW_SHOWNORMAL}}));
    EXPECT_EQ(windows.raised, std::vector<platform::HWND>{55});

    windows.RemoveWindow(windows.FindWindowA("Card Health"));
    Ticks(1);
    ExpectLook(0, "Ready", status::kBlack, status::kGreen);
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
    remote->statuses.fill(1);
    local->startStopChangesStatus = false;
    ShowTools(w);
    dialogs.ExpectBox("Orvel Servers");
    w.cmdApplication_Click(0);
    EXPECT_EQ(BoxText(1), "The Required Orvel Server\r\r'" + table[9].strDisplayName +
                              " Server'\r\r Did Not Start. Cannot Launch Application");
    EXPECT_TRUE(starter.starts.empty());
    EXPECT_EQ(AppPanel(0)->text(), "[Ready]");

    // A start that fails names the program and the reason and stores nothing.
    local->statuses.fill(1);
    starter.FailNext("No such file or directory");
    dialogs.ExpectBox("Application Not Started");
    w.cmdApplication_Click(0);
    EXPECT_NE(BoxText(2).find("'Card Health'"), std::string::npos);
    EXPECT_NE(BoxText(2).find("No such file or directory"), std::string::npos);
    EXPECT_EQ(catalogue[8].ProcessId, 0);
    EXPECT_EQ(catalogue[8].State, launcher::kStateReady);
    ExpectLook(0, "Ready", status::kBlack, status::kGreen);
}

TEST_F(LauncherTest, ServerThatCameUpMeanwhileGivesNoBoxAndTheProgramStarts) {
    auto late = std::make_shared<SlowNine>();
    local = late;
    auto& w = ConnectedLocal();
    AllRunning();
    local->startStopChangesStatus = false;
    ShowTools(w);
    // Down when the click decides the state, up when the launch asks which is
    // missing. A box would fail the scripted dialogs.
    late->downFor = 1;
    w.cmdApplication_Click(0);
    EXPECT_EQ(starter.starts.size(), 1u);
}

}  // namespace
}  // namespace orvel::mainwindow::testing

#include <gtest/gtest.h>

#include <QAccessible>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "FakeDialogs.h"
#include "FakeProcessTable.h"
#include "FakeWindowSystem.h"
#include "platform/SystemInfo.h"
#include "processes/ui/frmProcesses.h"

namespace orvel::processes {
namespace {

constexpr const char* kTitle = "Verify Processes and Applications";
const std::string kWarning =
    "There are Processes or Applications running\rthat should be CLOSED or STOPPED before\r"
    "starting the Orvel Console Appliction";

class FrmProcessesTest : public ::testing::Test {
  protected:
    FrmProcessesTest() {
        launcher::FillApplicationRows(catalogue, "/opt/orvel/", "/opt/corvane/bin/", "Shaper.exe");
        status::FillComponentServerTable(table, "/opt/orvel/");
    }
    ~FrmProcessesTest() override { EXPECT_TRUE(dialogs.ScriptDone()) << "boxes left unshown"; }

    ProcessesContext Context(int platformId = platform::VER_PLATFORM_WIN32_NT) {
        ProcessesContext context{catalogue, table, processes, windows, dialogs};
        context.AutoStart = autoStart;
        context.platformId = platformId;
        context.closeWaitMs = 0;
        return context;
    }

    template <typename Widget>
    static Widget* Control(QWidget& dialog, const char* name) {
        auto* widget = dialog.findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static std::vector<std::string> Lines(QWidget& dialog, const char* list) {
        std::vector<std::string> lines;
        auto* widget = Control<QListWidget>(dialog, list);
        for (int i = 0; widget != nullptr && i < widget->count(); ++i) {
            lines.push_back(widget->item(i)->text().toStdString());
        }
        return lines;
    }
    static void Click(QWidget& dialog, const char* button) {
        if (auto* widget = Control<QPushButton>(dialog, button)) widget->click();
    }

    launcher::ApplicationCatalogue catalogue{};
    status::ComponentServerTable table{};
    fakes::FakeProcessTable processes;
    fakes::FakeWindowSystem windows;
    fakes::FakeDialogs dialogs;
    bool autoStart = false;
};

TEST_F(FrmProcessesTest, LoadUnloadsWhenNothingIsListedOrThePlatformIsUnsupported) {
    struct Case {
        const char* what;
        int platformId;
        bool component;
        bool tool;
        bool shown;
        const char* processLine;  // nullptr: none
    };
    const int nt = platform::VER_PLATFORM_WIN32_NT;
    const Case cases[] = {
        {"nothing running", nt, false, false, false, nullptr},
        {"unsupported platform", 0, true, true, false, nullptr},
        {"NT method", nt, true, false, true, " (008) DeskMainServer.exe"},
        {"95 method", platform::VER_PLATFORM_WIN32_WINDOWS, true, false, true,
         "DeskMainServer.exe"},
        {"a tool only", nt, false, true, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        processes.processes.clear();
        windows.RemoveWindow(windows.FindWindowA("Recorder"));
        if (c.component) processes.Add(8, "/opt/orvel/DeskMainServer.exe");
        if (c.tool) windows.AddWindow("Recorder");
        auto context = Context(c.platformId);
        frmProcesses dialog(context);
        EXPECT_EQ(dialog.Load(), c.shown);
        if (!c.shown) continue;
        using Listed = std::vector<std::string>;
        EXPECT_EQ(Lines(dialog, "lstProcesses"), c.processLine ? Listed{c.processLine} : Listed{});
        EXPECT_EQ(Lines(dialog, "lstApplications"), c.tool ? Listed{"Recorder"} : Listed{});
        // A screen reader names both lists; the frames' captions are not their labels.
        for (const auto& [list, name] : {std::pair{"lstProcesses", "Running Processes"},
                                         std::pair{"lstApplications", "Running Applications"}}) {
            QAccessibleInterface* accessible =
                QAccessible::queryAccessibleInterface(Control<QListWidget>(dialog, list));
            ASSERT_NE(accessible, nullptr) << list;
            EXPECT_EQ(accessible->text(QAccessible::Name), name);
        }
        // It opens in the middle of its screen, not at the corner.
        dialog.show();
        const QRect screen = dialog.screen()->availableGeometry();
        EXPECT_LE((dialog.frameGeometry().center() - screen.center()).manhattanLength(), 2);
        EXPECT_GT(dialog.frameGeometry().top(), screen.top());
    }
}

TEST_F(FrmProcessesTest, StopSingleApplicationClosesTheSelectedLinesAndRefreshes) {
    const platform::HWND revero = windows.AddWindow("REVERO");
    // Two entries sharing a display name, both running.
    catalogue[9].DisplayName = catalogue[8].DisplayName;
    const platform::HWND cardHealth = windows.AddWindow(catalogue[8].WindowTitle);
    const platform::HWND lockBreaker = windows.AddWindow(catalogue[9].WindowTitle);
    const platform::HWND recorder = windows.AddWindow("Recorder");
    auto context = Context();
    frmProcesses dialog(context);
    ASSERT_TRUE(dialog.Load());
    const std::vector<std::string> all{"REVERO", "Recorder", "Card Health", "Card Health"};
    ASSERT_EQ(Lines(dialog, "lstApplications"), all);

    Click(dialog, "cmdStopApplication");
    EXPECT_TRUE(windows.closed.empty()) << "nothing selected";

    // "REVERO" and one "Card Health" line: both windows of that name close.
    auto* list = Control<QListWidget>(dialog, "lstApplications");
    list->item(0)->setSelected(true);
    list->item(3)->setSelected(true);
    Click(dialog, "cmdStopApplication");
    EXPECT_EQ(windows.closed, (std::vector<platform::HWND>{revero, cardHealth, lockBreaker}));
    EXPECT_EQ(Lines(dialog, "lstApplications"), std::vector<std::string>{"Recorder"});
    EXPECT_EQ(catalogue[8].WindowHandle, 0u) << "handles refreshed";
    EXPECT_EQ(catalogue[4].WindowHandle, recorder);

    Click(dialog, "cmdCorrect");
    EXPECT_EQ(windows.closed.back(), recorder);
    EXPECT_TRUE(Lines(dialog, "lstApplications").empty());
}

// No keeps the dialog up, and its close box then warns and still closes; Yes
// clears the lists first, so no closing warning follows.
TEST_F(FrmProcessesTest, ApplyAndExitAsksAndClosingWarnsWhileLinesRemain) {
    processes.Add(8, "/opt/orvel/DeskMainServer.exe");
    for (const int answer : {platform::vbYes, platform::vbNo}) {
        SCOPED_TRACE(answer);
        dialogs.boxes.clear();
        dialogs.ExpectBox(kTitle, answer);
        if (answer == platform::vbNo) dialogs.ExpectBox(kTitle);
        auto context = Context();
        frmProcesses dialog(context);
        ASSERT_TRUE(dialog.Load());
        dialog.show();
        Click(dialog, "cmdAccept");
        EXPECT_EQ(dialog.isVisible(), answer == platform::vbNo);
        dialog.close();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(),
                  answer == platform::vbYes ? QDialog::Accepted : QDialog::Rejected);
    }
    EXPECT_EQ(dialogs.boxes.at(0).text, kWarning + "\r\rDo you want to Continue to exit?");
    EXPECT_EQ(dialogs.boxes.at(0).style, 4 + 48 + 256);
    EXPECT_EQ(dialogs.boxes.at(1).text, kWarning);
    EXPECT_EQ(dialogs.boxes.at(1).style, 48);
}

TEST_F(FrmProcessesTest, AutostartClosesTheApplicationsWithoutAsking) {
    autoStart = true;
    const platform::HWND recorder = windows.AddWindow("Recorder");
    const platform::HWND revero = windows.AddWindow("REVERO");
    // Tools only: everything closes, no box at all.
    ShowProcessVerification(Context(), nullptr);
    EXPECT_EQ(windows.closed, (std::vector<platform::HWND>{revero, recorder}));

    // A component server stays listed: the closing warning, once.
    windows.AddWindow("Recorder");
    processes.Add(8, "/opt/orvel/DeskMainServer.exe");
    dialogs.ExpectBox(kTitle);
    ShowProcessVerification(Context(), nullptr);
    EXPECT_EQ(windows.closed.size(), 3u);
}

}  // namespace
}  // namespace orvel::processes

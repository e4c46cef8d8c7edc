#pragma once

// A main window built on fakes: scripted dialogs and suite servers, a clock
// that stands still, windows found by title, files listed by the test.

#include <gtest/gtest.h>

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeFileSystem.h"
#include "FakeInstanceLock.h"
#include "FakeSuiteServer.h"
#include "FakeWindowSystem.h"
#include "QueueDispatcher.h"
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMessage.h"

namespace orvel::mainwindow::testing {

// Host kinds by role, as the role registration sets them.
inline void ApplyRoleHostKinds(status::ComponentServerTable& table,
                               settings::ConsoleSettings& settings, std::int16_t role) {
    for (int i = 0; i < 20; ++i) {
        auto& entry = table[static_cast<std::size_t>(i)];
        if (!suite::IsUsedSlot(i)) continue;
        const bool fileServerSlot = i == 3 || i == 7 || i == 11 || i == 15;
        entry.intHostKind = (fileServerSlot || role == 2) ? 2 : 1;
    }
    settings.LocalServerSelected = role == 0;
}

// The other parts of the console as the window reaches them: roles and
// writes recorded, the rest counted.
struct RecordingActions final : ConsoleActions {
    void ConfigureComputer(std::int16_t role) override {
        if (table != nullptr) ApplyRoleHostKinds(*table, *settings, role);
        roles.push_back(role);
    }
    void WriteConfiguration() override { ++configurationWrites; }
    void ShowProcessVerification() override { ++verifications; }
    void AutoStartChanged(bool checked) override { autoStartToggles.push_back(checked); }
    void ShowAbout() override { ++menuActions; }
    void DComConfiguration() override { ++menuActions; }
    void DComProtocol() override { ++menuActions; }
    void CorvaneSettings() override { ++menuActions; }

    // Where the role's host kinds go; none: the role is only recorded.
    status::ComponentServerTable* table = nullptr;
    settings::ConsoleSettings* settings = nullptr;
    std::vector<std::int16_t> roles;
    int configurationWrites = 0;
    int verifications = 0;
    std::vector<bool> autoStartToggles;
    int menuActions = 0;
};

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        status::FillComponentServerTable(table, "/suite/");
        launcher::FillApplicationRows(catalogue, "/suite/", "/corvane/bin/", "Shaper.exe");
        FillColourThemes(themes);
        version = platform::ProgramVersionInfo();
        settings.LocalServerSelected = true;
        MakeContext(factory, windows, files);
    }
    // The integration tests bring real servers, windows and files, and may
    // bring a clock that runs.
    void MakeContext(suiteclient::SuiteServerFactory& servers, platform::WindowSystem& windowSystem,
                     platform::FileSystem& fileSystem, platform::Clock* runningClock = nullptr) {
        actions.table = &table;
        actions.settings = &settings;
        context = std::make_unique<MainWindowContext>(MainWindowContext{
            settings, dialogs, runningClock ? *runningClock : clock, windowSystem, instanceLock,
            servers, fileSystem, version, table, catalogue, themes, actions, true});
    }
    ~MainWindowTest() override {
        window.reset();
        EXPECT_TRUE(dialogs.ScriptDone()) << "boxes left unshown";
    }

    frmMain& Window() {
        if (!window) window = std::make_unique<frmMain>(*context);
        window->Timer()->stop();  // ticks are run by hand
        return *window;
    }
    frmMain& Loaded() {
        Window();
        EXPECT_TRUE(window->Load());
        return *window;
    }
    // Two instances for a local connection: local then remote.
    void ScriptServers() { factory.next = {local, remote}; }
    frmMain& ConnectedLocal() {
        auto& w = Loaded();
        ScriptServers();
        w.cmdServerOrvelHost_Click();
        EXPECT_TRUE(w.Connected());
        return w;
    }

    template <typename T>
    T* Find(const QString& name) {
        return window->findChild<T*>(name);
    }
    QLabel* Panel(int i) { return Find<QLabel>(QString("pnlServers_%1").arg(i)); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
    QLabel* Status(const char* key) { return Find<QLabel>(key); }
    bool MenuEnabled(const char* name) { return Find<QMenu>(name)->menuAction()->isEnabled(); }
    void Ticks(int count) {
        for (int tick = 0; tick < count; ++tick) window->tmrTimer_Timer();
    }
    std::string BoxText(std::size_t i) { return dialogs.boxes.at(i).text; }
    QLabel* AppPanel(int s) { return Find<QLabel>(QString("pnlApplication_%1").arg(s)); }
    // Every component on both servers runs.
    void AllRunning() {
        local->statuses.fill(1);
        remote->statuses.fill(1);
    }

    static QColor Back(QWidget* w) { return w->palette().color(QPalette::Window); }
    static QColor Text(QWidget* w) { return w->palette().color(QPalette::WindowText); }

    status::ComponentServerTable table;
    launcher::ApplicationCatalogue catalogue;
    ColourThemes themes;
    platform::VersionInfo version;
    settings::ConsoleSettings settings;
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    fakes::FakeWindowSystem windows;
    fakes::FakeInstanceLock instanceLock;
    fakes::FakeSuiteServerFactory factory;
    // No program file until a test lists it.
    fakes::FakeFileSystem files;
    // The user-interface thread's queue, for a window whose server calls run
    // on a worker (context->dispatcher); it outlives the window.
    orvel::testing::QueueDispatcher ui;
    RecordingActions actions;
    std::vector<std::int16_t>& roles = actions.roles;
    int& configurationWrites = actions.configurationWrites;
    std::unique_ptr<MainWindowContext> context;
    std::unique_ptr<frmMain> window;
    std::shared_ptr<fakes::FakeSuiteServer> local = std::make_shared<fakes::FakeSuiteServer>();
    std::shared_ptr<fakes::FakeSuiteServer> remote = std::make_shared<fakes::FakeSuiteServer>();
};

}  // namespace orvel::mainwindow::testing

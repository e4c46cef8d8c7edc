#pragma once

// A main window built on fakes: scripted dialogs and suite servers, a clock
// that stands still, windows found by title from a table.

#include <gtest/gtest.h>

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <map>
#include <set>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeInstanceLock.h"
#include "FakeSuiteServer.h"
#include "mainwindow/frmMain.h"
#include "mainwindow/frmMessage.h"

namespace orvel::mainwindow::testing {

class TitleWindows : public platform::WindowSystem {
  public:
    std::map<std::string, platform::HWND> windows;
    std::vector<std::pair<platform::HWND, unsigned>> posted;
    std::vector<platform::HWND> shown;
    std::vector<platform::HWND> raised;
    int lookups = 0;
    platform::HWND FindWindowA(std::string_view title) override {
        ++lookups;
        auto it = windows.find(std::string(title));
        return it == windows.end() ? 0 : it->second;
    }
    bool PostMessageA(platform::HWND window, unsigned message, std::intptr_t,
                      std::intptr_t) override {
        posted.emplace_back(window, message);
        return true;
    }
    bool ShowWindow(platform::HWND window, int) override {
        shown.push_back(window);
        return true;
    }
    bool BringWindowToTop(platform::HWND window) override {
        raised.push_back(window);
        return true;
    }
};

class NoFiles : public platform::FileSystem {
  public:
    bool FileExists(const std::string&) override { return false; }
    std::optional<std::string> ResolvePath(const std::string&) override { return std::nullopt; }
    std::string ExecutableFolder() override { return "/opt/console"; }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string&) override { return true; }
    std::string CurrentDirectory() override { return "/"; }
};

// Host kinds by role, as the role registration sets them.
inline void ApplyRoleHostKinds(status::ComponentServerTable& table,
                               settings::ConsoleSettings& settings, std::int16_t role) {
    if (role < 0 || role > 2) return;
    for (int i = 0; i < 20; ++i) {
        auto& entry = table[static_cast<std::size_t>(i)];
        if (!suite::IsUsedSlot(i)) continue;
        const bool fileServerSlot = i == 3 || i == 7 || i == 11 || i == 15;
        entry.intHostKind = (fileServerSlot || role == 2) ? 2 : 1;
    }
    settings.LocalServerSelected = role == 0;
}

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        status::FillComponentServerTable(table, "/suite/");
        launcher::FillApplicationRows(catalogue, "/suite/", "/corvane/bin/", "Shaper.exe");
        FillColourThemes(themes);
        version = platform::ProgramVersionInfo();
        settings.LocalServerSelected = true;
        context = std::make_unique<MainWindowContext>(
            MainWindowContext{settings, dialogs, clock, windows, instanceLock, factory, files,
                              version, table, catalogue, themes, true});
        context->configureComputer = [this](std::int16_t role) {
            roles.push_back(role);
            ApplyRoleHostKinds(table, settings, role);
        };
        context->writeConfiguration = [this] { ++configurationWrites; };
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
    QMenu* Menu(const char* name) { return Find<QMenu>(name); }
    std::string BoxText(std::size_t i) { return dialogs.boxes.at(i).text; }

    static QColor Back(QWidget* w) { return w->palette().color(QPalette::Window); }
    static QColor Text(QWidget* w) { return w->palette().color(QPalette::WindowText); }

    status::ComponentServerTable table;
    launcher::ApplicationCatalogue catalogue;
    ColourThemes themes;
    platform::VersionInfo version;
    settings::ConsoleSettings settings;
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    TitleWindows windows;
    fakes::FakeInstanceLock instanceLock;
    fakes::FakeSuiteServerFactory factory;
    NoFiles files;
    std::unique_ptr<MainWindowContext> context;
    std::unique_ptr<frmMain> window;
    std::vector<std::int16_t> roles;
    int configurationWrites = 0;
    std::shared_ptr<fakes::FakeSuiteServer> local = std::make_shared<fakes::FakeSuiteServer>();
    std::shared_ptr<fakes::FakeSuiteServer> remote = std::make_shared<fakes::FakeSuiteServer>();
};

}  // namespace orvel::mainwindow::testing

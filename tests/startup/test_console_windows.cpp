#include <gtest/gtest.h>

#include <filesystem>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeInstanceLock.h"
#include "FakeRpcSecurity.h"
#include "FakeSuiteServer.h"
#include "FakeSystemInfo.h"
#include "PlacedFileSystem.h"
#include "TempDir.h"
#include "mainwindow/frmMain.h"
#include "platform/IniProfileFile.h"
#include "platform/WindowSystem.h"
#include "platform/linux/SqliteRegistry.h"
#include "startup/ConsoleWindows.h"
#include "startup/StartupSequence.h"

namespace orvel::startup {
namespace {

// The whole start-up with the console's own windows, offscreen.
class ConsoleWindowsTest : public ::testing::Test {
  protected:
    bool RunStartup(ConsoleWindows& windows) {
        StartupSequence sequence({registry, dialogs, rpcSecurity, configuration}, windows.Hooks(),
                                 state);
        return sequence.Run();
    }
    ConsoleServices Services() {
        return {registry, dialogs,      clock,   instanceLock, systemInfo,   fileSystem,
                profile,  windowSystem, servers, version,      configuration};
    }

    fakes::TempDir folder_{"orvel-console-windows"};
    platform::SqliteRegistry registry{":memory:"};
    fakes::FakeDialogs dialogs;
    fakes::FakeRpcSecurity rpcSecurity;
    fakes::FakeSystemInfo systemInfo;
    fakes::FakeInstanceLock instanceLock;
    fakes::FakeSuiteServerFactory servers;
    fakes::FakeClock clock;
    platform::NoWindowSystem windowSystem;
    platform::IniProfileFile profile;
    fakes::PlacedFileSystem fileSystem{folder_.str()};
    platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConfigurationContext configuration{profile, fileSystem, dialogs, clock, version};
    ProgramState state;
};

TEST_F(ConsoleWindowsTest, StartUpEndsWithTheLoadedMainWindow) {
    dialogs.ExpectBox("Missing Orvel_Server Component");
    dialogs.ExpectBox("Create System File", platform::vbNo);
    ConsoleWindows windows(Services(), 1);
    EXPECT_TRUE(RunStartup(windows));
    EXPECT_TRUE(dialogs.ScriptDone());

    ASSERT_NE(windows.MainWindow(), nullptr);
    EXPECT_TRUE(windows.MainWindow()->isVisible());
    EXPECT_EQ(windows.Themes().tables[4][5], 0x404040u) << "themes filled at start-up";
    EXPECT_FALSE(windows.Catalogue()[1].DisplayName.empty()) << "catalogue built";
    EXPECT_EQ(state.ConsoleSettings.LocalServerName, "Local Server") << "set by the load";
    EXPECT_TRUE(std::filesystem::exists(folder_.path() / "Orvel Console.ini"));
}

TEST_F(ConsoleWindowsTest, SecondCopyEndsBeforeAnyMainWindowExists) {
    instanceLock.anotherInstance = true;
    dialogs.ExpectBox("Missing Orvel_Server Component");
    dialogs.ExpectBox("Create System File", platform::vbNo);
    dialogs.ExpectBox("Previous Instance Detected");
    {
        ConsoleWindows windows(Services(), 1);
        EXPECT_FALSE(RunStartup(windows));
        EXPECT_EQ(windows.MainWindow(), nullptr);
    }
    EXPECT_EQ(dialogs.boxes.back().text, "A previous instance of Orvel_Console is already running");
    EXPECT_EQ(dialogs.boxes.back().style, platform::vbCritical);
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "Orvel Console.ini"))
        << "a second copy writes no settings";
}

}  // namespace
}  // namespace orvel::startup

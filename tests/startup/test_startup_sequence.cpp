#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "FakeClock.h"
#include "FakeDiagnostics.h"
#include "FakeDialogs.h"
#include "FakeInstanceLock.h"
#include "FakeRpcSecurity.h"
#include "FakeSuiteServer.h"
#include "FakeSystemInfo.h"
#include "PlacedFileSystem.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "mainwindow/frmMain.h"
#include "platform/IniProfileFile.h"
#include "platform/WindowSystem.h"
#include "platform/linux/SqliteRegistry.h"
#include "startup/ConsoleWindows.h"
#include "startup/StartupSequence.h"

namespace orvel::startup {
namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;

constexpr const char* kClassId = "{6B1E2C10-4F3A-11D3-9A7C-00A0C9E5F001}";
const std::string kAppId = std::string("AppID\\") + kClassId;

// The start-up over a real registry store (readOnly: as a user without
// administrator rights) and a real settings file, with scripted boxes.
class StartupSequenceTest : public ::testing::Test {
  protected:
    ~StartupSequenceTest() override { EXPECT_TRUE(dialogs.ScriptDone()) << "boxes left unshown"; }
    // With the test's hooks, or with the console's own windows (offscreen).
    bool RunStartup(ConsoleWindows* windows = nullptr) {
        StartupSequence sequence({registry, dialogs, rpcSecurity, configuration, diagnostics},
                                 windows != nullptr ? windows->Hooks() : hooks, state);
        return sequence.Run();
    }
    ConsoleServices Services() {
        return {registry, dialogs,      clock,   instanceLock, systemInfo,    fileSystem,
                profile,  windowSystem, servers, version,      configuration, diagnostics};
    }

    void RegisterServerClass(const std::string& classId) {
        fakes::Seed(store, HKEY_CLASSES_ROOT, kServerClassIdKey, "", platform::REG_SZ,
                    fakes::Sz(classId));
    }
    bool RunsAsInteractiveUser(const std::string& appId) {
        return fakes::Read(store, HKEY_CLASSES_ROOT, appId, "RunAs") ==
               fakes::RawValue{platform::REG_SZ, fakes::Sz("Interactive User")};
    }

    std::string SettingsFile() const { return folder_.str("Orvel Console.ini"); }

    // The boxes of a first start on a store without the suite server.
    void ExpectFirstStartBoxes() {
        dialogs.ExpectBox("Missing Orvel_Server Component");
        dialogs.ExpectBox("Create System File", platform::vbNo);
    }

    fakes::TempDir folder_{"orvel-startup"};
    platform::SqliteRegistry store{":memory:"};
    fakes::StoreView registry{store};
    fakes::FakeDialogs dialogs;
    fakes::FakeRpcSecurity rpcSecurity;
    fakes::FakeDiagnostics diagnostics;
    fakes::FakeSystemInfo systemInfo;
    fakes::FakeInstanceLock instanceLock;
    fakes::FakeSuiteServerFactory servers;
    platform::NoWindowSystem windowSystem;
    platform::IniProfileFile profile;
    fakes::PlacedFileSystem fileSystem{folder_.str()};
    fakes::FakeClock clock;
    platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConfigurationContext configuration{profile, fileSystem, dialogs, clock, version};
    StartupHooks hooks;
    ProgramState state;
};

template <typename Case>
class StartupCaseTest : public StartupSequenceTest, public ::testing::WithParamInterface<Case> {};

// --- Administrator test and the suite server's activation values -------------

// Silent: whether the test key can be made and removed (or a leftover one
// removed) says whether this user may change machine-wide settings. The
// server runs as the interactive user without authentication; a value is
// written only when it differs, so a machine an administrator has set up once
// shows a user without rights no box. HKCR and HKLM's classes are one key: a
// user without rights is told once per write through each.
struct RightsCase {
    const char* what;
    std::optional<std::string> leftover;  // a key below the test key left from a run
    bool readOnly;
    const char* storedLevelType;  // nullptr: no values stored; "dword" or "text"
    bool administrator;
    int accessBoxes;
};

using RightsTest = StartupCaseTest<RightsCase>;

TEST_P(RightsTest, AdministratorTestAndActivationValues) {
    const RightsCase& c = GetParam();
    SCOPED_TRACE(c.what);
    if (c.leftover) {
        fakes::CreateKey(store, HKEY_LOCAL_MACHINE, kAdministratorTestKey + *c.leftover);
    }
    RegisterServerClass(kClassId);
    if (c.storedLevelType != nullptr) {
        fakes::Seed(store, HKEY_CLASSES_ROOT, kAppId, "RunAs", platform::REG_SZ,
                    fakes::Sz("Interactive User"));
        const bool dword = std::string(c.storedLevelType) == "dword";
        fakes::Seed(store, HKEY_CLASSES_ROOT, kAppId, "AuthenticationLevel",
                    dword ? platform::REG_DWORD : platform::REG_SZ,
                    dword ? fakes::Dword(1) : fakes::Sz("1"));
    }
    registry.readOnly = c.readOnly;
    for (int i = 0; i < c.accessBoxes; ++i) dialogs.ExpectBox("Registry Access");
    dialogs.ExpectBox("Create System File", platform::vbNo);
    EXPECT_TRUE(RunStartup());
    EXPECT_EQ(state.IsAdministrator, c.administrator);
    EXPECT_EQ(fakes::KeyExists(store, HKEY_LOCAL_MACHINE,
                               "SOFTWARE\\Quarlen\\OrvelConsole_AdministratorTest"),
              c.leftover.has_value() && !c.administrator);
    if (c.readOnly && c.storedLevelType == nullptr) {
        EXPECT_FALSE(fakes::KeyExists(store, HKEY_CLASSES_ROOT, kAppId));
    } else if (!c.readOnly) {
        EXPECT_TRUE(RunsAsInteractiveUser(kAppId));
        EXPECT_EQ(fakes::Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + kAppId,
                              "AuthenticationLevel"),
                  (fakes::RawValue{platform::REG_DWORD, fakes::Dword(1)}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RightsTest,
    ::testing::Values(RightsCase{"first start", std::nullopt, false, nullptr, true, 0},
                      RightsCase{"no rights", std::nullopt, true, nullptr, false, 4},
                      RightsCase{"leftover key", "", false, nullptr, true, 0},
                      RightsCase{"leftover, set up before, no rights", "", true, "dword", false, 0},
                      RightsCase{"leftover that cannot go", "\\Pinned", false, "text", false, 0},
                      RightsCase{"level differs, no rights", std::nullopt, true, "text", false,
                                 2}));

// Any registered text, even empty or in other letters, counts as found; only a
// missing class is said, and then nothing is written.
TEST_F(StartupSequenceTest, ServerClassIsFoundUnlessMissing) {
    ExpectFirstStartBoxes();
    EXPECT_TRUE(RunStartup());
    EXPECT_EQ(state.ServerClassId, "Not Found");
    EXPECT_EQ(dialogs.boxes.at(0).text,
              "Unable to Find Orvel_Server in Registry\r\r"
              "You may not be able to Connect to the Orvel Server");
    EXPECT_EQ(dialogs.boxes.at(0).style, platform::vbCritical);
    EXPECT_FALSE(fakes::KeyExists(store, HKEY_CLASSES_ROOT, "AppID"));

    for (const std::string classId : {"", "not found"}) {
        SCOPED_TRACE("class id \"" + classId + "\"");
        RegisterServerClass(classId);
        dialogs.ExpectBox("Create System File", platform::vbNo);
        std::filesystem::remove(SettingsFile());
        RunStartup();
        EXPECT_EQ(state.ServerClassId, classId);
        EXPECT_TRUE(RunsAsInteractiveUser("AppID\\" + classId));
    }
}

// --- Process-wide RPC security ------------------------------------------------

struct SecurityCase {
    platform::HRESULT result;
    const char* title;  // nullptr: no box
    std::string text;
};

std::string UnknownResultText(const char* code) {
    return std::string("DCom Security has responded with result other than sucess.\rCODE: ") +
           code +
           "\r\rRemote Clients may not be able to connect\r"
           "      if 'Logged In' as different user on Server";
}

using SecurityBoxTest = StartupCaseTest<SecurityCase>;

TEST_P(SecurityBoxTest, ResultChoosesTheBox) {
    const SecurityCase& c = GetParam();
    rpcSecurity.result = c.result;
    dialogs.ExpectBox("Missing Orvel_Server Component");
    if (c.title != nullptr) dialogs.ExpectBox(c.title);
    dialogs.ExpectBox("Create System File", platform::vbNo);
    EXPECT_TRUE(RunStartup()) << "start-up always goes on";
    EXPECT_EQ(rpcSecurity.calls, 1);
    ASSERT_TRUE(rpcSecurity.last.has_value());
    EXPECT_EQ(rpcSecurity.last->authenticationLevel, 1);
    EXPECT_EQ(rpcSecurity.last->impersonationLevel, 3);
    EXPECT_EQ(rpcSecurity.last->capabilities, 0);
    if (c.title == nullptr) return;
    EXPECT_EQ(dialogs.boxes.at(1).text, c.text);
    EXPECT_EQ(dialogs.boxes.at(1).style, platform::vbInformation);
}

INSTANTIATE_TEST_SUITE_P(
    Results, SecurityBoxTest,
    ::testing::Values(SecurityCase{platform::S_OK, nullptr, ""},
                      SecurityCase{platform::RPC_E_TOO_LATE, "Security Already Initialized",
                                   "DCom Security has already been Initialized by another\r"
                                   "      Application, or previous instance of\r"
                                   "      Orvel Control Console.\r\r"
                                   "Remote Clients may not be able to connect\r"
                                   "      if Security was not correctly set."},
                      SecurityCase{platform::RPC_E_NO_GOOD_SECURITY_PACKAGES,
                                   "Security No Good Security Package",
                                   "DCom Security could not find a 'Good Security Package'\r\r"
                                   "Remote Clients may not be able to connect\r"
                                   "      if 'Logged In' as different user on Server"},
                      SecurityCase{static_cast<platform::HRESULT>(0x80004005u),
                                   "Security Unknown Result", UnknownResultText("80004005")},
                      SecurityCase{1, "Security Unknown Result", UnknownResultText("1")}));

// --- Program-wide state, hooks and settings ------------------------------------

// Each step sees what the earlier ones set; one that fails (the themes here)
// does not end the start-up. The settings' defaults replace what the state
// held before they are read; the file (its layout is the settings' own
// business) is written after the main window's load.
TEST_F(StartupSequenceTest, StepsRunInOrderOnTheStateSoFar) {
    state.ConsoleSettings.LocalServerSelected = false;
    state.ConsoleSettings.RemoteServerName = "OLDHOST";
    state.ConsoleSettings.LocalServerName = "old";
    state.ConsoleSettings.AutoStart = true;
    state.ConsoleSettings.ColorTheme = 3;
    std::vector<std::string> order;
    hooks.fillColourThemes = [&](ProgramState& s) {
        order.push_back("themes");
        EXPECT_EQ(s.strOrvelPath, "/opt/Quarlen/Corvane Network Suite/");
        throw std::runtime_error("no themes");
    };
    hooks.buildApplicationCatalogue = [&](ProgramState& s) {
        order.push_back("catalogue");
        EXPECT_EQ(s.ComponentServers[0].strFolder, s.strOrvelPath);
        EXPECT_EQ(s.strCorvanePath, "/opt/Quarlen/Corvane/");
    };
    hooks.showSplash = [&](ProgramState& s) {
        order.push_back("splash");
        EXPECT_TRUE(s.ConsoleSettings.LocalServerSelected) << "defaults are in place";
        EXPECT_EQ(s.ConsoleSettings.RemoteServerName, "");
        EXPECT_EQ(s.ConsoleSettings.LocalServerName, "");
        EXPECT_FALSE(s.ConsoleSettings.AutoStart);
        EXPECT_EQ(s.ConsoleSettings.ColorTheme, 3) << "other settings keep what they hold";
        EXPECT_EQ(dialogs.boxes.back().title, "Create System File") << "settings read first";
    };
    hooks.showMainWindow = [&](ProgramState&) {
        order.push_back("main window");
        EXPECT_FALSE(std::filesystem::exists(SettingsFile())) << "written after the load";
        return true;
    };
    ExpectFirstStartBoxes();
    EXPECT_TRUE(RunStartup());
    EXPECT_EQ(order, (std::vector<std::string>{"themes", "catalogue", "splash", "main window"}));
    ASSERT_EQ(diagnostics.lines.size(), 1u) << "the failed step leaves a line";
    EXPECT_EQ(diagnostics.lines[0].text, "step 7: the colour themes failed: no themes");
    const std::string written = fakes::ReadFile(SettingsFile());
    EXPECT_NE(written.find("[REMOTE SERVER]\nServerName=\nSelected=No\n"), std::string::npos);
    EXPECT_NE(written.find("ColorTheme=3\n"), std::string::npos);
}

TEST_F(StartupSequenceTest, DamagedStoreIsNamedOnceAndStartUpGoesOnWithDefaults) {
    const std::string damaged = folder_.str("registry.db");
    fakes::WriteFile(damaged, std::string(8192, '\x5A'));
    platform::SqliteRegistry broken(damaged);
    ASSERT_FALSE(broken.StoreProblem().empty());
    dialogs.ExpectBox("Registry Store Damaged");
    ExpectFirstStartBoxes();
    StartupSequence sequence({broken, dialogs, rpcSecurity, configuration, diagnostics}, hooks,
                             state);
    EXPECT_TRUE(sequence.Run());
    EXPECT_NE(dialogs.boxes.at(0).text.find(damaged), std::string::npos)
        << dialogs.boxes.at(0).text;
    EXPECT_FALSE(state.IsAdministrator);
    EXPECT_EQ(state.strOrvelPath, "/opt/Quarlen/Corvane Network Suite/");
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
}

// --- The console's own windows ---------------------------------------------------

TEST_F(StartupSequenceTest, WithTheConsoleWindowsStartUpEndsWithTheLoadedMainWindow) {
    ExpectFirstStartBoxes();
    ConsoleWindows windows(Services(), 1);
    EXPECT_TRUE(RunStartup(&windows));
    ASSERT_NE(windows.MainWindow(), nullptr);
    EXPECT_TRUE(windows.MainWindow()->isVisible());
    EXPECT_EQ(windows.Themes().tables[4][5], 0x404040u) << "themes filled at start-up";
    EXPECT_FALSE(windows.Catalogue()[1].DisplayName.empty()) << "catalogue built";
    EXPECT_EQ(state.ConsoleSettings.LocalServerName, "Local Server") << "set by the load";
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
}

// The main window's load finds another console (its box is the main window's
// own) and the start-up ends before any main window stays or settings go out.
TEST_F(StartupSequenceTest, WithTheConsoleWindowsASecondCopyEndsWithoutMainWindow) {
    instanceLock.anotherInstance = true;
    ExpectFirstStartBoxes();
    dialogs.ExpectBox("Previous Instance Detected");
    ConsoleWindows windows(Services(), 1);
    EXPECT_FALSE(RunStartup(&windows));
    EXPECT_EQ(windows.MainWindow(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

// --- A user outside the operators' group -----------------------------------------

// The server refuses them and the store and the settings file are not theirs
// to write: one box says what to ask the administrator for, in place of the
// "Registry Access" boxes of the activation values, the settings box of the
// start-up's write and the one of the close's.
TEST_F(StartupSequenceTest, ANonMemberHearsOnceWhatToAskFor) {
    registry.readOnly = true;
    RegisterServerClass(kClassId);                      // its activation values are not stored
    std::filesystem::create_directory(SettingsFile());  // cannot be written
    state.IsOperator = false;
    state.UserName = "guest";
    dialogs.ExpectBox("Not an Orvel Operator");
    {
        ConsoleWindows windows(Services(), 1);
        EXPECT_TRUE(RunStartup(&windows));
        ASSERT_NE(windows.MainWindow(), nullptr);
        windows.MainWindow()->close();
    }
    ASSERT_EQ(dialogs.boxes.size(), 1u) << dialogs.boxes.back().title;
    EXPECT_EQ(dialogs.boxes[0].text,
              "You are not a member of the group orvel.\r\rAsk your administrator to add you "
              "(adduser guest orvel), then log in again.");
    EXPECT_FALSE(RunsAsInteractiveUser(kAppId));
}

// Everyone else keeps the boxes of each failure.
TEST_F(StartupSequenceTest, AMemberKeepsTheBoxesOfEachFailure) {
    registry.readOnly = true;
    RegisterServerClass(kClassId);
    std::filesystem::create_directory(SettingsFile());
    dialogs.AllowUnexpected(true);
    EXPECT_TRUE(RunStartup());
    int accessBoxes = 0;
    for (const auto& box : dialogs.boxes) accessBoxes += box.title == "Registry Access" ? 1 : 0;
    EXPECT_GT(accessBoxes, 0);
    EXPECT_EQ(dialogs.boxes.back().title, "Settings Not Saved");
}

// Membership counts for the installed suite only: an installation root of
// one's own has a server of its user, and without the group there is no rule.
TEST(SuiteOperatorTest, OnlyAKnownNonMemberOfTheInstalledSuiteIsOutside) {
    fakes::FakeSystemInfo system;
    platform::InstallRoot installed{"/var/lib/orvel/registry.db", "/run/orvel"};
    platform::InstallRoot relocated = installed;
    relocated.relocated = true;
    system.membership = platform::GroupMembership::NotMember;
    EXPECT_FALSE(IsSuiteOperator(system, installed));
    EXPECT_TRUE(IsSuiteOperator(system, relocated));
    system.membership = platform::GroupMembership::NoSuchGroup;
    EXPECT_TRUE(IsSuiteOperator(system, installed));
    system.membership = platform::GroupMembership::Member;
    EXPECT_TRUE(IsSuiteOperator(system, installed));
}

}  // namespace
}  // namespace orvel::startup

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeRpcSecurity.h"
#include "PlacedFileSystem.h"
#include "StartupTestSupport.h"
#include "TempDir.h"
#include "platform/IniProfileFile.h"
#include "platform/linux/SqliteRegistry.h"
#include "startup/StartupSequence.h"

namespace orvel::startup {
namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;
using testing::RecordingRegistry;

constexpr const char* kClassId = "{6B1E2C10-4F3A-11D3-9A7C-00A0C9E5F001}";

class StartupSequenceTest : public ::testing::Test {
  protected:
    bool RunStartup() {
        StartupSequence sequence({registry, dialogs, rpcSecurity, configuration}, hooks, state);
        return sequence.Run();
    }

    void RegisterServerClass(const std::string& classId) {
        fakes::Seed(store, HKEY_CLASSES_ROOT, "Orvel_Server.clsOrvel_Server\\Clsid", "",
                    platform::REG_SZ, fakes::Sz(classId));
    }
    bool KeyExists(platform::HKEY root, const std::string& path) {
        return fakes::KeyExists(store, root, path);
    }

    std::string SettingsFile() const { return folder_.str("Orvel Console.ini"); }
    std::string SettingsText() const { return fakes::ReadFile(SettingsFile()); }

    // The boxes of a first start on a store without the suite server.
    void ExpectFirstStartBoxes(int createAnswer = platform::vbNo) {
        dialogs.ExpectBox("Missing Orvel_Server Component");
        dialogs.ExpectBox("Create System File", createAnswer);
    }

    fakes::TempDir folder_{"orvel-startup"};
    platform::SqliteRegistry store{":memory:"};
    RecordingRegistry registry{store};
    fakes::FakeDialogs dialogs;
    fakes::FakeRpcSecurity rpcSecurity;
    platform::IniProfileFile profile;
    fakes::PlacedFileSystem fileSystem{folder_.str()};
    fakes::FakeClock clock;
    platform::VersionInfo version = platform::ProgramVersionInfo();
    settings::ConfigurationContext configuration{profile, fileSystem, dialogs, clock, version};
    StartupHooks hooks;
    ProgramState state;
};

// --- Administrator test -----------------------------------------------------

TEST_F(StartupSequenceTest, AdministratorTestOpensForWritingThenCreatesAndDeletes) {
    ExpectFirstStartBoxes();
    EXPECT_TRUE(RunStartup());
    EXPECT_TRUE(state.IsAdministrator);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAdministratorTestKey));

    ASSERT_GE(registry.calls.size(), 3u);
    const auto& open = registry.calls[0];
    EXPECT_EQ(open.operation, "open");
    EXPECT_EQ(open.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(open.subKey, "SOFTWARE\\Quarlen\\OrvelConsole_AdministratorTest");
    EXPECT_EQ(open.access, 0x20006u);
    EXPECT_EQ(registry.calls[1].operation, "create");
    EXPECT_EQ(registry.calls[1].subKey, open.subKey);
    EXPECT_EQ(registry.calls[2].operation, "delete key");
    EXPECT_EQ(registry.calls[2].subKey, open.subKey);
}

TEST_F(StartupSequenceTest, LeftoverAdministratorKeyIsRemoved) {
    fakes::CreateKey(store, HKEY_LOCAL_MACHINE, kAdministratorTestKey);
    ExpectFirstStartBoxes();
    RunStartup();
    EXPECT_TRUE(state.IsAdministrator);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAdministratorTestKey));
    EXPECT_EQ(registry.calls[1].operation, "delete key") << "no create for a leftover key";
}

TEST_F(StartupSequenceTest, LeftoverAdministratorKeyThatCannotBeDeletedMeansNoRights) {
    fakes::CreateKey(store, HKEY_LOCAL_MACHINE, std::string(kAdministratorTestKey) + "\\Pinned");
    ExpectFirstStartBoxes();
    RunStartup();
    EXPECT_FALSE(state.IsAdministrator);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kAdministratorTestKey));
}

TEST_F(StartupSequenceTest, WithoutRightsEveryAppIdWriteSaysRegistryAccess) {
    RegisterServerClass(kClassId);
    registry.readOnly = true;
    for (int write = 0; write < 4; ++write) dialogs.ExpectBox("Registry Access");
    dialogs.ExpectBox("Create System File", platform::vbNo);
    EXPECT_TRUE(RunStartup());
    EXPECT_FALSE(state.IsAdministrator);
    EXPECT_EQ(state.ServerClassId, kClassId);
    for (const auto& box : dialogs.boxes) {
        if (box.title != "Registry Access") continue;
        EXPECT_EQ(box.text,
                  "Unable To Access Registry\r\rYou May not be able to Access OrvelServers");
        EXPECT_EQ(box.style, platform::vbCritical);
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("AppID\\") + kClassId));
}

// A machine an administrator has set up once: the values are already there, so
// a user without rights sees no box and nothing is written. A value that
// differs (here in its type) is written again, and says "Registry Access" when
// it may not be: once per write, through HKCR and through HKLM's classes, which
// are one key, so a user with rights writes it once.
TEST_F(StartupSequenceTest, AppIdValuesAreWrittenOnlyWhenTheyDiffer) {
    RegisterServerClass(kClassId);
    const std::string appId = std::string("AppID\\") + kClassId;
    fakes::Seed(store, HKEY_CLASSES_ROOT, appId, "RunAs", platform::REG_SZ,
                fakes::Sz("Interactive User"));
    fakes::Seed(store, HKEY_CLASSES_ROOT, appId, "AuthenticationLevel", platform::REG_DWORD,
                std::string("\x01\x00\x00\x00", 4));
    registry.readOnly = true;
    dialogs.ExpectBox("Create System File", platform::vbNo);
    RunStartup();
    for (const auto& call : registry.calls) EXPECT_NE(call.operation, "set");

    fakes::Seed(store, HKEY_CLASSES_ROOT, appId, "AuthenticationLevel", platform::REG_SZ,
                fakes::Sz("1"));
    std::filesystem::remove(SettingsFile());
    dialogs.ExpectBox("Registry Access");
    dialogs.ExpectBox("Registry Access");
    dialogs.ExpectBox("Create System File", platform::vbNo);
    RunStartup();

    registry.readOnly = false;
    registry.calls.clear();
    std::filesystem::remove(SettingsFile());
    dialogs.ExpectBox("Create System File", platform::vbNo);
    RunStartup();
    int sets = 0;
    for (const auto& call : registry.calls) sets += call.operation == "set" ? 1 : 0;
    EXPECT_EQ(sets, 1);
    const auto level = fakes::Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + appId,
                                   "AuthenticationLevel");
    EXPECT_EQ(level.type, platform::REG_DWORD);
    EXPECT_EQ(level.bytes, std::string("\x01\x00\x00\x00", 4));
}

// --- Suite server class and its activation values ----------------------------

TEST_F(StartupSequenceTest, FoundServerClassRunsAsInteractiveUserWithoutAuthentication) {
    RegisterServerClass(kClassId);
    dialogs.ExpectBox("Create System File", platform::vbNo);
    RunStartup();
    EXPECT_EQ(state.ServerClassId, kClassId);
    const std::string appId = std::string("AppID\\") + kClassId;
    auto runAs = fakes::Read(store, HKEY_CLASSES_ROOT, appId, "RunAs");
    EXPECT_EQ(runAs.type, platform::REG_SZ);
    EXPECT_EQ(runAs.bytes, std::string("Interactive User", 17));
    auto level = fakes::Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + appId,
                             "AuthenticationLevel");
    EXPECT_EQ(level.type, platform::REG_DWORD);
    EXPECT_EQ(level.bytes, std::string("\x01\x00\x00\x00", 4));

    // RunAs, then AuthenticationLevel, through HKCR; the same values through
    // HKLM's classes (one key with HKCR) are already there and are not written.
    std::vector<std::pair<platform::HKEY, std::string>> sets;
    for (const auto& call : registry.calls) {
        if (call.operation == "set") sets.push_back({call.root, call.subKey});
    }
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].second, "RunAs");
    EXPECT_EQ(sets[1].second, "AuthenticationLevel");
}

TEST_F(StartupSequenceTest, AnyTextButNotFoundCountsAsFound) {
    for (const std::string& classId : {std::string(""), std::string("not found")}) {
        SCOPED_TRACE("class id \"" + classId + "\"");
        RegisterServerClass(classId);
        registry.calls.clear();
        dialogs.boxes.clear();
        dialogs.ExpectBox("Create System File", platform::vbNo);
        std::filesystem::remove(SettingsFile());
        RunStartup();
        EXPECT_EQ(state.ServerClassId, classId);
        bool wroteAppId = false;
        for (const auto& call : registry.calls) {
            if (call.operation == "open" && call.subKey == "AppID\\" + classId) wroteAppId = true;
        }
        EXPECT_TRUE(wroteAppId);
    }
}

TEST_F(StartupSequenceTest, MissingServerClassIsSaidAndNothingIsWritten) {
    ExpectFirstStartBoxes();
    EXPECT_TRUE(RunStartup());
    EXPECT_EQ(state.ServerClassId, "Not Found");
    const auto& box = dialogs.boxes.at(0);
    EXPECT_EQ(box.text,
              "Unable to Find Orvel_Server in Registry\r\r"
              "You may not be able to Connect to the Orvel Server");
    EXPECT_EQ(box.style, platform::vbCritical);
    for (const auto& call : registry.calls) EXPECT_NE(call.operation, "set");
}

// --- Process-wide RPC security ------------------------------------------------

struct SecurityCase {
    platform::HRESULT result;
    const char* title;  // nullptr: no box
    const char* text;
};

class SecurityBoxTest : public StartupSequenceTest,
                        public ::testing::WithParamInterface<SecurityCase> {};

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
    if (c.title == nullptr) {
        EXPECT_EQ(dialogs.boxes.size(), 2u);
        return;
    }
    ASSERT_EQ(dialogs.boxes.size(), 3u);
    EXPECT_EQ(dialogs.boxes[1].text, c.text);
    EXPECT_EQ(dialogs.boxes[1].style, platform::vbInformation);
}

INSTANTIATE_TEST_SUITE_P(
    Results, SecurityBoxTest,
    ::testing::Values(SecurityCase{platform::S_OK, nullptr, nullptr},
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
                                   "Security Unknown Result",
                                   "DCom Security has responded with result other than sucess.\r"
                                   "CODE: 80004005\r\r"
                                   "Remote Clients may not be able to connect\r"
                                   "      if 'Logged In' as different user on Server"},
                      SecurityCase{1, "Security Unknown Result",
                                   "DCom Security has responded with result other than sucess.\r"
                                   "CODE: 1\r\r"
                                   "Remote Clients may not be able to connect\r"
                                   "      if 'Logged In' as different user on Server"}));

// --- Program-wide state, hooks and settings ------------------------------------

TEST_F(StartupSequenceTest, StepsRunInOrderOnTheStateSoFar) {
    std::vector<std::string> order;
    hooks.fillColourThemes = [&](ProgramState& s) {
        order.push_back("themes");
        EXPECT_EQ(s.strOrvelPath, "/opt/Quarlen/Corvane Network Suite/");
    };
    hooks.buildApplicationCatalogue = [&](ProgramState& s) {
        order.push_back("catalogue");
        EXPECT_EQ(s.ComponentServers[0].strFolder, s.strOrvelPath);
        EXPECT_EQ(s.strCorvanePath, "/opt/Quarlen/Corvane/");
    };
    hooks.showSplash = [&](ProgramState& s) {
        order.push_back("splash");
        EXPECT_TRUE(s.ConsoleSettings.LocalServerSelected) << "defaults are in place";
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
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
    EXPECT_EQ(state.ComponentServers[19].strDisplayName, "Unused");
}

TEST_F(StartupSequenceTest, FailingStepDoesNotEndTheStartUp) {
    hooks.fillColourThemes = [](ProgramState&) { throw std::runtime_error("no themes"); };
    bool mainWindowShown = false;
    hooks.showMainWindow = [&](ProgramState&) { return mainWindowShown = true; };
    ExpectFirstStartBoxes();
    EXPECT_TRUE(RunStartup());
    EXPECT_TRUE(mainWindowShown);
    EXPECT_EQ(state.ComponentServers[0].strFolder, "/opt/Quarlen/Corvane Network Suite/");
}

TEST_F(StartupSequenceTest, SecondConsoleEndsWithoutWritingTheSettings) {
    hooks.showMainWindow = [](ProgramState&) { return false; };
    ExpectFirstStartBoxes();
    EXPECT_FALSE(RunStartup());
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST_F(StartupSequenceTest, SettingsDefaultsOverrideWhatTheStateHeld) {
    state.ConsoleSettings.LocalServerSelected = false;
    state.ConsoleSettings.RemoteServerName = "OLDHOST";
    state.ConsoleSettings.LocalServerName = "old";
    state.ConsoleSettings.AutoStart = true;
    state.ConsoleSettings.ColorTheme = 3;
    ExpectFirstStartBoxes(platform::vbNo);
    RunStartup();
    EXPECT_TRUE(state.ConsoleSettings.LocalServerSelected);
    EXPECT_EQ(state.ConsoleSettings.RemoteServerName, "");
    EXPECT_EQ(state.ConsoleSettings.LocalServerName, "");
    EXPECT_FALSE(state.ConsoleSettings.AutoStart);
    EXPECT_EQ(state.ConsoleSettings.ColorTheme, 3) << "other settings keep what they hold";
}

// The settings file of a first start, byte for byte (clock 4 Dec 2026 15:07:09).
const char* const kTitleSection =
    "[Orvel Console]\n"
    "Title=Orvel Console\n"
    "Application=Orvel_Console\n"
    "Comments=Orvel Control Console\n"
    "Version=6.0.0\n"
    "Company=Quarlen\n"
    "Copyright=\n"
    "Trademark=\n"
    "=\n";
const char* const kServerSections =
    "[REMOTE SERVER]\n"
    "ServerName=\n"
    "Selected=No\n"
    "=\n"
    "[LOCAL SERVER]\n"
    "ServerName=\n"
    "Selected=Yes\n"
    "=\n"
    "[APPLICATION]\n"
    "LastUpdate=04.12.2026 15:07:09\n"
    "ColorTheme=0\n"
    "WindowState=0\n"
    "WindowFormHeight=0\n"
    "WindowFormWidth=0\n"
    "WindowFormTop=0\n"
    "WindowFormLeft=0\n"
    "=\n";
const char* const kConfigurationSection =
    "[CONFIGURATION]\n"
    "Current=0\n"
    "AutoStart=False\n"
    "=\n";

TEST_F(StartupSequenceTest, FirstStartWithCreationPromptWritesTheWholeFile) {
    ExpectFirstStartBoxes(platform::vbYes);
    RunStartup();
    const std::string created = "[Orvel Console]\nCreated=12.04.2026 15:07:09\n";
    std::string titleRest = std::string(kTitleSection).substr(std::strlen("[Orvel Console]\n"));
    EXPECT_EQ(SettingsText(), created + titleRest + kConfigurationSection + kServerSections);
}

TEST_F(StartupSequenceTest, FirstStartDecliningTheFileStillWritesIt) {
    ExpectFirstStartBoxes(platform::vbNo);
    RunStartup();
    EXPECT_EQ(SettingsText(), std::string(kTitleSection) + kServerSections + kConfigurationSection);
}

// --- Damaged registry store ------------------------------------------------------

TEST_F(StartupSequenceTest, DamagedStoreIsNamedOnceAndStartUpGoesOnWithDefaults) {
    const std::string damaged = folder_.str("registry.db");
    fakes::WriteFile(damaged, std::string(8192, '\x5A'));
    platform::SqliteRegistry broken(damaged);
    ASSERT_FALSE(broken.StoreProblem().empty());
    RecordingRegistry recording(broken);
    dialogs.ExpectBox("Registry Store Damaged");
    ExpectFirstStartBoxes();
    StartupSequence sequence({recording, dialogs, rpcSecurity, configuration}, hooks, state);
    EXPECT_TRUE(sequence.Run());
    EXPECT_NE(dialogs.boxes.at(0).text.find(damaged), std::string::npos)
        << dialogs.boxes.at(0).text;
    EXPECT_FALSE(state.IsAdministrator);
    EXPECT_EQ(state.strOrvelPath, "/opt/Quarlen/Corvane Network Suite/");
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
}

}  // namespace
}  // namespace orvel::startup

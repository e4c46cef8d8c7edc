#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeRpcSecurity.h"
#include "PlacedFileSystem.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "platform/IniProfileFile.h"
#include "platform/linux/SqliteRegistry.h"
#include "startup/StartupSequence.h"

namespace orvel::startup {
namespace {

using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;

constexpr const char* kClassId = "{6B1E2C10-4F3A-11D3-9A7C-00A0C9E5F001}";
const std::string kAppId = std::string("AppID\\") + kClassId;

struct RegistryCall {
    std::string operation;  // "open", "create", "delete key", "set"
    platform::HKEY root = 0;
    std::string subKey;  // or the value name for "set"
    platform::DWORD access = 0;
};

// A view of the store that records the calls made; readOnly refuses every
// write as a user without administrator rights meets.
class RecordingRegistry : public fakes::StoreView {
  public:
    explicit RecordingRegistry(platform::Registry& inner) : StoreView(inner) {}

    std::vector<RegistryCall> calls;

    platform::LONG RegOpenKeyExA(platform::HKEY key, std::string_view subKey,
                                 platform::DWORD options, platform::DWORD samDesired,
                                 platform::HKEY* result) override {
        calls.push_back({"open", key, std::string(subKey), samDesired});
        return StoreView::RegOpenKeyExA(key, subKey, options, samDesired, result);
    }
    platform::LONG RegCreateKeyA(platform::HKEY key, std::string_view subKey,
                                 platform::HKEY* result) override {
        calls.push_back({"create", key, std::string(subKey), 0});
        return StoreView::RegCreateKeyA(key, subKey, result);
    }
    platform::LONG RegSetValueExA(platform::HKEY key, std::string_view valueName,
                                  platform::DWORD type, const std::uint8_t* data,
                                  platform::DWORD dataSize) override {
        calls.push_back({"set", key, std::string(valueName), type});
        return StoreView::RegSetValueExA(key, valueName, type, data, dataSize);
    }
    platform::LONG RegDeleteKeyA(platform::HKEY key, std::string_view subKey) override {
        calls.push_back({"delete key", key, std::string(subKey), 0});
        return StoreView::RegDeleteKeyA(key, subKey);
    }
};

class StartupSequenceTest : public ::testing::Test {
  protected:
    bool RunStartup() {
        StartupSequence sequence({registry, dialogs, rpcSecurity, configuration}, hooks, state);
        return sequence.Run();
    }

    void RegisterServerClass(const std::string& classId) {
        fakes::Seed(store, HKEY_CLASSES_ROOT, kServerClassIdKey, "", platform::REG_SZ,
                    fakes::Sz(classId));
    }
    // The value names written, or the keys acted on, in call order.
    std::vector<std::string> Calls(const std::string& operation) const {
        std::vector<std::string> names;
        for (const auto& call : registry.calls) {
            if (call.operation == operation) names.push_back(call.subKey);
        }
        return names;
    }

    std::string SettingsFile() const { return folder_.str("Orvel Console.ini"); }

    // The boxes of a first start on a store without the suite server.
    void ExpectFirstStartBoxes() {
        dialogs.ExpectBox("Missing Orvel_Server Component");
        dialogs.ExpectBox("Create System File", platform::vbNo);
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

template <typename Case>
class StartupCaseTest : public StartupSequenceTest, public ::testing::WithParamInterface<Case> {};

// --- Administrator test -----------------------------------------------------

struct AdministratorCase {
    const char* what;
    std::optional<std::string> leftover;  // a key below the test key left from a run
    bool administrator;
    std::vector<std::string> operations;  // the calls on the test key, in order
};

using AdministratorTest = StartupCaseTest<AdministratorCase>;

TEST_P(AdministratorTest, OpenForWritingThenCreateAndDelete) {
    const AdministratorCase& c = GetParam();
    if (c.leftover) {
        fakes::CreateKey(store, HKEY_LOCAL_MACHINE, kAdministratorTestKey + *c.leftover);
    }
    ExpectFirstStartBoxes();
    EXPECT_TRUE(RunStartup());
    EXPECT_EQ(state.IsAdministrator, c.administrator);
    EXPECT_EQ(fakes::KeyExists(store, HKEY_LOCAL_MACHINE, kAdministratorTestKey), !c.administrator);

    ASSERT_GE(registry.calls.size(), c.operations.size());
    const RegistryCall& open = registry.calls[0];
    EXPECT_EQ(open.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(open.access, 0x20006u);
    for (std::size_t i = 0; i < c.operations.size(); ++i) {
        EXPECT_EQ(registry.calls[i].operation, c.operations[i]) << i;
        EXPECT_EQ(registry.calls[i].subKey, "SOFTWARE\\Quarlen\\OrvelConsole_AdministratorTest");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AdministratorTest,
    ::testing::Values(
        AdministratorCase{"no key", std::nullopt, true, {"open", "create", "delete key"}},
        AdministratorCase{"leftover key", "", true, {"open", "delete key"}},
        AdministratorCase{"leftover that cannot go", "\\Pinned", false, {"open", "delete key"}}));

// --- Suite server class and its activation values ----------------------------

// The server runs as the interactive user without authentication. A value is
// written only when it differs, so a machine an administrator has set up once
// shows a user without rights no box. HKCR and HKLM's classes are one key: a
// user with rights writes each value once, one without is told per write.
struct AppIdCase {
    const char* what;
    const char* storedLevelType;  // nullptr: nothing stored; "dword" or "text"
    bool readOnly;
    int accessBoxes;
    std::vector<std::string> sets;
};

using AppIdTest = StartupCaseTest<AppIdCase>;

TEST_P(AppIdTest, ValuesAreWrittenOnlyWhenTheyDiffer) {
    const AppIdCase& c = GetParam();
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
    EXPECT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(state.ServerClassId, kClassId);
    EXPECT_EQ(Calls("set"), c.sets);
    if (!c.readOnly) {
        EXPECT_EQ(fakes::Read(store, HKEY_CLASSES_ROOT, kAppId, "RunAs"),
                  (fakes::RawValue{platform::REG_SZ, fakes::Sz("Interactive User")}));
        EXPECT_EQ(fakes::Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + kAppId,
                              "AuthenticationLevel"),
                  (fakes::RawValue{platform::REG_DWORD, fakes::Dword(1)}));
    } else if (c.storedLevelType == nullptr) {
        EXPECT_FALSE(fakes::KeyExists(store, HKEY_CLASSES_ROOT, kAppId));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppIdTest,
    ::testing::Values(
        AppIdCase{"first set-up", nullptr, false, 0, {"RunAs", "AuthenticationLevel"}},
        AppIdCase{"no rights", nullptr, true, 4, {}},
        AppIdCase{"set up before, no rights", "dword", true, 0, {}},
        AppIdCase{"level differs, no rights", "text", true, 2, {}},
        AppIdCase{"level differs", "text", false, 0, {"AuthenticationLevel"}}));

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
    EXPECT_TRUE(Calls("set").empty());

    for (const std::string classId : {"", "not found"}) {
        SCOPED_TRACE("class id \"" + classId + "\"");
        RegisterServerClass(classId);
        registry.calls.clear();
        dialogs.ExpectBox("Create System File", platform::vbNo);
        std::filesystem::remove(SettingsFile());
        RunStartup();
        EXPECT_TRUE(dialogs.ScriptDone());
        EXPECT_EQ(state.ServerClassId, classId);
        const auto opened = Calls("open");
        EXPECT_NE(std::find(opened.begin(), opened.end(), "AppID\\" + classId), opened.end());
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
    EXPECT_TRUE(dialogs.ScriptDone());
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

// The file's layout is the settings' own business; the start-up sets the
// defaults before the read and writes what the state holds at the end.
TEST_F(StartupSequenceTest, SettingsDefaultsOverrideWhatTheStateHeld) {
    state.ConsoleSettings.LocalServerSelected = false;
    state.ConsoleSettings.RemoteServerName = "OLDHOST";
    state.ConsoleSettings.LocalServerName = "old";
    state.ConsoleSettings.AutoStart = true;
    state.ConsoleSettings.ColorTheme = 3;
    ExpectFirstStartBoxes();
    RunStartup();
    EXPECT_TRUE(state.ConsoleSettings.LocalServerSelected);
    EXPECT_EQ(state.ConsoleSettings.RemoteServerName, "");
    EXPECT_EQ(state.ConsoleSettings.LocalServerName, "");
    EXPECT_FALSE(state.ConsoleSettings.AutoStart);
    EXPECT_EQ(state.ConsoleSettings.ColorTheme, 3) << "other settings keep what they hold";
    const std::string written = fakes::ReadFile(SettingsFile());
    EXPECT_NE(written.find("[REMOTE SERVER]\nServerName=\nSelected=No\n"), std::string::npos);
    EXPECT_NE(written.find("ColorTheme=3\n"), std::string::npos);
}

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
    EXPECT_TRUE(dialogs.ScriptDone());
    EXPECT_NE(dialogs.boxes.at(0).text.find(damaged), std::string::npos)
        << dialogs.boxes.at(0).text;
    EXPECT_FALSE(state.IsAdministrator);
    EXPECT_EQ(state.strOrvelPath, "/opt/Quarlen/Corvane Network Suite/");
    EXPECT_TRUE(std::filesystem::exists(SettingsFile()));
}

}  // namespace
}  // namespace orvel::startup

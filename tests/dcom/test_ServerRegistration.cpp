// The role registration of the component servers, against the real registry store.

#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "RegistryTestSupport.h"
#include "dcom/ServerRegistration.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/ComponentCatalog.h"

namespace orvel::dcom {
namespace {

using namespace fakes;

constexpr const char* kSuite = "/opt/Quarlen/Corvane Network Suite/";

bool IsFileServerSlot(std::size_t slot) {
    return slot == 3 || slot == 7 || slot == 11 || slot == 15;
}

class ServerRegistrationTest : public ::testing::Test {
  protected:
    SqliteRegistry store{":memory:"};
    FakeDialogs dialogs;
    settings::RegistryContext registryContext{store, dialogs};
    status::ComponentServerTable table;
    settings::ConsoleSettings consoleSettings;
    std::string orvelPath = kSuite;
    RegistrationContext context{registryContext, table, consoleSettings, orvelPath};

    void SetUp() override {
        status::FillComponentServerTable(table, orvelPath);
        consoleSettings.RemoteServerName = "SRV";
        // The installed classes: every used slot's main class and the Setup Store's set.
        for (std::size_t slot = 0; slot < table.size(); ++slot) {
            if (suite::IsUsedSlot(static_cast<int>(slot))) {
                CreateKey(store, HKEY_CLASSES_ROOT, "CLSID\\" + table[slot].strClassId);
            }
        }
        for (int j = 0; j < suite::kConfigurationClassCount; ++j) {
            CreateKey(store, HKEY_CLASSES_ROOT,
                      "CLSID\\" + std::string(suite::ConfigurationClassIds()[j]));
        }
    }

    RawValue Classes(const std::string& key, std::string_view name = "") {
        return Read(store, HKEY_CLASSES_ROOT, key, name);
    }
    std::string ServerPath(std::size_t slot) const { return orvelPath + table[slot].strExeName; }

    // The registration of one class: path under the kept key, the other key gone.
    void ExpectClassRegistered(const std::string& classId, const std::string& path, bool local) {
        const std::string kept = local ? "\\LocalServer32" : "\\_LocalServer32";
        const std::string gone = local ? "\\_LocalServer32" : "\\LocalServer32";
        EXPECT_EQ(Classes("CLSID\\" + classId + kept), (RawValue{REG_SZ, Sz(path)})) << classId;
        EXPECT_FALSE(KeyExists(store, HKEY_CLASSES_ROOT, "CLSID\\" + classId + gone)) << classId;
        const std::string machine = "SOFTWARE\\Classes\\AppID\\" + classId;
        EXPECT_EQ(Read(store, HKEY_LOCAL_MACHINE, machine, "RunAs"),
                  (RawValue{REG_SZ, Sz("Interactive User")}));
        EXPECT_EQ(Read(store, HKEY_LOCAL_MACHINE, machine, "AuthenticationLevel"),
                  (RawValue{REG_DWORD, Dword(1)}));
    }

    void ExpectSlot(std::size_t slot, bool local) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const auto& entry = table[slot];
        ExpectClassRegistered(entry.strClassId, ServerPath(slot), local);
        ExpectClassRegistered(entry.strClassId2, ServerPath(slot), local);
        const std::string appKey = "AppID\\" + entry.strAppId;
        EXPECT_EQ(Classes(appKey), (RawValue{REG_SZ, Sz("OrvelServer " + entry.strDisplayName)}));
        EXPECT_EQ(Classes(appKey, "RunAs"), (RawValue{REG_SZ, Sz("Interactive User")}));
        if (local) {
            EXPECT_EQ(Classes(appKey, "RemoteServerName").type, REG_NONE);
        } else {
            EXPECT_EQ(Classes(appKey, "RemoteServerName"), (RawValue{REG_SZ, Sz("SRV")}));
            EXPECT_EQ(Classes(appKey, "AuthenticationLevel"), (RawValue{REG_DWORD, Dword(1)}));
        }
    }
};

// A remote PC (role 1) registers the file-server components remote, the server
// computer (2) all, the standalone computer (0) none; each role undoes the last.
// The Setup Store's classes go with it.
TEST_F(ServerRegistrationTest, RolesSwitchBackAndForth) {
    // Left over from an earlier registration: removed for a local component.
    Seed(store, HKEY_CLASSES_ROOT, "AppID\\" + table[0].strAppId, "RemoteServerName", REG_SZ,
         Sz("OLD"));
    Seed(store, HKEY_CLASSES_ROOT, "AppID\\" + table[0].strAppId, "LaunchPermission", REG_BINARY,
         "\x01\x02");
    for (const std::int16_t role : {1, 2, 0}) {
        SCOPED_TRACE("role " + std::to_string(role));
        ConfigureComputer(context, role);
        for (std::size_t slot = 0; slot < 16; ++slot) {
            ExpectSlot(slot, role == 0 || (role == 1 && !IsFileServerSlot(slot)));
            EXPECT_EQ(table[slot].intHostKind, role == 2 || IsFileServerSlot(slot) ? 2 : 1) << slot;
        }
        // The Setup Store (slot 7) for each of its classes.
        for (int j = 0; j < suite::kConfigurationClassCount; ++j) {
            ExpectClassRegistered(std::string(suite::ConfigurationClassIds()[j]),
                                  orvelPath + "SetupStoreServer.exe", role == 0);
        }
        EXPECT_EQ(consoleSettings.LocalServerSelected, role == 0);
    }
    EXPECT_EQ(Classes("AppID\\" + table[0].strAppId, "LaunchPermission").type, REG_NONE);
    for (const auto& [path, value] : TakeSnapshot(store)) {
        EXPECT_EQ(path.find("_LocalServer32"), std::string::npos) << path;
    }
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ServerRegistrationTest, UnknownRoleAndUninstalledClassesChangeNothing) {
    const Snapshot before = TakeSnapshot(store);
    const auto tableBefore = table;
    consoleSettings.LocalServerSelected = true;
    ConfigureComputer(context, 3);
    ConfigureComputer(context, -1);
    EXPECT_EQ(TakeSnapshot(store), before);
    EXPECT_TRUE(consoleSettings.LocalServerSelected);
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        EXPECT_EQ(table[slot].intHostKind, tableBefore[slot].intHostKind);
    }

    // A component whose class is not installed keeps no registration.
    ASSERT_EQ(store.RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\" + table[4].strClassId),
              ERROR_SUCCESS);
    RegisterAsLocal(context, 4);
    RegisterAsRemote(context, 16);  // an unused slot
    RegisterAsLocal(context, 20);   // no such slot
    EXPECT_FALSE(KeyExists(store, HKEY_CLASSES_ROOT, "AppID\\" + table[4].strAppId));
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ServerRegistrationTest, WithoutWriteRightsNothingIsWrittenAndNothingShown) {
    const Snapshot before = TakeSnapshot(store);
    ReadOnlyStore readOnly{store};
    settings::RegistryContext readOnlyRegistry{readOnly, dialogs};
    RegistrationContext readOnlyContext{readOnlyRegistry, table, consoleSettings, orvelPath};
    ConfigureComputer(readOnlyContext, 1);
    EXPECT_EQ(TakeSnapshot(store), before);
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(table[3].intHostKind, 2);
    EXPECT_EQ(table[0].intHostKind, 1);
}

TEST_F(ServerRegistrationTest, UnexpectedErrorEndsOneEntryWithABoxAndTheNextGoesOn) {
    StoreView failing{store};
    failing.throwOnDeleteKey = "CLSID\\" + table[0].strClassId + "\\_LocalServer32";
    settings::RegistryContext failingRegistry{failing, dialogs};
    RegistrationContext failingContext{failingRegistry, table, consoleSettings, orvelPath};
    dialogs.ExpectBox("RegisterAsRemote (5)");

    ConfigureComputer(failingContext, 0);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[0].text, "Registry Error store lost");
    EXPECT_EQ(dialogs.boxes[0].style, vbCritical);
    // Slot 0 stopped after its first path; slot 1 was registered in full.
    EXPECT_EQ(Classes("CLSID\\" + table[0].strClassId + "\\LocalServer32"),
              (RawValue{REG_SZ, Sz(ServerPath(0))}));
    EXPECT_EQ(Classes("CLSID\\" + table[0].strClassId2 + "\\LocalServer32").type, REG_NONE);
    ExpectSlot(1, true);
}

}  // namespace
}  // namespace orvel::dcom

// The configuration check of the remote-call settings, against the real registry store.

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "RegistryTestSupport.h"
#include "dcom/DComConfiguration.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/MachineDefaults.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::dcom {
namespace {

using namespace fakes;
using fakes::FakeDialogs;

constexpr const char* kOle = "SOFTWARE\\Microsoft\\Ole";

void* NoRuntime(const char*) {
    return nullptr;
}

const char* FakeRuntimeVersion() {
    return "1.51.1";
}

void* FakeRuntime(const char* name) {
    return std::string_view(name) == kRuntimeEntryPoint
               ? reinterpret_cast<void*>(&FakeRuntimeVersion)
               : nullptr;
}

std::string Lines(std::initializer_list<std::string_view> lines) {
    std::string text;
    bool first = true;
    for (std::string_view line : lines) {
        if (!first) text += '\r';
        text += line;
        first = false;
    }
    return text;
}

class DComConfigurationTest : public ::testing::Test {
  protected:
    SqliteRegistry store{":memory:"};
    FakeDialogs dialogs;
    settings::RegistryContext registryContext{store, dialogs};
    DComContext context{registryContext, &FakeRuntime};

    void SeedOle(std::string_view name, DWORD type, std::string_view bytes) {
        Seed(store, HKEY_LOCAL_MACHINE, kOle, name, type, bytes);
    }
    void SeedCorrect() {
        SeedOle("EnableDCOM", REG_SZ, Sz("Y"));
        SeedOle("EnableRemoteConnect", REG_SZ, Sz("Y"));
        SeedOle("LegacyAuthenticationLevel", REG_DWORD, Dword(1));
        SeedOle("LegacyImpersonationLevel", REG_DWORD, Dword(3));
    }
    RawValue Ole(std::string_view name) { return Read(store, HKEY_LOCAL_MACHINE, kOle, name); }
};

const std::string kFreshMachineReport = Lines({
    "DCom Configuration",
    "",
    "OLE32: Registered",
    "Version: gRPC 1.51.1",
    "Enabled: Y",
    "Remote Connect: N [Should be Y]",
    "LegacyAuthenticationLevel: 2 [Should Be None (1)]",
    "LegacyImpersonationLevel:  2 [Should Be Impersonate (3)]",
});

TEST_F(DComConfigurationTest, FreshMachineIsCorrectedAfterTwoYesAndThenReportsCorrect) {
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbYes)
        .ExpectBox("(DCom Configuration is Correct)", vbYes)
        .ExpectBox("Changes on next Reboot");

    mnuToolsDComConfiguration_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(dialogs.boxes[0].text, kFreshMachineReport + Lines({"", "", "CONFIGURATION ERROR",
                                                                  "Do you want 'Automatic "
                                                                  "Correction' of this error ?"}));
    EXPECT_EQ(dialogs.boxes[0].style, vbCritical + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(dialogs.boxes[1].text,
              Lines({"DCom Configuration", "", "OLE32: Registered", "Version: gRPC 1.51.1",
                     "Enabled: Y", "Remote Connect: Y", "LegacyAuthenticationLevel: None",
                     "LegacyImpersonationLevel:  Impersonate", "", "CONFIGURATION CHANGES",
                     "Do you want to SAVE these changes ?"}));
    EXPECT_EQ(dialogs.boxes[1].style, vbQuestion + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(dialogs.boxes[2].text,
              "Changes will not be in effect until next REBOOT of computer...");
    EXPECT_EQ(dialogs.boxes[2].style, vbInformation);

    EXPECT_EQ(Ole("EnableDCOM"), (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(Ole("EnableRemoteConnect"), (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(Ole("LegacyAuthenticationLevel"), (RawValue{REG_DWORD, Dword(1)}));
    EXPECT_EQ(Ole("LegacyImpersonationLevel"), (RawValue{REG_DWORD, Dword(3)}));

    FakeDialogs again;
    settings::RegistryContext againRegistry{store, again};
    DComContext againContext{againRegistry, &FakeRuntime};
    again.ExpectBox("DCom Configuration is Correct");
    mnuToolsDComConfiguration_Click(againContext);
    ASSERT_TRUE(again.ScriptDone());
    EXPECT_EQ(again.beeps, 0);
    EXPECT_EQ(again.boxes[0].text,
              Lines({"DCom Configuration", "", "OLE32: Registered", "Version: gRPC 1.51.1",
                     "Enabled: Y", "Remote Connect: Y", "LegacyAuthenticationLevel: None",
                     "LegacyImpersonationLevel:  Impersonate"}));
    EXPECT_EQ(again.boxes[0].style, vbInformation);
}

TEST_F(DComConfigurationTest, StoredValuesAreJudgedAsTheOldCheckDid) {
    // "y" counts as Y, any other text as N; only the low byte of a level counts, and a
    // level stored as the text "1" reads as the code of the digit.
    SeedOle("EnableDCom", REG_SZ, Sz("y"));
    SeedOle("EnableRemoteConnect", REG_SZ, Sz("X"));
    SeedOle("LegacyAuthenticationLevel", REG_DWORD, Dword(257));
    SeedOle("LegacyImpersonationLevel", REG_SZ, Sz("1"));
    const Snapshot before = TakeSnapshot(store);
    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbNo);

    mnuToolsDComConfiguration_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(
        dialogs.boxes[0].text,
        Lines({"DCom Configuration", "", "OLE32: Registered", "Version: gRPC 1.51.1", "Enabled: Y",
               "Remote Connect: N [Should be Y]", "LegacyAuthenticationLevel: None",
               "LegacyImpersonationLevel:  49 [Should Be Impersonate (3)]", "",
               "CONFIGURATION ERROR", "Do you want 'Automatic Correction' of this error ?"}));
    EXPECT_EQ(TakeSnapshot(store), before) << "No to the first question writes nothing";
}

// The check and the suite server read the two enable values alike: the type
// stored is not compared, one terminating NUL is dropped, "Y" and "y" say yes.
TEST_F(DComConfigurationTest, CheckAndSuiteServerAgreeOnWhatYesIs) {
    struct Case {
        const char* what;
        DWORD type;
        std::string bytes;
        bool yes;
    };
    const Case cases[] = {
        {"string Y", REG_SZ, Sz("Y"), true},
        {"binary Y", REG_BINARY, "Y", true},
        {"binary y with NUL", REG_BINARY, Sz("y"), true},
        {"expandable y", REG_EXPAND_SZ, Sz("y"), true},
        {"string N", REG_SZ, Sz("N"), false},
        {"string YES", REG_SZ, Sz("YES"), false},
        {"Y with two NULs", REG_SZ, std::string("Y\0\0", 3), false},
        {"double word of Y", REG_DWORD, Dword('Y'), false},
    };
    SeedCorrect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SeedOle("EnableDCOM", c.type, c.bytes);
        SeedOle("EnableRemoteConnect", c.type, c.bytes);
        dialogs.ExpectBox(
            c.yes ? "DCom Configuration is Correct" : "DCom Configuration is NOT Correct", vbNo);
        mnuToolsDComConfiguration_Click(context);
        ASSERT_FALSE(dialogs.boxes.empty());
        const std::string& report = dialogs.boxes.back().text;
        const bool checkSaysYes = report.find("\rEnabled: Y\r") != std::string::npos &&
                                  report.find("\rRemote Connect: Y\r") != std::string::npos;
        EXPECT_EQ(checkSaysYes, c.yes) << report;
        EXPECT_EQ(suite::RemoteUseEnabled(store), c.yes);
    }
    ASSERT_TRUE(dialogs.ScriptDone());
}

TEST_F(DComConfigurationTest, NoToTheSaveQuestionWritesNothing) {
    const Snapshot before = TakeSnapshot(store);
    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbYes)
        .ExpectBox("(DCom Configuration is Correct)", vbNo);

    mnuToolsDComConfiguration_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    // Nothing stored at all: the enable flags read as their default, the levels as -1.
    EXPECT_NE(dialogs.boxes[0].text.find("Enabled: N [Should be Y]\rRemote Connect: N [Should be "
                                         "Y]\rLegacyAuthenticationLevel: -1 [Should Be None "
                                         "(1)]\rLegacyImpersonationLevel:  -1 [Should Be "
                                         "Impersonate (3)]"),
              std::string::npos)
        << dialogs.boxes[0].text;
    EXPECT_EQ(TakeSnapshot(store), before);
}

TEST_F(DComConfigurationTest, LevelsThatDoNotFitFourBytesAreUnreadable) {
    SeedCorrect();
    SeedOle("LegacyAuthenticationLevel", REG_BINARY, std::string("\x01\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(functGetLegacyAuthenticationLevel(context), -1);
    EXPECT_EQ(functGetLegacyImpersonationLevel(context), 3);
}

TEST_F(DComConfigurationTest, MissingRuntimeIsReportedAlone) {
    SeedCorrect();
    context.lookupEntryPoint = &NoRuntime;
    dialogs.ExpectBox("DCom OLE32 Configuration Error");

    mnuToolsDComConfiguration_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[0].text, "OLE32 is NOT installed or Active");
    EXPECT_EQ(dialogs.boxes[0].style, vbCritical);
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(DComConfigurationTest, VersionComesFromTheRuntimeInThisProgram) {
    context.lookupEntryPoint = &LookupLoadedEntryPoint;
    EXPECT_TRUE(functDComInstalled(context));
    EXPECT_EQ(functGetDComVersion(context), "gRPC " + grpc::Version());

    context.lookupEntryPoint = &NoRuntime;
    EXPECT_FALSE(functDComInstalled(context));
    dialogs.ExpectBox("DCom Version");
    EXPECT_EQ(functGetDComVersion(context), "Not Installed");
    EXPECT_EQ(dialogs.boxes[0].text, "DCom is not installed, Cannot get Version");
    EXPECT_EQ(dialogs.boxes[0].style, vbExclamation);
}

TEST_F(DComConfigurationTest, InstalledVersionKeyComparesTheFirstElevenCharacters) {
    constexpr const char* kKey = "CLSID\\{bdc67890-4fc0-11d0-a805-00aa006d2ea4}\\InstalledVersion";
    EXPECT_EQ(functGetInstalledDComVersion(context), "hKey Error");
    CreateKey(store, HKEY_CLASSES_ROOT, kKey);
    EXPECT_EQ(functGetInstalledDComVersion(context), "Unknown") << "no default value";
    Seed(store, HKEY_CLASSES_ROOT, kKey, "", REG_SZ, Sz("4,71,0,3328,7"));
    EXPECT_EQ(functGetInstalledDComVersion(context), "DCOM95/98 1.3");
    Seed(store, HKEY_CLASSES_ROOT, kKey, "", REG_SZ, Sz("4,71,0,1120"));
    EXPECT_EQ(functGetInstalledDComVersion(context), "DCOM95 1.x");
    Seed(store, HKEY_CLASSES_ROOT, kKey, "", REG_SZ, Sz("4,71,0,112"));
    EXPECT_EQ(functGetInstalledDComVersion(context), "Unknown");

    // Reading needs no write rights.
    ReadOnlyStore readOnly{store};
    settings::RegistryContext readOnlyRegistry{readOnly, dialogs};
    DComContext readOnlyContext{readOnlyRegistry, &FakeRuntime};
    Seed(store, HKEY_CLASSES_ROOT, kKey, "", REG_SZ, Sz("4,71,0,2612"));
    EXPECT_EQ(functGetInstalledDComVersion(readOnlyContext), "DCOM98 1.2");
}

TEST_F(DComConfigurationTest, UserWithoutWriteRightsSeesRealValuesAndIsToldWhatWasNotSaved) {
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    const Snapshot before = TakeSnapshot(store);
    ReadOnlyStore readOnly{store};
    settings::RegistryContext readOnlyRegistry{readOnly, dialogs};
    DComContext readOnlyContext{readOnlyRegistry, &FakeRuntime};
    EXPECT_EQ(functGetLegacyAuthenticationLevel(readOnlyContext), 2);
    EXPECT_EQ(functGetLegacyImpersonationLevel(readOnlyContext), 2);

    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbYes)
        .ExpectBox("(DCom Configuration is Correct)", vbYes);
    for (int i = 0; i < 4; ++i) dialogs.ExpectBox("Registry Access");
    dialogs.ExpectBox("DCom Configuration NOT Saved");

    mnuToolsDComConfiguration_Click(readOnlyContext);

    ASSERT_TRUE(dialogs.ScriptDone()) << "no reboot notice after failed writes";
    EXPECT_EQ(dialogs.boxes[0].text.substr(0, kFreshMachineReport.size()), kFreshMachineReport);
    EXPECT_EQ(dialogs.boxes.back().text,
              Lines({"Unable to save these values in the Registry:", "      EnableDCOM",
                     "      EnableRemoteConnect", "      LegacyAuthenticationLevel",
                     "      LegacyImpersonationLevel", "", "The Configuration is NOT corrected"}));
    EXPECT_EQ(dialogs.boxes.back().style, vbCritical);
    EXPECT_EQ(TakeSnapshot(store), before);
}

}  // namespace
}  // namespace orvel::dcom

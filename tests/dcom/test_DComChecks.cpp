// The Tools menu checks of the remote-call settings and the machine defaults
// they judge, against the real registry store.

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <tuple>

#include "FakeDiagnostics.h"
#include "FakeDialogs.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "dcom/DComConfiguration.h"
#include "platform/AsciiCase.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/MachineDefaults.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::dcom {
namespace {

using namespace fakes;

constexpr const char* kOle = "SOFTWARE\\Microsoft\\Ole";
constexpr const char* kRpc = "Software\\Microsoft\\RPC";

const char* FakeRuntimeVersion() {
    return "1.51.1";
}

void* FakeRuntime(const char* name) {
    return std::string_view(name) == kRuntimeEntryPoint
               ? reinterpret_cast<void*>(&FakeRuntimeVersion)
               : nullptr;
}

// The lines of a box, separated by CR.
std::string Lines(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (std::string_view line : lines) text += std::string(line) + '\r';
    return text.substr(0, text.size() - 1);
}

// Each entry NUL-terminated, then the list's closing NUL.
std::string MultiSz(std::initializer_list<std::string_view> entries) {
    std::string bytes;
    for (std::string_view entry : entries) bytes += std::string(entry) + '\0';
    return bytes + '\0';
}

// The configuration report of a present runtime, with what it says of each value.
std::string Report(const std::string& enabled, const std::string& remote, const std::string& auth,
                   const std::string& impersonation) {
    return Lines({"DCom Configuration", "", "OLE32: Registered", "Version: gRPC 1.51.1",
                  "Enabled: " + enabled, "Remote Connect: " + remote,
                  "LegacyAuthenticationLevel: " + auth,
                  "LegacyImpersonationLevel:  " + impersonation});
}

const std::string kFreshMachineReport =
    Report("Y", "N [Should be Y]", "2 [Should Be None (1)]", "2 [Should Be Impersonate (3)]");
const std::string kCorrectReport = Report("Y", "Y", "None", "Impersonate");

const std::string kOfferCorrection =
    "\r\rCONFIGURATION ERROR\rDo you want 'Automatic Correction' of this error ?";

// The store, the boxes, and the checks over the store as it is and as a user
// without write rights sees it.
class DComCheckTest : public ::testing::Test {
  protected:
    SqliteRegistry store{":memory:"};
    FakeDialogs dialogs;
    settings::RegistryContext registryContext{store, dialogs};
    fakes::FakeDiagnostics diagnostics;
    DComContext context{registryContext, diagnostics, &FakeRuntime};
    ReadOnlyStore readOnly{store};
    settings::RegistryContext readOnlyRegistry{readOnly, dialogs};
    DComContext readOnlyContext{readOnlyRegistry, diagnostics, &FakeRuntime};

    // The boxes of a correction: check is "Configuration" or "Protocol".
    void ExpectCorrection(const std::string& check, int saveAnswer = vbYes) {
        dialogs.ExpectBox("DCom " + check + " is NOT Correct", vbYes)
            .ExpectBox("(DCom " + check + " is Correct)", saveAnswer);
    }
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
    void SeedList(std::string_view bytes) {
        Seed(store, HKEY_LOCAL_MACHINE, kRpc, "DCOM Protocols", REG_MULTI_SZ, bytes);
    }
    RawValue List() { return Read(store, HKEY_LOCAL_MACHINE, kRpc, "DCOM Protocols"); }
};

// The suite server opens its TCP port when RemoteUseEnabled says so (tested
// with the server); the correction is what makes it say so.
TEST_F(DComCheckTest, FreshMachineIsCorrectedAfterTwoYesAndThenReportsCorrect) {
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    EXPECT_FALSE(suite::RemoteUseEnabled(store));
    ExpectCorrection("Configuration");
    dialogs.ExpectBox("Changes on next Reboot");

    mnuToolsDComConfiguration_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(dialogs.boxes[0].text, kFreshMachineReport + kOfferCorrection);
    EXPECT_EQ(dialogs.boxes[0].style, vbCritical + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(dialogs.boxes[1].text,
              kCorrectReport + "\r\rCONFIGURATION CHANGES\rDo you want to SAVE these changes ?");
    EXPECT_EQ(dialogs.boxes[1].style, vbQuestion + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(dialogs.boxes[2].text,
              "Changes will not be in effect until next REBOOT of computer...");
    EXPECT_EQ(dialogs.boxes[2].style, vbInformation);
    EXPECT_EQ(Ole("EnableDCOM"), (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(Ole("EnableRemoteConnect"), (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(Ole("LegacyAuthenticationLevel"), (RawValue{REG_DWORD, Dword(1)}));
    EXPECT_EQ(Ole("LegacyImpersonationLevel"), (RawValue{REG_DWORD, Dword(3)}));
    EXPECT_TRUE(suite::RemoteUseEnabled(store));

    dialogs.ExpectBox("DCom Configuration is Correct");
    mnuToolsDComConfiguration_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(dialogs.boxes[3].text, kCorrectReport);
    EXPECT_EQ(dialogs.boxes[3].style, vbInformation);
}

TEST_F(DComCheckTest, StoredValuesAreJudgedAsTheOldCheckDid) {
    // "y" counts as Y, any other text as N; only the low byte of a level counts, and a
    // level stored as the text "1" reads as the code of the digit.
    SeedOle("EnableDCom", REG_SZ, Sz("y"));
    SeedOle("EnableRemoteConnect", REG_SZ, Sz("X"));
    SeedOle("LegacyAuthenticationLevel", REG_DWORD, Dword(257));
    SeedOle("LegacyImpersonationLevel", REG_SZ, Sz("1"));
    const Snapshot before = TakeSnapshot(store);
    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbNo);
    mnuToolsDComConfiguration_Click(context);
    ExpectCorrection("Configuration", vbNo);
    mnuToolsDComConfiguration_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[0].text,
              Report("Y", "N [Should be Y]", "None", "49 [Should Be Impersonate (3)]") +
                  kOfferCorrection);
    EXPECT_EQ(TakeSnapshot(store), before) << "No to either question writes nothing";
}

// The check and the suite server read the two enable values alike: the type
// stored is not compared, one terminating NUL is dropped, "Y" and "y" say yes.
TEST_F(DComCheckTest, CheckAndSuiteServerAgreeOnWhatYesIs) {
    // What is stored, its type and bytes, and whether it says yes.
    const std::tuple<const char*, DWORD, std::string, bool> cases[] = {
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
    for (const auto& [what, type, bytes, yes] : cases) {
        SCOPED_TRACE(what);
        SeedOle("EnableDCOM", type, bytes);
        SeedOle("EnableRemoteConnect", type, bytes);
        dialogs.ExpectBox(
            yes ? "DCom Configuration is Correct" : "DCom Configuration is NOT Correct", vbNo);
        mnuToolsDComConfiguration_Click(context);
        ASSERT_FALSE(dialogs.boxes.empty());
        const std::string& report = dialogs.boxes.back().text;
        const bool checkSaysYes = report.find("\rEnabled: Y\r") != std::string::npos &&
                                  report.find("\rRemote Connect: Y\r") != std::string::npos;
        EXPECT_EQ(checkSaysYes, yes) << report;
        EXPECT_EQ(suite::RemoteUseEnabled(store), yes);
    }
    ASSERT_TRUE(dialogs.ScriptDone());
}

// Nothing stored at all: the enable flags read as their default, the levels as -1.
TEST_F(DComCheckTest, EmptyStoreIsReportedAsFoundWithoutAProtocolList) {
    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbNo).ExpectBox("Registry Error");
    mnuToolsDComConfiguration_Click(context);
    mnuToolsDComProtocol_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[0].text,
              Report("N [Should be Y]", "N [Should be Y]", "-1 [Should Be None (1)]",
                     "-1 [Should Be Impersonate (3)]") +
                  kOfferCorrection);
    EXPECT_EQ(dialogs.boxes[1].text, "Unable to Locate DCom protocol in Registry");
    EXPECT_EQ(dialogs.boxes[1].style, vbExclamation);
}

TEST_F(DComCheckTest, LevelsThatDoNotFitFourBytesAreUnreadable) {
    SeedCorrect();
    SeedOle("LegacyAuthenticationLevel", REG_BINARY, std::string("\x01\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(functGetLegacyAuthenticationLevel(context), -1);
    EXPECT_EQ(functGetLegacyImpersonationLevel(context), 3);
}

TEST_F(DComCheckTest, RuntimeIsFoundInThisProgramOrReportedAlone) {
    context.lookupEntryPoint = &LookupLoadedEntryPoint;
    EXPECT_TRUE(functDComInstalled(context));
    EXPECT_EQ(functGetDComVersion(context), "gRPC " + grpc::Version());

    context.lookupEntryPoint = [](const char*) -> void* { return nullptr; };
    EXPECT_FALSE(functDComInstalled(context));
    dialogs.ExpectBox("DCom Version");
    EXPECT_EQ(functGetDComVersion(context), "Not Installed");
    EXPECT_EQ(dialogs.boxes[0].text, "DCom is not installed, Cannot get Version");
    EXPECT_EQ(dialogs.boxes[0].style, vbExclamation);

    SeedCorrect();
    dialogs.ExpectBox("DCom OLE32 Configuration Error");
    mnuToolsDComConfiguration_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[1].text, "OLE32 is NOT installed or Active");
    EXPECT_EQ(dialogs.boxes[1].style, vbCritical);
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(DComCheckTest, InstalledVersionKeyComparesTheFirstElevenCharacters) {
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
    Seed(store, HKEY_CLASSES_ROOT, kKey, "", REG_SZ, Sz("4,71,0,2612"));
    EXPECT_EQ(functGetInstalledDComVersion(readOnlyContext), "DCOM98 1.2") << "read-only use";
}

TEST_F(DComCheckTest, UserWithoutWriteRightsSeesRealValuesAndIsToldWhatWasNotSaved) {
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    const Snapshot before = TakeSnapshot(store);
    ExpectCorrection("Configuration");
    for (int i = 0; i < 4; ++i) dialogs.ExpectBox("Registry Access");
    dialogs.ExpectBox("DCom Configuration NOT Saved");

    mnuToolsDComConfiguration_Click(readOnlyContext);

    ASSERT_TRUE(dialogs.ScriptDone()) << "no reboot notice after failed writes";
    EXPECT_EQ(dialogs.boxes[0].text, kFreshMachineReport + kOfferCorrection);
    EXPECT_EQ(dialogs.boxes.back().text,
              Lines({"Unable to save these values in the Registry:", "      EnableDCOM",
                     "      EnableRemoteConnect", "      LegacyAuthenticationLevel",
                     "      LegacyImpersonationLevel", "", "The Configuration is NOT corrected"}));
    EXPECT_EQ(dialogs.boxes.back().style, vbCritical);
    EXPECT_EQ(TakeSnapshot(store), before);
}

// Only the first TCP/IP entry moves first, by swapping with the old first one
// (the report test shows a third entry moved): no entry is lost or written
// twice, and a list without one stays as it is.
TEST_F(DComCheckTest, ProtocolCheckMovesTcpFirst) {
    // What the list is, as it is and after the check ("" when the check finds
    // it correct and asks nothing).
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"tcp first", MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp"}), ""},
        {"upper case", MultiSz({"NCACN_IP_TCP"}), ""},
        {"two tcp", MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp", "ncacn_spx", "NCACN_IP_TCP"}),
         MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp", "ncacn_spx", "NCACN_IP_TCP"})},
        {"no tcp", MultiSz({"ncadg_ip_udp", "ncacn_spx"}), MultiSz({"ncadg_ip_udp", "ncacn_spx"})},
    };
    for (const auto& [what, before, after] : cases) {
        SCOPED_TRACE(what);
        SeedList(before);
        if (after.empty()) {
            dialogs.ExpectBox("DCom Protocol is Correct");
        } else {
            ExpectCorrection("Protocol");
            dialogs.ExpectBox("Changes on next Reboot");
        }
        mnuToolsDComProtocol_Click(context);
        ASSERT_TRUE(dialogs.ScriptDone());
        EXPECT_EQ(List(), (RawValue{REG_MULTI_SZ, after.empty() ? before : after}));
    }
}

TEST_F(DComCheckTest, ProtocolReportsNameTheStackAndTheMisplacedEntry) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_spx", "ncacn_ip_tcp"}));
    ExpectCorrection("Protocol");
    dialogs.ExpectBox("Changes on next Reboot").ExpectBox("DCom Protocol is Correct");

    mnuToolsDComProtocol_Click(context);
    mnuToolsDComProtocol_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(dialogs.boxes[0].text,
              "DCom Protocol Stack\r\r1: ncadg_ip_udp\r2: ncacn_spx\r3: ncacn_ip_tcp (Should Be "
              "1st)\r" +
                  kOfferCorrection);
    EXPECT_EQ(dialogs.boxes[0].style, vbCritical + vbYesNo + vbDefaultButton2);
    const std::string corrected =
        "DCom Protocol Stack\r\r1: ncacn_ip_tcp\r2: ncacn_spx\r3: "
        "ncadg_ip_udp\r";
    EXPECT_EQ(dialogs.boxes[1].text,
              corrected + "\r\rCONFIGURATION CHANGES\rDo you want to SAVE these changes ?");
    EXPECT_EQ(dialogs.boxes[1].style, vbQuestion + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(dialogs.boxes[3].text, corrected);
    EXPECT_EQ(dialogs.boxes[3].style, vbInformation);
}

// The Turkish locale as the console may run under it (Qt sets the C library's
// locale from the environment), built in a scratch folder so that the system's
// locales stay as they are. Its case mapping turns "i" into no "I".
TEST_F(DComCheckTest, LetterCaseIsAsciiWhateverTheLocale) {
    const TempDir locales("orvel-locale");
    const std::string build =
        "localedef -i tr_TR -f UTF-8 '" + locales.str("tr_TR.UTF-8") + "' >/dev/null 2>&1";
    ::setenv("LOCPATH", locales.str().c_str(), 1);
    struct Restore {
        ~Restore() {
            std::setlocale(LC_ALL, "C");
            ::unsetenv("LOCPATH");
        }
    } restore;
    if (std::system(build.c_str()) != 0 || std::setlocale(LC_ALL, "tr_TR.UTF-8") == nullptr ||
        std::toupper('i') == 'I') {
        GTEST_SKIP() << "the tr_TR.UTF-8 locale cannot be built here (localedef)";
    }
    EXPECT_TRUE(platform::EqualIgnoringAsciiCase("Orvel_Server.exe", "ORVEL_SERVER.EXE"));
    SeedList(MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp"}));
    dialogs.ExpectBox("DCom Protocol is Correct");
    mnuToolsDComProtocol_Click(context);
    EXPECT_TRUE(dialogs.ScriptDone());
}

// No to either question, or a write without the right to it, leaves the list.
TEST_F(DComCheckTest, ProtocolListStaysAfterNoOrAFailedWrite) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp"}));
    const Snapshot before = TakeSnapshot(store);
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbNo);
    mnuToolsDComProtocol_Click(context);
    ExpectCorrection("Protocol", vbNo);
    mnuToolsDComProtocol_Click(context);
    ExpectCorrection("Protocol");
    dialogs.ExpectBox("Registry Access").ExpectBox("DCom Protocol NOT Saved");
    mnuToolsDComProtocol_Click(readOnlyContext);
    ASSERT_TRUE(dialogs.ScriptDone()) << "no reboot notice after a failed write";
    EXPECT_NE(dialogs.boxes.back().text.find("\r      DCOM Protocols\r"), std::string::npos);
    EXPECT_EQ(TakeSnapshot(store), before);
}

TEST_F(DComCheckTest, StoreFailureEndsBothChecksQuietly) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp"}));
    SeedOle("EnableDCOM", REG_SZ, Sz("Y"));
    StoreView failing{store};
    failing.throwOnQuery = true;
    settings::RegistryContext failingRegistry{failing, dialogs};
    DComContext failingContext{failingRegistry, diagnostics};
    EXPECT_NO_THROW(mnuToolsDComProtocol_Click(failingContext));
    EXPECT_NO_THROW(mnuToolsDComConfiguration_Click(failingContext));
    EXPECT_TRUE(dialogs.boxes.empty());
    // Each failure leaves a line of its own for whoever looks into it.
    ASSERT_EQ(diagnostics.lines.size(), 2u);
    EXPECT_EQ(diagnostics.lines[0].area, platform::DiagnosticArea::kDCom);
    EXPECT_NE(diagnostics.lines[0].text.find("protocol check failed"), std::string::npos);
    EXPECT_NE(diagnostics.lines[1].text.find("configuration check failed"), std::string::npos);
}

// A fresh store's values show in FreshMachineIsCorrectedAfterTwoYesAndThenReportsCorrect.
TEST_F(DComCheckTest, MachineDefaultsFillOnlyWhatIsMissing) {
    EXPECT_EQ(suite::WriteMissingMachineDefaults(readOnly), ERROR_ACCESS_DENIED);
    SeedOle("EnableRemoteConnect", REG_SZ, Sz("Y"));
    SeedOle("LegacyImpersonationLevel", REG_SZ, Sz("3"));
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    EXPECT_EQ(Ole("EnableRemoteConnect"), (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(Ole("LegacyImpersonationLevel"), (RawValue{REG_SZ, Sz("3")}));
    EXPECT_EQ(Ole("LegacyAuthenticationLevel"), (RawValue{REG_DWORD, Dword(2)}));
    EXPECT_EQ(List(), (RawValue{REG_MULTI_SZ, MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp", "ncacn_spx",
                                                       "ncacn_nb_nb", "ncacn_http"})}));
    const Snapshot before = TakeSnapshot(store);
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    EXPECT_EQ(TakeSnapshot(store), before) << "a second run changes nothing";
}

}  // namespace
}  // namespace orvel::dcom

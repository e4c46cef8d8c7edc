// The protocol order check and the machine defaults, against the real registry store.

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "FakeDialogs.h"
#include "RegistryTestSupport.h"
#include "TempDir.h"
#include "dcom/DComConfiguration.h"
#include "platform/AsciiCase.h"
#include "platform/linux/SqliteRegistry.h"
#include "suite/MachineDefaults.h"

namespace orvel::dcom {
namespace {

using namespace fakes;
using fakes::FakeDialogs;

constexpr const char* kRpc = "Software\\Microsoft\\RPC";

// Each entry NUL-terminated, then the list's closing NUL.
std::string MultiSz(std::initializer_list<std::string_view> entries) {
    std::string bytes;
    for (std::string_view entry : entries) bytes += std::string(entry) + '\0';
    return bytes + '\0';
}

class DComProtocolTest : public ::testing::Test {
  protected:
    SqliteRegistry store{":memory:"};
    FakeDialogs dialogs;
    settings::RegistryContext registryContext{store, dialogs};
    DComContext context{registryContext};

    void SeedList(std::string_view bytes) {
        Seed(store, HKEY_LOCAL_MACHINE, kRpc, "DCOM Protocols", REG_MULTI_SZ, bytes);
    }
    RawValue List() { return Read(store, HKEY_LOCAL_MACHINE, kRpc, "DCOM Protocols"); }
};

TEST_F(DComProtocolTest, TcpFirstIsCorrectWithoutQuestion) {
    SeedList(MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp"}));
    dialogs.ExpectBox("DCom Protocol is Correct");
    mnuToolsDComProtocol_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[0].text, "DCom Protocol Stack\r\r1: ncacn_ip_tcp\r2: ncadg_ip_udp\r");
    EXPECT_EQ(dialogs.boxes[0].style, vbInformation);
    EXPECT_EQ(dialogs.beeps, 0);

    // Upper case counts as well; the datagram sequence alone does not.
    SeedList(MultiSz({"NCACN_IP_TCP"}));
    dialogs.ExpectBox("DCom Protocol is Correct");
    mnuToolsDComProtocol_Click(context);
    EXPECT_TRUE(dialogs.ScriptDone());
}

// The Turkish locale as the console may run under it (Qt sets the C library's
// locale from the environment), compiled into a scratch folder so that the
// system's locales stay as they are. Its case mapping turns "i" into no "I".
class TurkishLocale {
  public:
    TurkishLocale() {
        const std::string command =
            "localedef -i tr_TR -f UTF-8 '" + folder_.str("tr_TR.UTF-8") + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        ::setenv("LOCPATH", folder_.str().c_str(), 1);
        active_ = std::setlocale(LC_ALL, "tr_TR.UTF-8") != nullptr;
    }
    ~TurkishLocale() {
        std::setlocale(LC_ALL, "C");
        ::unsetenv("LOCPATH");
    }
    TurkishLocale(const TurkishLocale&) = delete;
    TurkishLocale& operator=(const TurkishLocale&) = delete;
    // True when the locale is in force and its letter case is not ASCII's.
    bool active() const { return active_ && std::toupper('i') != 'I'; }

  private:
    TempDir folder_{"orvel-locale"};
    bool active_ = false;
};

TEST_F(DComProtocolTest, LetterCaseIsAsciiWhateverTheLocale) {
    TurkishLocale turkish;
    if (!turkish.active())
        GTEST_SKIP() << "the tr_TR.UTF-8 locale cannot be built here (localedef)";
    EXPECT_EQ(platform::ToAsciiUpper("ncacn_ip_tcp"), "NCACN_IP_TCP");
    EXPECT_TRUE(platform::EqualIgnoringAsciiCase("Orvel_Server.exe", "ORVEL_SERVER.EXE"));

    SeedList(MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp"}));
    dialogs.ExpectBox("DCom Protocol is Correct");
    mnuToolsDComProtocol_Click(context);
    EXPECT_TRUE(dialogs.ScriptDone());
}

TEST_F(DComProtocolTest, CorrectionMovesTcpFirstAndWritesTheListBackByteForByte) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_spx", "ncacn_ip_tcp"}));
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbYes)
        .ExpectBox("(DCom Protocol is Correct)", vbYes)
        .ExpectBox("Changes on next Reboot");

    mnuToolsDComProtocol_Click(context);

    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(dialogs.boxes[0].text,
              "DCom Protocol Stack\r\r1: ncadg_ip_udp\r2: ncacn_spx\r3: ncacn_ip_tcp (Should Be "
              "1st)\r\r\rCONFIGURATION ERROR\rDo you want 'Automatic Correction' of this error ?");
    EXPECT_EQ(dialogs.boxes[0].style, vbCritical + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(
        dialogs.boxes[1].text,
        "DCom Protocol Stack\r\r1: ncacn_ip_tcp\r2: ncacn_spx\r3: ncadg_ip_udp\r\r\rCONFIGURATION "
        "CHANGES\rDo you want to SAVE these changes ?");
    EXPECT_EQ(dialogs.boxes[1].style, vbQuestion + vbYesNo + vbDefaultButton2);
    EXPECT_EQ(List(),
              (RawValue{REG_MULTI_SZ, MultiSz({"ncacn_ip_tcp", "ncacn_spx", "ncadg_ip_udp"})}));
}

TEST_F(DComProtocolTest, SecondTcpEntryIsNeitherLostNorDuplicated) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp", "ncacn_spx", "NCACN_IP_TCP"}));
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbYes)
        .ExpectBox("(DCom Protocol is Correct)", vbYes)
        .ExpectBox("Changes on next Reboot");
    mnuToolsDComProtocol_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(List().bytes, MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp", "ncacn_spx", "NCACN_IP_TCP"}));
}

TEST_F(DComProtocolTest, ListWithoutTcpIsOfferedUnchanged) {
    const std::string list = MultiSz({"ncadg_ip_udp", "ncacn_spx"});
    SeedList(list);
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbYes)
        .ExpectBox("(DCom Protocol is Correct)", vbYes)
        .ExpectBox("Changes on next Reboot");
    mnuToolsDComProtocol_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    const std::string unchanged = "DCom Protocol Stack\r\r1: ncadg_ip_udp\r2: ncacn_spx\r";
    EXPECT_EQ(dialogs.boxes[1].text.substr(0, unchanged.size()), unchanged);
    EXPECT_EQ(List(), (RawValue{REG_MULTI_SZ, list}));
}

TEST_F(DComProtocolTest, AnswerNoWritesNothing) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp"}));
    const Snapshot before = TakeSnapshot(store);
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbNo);
    mnuToolsDComProtocol_Click(context);
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbYes)
        .ExpectBox("(DCom Protocol is Correct)", vbNo);
    mnuToolsDComProtocol_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(TakeSnapshot(store), before);
}

TEST_F(DComProtocolTest, MissingListIsARegistryError) {
    dialogs.ExpectBox("Registry Error");
    mnuToolsDComProtocol_Click(context);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes[0].text, "Unable to Locate DCom protocol in Registry");
    EXPECT_EQ(dialogs.boxes[0].style, vbExclamation);
}

TEST_F(DComProtocolTest, FailedWriteIsReportedInsteadOfTheRebootNotice) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp"}));
    const Snapshot before = TakeSnapshot(store);
    ReadOnlyStore readOnly{store};
    settings::RegistryContext readOnlyRegistry{readOnly, dialogs};
    DComContext readOnlyContext{readOnlyRegistry};
    dialogs.ExpectBox("DCom Protocol is NOT Correct", vbYes)
        .ExpectBox("(DCom Protocol is Correct)", vbYes)
        .ExpectBox("Registry Access")
        .ExpectBox("DCom Protocol NOT Saved");
    mnuToolsDComProtocol_Click(readOnlyContext);
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(dialogs.boxes.back().text,
              "Unable to save these values in the Registry:\r      DCOM Protocols\r\rThe "
              "Configuration is NOT corrected");
    EXPECT_EQ(TakeSnapshot(store), before);
}

TEST_F(DComProtocolTest, StoreFailureEndsBothChecksQuietly) {
    SeedList(MultiSz({"ncadg_ip_udp", "ncacn_ip_tcp"}));
    Seed(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", REG_SZ, Sz("Y"));
    StoreView failing{store};
    failing.throwOnQuery = true;
    settings::RegistryContext failingRegistry{failing, dialogs};
    DComContext failingContext{failingRegistry};
    EXPECT_NO_THROW(mnuToolsDComProtocol_Click(failingContext));
    EXPECT_NO_THROW(mnuToolsDComConfiguration_Click(failingContext));
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST(MachineDefaults, FreshStoreGetsTheOldPlatformsDefaults) {
    SqliteRegistry store{":memory:"};
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    const auto ole = [&](std::string_view name) {
        return Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\OLE", name);
    };
    EXPECT_EQ(ole("EnableDCom"), (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(ole("EnableRemoteConnect"), (RawValue{REG_SZ, Sz("N")}));
    EXPECT_EQ(ole("LegacyAuthenticationLevel"), (RawValue{REG_DWORD, Dword(2)}));
    EXPECT_EQ(ole("LegacyImpersonationLevel"), (RawValue{REG_DWORD, Dword(2)}));
    EXPECT_EQ(Read(store, HKEY_LOCAL_MACHINE, kRpc, "DCOM Protocols"),
              (RawValue{REG_MULTI_SZ, MultiSz({"ncacn_ip_tcp", "ncadg_ip_udp", "ncacn_spx",
                                               "ncacn_nb_nb", "ncacn_http"})}));

    // The protocol check finds the default list in order.
    FakeDialogs dialogs;
    settings::RegistryContext registryContext{store, dialogs};
    DComContext context{registryContext};
    dialogs.ExpectBox("DCom Protocol is Correct");
    mnuToolsDComProtocol_Click(context);
    EXPECT_TRUE(dialogs.ScriptDone());
}

TEST(MachineDefaults, ValuesAlreadyPresentAreKept) {
    SqliteRegistry store{":memory:"};
    Seed(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect", REG_SZ,
         Sz("Y"));
    Seed(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "LegacyImpersonationLevel", REG_SZ,
         Sz("3"));
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    EXPECT_EQ(Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect"),
              (RawValue{REG_SZ, Sz("Y")}));
    EXPECT_EQ(
        Read(store, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "LegacyImpersonationLevel"),
        (RawValue{REG_SZ, Sz("3")}));

    const Snapshot before = TakeSnapshot(store);
    ASSERT_EQ(suite::WriteMissingMachineDefaults(store), ERROR_SUCCESS);
    EXPECT_EQ(TakeSnapshot(store), before) << "a second run changes nothing";
}

TEST(MachineDefaults, StoreWithoutWriteRightsAnswersAccessDenied) {
    SqliteRegistry store{":memory:"};
    const Snapshot before = TakeSnapshot(store);
    ReadOnlyStore readOnly{store};
    EXPECT_EQ(suite::WriteMissingMachineDefaults(readOnly), ERROR_ACCESS_DENIED);
    EXPECT_EQ(TakeSnapshot(store), before);
}

}  // namespace
}  // namespace orvel::dcom

#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "FakeSuiteServer.h"
#include "status/ComponentStatus.h"
#include "status/IdentityPanel.h"
#include "status/ServerReferences.h"
#include "status/StatusPoll.h"
#include "suite/ServerName.h"

namespace orvel::status {
namespace {

// Every state code a slot can show, the derived ones (2, 10) and an unknown
// one included: the one place this table is tested.
TEST(ComponentStatusPaint, EveryStateCodeHasItsCaptionColoursAndTip) {
    const platform::RuntimeError callError = platform::MakeError(462);
    struct Case {
        std::int32_t code;
        const char* caption;
        WinColour back;
        WinColour text;
        const char* tip;
    };
    const Case cases[] = {
        {1, "LOCAL", kGreen, kBlack, "Click to Disconnect Journal Server"},
        {2, "( SRV )", kGreen, kBlack, "Click to Disconnect Journal Server"},
        {0, "Off Line", kBlack, kGreen, "Click to Connect Journal Server"},
        {-1, "Invalid Server", kBlack, kRed, "Journal Server is not supported"},
        {10, "DCom Error", kRed, kWhite,
         "Journal Error: The remote server machine does not exist or is unavailable (462:0x1CE)"},
        {256, "Not Registered", kBlack, kRed, "Journal Server is not Registered"},
        {257, "Registered", kBlack, kGreen, "Journal Server is Registered"},
        {513, "Server Not Available", kRed, kWhite, "Journal is not Available"},
        {77, "Invalid Status", kRed, kWhite, "Journal Server is not supported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto paint = PaintForStatus(c.code, "Journal", "SRV", callError);
        EXPECT_EQ(paint.caption, c.caption);
        EXPECT_EQ(paint.back, c.back);
        EXPECT_EQ(paint.text, c.text);
        EXPECT_EQ(paint.toolTip, c.tip);
        EXPECT_EQ(paint.rowVisible, c.code != -1);
        EXPECT_EQ(paint.rowEnabled, c.code != -1);
        EXPECT_EQ(paint.panelEnabled, c.code != 77);
    }
}

// References bind by host kind; a start shows the hourglass and gives the
// pointer back as it was; a missing remote or a strange kind clears them all.
TEST(ServerReferences, BindStartAndClearEverythingOnAStrangeKind) {
    ComponentServerTable table;
    FillComponentServerTable(table, "/suite/");
    auto local = std::make_shared<fakes::FakeSuiteServer>();
    std::shared_ptr<suiteclient::SuiteServer> l = local, none;
    std::shared_ptr<suiteclient::SuiteServer> r = std::make_shared<fakes::FakeSuiteServer>();

    EXPECT_TRUE(RefreshServerReferences(table, l, r));
    EXPECT_EQ(table[0].objServer, l);         // host kind 1
    EXPECT_EQ(table[3].objServer, r);         // host kind 2
    EXPECT_EQ(table[16].objServer, nullptr);  // unused

    fakes::FakeDialogs dialogs;
    dialogs.pointer = 99;
    EXPECT_EQ(StartComponentServer(table, 4, dialogs).value_or(0), 1);
    EXPECT_EQ(dialogs.pointer, 99);
    EXPECT_EQ(local->calls.back(), "StartComponent(4)");
    EXPECT_EQ(StartComponentServer(table, 16, dialogs).error().number, 91);  // unused slot
    EXPECT_FALSE(StopComponentServer(table, 20));

    EXPECT_FALSE(RefreshServerReferences(table, l, none));
    for (const auto& entry : table) EXPECT_EQ(entry.objServer, nullptr);

    table[5].intHostKind = 3;
    EXPECT_FALSE(RefreshServerReferences(table, l, r));
    for (const auto& entry : table) EXPECT_EQ(entry.objServer, nullptr);
}

TEST(IdentityPanel, CaptionsByPlatformAndVersion) {
    EXPECT_EQ(ServerOsCaption(0, 1, 2, 3), "Win");
    EXPECT_EQ(ServerOsCaption(1, 1, 2, 3), "WIN95/98");
    EXPECT_EQ(ServerOsCaption(7, 4, 0, 1381), "UnKnown");
    EXPECT_EQ(ReleaseText("short"), "");
    EXPECT_EQ(SelectionCaption(true, true, "X"), "Local Server");
    EXPECT_EQ(SelectionCaption(true, false, "X"), "Remote Server");
}

// The counter starts at 0, so the first tick runs phase 1; the tenth restarts
// it at -1, and from then on eleven ticks make one cycle. Phases by letter:
// Disconnect button, Host button release, Stop unneeded, Active set, Idle.
TEST(StatusPoll, ElevenTickCycleVisitsEachPhaseGroupAsOften) {
    std::int16_t counter = 0;
    std::string phases;
    for (int tick = 0; tick < 33; ++tick) {
        phases += "DHSAI"[static_cast<int>(AdvanceTickCounter(counter))];
    }
    EXPECT_EQ(phases,
              "HHDHSDAAAID"
              "HHDHSDAAAID"
              "HHDHSDAAAID");
}

TEST(ServerName, HostNamesAndIpv4AddressesOnly) {
    using suite::IsValidServerName;
    for (const char* good :
         {"SRV", "FILE-SERVER.CORP.LOCAL", "PC_01", "10.0.0.7", "A1", "255.255.255.255"}) {
        EXPECT_TRUE(IsValidServerName(good)) << good;
    }
    for (const char* bad :
         {"", "-SRV", "SRV-", "A..B", "SRV NAME", "10.0.0.256", "1.2.3", "\\\\SRV", "SRV;rm",
          "<b>X</b>", "SRV\r", "1.2.3.4.5", "..", "../up", "a/b"}) {
        EXPECT_FALSE(IsValidServerName(bad)) << bad;
    }
    EXPECT_TRUE(IsValidServerName(std::string(63, 'A') + "." + std::string(63, 'B')));
    EXPECT_FALSE(IsValidServerName(std::string(64, 'A')));
    const std::string label = std::string(63, 'A') + ".";
    EXPECT_FALSE(IsValidServerName((label + label + label + label).substr(0, 254)));
}

}  // namespace
}  // namespace orvel::status

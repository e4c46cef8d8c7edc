#include <QAccessible>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include "NetworkTestSupport.h"
#include "network/ui/frmIPAddress.h"

namespace orvel::network::testing {
namespace {

const QColor kRed(255, 0, 0);
const QColor kCyan(0, 255, 255);
const char* const kIni = "[NETWORK]\ncommunication_port=1F40\n";

// The dialog over stored settings; how they are loaded and saved is tested
// with the settings, the conversions with theirs. Here: what the form adds.
class SettingsDialog : public Installation {
  protected:
    void SetUp() override {
        Seed("Communication Port", DoubleWord(8000));
        Seed("Reboot Port", DoubleWord(8001));
        Seed("Base IP Address", String("10.20.0.0"));
        Seed("Multicast Interface", DoubleWord(0xC0A80A14));  // this computer
        Seed("Multicast Interface Secondary", DoubleWord(0x0A000063));
        Seed("Router 1", DoubleWord(0xFFFFFF00));
        Seed("Router 2", DoubleWord(0xC0A80001));
        WriteIni(kIni);
    }

    void Open() {
        dialog = std::make_unique<frmIPAddress>(registry, profile, fileSystem, systemInfo, dialogs,
                                                corvanePath);
        dialog->show();
        before = Values();
    }

    template <typename T = QLabel>
    T* Find(const char* name) {
        T* control = dialog->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    void Click(const char* name) { QTest::mouseClick(Find(name), Qt::LeftButton); }
    QString Text(const char* name) { return Find(name)->text(); }
    QColor Colour(const char* name) {
        return Find(name)->palette().color(QPalette::Active, QPalette::WindowText);
    }
    bool Ticked(const char* name) { return Find<QCheckBox>(name)->isChecked(); }
    void PressOk() { Find<QPushButton>("cmdOK")->click(); }
    // Changes the reboot port and answers the save question with Yes.
    void ChangeAndSave(bool withCloseBox = false) {
        dialogs.ExpectInput("1F44")
            .ExpectBox("Save Changes To Settings", platform::vbYes)
            .ExpectBox("Updated Information");
        Click("lblRebootPort");
        if (withCloseBox) {
            dialog->close();
        } else {
            PressOk();
        }
    }
    void ExpectNothingWritten() {
        EXPECT_EQ(Values(), before);
        EXPECT_EQ(ReadIni(), kIni);
    }

    ~SettingsDialog() override { EXPECT_TRUE(dialogs.ScriptDone()) << "boxes left unshown"; }

    std::unique_ptr<frmIPAddress> dialog;
    std::map<std::string, Stored> before;
};

TEST_F(SettingsDialog, OpensWithTheStoredSettingsAndOkWritesNothing) {
    Open();
    for (const auto& [name, text] :
         {std::pair{"lblCommunicationPort", "1F40"}, std::pair{"lblRebootPort", "1F41"},
          std::pair{"lblMultiCast", "192.168.10.20"},
          std::pair{"lblMulticastSecondary", "10.0.0.99"}, std::pair{"lblIPAddress", "10.20.0.0"},
          std::pair{"lblRouter1", "255.255.255.0"}, std::pair{"lblRouter2", "192.168.0.1"}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Text(name), text);
        EXPECT_EQ(Colour(name), kCyan);
        EXPECT_EQ(Find(name)->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(Ticked("chkMulticast"));
    EXPECT_FALSE(Ticked("chkMulticastSecondary"));
    EXPECT_FALSE(Find("lblMulticastSecondary")->isEnabled());

    // Opening ticked a box; that alone is no change, so OK asks nothing.
    PressOk();
    ExpectNothingWritten();
}

// A change shows red; Cancel, or No to the save question, writes nothing.
TEST_F(SettingsDialog, OnlyYesToTheSaveQuestionWritesTheChanges) {
    Open();
    dialogs.ExpectInput("1f42");
    Click("lblCommunicationPort");
    EXPECT_EQ(dialogs.inputs.at(0).text, "Enter the desired Communication Port (as HEX)");
    EXPECT_EQ(dialogs.inputDefaults.at(0), "1F40");
    EXPECT_EQ(Text("lblCommunicationPort"), "1F42");
    EXPECT_EQ(Colour("lblCommunicationPort"), kRed);
    EXPECT_EQ(Colour("lblRebootPort"), kCyan);
    Find<QPushButton>("cmdCancel")->click();
    ExpectNothingWritten();

    Open();
    dialogs.ExpectInput("abcd").ExpectBox("Save Changes To Settings", platform::vbNo);
    Click("lblRebootPort");
    PressOk();
    EXPECT_EQ(dialogs.boxes.at(0).text, "Save Changes to Settings ?");
    EXPECT_EQ(dialogs.boxes.at(0).style, platform::vbQuestion | platform::vbYesNo);
    ExpectNothingWritten();

    Open();
    dialogs.ExpectInput("192.168.0.254");
    Click("lblRouter2");
    EXPECT_EQ(dialogs.inputs.back().text,
              "Enter the desired IP Address using \rthe 'xxx.xxx.xxx.xxx' format");
    EXPECT_EQ(Colour("lblIPAddress"), kRed) << "the address frame is one change";
    ChangeAndSave();
    EXPECT_EQ(Values().at("Router 2"), DoubleWord(0xC0A800FE));
    EXPECT_EQ(Values().at("Reboot Port"), DoubleWord(0x1F44));
    EXPECT_NE(ReadIni().find("router2=192.168.0.254\n"), std::string::npos);
}

// A port of five or more characters is the form's own error; a shorter
// address than "x.x.x.x" is ignored; a rejected entry keeps the old value.
TEST_F(SettingsDialog, RejectedEntriesLeaveTheValues) {
    Open();
    struct Entry {
        const char* label;
        const char* input;
        const char* box;  // nullptr: none
        const char* shown;
    };
    for (const Entry& e : {Entry{"lblCommunicationPort", "10000", "Entry Error", "1F40"},
                           Entry{"lblRebootPort", "12G4", "funct_HexStringToLong", "1F41"},
                           Entry{"lblIPAddress", "1.2.3", nullptr, "10.20.0.0"},
                           Entry{"lblIPAddress", "1.2.3.4.5", "IP Address Error", "10.20.0.0"}}) {
        SCOPED_TRACE(e.input);
        dialogs.ExpectInput(e.input);
        if (e.box != nullptr) dialogs.ExpectBox(e.box);
        Click(e.label);
        EXPECT_EQ(Text(e.label), e.shown);
        EXPECT_EQ(Colour(e.label), kCyan);
    }
    EXPECT_EQ(dialogs.boxes.at(0).text, "Invalid HEX Port Address");
}

// Without a gateway the mask shows 0 and is locked (no click, key or
// accessible press edits it; the script fails on any input box), but a save
// of another value keeps the stored mask; a gateway entered unlocks it.
TEST_F(SettingsDialog, WithoutGatewayTheMaskIsLockedAndKept) {
    Seed("Router 2", DoubleWord(0));
    Open();
    EXPECT_EQ(Text("lblRouter1"), "0.0.0.0");
    EXPECT_FALSE(Find("lblRouter1")->isEnabled());
    Click("lblRouter1");
    QTest::keyClick(Find("lblRouter1"), Qt::Key_Space);
    QAccessibleActionInterface* mask =
        QAccessible::queryAccessibleInterface(Find("lblRouter1"))->actionInterface();
    EXPECT_FALSE(mask->actionNames().contains(QAccessibleActionInterface::pressAction()));
    mask->doAction(QAccessibleActionInterface::pressAction());
    ChangeAndSave();
    EXPECT_EQ(Values().at("Router 1"), DoubleWord(0xFFFFFF00));
    EXPECT_EQ(Values().at("Router 1 SZ"), String("255.255.255.0"));
    EXPECT_NE(ReadIni().find("router1=255.255.255.0\n"), std::string::npos);

    Open();
    dialogs.ExpectInput("10.0.0.1").ExpectInput("255.0.0.0");
    Click("lblRouter2");
    Click("lblRouter1");
    EXPECT_EQ(Text("lblRouter1"), "255.0.0.0");
}

// Emptying the secondary address returns to this computer's own interface
// (saved with no secondary), unless it has no address: then no primary
// interface can be chosen at all.
TEST_F(SettingsDialog, EmptiedSecondaryReturnsToPrimaryOnlyWithAnOwnAddress) {
    for (const bool own : {true, false}) {
        SCOPED_TRACE(own ? "own address" : "no own address");
        if (!own) systemInfo.ipAddresses.clear();
        Open();
        EXPECT_EQ(Find<QCheckBox>("chkMulticast")->isEnabled(), own);
        Find<QCheckBox>("chkMulticastSecondary")->setChecked(true);
        EXPECT_FALSE(Ticked("chkMulticast"));
        EXPECT_FALSE(Find("lblMultiCast")->isEnabled());
        dialogs.ExpectInput("");
        Click("lblMulticastSecondary");
        EXPECT_EQ(Text("lblMulticastSecondary"), "Not Available");
        EXPECT_EQ(Ticked("chkMulticast"), own);
        EXPECT_EQ(Ticked("chkMulticastSecondary"), !own);
        EXPECT_EQ(Text("lblMultiCast"), own ? "192.168.10.20" : "Not Available");
        if (own) {
            ChangeAndSave();
            EXPECT_EQ(Values().at("Multicast Interface"), DoubleWord(0xC0A80A14));
            EXPECT_EQ(Values().at("Multicast Interface Secondary"), DoubleWord(0));
        }
    }
    EXPECT_EQ(dialogs.inputDefaults.at(0), "10.0.0.99");
}

// With neither box ticked the secondary interface is saved.
TEST_F(SettingsDialog, BothBoxesUntickedSavesTheSecondary) {
    Open();
    Find<QCheckBox>("chkMulticast")->click();
    EXPECT_FALSE(Ticked("chkMulticast") || Ticked("chkMulticastSecondary"));
    ChangeAndSave(true);  // the close box runs the same closing step
    EXPECT_EQ(Values().at("Multicast Interface"), DoubleWord(0x0A000063));
    EXPECT_NE(ReadIni().find("multicast_interface=10.0.0.99\n"), std::string::npos);
}

// Keyboard and screen-reader users reach every value a mouse user can.
TEST_F(SettingsDialog, ValuesAreReachedByKeyboardAndAccessibility) {
    Open();
    for (const char* value : {"lblCommunicationPort", "lblRebootPort", "lblMulticastSecondary",
                              "lblIPAddress", "lblRouter1", "lblRouter2"}) {
        EXPECT_TRUE(Find(value)->focusPolicy() & Qt::TabFocus) << value;
    }
    dialogs.ExpectInput("1f42").ExpectInput("1f43").ExpectInput("192.168.0.254");
    QTest::keyClick(Find("lblCommunicationPort"), Qt::Key_Space);
    EXPECT_EQ(Text("lblCommunicationPort"), "1F42");
    QTest::keyClick(Find("lblRebootPort"), Qt::Key_Return);
    EXPECT_EQ(Text("lblRebootPort"), "1F43");

    // Every value is read as what it is (the name) and the value itself (value
    // and description, the latter being what the accessibility bus carries).
    const std::pair<const char*, const char*> values[] = {
        {"lblCommunicationPort", "Corvane Communication Port (HEX)"},
        {"lblRebootPort", "Corvane Reboot Port (HEX)"},
        {"lblMultiCast", "Primary Multicast Interface"},
        {"lblMulticastSecondary", "Secondary Multicast Interface"},
        {"lblIPAddress", "Base IP Address"},
        {"lblRouter1", "Subnet Mask"},
        {"lblRouter2", "Gateway"}};
    for (const auto& [value, name] : values) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(Find(value));
        ASSERT_NE(accessible, nullptr) << value;
        EXPECT_EQ(accessible->text(QAccessible::Name), name) << value;
        EXPECT_EQ(accessible->text(QAccessible::Value), Text(value)) << value;
        EXPECT_EQ(accessible->text(QAccessible::Description), Text(value)) << value;
    }
    EXPECT_EQ(Text("lblCommunicationPort"), "1F42");
    EXPECT_EQ(Text("lblMultiCast"), "192.168.10.20");

    QAccessibleInterface* gateway = QAccessible::queryAccessibleInterface(Find("lblRouter2"));
    EXPECT_EQ(gateway->role(), QAccessible::Button);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Find("lblMultiCast"))->role(),
              QAccessible::StaticText);
    ASSERT_NE(gateway->actionInterface(), nullptr);
    gateway->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(gateway->text(QAccessible::Description), "192.168.0.254");
}

// No base address shows as such (a save keeps it so, as the settings tests
// check); an address entered makes it valid and is written.
TEST_F(SettingsDialog, MissingBaseAddressIsWrittenOnceEntered) {
    Seed("Base IP Address", String(""));
    Open();
    EXPECT_EQ(Text("lblIPAddress"), "Not Available");
    dialogs.ExpectInput("10.1.0.0");
    Click("lblIPAddress");
    ChangeAndSave();
    EXPECT_EQ(Values().at("Base IP Address"), String("10.1.0.0"));
    EXPECT_EQ(Values().at("Base IP Address DW"), DoubleWord(0x0A010000));
}

}  // namespace
}  // namespace orvel::network::testing

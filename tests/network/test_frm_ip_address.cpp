#include <algorithm>

#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include "NetworkTestSupport.h"
#include "network/ui/frmIPAddress.h"

namespace orvel::network::testing {
namespace {

const QColor kRed(255, 0, 0);
const QColor kCyan(0, 255, 255);

TEST(WindowsColor, ChannelsComeInBlueGreenRedOrder) {
    EXPECT_EQ(WindowsColor(kColorRed), kRed);
    EXPECT_EQ(WindowsColor(kColorCyan), kCyan);
    EXPECT_EQ(WindowsColor(0x00332211), QColor(0x11, 0x22, 0x33));
}

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
        WriteIni("[NETWORK]\ncommunication_port=1F40\n");
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
    void Press(const char* button) { Find<QPushButton>(button)->click(); }
    void AnswerSave() {
        dialogs.ExpectBox("Save Changes To Settings", platform::vbYes)
            .ExpectBox("Updated Information");
    }
    void ExpectNothingWritten() {
        EXPECT_EQ(Values(), before);
        EXPECT_EQ(ReadIni(), "[NETWORK]\ncommunication_port=1F40\n");
    }

    std::unique_ptr<frmIPAddress> dialog;
    std::map<std::string, Stored> before;
};

TEST_F(SettingsDialog, OpensWithTheStoredSettingsAndOkWritesNothing) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "Corvane Settings");
    EXPECT_EQ(Find<QGroupBox>("fraCommunicationPort")->title(), "Co&mmunication Port");
    EXPECT_EQ(Find<QGroupBox>("fraRebootPort")->toolTip(), "Corvane Reboot Port (HEX)");
    EXPECT_EQ(Text("lblInstruction"), "Click on item to change");
    struct Shown {
        const char* name;
        const char* text;
        const char* toolTip;
    };
    for (const Shown& shown :
         {Shown{"lblCommunicationPort", "1F40", "Corvane Communication Port (HEX)"},
          Shown{"lblRebootPort", "1F41", "Corvane Reboot Port (HEX)"},
          Shown{"lblMultiCast", "192.168.10.20", "Primary Multicast Interface"},
          Shown{"lblMulticastSecondary", "10.0.0.99", "Secondary Multicast Interface"},
          Shown{"lblIPAddress", "10.20.0.0", "IPAddress"},
          Shown{"lblRouter1", "255.255.255.0", "Subnet Mask"},
          Shown{"lblRouter2", "192.168.0.1", "Gateway"}}) {
        EXPECT_EQ(Text(shown.name), shown.text);
        EXPECT_EQ(Find(shown.name)->toolTip(), shown.toolTip);
        EXPECT_EQ(Colour(shown.name), kCyan) << shown.name;
        EXPECT_EQ(Find(shown.name)->palette().color(QPalette::Window), QColor(0, 0, 0));
        EXPECT_EQ(Find(shown.name)->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(Ticked("chkMulticast"));
    EXPECT_FALSE(Ticked("chkMulticastSecondary"));
    EXPECT_FALSE(Find("lblMulticastSecondary")->isEnabled());

    // Opening ticked a box; that alone is no change, so OK asks nothing.
    Press("cmdOK");
    EXPECT_TRUE(dialogs.boxes.empty());
    ExpectNothingWritten();
}

TEST_F(SettingsDialog, PortChangeThenCancelWritesNothing) {
    Open();
    dialogs.ExpectInput("1f42");
    Click("lblCommunicationPort");
    EXPECT_EQ(dialogs.inputs.at(0).text, "Enter the desired Communication Port (as HEX)");
    EXPECT_EQ(dialogs.inputDefaults.at(0), "1F40");
    EXPECT_EQ(Text("lblCommunicationPort"), "1F42");
    EXPECT_EQ(Colour("lblCommunicationPort"), kRed);
    EXPECT_EQ(Colour("lblRebootPort"), kCyan);

    Press("cmdCancel");
    EXPECT_TRUE(dialogs.boxes.empty());
    ExpectNothingWritten();
}

TEST_F(SettingsDialog, SaveQuestionNoWritesNothingYesWritesBoth) {
    Open();
    dialogs.ExpectInput("abcd").ExpectBox("Save Changes To Settings", platform::vbNo);
    Click("lblRebootPort");
    Press("cmdOK");
    EXPECT_EQ(dialogs.boxes.at(0).text, "Save Changes to Settings ?");
    EXPECT_EQ(dialogs.boxes.at(0).style, platform::vbQuestion | platform::vbYesNo);
    ExpectNothingWritten();

    Open();
    dialogs.ExpectInput("192.168.0.254").ExpectInput("2000");
    AnswerSave();
    Click("lblRouter2");
    EXPECT_EQ(dialogs.inputs.back().text,
              "Enter the desired IP Address using \rthe 'xxx.xxx.xxx.xxx' format");
    Click("lblCommunicationPort");
    EXPECT_EQ(Colour("lblIPAddress"), kRed);
    Press("cmdOK");
    EXPECT_TRUE(dialogs.ScriptDone());

    EXPECT_EQ(Values().at("Router 2"), DoubleWord(0xC0A800FE));
    EXPECT_EQ(Values().at("Communication Port"), DoubleWord(0x2000));
    EXPECT_EQ(ReadIni(),
              "[NETWORK]\ncommunication_port=2000\nbase_ip_address=10.20.0.0\n"
              "multicast_interface=192.168.10.20\nreboot_port=1F41\nrouter1=255.255.255.0\n"
              "router2=192.168.0.254\n");
}

TEST_F(SettingsDialog, RejectedEntriesLeaveTheValuesAndBroadcastIsAccepted) {
    Open();
    dialogs.ExpectInput("10000").ExpectBox("Entry Error");
    dialogs.ExpectInput("12G4").ExpectBox("funct_HexStringToLong");
    dialogs.ExpectInput("1.2.3").ExpectInput("1.2.3.4.5").ExpectBox("IP Address Error");
    Click("lblCommunicationPort");
    EXPECT_EQ(dialogs.boxes.back().text, "Invalid HEX Port Address");
    Click("lblRebootPort");
    Click("lblIPAddress");
    Click("lblIPAddress");
    EXPECT_EQ(Text("lblCommunicationPort"), "1F40");
    EXPECT_EQ(Text("lblRebootPort"), "1F41");
    EXPECT_EQ(Text("lblIPAddress"), "10.20.0.0");
    EXPECT_EQ(Colour("lblIPAddress"), kCyan);

    dialogs.ExpectInput("255.255.255.255");
    Click("lblRouter1");
    EXPECT_EQ(Text("lblRouter1"), "255.255.255.255");
    EXPECT_EQ(dialog->Settings().lngRouter1, -1);
}

TEST_F(SettingsDialog, WithoutGatewayTheSubnetMaskIsZeroAndLocked) {
    Seed("Router 2", DoubleWord(0));
    Open();
    EXPECT_EQ(Text("lblRouter1"), "0.0.0.0");
    Click("lblRouter1");  // disabled: no input box, or the script fails

    dialogs.ExpectInput("10.0.0.1").ExpectInput("255.0.0.0");
    Click("lblRouter2");
    Click("lblRouter1");
    EXPECT_EQ(Text("lblRouter1"), "255.0.0.0");
}

// The mask is shown as 0 and locked, but a save of another value keeps it.
TEST_F(SettingsDialog, WithoutGatewayTheStoredMaskSurvivesASave) {
    Seed("Router 2", DoubleWord(0));
    Open();
    EXPECT_EQ(Text("lblRouter1"), "0.0.0.0");
    EXPECT_FALSE(Find("lblRouter1")->isEnabled());
    dialogs.ExpectInput("1F44");
    AnswerSave();
    Click("lblRebootPort");
    Press("cmdOK");
    EXPECT_EQ(Values().at("Router 1"), DoubleWord(0xFFFFFF00));
    EXPECT_EQ(Values().at("Router 1 SZ"), String("255.255.255.0"));
    EXPECT_NE(ReadIni().find("router1=255.255.255.0\n"), std::string::npos);
}

// Without an address of its own the computer offers no primary interface.
TEST_F(SettingsDialog, WithoutOwnAddressPrimaryCannotBeChosen) {
    systemInfo.ipAddresses.clear();
    Open();
    EXPECT_FALSE(Find<QCheckBox>("chkMulticast")->isEnabled());
    EXPECT_FALSE(Ticked("chkMulticast"));
    EXPECT_TRUE(Ticked("chkMulticastSecondary"));
    EXPECT_EQ(Text("lblMultiCast"), "Not Available");

    // Emptying the secondary address cannot fall back to a primary one.
    dialogs.ExpectInput("");
    Click("lblMulticastSecondary");
    EXPECT_FALSE(Ticked("chkMulticast"));
    EXPECT_EQ(Text("lblMulticastSecondary"), "Not Available");
}

// Keyboard and screen-reader users reach every value a mouse user can.
TEST_F(SettingsDialog, ValuesAreReachedByKeyboardAndAccessibility) {
    Open();
    dialog->activateWindow();
    std::vector<std::string> chain;
    QWidget* widget = dialog.get();
    do {
        widget = widget->nextInFocusChain();
        if (widget->focusPolicy() & Qt::TabFocus)
            chain.push_back(widget->objectName().toStdString());
    } while (widget != dialog.get());
    for (const char* value : {"lblCommunicationPort", "lblRebootPort", "lblMulticastSecondary",
                              "lblIPAddress", "lblRouter1", "lblRouter2"}) {
        EXPECT_NE(std::find(chain.begin(), chain.end(), value), chain.end()) << value;
    }

    dialogs.ExpectInput("1f42").ExpectInput("1f43");
    QTest::keyClick(Find("lblCommunicationPort"), Qt::Key_Space);
    EXPECT_EQ(Text("lblCommunicationPort"), "1F42");
    QTest::keyClick(Find("lblRebootPort"), Qt::Key_Return);
    EXPECT_EQ(Text("lblRebootPort"), "1F43");

    QAccessibleInterface* gateway = QAccessible::queryAccessibleInterface(Find("lblRouter2"));
    ASSERT_NE(gateway, nullptr);
    EXPECT_EQ(gateway->role(), QAccessible::Button);
    EXPECT_EQ(gateway->text(QAccessible::Name), "Gateway");
    EXPECT_EQ(gateway->text(QAccessible::Value), "192.168.0.1");
    ASSERT_NE(gateway->actionInterface(), nullptr);
    dialogs.ExpectInput("192.168.0.254");
    gateway->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(Text("lblRouter2"), "192.168.0.254");

    // A locked value offers no press action and ignores the keys.
    Seed("Router 2", DoubleWord(0));
    dialog.reset();
    Open();
    QAccessibleInterface* mask = QAccessible::queryAccessibleInterface(Find("lblRouter1"));
    EXPECT_FALSE(
        mask->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    mask->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTest::keyClick(Find("lblRouter1"), Qt::Key_Space);
    EXPECT_TRUE(dialogs.ScriptDone());
}

TEST_F(SettingsDialog, SecondaryAddressCancelReturnsToPrimary) {
    Open();
    Find<QCheckBox>("chkMulticastSecondary")->click();
    EXPECT_FALSE(Ticked("chkMulticast"));
    EXPECT_FALSE(Find("lblMultiCast")->isEnabled());

    dialogs.ExpectInput("");
    Click("lblMulticastSecondary");
    EXPECT_EQ(dialogs.inputs.at(0).title, "Multicast Interface");
    EXPECT_EQ(dialogs.inputDefaults.at(0), "10.0.0.99");
    EXPECT_EQ(Text("lblMulticastSecondary"), "Not Available");
    EXPECT_TRUE(Ticked("chkMulticast"));
    EXPECT_FALSE(Ticked("chkMulticastSecondary"));

    AnswerSave();
    Press("cmdOK");
    EXPECT_EQ(Values().at("Multicast Interface"), DoubleWord(0xC0A80A14));
    EXPECT_EQ(Values().at("Multicast Interface Secondary"), DoubleWord(0));
}

TEST_F(SettingsDialog, BothBoxesUntickedSavesTheSecondary) {
    Open();
    Find<QCheckBox>("chkMulticast")->click();
    EXPECT_FALSE(Ticked("chkMulticast") || Ticked("chkMulticastSecondary"));

    dialogs.ExpectInput("1F44");
    AnswerSave();
    Click("lblRebootPort");
    dialog->close();  // the close box runs the same closing step
    EXPECT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(Values().at("Multicast Interface"), DoubleWord(0x0A000063));
    EXPECT_NE(ReadIni().find("multicast_interface=10.0.0.99\n"), std::string::npos);
}

TEST_F(SettingsDialog, MissingBaseAddressIsNotInventedOnSave) {
    platform::HKEY key = 0;
    store.RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, kNetworkKey, 0, platform::KEY_ALL_ACCESS,
                        &key);
    store.RegDeleteValueA(key, "Base IP Address");
    store.RegCloseKey(key);
    Open();
    EXPECT_EQ(Text("lblIPAddress"), "Not Available");

    dialogs.ExpectInput("1F44");
    AnswerSave();
    Click("lblRebootPort");
    Press("cmdOK");
    EXPECT_EQ(Values().count("Base IP Address") + Values().count("Base IP Address DW"), 0u);
    EXPECT_EQ(ReadIni().find("base_ip_address"), std::string::npos);

    Open();
    dialogs.ExpectInput("10.1.0.0");
    AnswerSave();
    Click("lblIPAddress");
    Press("cmdOK");
    EXPECT_EQ(Values().at("Base IP Address"), String("10.1.0.0"));
    EXPECT_EQ(Values().at("Base IP Address DW"), DoubleWord(0x0A010000));
}

}  // namespace
}  // namespace orvel::network::testing

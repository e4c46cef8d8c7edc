#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "NetworkTestSupport.h"
#include "network/ui/frmIPAddress.h"

namespace orvel::network::testing {
namespace {

const QColor kRed(255, 0, 0);
const QColor kCyan(0, 255, 255);
const QColor kBlack(0, 0, 0);

QColor TextColour(QLabel* label) {
    return label->palette().color(QPalette::Active, QPalette::WindowText);
}

TEST(WindowsColor, ChannelsComeFromBlueGreenRedOrder) {
    EXPECT_EQ(WindowsColor(kColorRed), kRed);
    EXPECT_EQ(WindowsColor(kColorCyan), kCyan);
    EXPECT_EQ(WindowsColor(65535), QColor(255, 255, 0));  // yellow
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
        before = Stored();
    }

    template <typename T = QLabel>
    T* Find(const char* name) {
        T* control = dialog->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void Click(const char* name) { QTest::mouseClick(Find<QLabel>(name), Qt::LeftButton); }
    QString LabelText(const char* name) { return Find<QLabel>(name)->text(); }
    void Press(const char* button) { Find<QPushButton>(button)->click(); }

    void ExpectNothingWritten() {
        EXPECT_EQ(Stored(), before);
        EXPECT_EQ(ReadIni(), "[NETWORK]\ncommunication_port=1F40\n");
    }

    std::unique_ptr<frmIPAddress> dialog;
    std::map<std::string, StoredValue> before;
};

TEST_F(SettingsDialog, OpensWithTheStoredSettings) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "Corvane Settings");
    EXPECT_EQ(Find<QGroupBox>("fraCommunicationPort")->title(), "Co&mmunication Port");
    EXPECT_EQ(Find<QGroupBox>("fraCommunicationPort")->toolTip(),
              "Corvane Communication Port (HEX)");
    EXPECT_EQ(Find<QGroupBox>("fraRebootPort")->title(), "&Reboot Port");
    EXPECT_EQ(Find<QGroupBox>("fraMultiCast")->title(), "Multicast Interface Address");
    EXPECT_EQ(Find<QGroupBox>("fraRouters")->title(), "IP Addresses");
    EXPECT_EQ(LabelText("lblInstruction"), "Click on item to change");
    EXPECT_EQ(LabelText("lblBaseIpAddress"), "Base IP Address");
    EXPECT_EQ(LabelText("Label4"), "Subnet Mask");
    EXPECT_EQ(LabelText("Label3"), "Gateway");
    EXPECT_EQ(Find<QPushButton>("cmdOK")->text(), "&OK");
    EXPECT_EQ(Find<QPushButton>("cmdCancel")->text(), "&Cancel");

    EXPECT_EQ(LabelText("lblCommunicationPort"), "1F40");
    EXPECT_EQ(LabelText("lblRebootPort"), "1F41");
    EXPECT_EQ(LabelText("lblMultiCast"), "192.168.10.20");
    EXPECT_EQ(LabelText("lblMulticastSecondary"), "10.0.0.99");
    EXPECT_EQ(LabelText("lblIPAddress"), "10.20.0.0");
    EXPECT_EQ(LabelText("lblRouter1"), "255.255.255.0");
    EXPECT_EQ(LabelText("lblRouter2"), "192.168.0.1");
    EXPECT_EQ(Find("lblRebootPort")->toolTip(), "Corvane Reboot Port (HEX)");
    EXPECT_EQ(Find("lblIPAddress")->toolTip(), "IPAddress");
    EXPECT_EQ(Find("lblMulticastSecondary")->toolTip(), "Secondary Multicast Interface");

    EXPECT_TRUE(Find<QCheckBox>("chkMulticast")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkMulticastSecondary")->isChecked());
    EXPECT_TRUE(Find("lblMultiCast")->isEnabled());
    EXPECT_FALSE(Find("lblMulticastSecondary")->isEnabled());
    for (const char* name : {"lblCommunicationPort", "lblRebootPort", "lblMultiCast",
                             "lblMulticastSecondary", "lblIPAddress", "lblRouter1", "lblRouter2"}) {
        EXPECT_EQ(TextColour(Find(name)), kCyan) << name;
        EXPECT_EQ(Find(name)->palette().color(QPalette::Window), kBlack) << name;
        EXPECT_EQ(Find(name)->textFormat(), Qt::PlainText) << name;
    }

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
    EXPECT_EQ(dialogs.inputs.at(0).title, "Communication Port");
    EXPECT_EQ(dialogs.inputDefaults.at(0), "1F40");
    EXPECT_EQ(LabelText("lblCommunicationPort"), "1F42");
    EXPECT_EQ(TextColour(Find("lblCommunicationPort")), kRed);
    EXPECT_EQ(TextColour(Find("lblRebootPort")), kCyan);

    Press("cmdCancel");
    EXPECT_TRUE(dialogs.boxes.empty());
    ExpectNothingWritten();
}

TEST_F(SettingsDialog, SaveQuestionNoWritesNothingYesWritesBoth) {
    Open();
    dialogs.ExpectInput("abcd").ExpectBox("Save Changes To Settings", platform::vbNo);
    Click("lblRebootPort");
    EXPECT_EQ(dialogs.inputs.at(0).title, "Reboot Port");
    Press("cmdOK");
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "Save Changes to Settings ?");
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbQuestion | platform::vbYesNo);
    ExpectNothingWritten();

    Open();
    dialogs.ExpectInput("192.168.0.254").ExpectInput("2000");
    dialogs.ExpectBox("Save Changes To Settings", platform::vbYes).ExpectBox("Updated Information");
    Click("lblRouter2");
    EXPECT_EQ(dialogs.inputs.back().text,
              "Enter the desired IP Address using \rthe 'xxx.xxx.xxx.xxx' format");
    EXPECT_EQ(dialogs.inputDefaults.back(), "192.168.0.1");
    Click("lblCommunicationPort");
    EXPECT_EQ(TextColour(Find("lblRouter2")), kRed);
    EXPECT_EQ(TextColour(Find("lblIPAddress")), kRed);
    Press("cmdOK");
    EXPECT_TRUE(dialogs.ScriptDone());

    const auto stored = Stored();
    EXPECT_EQ(stored.at("Router 2"), DoubleWord(0xC0A800FE));
    EXPECT_EQ(stored.at("Router 2 SZ"), String("192.168.0.254"));
    EXPECT_EQ(stored.at("Communication Port"), DoubleWord(0x2000));
    EXPECT_EQ(stored.at("Reboot Port"), DoubleWord(8001));
    EXPECT_EQ(ReadIni(),
              "[NETWORK]\ncommunication_port=2000\nbase_ip_address=10.20.0.0\n"
              "multicast_interface=192.168.10.20\nreboot_port=1F41\nrouter1=255.255.255.0\n"
              "router2=192.168.0.254\n");
}

TEST_F(SettingsDialog, RejectedEntriesLeaveTheValues) {
    Open();
    dialogs.ExpectInput("10000").ExpectBox("Entry Error");
    dialogs.ExpectInput("12G4").ExpectBox("funct_HexStringToLong");
    dialogs.ExpectInput("").ExpectInput("1.2.3");
    dialogs.ExpectInput("1.2.3.4.5").ExpectBox("IP Address Error");
    Click("lblCommunicationPort");
    EXPECT_EQ(dialogs.boxes.back().text, "Invalid HEX Port Address");
    Click("lblRebootPort");
    Click("lblRebootPort");
    Click("lblIPAddress");
    Click("lblIPAddress");
    EXPECT_TRUE(dialogs.ScriptDone());
    EXPECT_EQ(LabelText("lblCommunicationPort"), "1F40");
    EXPECT_EQ(LabelText("lblRebootPort"), "1F41");
    EXPECT_EQ(LabelText("lblIPAddress"), "10.20.0.0");
    EXPECT_EQ(TextColour(Find("lblIPAddress")), kCyan);

    Press("cmdOK");  // nothing changed: no question
    ExpectNothingWritten();
}

TEST_F(SettingsDialog, BroadcastAddressCanBeEntered) {
    Open();
    dialogs.ExpectInput("255.255.255.255");
    Click("lblRouter1");
    EXPECT_EQ(LabelText("lblRouter1"), "255.255.255.255");
    EXPECT_EQ(TextColour(Find("lblRouter1")), kRed);
    EXPECT_EQ(dialog->Settings().lngRouter1, -1);
}

TEST_F(SettingsDialog, WithoutGatewayTheSubnetMaskIsZeroAndLocked) {
    Seed("Router 2", DoubleWord(0));
    Open();
    EXPECT_EQ(LabelText("lblRouter1"), "0.0.0.0");
    EXPECT_FALSE(Find("lblRouter1")->isEnabled());
    Click("lblRouter1");  // no input box: the script would fail on one

    dialogs.ExpectInput("10.0.0.1").ExpectInput("255.0.0.0");
    Click("lblRouter2");
    EXPECT_TRUE(Find("lblRouter1")->isEnabled());
    Click("lblRouter1");
    EXPECT_EQ(LabelText("lblRouter1"), "255.0.0.0");
}

TEST_F(SettingsDialog, SecondaryAddressCancelReturnsToPrimary) {
    Open();
    Find<QCheckBox>("chkMulticastSecondary")->click();
    EXPECT_FALSE(Find<QCheckBox>("chkMulticast")->isChecked());
    EXPECT_TRUE(Find("lblMulticastSecondary")->isEnabled());
    EXPECT_FALSE(Find("lblMultiCast")->isEnabled());

    dialogs.ExpectInput("");
    Click("lblMulticastSecondary");
    EXPECT_EQ(dialogs.inputs.at(0).text, "Enter the Desired MultiCast IPAddress");
    EXPECT_EQ(dialogs.inputs.at(0).title, "Multicast Interface");
    EXPECT_EQ(dialogs.inputDefaults.at(0), "10.0.0.99");
    EXPECT_EQ(LabelText("lblMulticastSecondary"), "Not Available");
    EXPECT_TRUE(Find<QCheckBox>("chkMulticast")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkMulticastSecondary")->isChecked());
    EXPECT_FALSE(Find("lblMulticastSecondary")->isEnabled());

    dialogs.ExpectBox("Save Changes To Settings", platform::vbYes).ExpectBox("Updated Information");
    Press("cmdOK");
    const auto stored = Stored();
    EXPECT_EQ(stored.at("Multicast Interface"), DoubleWord(0xC0A80A14));
    EXPECT_EQ(stored.at("Multicast Interface Secondary"), DoubleWord(0));
    EXPECT_EQ(stored.at("Multicast Interface Secondary SZ"), String("0.0.0.0"));
}

TEST_F(SettingsDialog, BothBoxesUntickedSavesTheSecondary) {
    Open();
    Find<QCheckBox>("chkMulticast")->click();
    EXPECT_FALSE(Find<QCheckBox>("chkMulticast")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkMulticastSecondary")->isChecked());

    dialogs.ExpectInput("1F44");
    dialogs.ExpectBox("Save Changes To Settings", platform::vbYes).ExpectBox("Updated Information");
    Click("lblRebootPort");
    dialog->close();  // the close box runs the same closing step
    EXPECT_TRUE(dialogs.ScriptDone());

    const auto stored = Stored();
    EXPECT_EQ(stored.at("Multicast Interface"), DoubleWord(0x0A000063));
    EXPECT_EQ(stored.at("Multicast Interface SZ"), String("10.0.0.99"));
    EXPECT_EQ(stored.at("Reboot Port"), DoubleWord(0x1F44));
    EXPECT_NE(ReadIni()->find("multicast_interface=10.0.0.99\n"), std::string::npos);
}

TEST_F(SettingsDialog, MissingBaseAddressIsNotInventedOnSave) {
    HKEY key = 0;
    store->RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, kNetworkKey, 0, platform::KEY_ALL_ACCESS,
                         &key);
    store->RegDeleteValueA(key, "Base IP Address");
    store->RegCloseKey(key);
    Open();
    EXPECT_EQ(LabelText("lblIPAddress"), "Not Available");

    dialogs.ExpectInput("1F44");
    dialogs.ExpectBox("Save Changes To Settings", platform::vbYes).ExpectBox("Updated Information");
    Click("lblRebootPort");
    Press("cmdOK");
    EXPECT_EQ(Stored().count("Base IP Address"), 0u);
    EXPECT_EQ(Stored().count("Base IP Address DW"), 0u);
    EXPECT_EQ(ReadIni()->find("base_ip_address"), std::string::npos);

    Open();
    dialogs.ExpectInput("10.1.0.0");
    dialogs.ExpectBox("Save Changes To Settings", platform::vbYes).ExpectBox("Updated Information");
    Click("lblIPAddress");
    EXPECT_EQ(dialogs.inputDefaults.back(), "");
    Press("cmdOK");
    EXPECT_EQ(Stored().at("Base IP Address"), String("10.1.0.0"));
    EXPECT_EQ(Stored().at("Base IP Address DW"), DoubleWord(0x0A010000));
}

}  // namespace
}  // namespace orvel::network::testing

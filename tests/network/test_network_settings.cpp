#include "NetworkTestSupport.h"
#include "network/AddressConversion.h"

namespace orvel::network::testing {
namespace {

class NetworkStore : public Installation {
  protected:
    NetworkContext context{registry, profile, fileSystem, systemInfo, corvanePath};
};

TEST_F(NetworkStore, LoadWithThisComputersInterfaceTicksPrimary) {
    Seed("Reboot Port", DoubleWord(8001));
    Seed("Communication Port", DoubleWord(8000));
    Seed("Base IP Address", String("10.20.0.0"));
    Seed("Base IP Address DW", DoubleWord(0x01020304));   // only ever written, never read
    Seed("Multicast Interface", DoubleWord(0xC0A80A14));  // 192.168.10.20, this computer
    Seed("Multicast Interface Secondary", DoubleWord(0x0A000063));
    Seed("Router 1", DoubleWord(0xFFFFFF00));
    Seed("Router 2", DoubleWord(0xC0A80001));

    NetworkSettings settings;
    EXPECT_EQ(LoadNetworkSettings(context, settings), MulticastChoice::Primary);
    EXPECT_EQ(settings.lngRebootPort, 8001);
    EXPECT_EQ(settings.lngCommunicationPort, 8000);
    EXPECT_TRUE(settings.baseIPAddressValid);
    EXPECT_EQ(funct_LongToIPString(settings.lngBaseIPAddress), "10.20.0.0");
    EXPECT_EQ(funct_LongToIPString(settings.lngMulticastInterface), "192.168.10.20");
    EXPECT_EQ(funct_LongToIPString(settings.lngMulticastSecondary), "10.0.0.99");
    EXPECT_EQ(funct_LongToIPString(settings.lngRouter1), "255.255.255.0");
    EXPECT_EQ(funct_LongToIPString(settings.lngRouter2), "192.168.0.1");
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(NetworkStore, LoadWithAnotherInterfaceShowsItAsTheSecondary) {
    Seed("Multicast Interface", DoubleWord(0x0A000001));
    Seed("Multicast Interface Secondary", DoubleWord(0x0A000063));

    NetworkSettings settings;
    EXPECT_EQ(LoadNetworkSettings(context, settings), MulticastChoice::Secondary);
    EXPECT_EQ(funct_LongToIPString(settings.lngMulticastSecondary), "10.0.0.1");
    EXPECT_EQ(funct_LongToIPString(settings.lngMulticastInterface), "192.168.10.20");
}

TEST_F(NetworkStore, LoadFromAnEmptyRegistry) {
    NetworkSettings settings;
    EXPECT_EQ(LoadNetworkSettings(context, settings), MulticastChoice::Secondary);
    EXPECT_EQ(settings.lngMulticastSecondary, 0);
    EXPECT_EQ(settings.lngRouter1, 0);
    EXPECT_EQ(settings.lngCommunicationPort, 0);
    EXPECT_FALSE(settings.baseIPAddressValid);
    EXPECT_EQ(settings.strBaseIPAddressStored, "");
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(NetworkStore, StoredBaseThatIsNoAddressIsKeptAsStored) {
    Seed("Base IP Address", String("10.0.x.1"));
    dialogs.ExpectBox("IP Address Error");

    NetworkSettings settings;
    LoadNetworkSettings(context, settings);
    EXPECT_FALSE(settings.baseIPAddressValid);
    EXPECT_EQ(settings.strBaseIPAddressStored, "10.0.x.1");

    WriteIni("[NETWORK]\nbase_ip_address=10.0.x.1\n");
    dialogs.ExpectBox("Updated Information");
    SaveNetworkSettings(context, settings, MulticastChoice::Primary);

    const auto stored = Stored();
    EXPECT_EQ(stored.at("Base IP Address"), String("10.0.x.1"));
    EXPECT_EQ(stored.count("Base IP Address DW"), 0u);
    EXPECT_EQ(ReadIni()->rfind("[NETWORK]\nbase_ip_address=10.0.x.1\nmulticast_interface=", 0), 0u);
}

TEST_F(NetworkStore, SaveWritesEveryValueWithItsTwin) {
    NetworkSettings settings;
    settings.lngBaseIPAddress = 0x0A140000;       // 10.20.0.0
    settings.lngMulticastInterface = 0xC0A80A14;  // this computer
    settings.lngMulticastSecondary = 0x0A000063;
    settings.lngRouter1 = static_cast<std::int32_t>(0xC0A80001u);
    settings.lngRouter2 = -1;
    settings.lngCommunicationPort = 8000;
    settings.lngRebootPort = 0xABCD;
    WriteIni(
        "; Corvane router system\r\n[SYSTEM]\r\nname=Studio A\r\n\r\n[network]\r\n"
        "Router1=0.0.0.0\r\n; end of network\r\n");

    dialogs.ExpectBox("Updated Information");
    const SaveReport report = SaveNetworkSettings(context, settings, MulticastChoice::Primary);

    EXPECT_TRUE(report.allWritten());
    EXPECT_EQ(report.iniPath, IniFile());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text,
              "The following have been updated:\r\rSystem Registry\r" + IniFile());
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbInformation);

    const std::map<std::string, StoredValue> expected = {
        {"Base IP Address", String("10.20.0.0")},
        {"Base IP Address DW", DoubleWord(0x0A140000)},
        {"Multicast Interface", DoubleWord(0xC0A80A14)},
        {"Multicast Interface SZ", String("192.168.10.20")},
        {"Multicast Interface Secondary", DoubleWord(0x0A000063)},
        {"Multicast Interface Secondary SZ", String("10.0.0.99")},
        {"Communication Port", DoubleWord(8000)},
        {"Reboot Port", DoubleWord(0xABCD)},
        {"Router 1", {platform::REG_DWORD, std::string("\x01\x00\xA8\xC0", 4)}},
        {"Router 1 SZ", String("192.168.0.1")},
        {"Router 2", DoubleWord(0xFFFFFFFF)},
        {"Router 2 SZ", String("255.255.255.255")},
    };
    EXPECT_EQ(Stored(), expected);
    EXPECT_EQ(ReadIni(),
              "; Corvane router system\r\n[SYSTEM]\r\nname=Studio A\r\n\r\n[network]\r\n"
              "Router1=192.168.0.1\r\nbase_ip_address=10.20.0.0\r\n"
              "multicast_interface=192.168.10.20\r\nreboot_port=ABCD\r\n"
              "communication_port=1F40\r\nrouter2=255.255.255.255\r\n; end of network\r\n");
}

TEST_F(NetworkStore, SaveWithSecondaryWritesItToBothMulticastValues) {
    NetworkSettings settings;
    settings.lngMulticastInterface = 0xC0A80A14;
    settings.lngMulticastSecondary = 0x0A000001;
    dialogs.ExpectBox("Updated Information");
    SaveNetworkSettings(context, settings, MulticastChoice::Secondary);

    const auto stored = Stored();
    EXPECT_EQ(stored.at("Multicast Interface"), DoubleWord(0x0A000001));
    EXPECT_EQ(stored.at("Multicast Interface SZ"), String("10.0.0.1"));
    EXPECT_EQ(stored.at("Multicast Interface Secondary"), DoubleWord(0x0A000001));
    // A new file in the existing folder, in the order of the writes.
    EXPECT_EQ(ReadIni(),
              "[NETWORK]\nbase_ip_address=0.0.0.0\nmulticast_interface=10.0.0.1\n"
              "reboot_port=0\ncommunication_port=0\nrouter1=0.0.0.0\nrouter2=0.0.0.0\n");
}

TEST_F(NetworkStore, FailedWritesAreNamedInsteadOfUpdatedInformation) {
    refusing->refused = {"Router 2 SZ", "Reboot Port"};
    std::filesystem::remove_all(corvanePath + "bin");

    NetworkSettings settings;
    dialogs.ExpectBox("Update Error");
    const SaveReport report = SaveNetworkSettings(context, settings, MulticastChoice::Primary);

    EXPECT_FALSE(report.allWritten());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    const std::string path = corvanePath + "BIN/CORVANE.INI";
    EXPECT_EQ(dialogs.boxes[0].text,
              "The following could not be updated:\r\rSystem Registry\r      Reboot Port\r"
              "      Router 2 SZ\r" +
                  path +
                  "\r      base_ip_address\r      multicast_interface\r      reboot_port\r"
                  "      communication_port\r      router1\r      router2");
    EXPECT_EQ(dialogs.boxes[0].style, platform::vbExclamation);
    EXPECT_EQ(Stored().count("Router 2"), 1u);
}

TEST_F(NetworkStore, IniPathIsFoundWithoutRegardToCase) {
    EXPECT_EQ(CorvaneIniPath(fileSystem, corvanePath), corvanePath + "bin/CORVANE.INI");
    std::ofstream(corvanePath + "bin/corvane.ini") << "[NETWORK]\n";
    EXPECT_EQ(CorvaneIniPath(fileSystem, corvanePath), corvanePath + "bin/corvane.ini");
    std::filesystem::remove_all(corvanePath + "bin");
    EXPECT_EQ(CorvaneIniPath(fileSystem, corvanePath), corvanePath + "BIN/CORVANE.INI");
}

}  // namespace
}  // namespace orvel::network::testing

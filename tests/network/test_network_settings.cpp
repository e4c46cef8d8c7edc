#include "NetworkTestSupport.h"
#include "network/AddressConversion.h"

namespace orvel::network::testing {
namespace {

class NetworkStore : public Installation {
  protected:
    NetworkContext context{registry, profile, fileSystem, systemInfo, corvanePath};
    NetworkSettings settings;
};

// The stored interface is looked for among all of this computer's addresses:
// found, it is the primary one; another is shown as the secondary one (the
// stored secondary is then not used); without any address there is no primary.
TEST_F(NetworkStore, MulticastChoiceByThisComputersAddresses) {
    struct Case {
        std::vector<std::string> own;
        std::uint32_t stored;
        MulticastChoice choice;
        const char* primary;  // nullptr: none available
        const char* secondary;
    };
    const Case cases[] = {
        {{"192.168.10.20"}, 0xC0A80A14, MulticastChoice::Primary, "192.168.10.20", "10.0.0.99"},
        {{"192.168.10.20"}, 0x0A000001, MulticastChoice::Secondary, "192.168.10.20", "10.0.0.1"},
        {{"192.168.10.20", "172.16.0.5"},
         0xAC100005,
         MulticastChoice::Primary,
         "172.16.0.5",
         "10.0.0.99"},
        {{}, 0xAC100005, MulticastChoice::Secondary, nullptr, "172.16.0.5"},
    };
    Seed("Multicast Interface Secondary", DoubleWord(0x0A000063));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        systemInfo.ipAddresses = c.own;
        Seed("Multicast Interface", DoubleWord(c.stored));
        EXPECT_EQ(LoadNetworkSettings(context, settings), c.choice);
        EXPECT_EQ(settings.multicastInterfaceAvailable, c.primary != nullptr);
        EXPECT_EQ(funct_LongToIPString(settings.lngMulticastInterface),
                  c.primary != nullptr ? c.primary : "0.0.0.0");
        EXPECT_EQ(funct_LongToIPString(settings.lngMulticastSecondary), c.secondary);
    }

    // Without a primary one, even asked for it, the save writes the secondary.
    dialogs.ExpectBox("Updated Information");
    SaveNetworkSettings(context, settings, MulticastChoice::Primary);
    EXPECT_EQ(Values().at("Multicast Interface"), DoubleWord(0xAC100005));
    EXPECT_NE(ReadIni().find("multicast_interface=172.16.0.5\n"), std::string::npos);
}

TEST_F(NetworkStore, BaseThatIsNoAddressStaysAsStored) {
    EXPECT_EQ(LoadNetworkSettings(context, settings), MulticastChoice::Secondary);
    EXPECT_FALSE(settings.baseIPAddressValid);  // missing: silently

    Seed("Base IP Address", String("10.0.x.1"));
    dialogs.ExpectBox("IP Address Error");
    LoadNetworkSettings(context, settings);
    EXPECT_FALSE(settings.baseIPAddressValid);
    EXPECT_EQ(settings.strBaseIPAddressStored, "10.0.x.1");

    WriteIni("[NETWORK]\nbase_ip_address=10.0.x.1\n");
    dialogs.ExpectBox("Updated Information");
    SaveNetworkSettings(context, settings, MulticastChoice::Primary);
    EXPECT_EQ(Values().at("Base IP Address"), String("10.0.x.1"));
    EXPECT_EQ(Values().count("Base IP Address DW"), 0u);
    EXPECT_EQ(ReadIni().rfind("[NETWORK]\nbase_ip_address=10.0.x.1\nmulticast_interface=", 0), 0u);
}

TEST_F(NetworkStore, SaveWritesEveryValueWithItsTwin) {
    settings.lngBaseIPAddress = 0x0A140000;       // 10.20.0.0
    settings.lngMulticastInterface = 0xC0A80A14;  // this computer
    settings.lngMulticastSecondary = 0x0A000063;
    settings.lngRouter1 = static_cast<std::int32_t>(0xC0A80001u);
    settings.lngRouter2 = -1;
    settings.lngCommunicationPort = 8000;
    settings.lngRebootPort = 0xABCD;
    WriteIni(
        "; router system\r\n[SYSTEM]\r\nname=A\r\n\r\n[network]\r\nRouter1=0.0.0.0\r\n; end\r\n");

    dialogs.ExpectBox("Updated Information");
    EXPECT_TRUE(SaveNetworkSettings(context, settings, MulticastChoice::Primary).allWritten());
    EXPECT_EQ(dialogs.boxes.at(0).text,
              "The following have been updated:\r\rSystem Registry\r" + IniFile());
    EXPECT_EQ(dialogs.boxes.at(0).style, platform::vbInformation);

    const std::map<std::string, Stored> expected = {
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
    EXPECT_EQ(Values(), expected);
    EXPECT_EQ(ReadIni(),
              "; router system\r\n[SYSTEM]\r\nname=A\r\n\r\n[network]\r\n"
              "Router1=192.168.0.1\r\nbase_ip_address=10.20.0.0\r\n"
              "multicast_interface=192.168.10.20\r\nreboot_port=ABCD\r\n"
              "communication_port=1F40\r\nrouter2=255.255.255.255\r\n; end\r\n");
}

TEST_F(NetworkStore, FailedWritesAreNamedInsteadOfUpdatedInformation) {
    std::filesystem::remove_all(corvanePath + "bin");
    dialogs.ExpectBox("Update Error");
    EXPECT_FALSE(SaveNetworkSettings(context, settings, MulticastChoice::Primary).allWritten());
    EXPECT_EQ(dialogs.boxes.at(0).text,
              "The following could not be updated:\r\r" + corvanePath +
                  "BIN/CORVANE.INI\r      base_ip_address\r      multicast_interface\r"
                  "      reboot_port\r      communication_port\r      router1\r      router2");
    EXPECT_EQ(Values().size(), 12u);
}

TEST_F(NetworkStore, IniPathIsFoundWithoutRegardToCase) {
    EXPECT_EQ(CorvaneIniPath(fileSystem, corvanePath), corvanePath + "bin/CORVANE.INI");
    std::ofstream(corvanePath + "bin/corvane.ini") << "[NETWORK]\n";
    EXPECT_EQ(CorvaneIniPath(fileSystem, corvanePath), corvanePath + "bin/corvane.ini");
}

}  // namespace
}  // namespace orvel::network::testing

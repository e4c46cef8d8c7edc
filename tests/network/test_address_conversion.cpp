#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "network/AddressConversion.h"

namespace orvel::network {
namespace {

using fakes::FakeDialogs;
constexpr auto kHexError = "Error in HEX Conversion\rEntry Contains INVALID Character\r\r";

TEST(HexStringToLong, ValuesAndRejections) {
    FakeDialogs dialogs;
    EXPECT_EQ(funct_HexStringToLong(dialogs, "1f40"), 8000);
    EXPECT_EQ(funct_HexStringToLong(dialogs, "7FFFFFFF"), 2147483647);
    EXPECT_EQ(funct_HexStringToLong(dialogs, ""), 0);

    dialogs.ExpectBox("funct_HexStringToLong").ExpectBox("funct_HexStringToLong");
    EXPECT_EQ(funct_HexStringToLong(dialogs, "12G4"), std::nullopt);
    EXPECT_EQ(funct_HexStringToLong(dialogs, "80000000"), std::nullopt);
    EXPECT_EQ(dialogs.boxes.at(0).text, kHexError);
    EXPECT_EQ(dialogs.boxes.at(0).style, platform::vbExclamation);
    EXPECT_EQ(dialogs.boxes.at(1).text, std::string(kHexError) + "Overflow");
}

TEST(IPStringToLong, ValidAddresses) {
    FakeDialogs dialogs;
    EXPECT_EQ(funct_IPStringToLong(dialogs, "10.0.0.1"), 167772161);
    EXPECT_EQ(funct_IPStringToLong(dialogs, "128.0.0.1"), static_cast<std::int32_t>(0x80000001u));
    EXPECT_EQ(funct_IPStringToLong(dialogs, "010.000.000.001"), 167772161);
    // The broadcast address is a value like any other, not a failure.
    EXPECT_EQ(funct_IPStringToLong(dialogs, "255.255.255.255"), std::optional<std::int32_t>(-1));
    // Empty: rejected without a message.
    EXPECT_EQ(funct_IPStringToLong(dialogs, ""), std::nullopt);
}

TEST(IPStringToLong, MalformedPartsGetTheAddressMessage) {
    for (const char* entry :
         {"10.0.0.256", "10.0.0.-1", "10.0.x.1", "1.2.3.4.5", "1.2..4", "1.2.3.+4", "1.2.3. 4",
          "1.2.3.4 ", "1.2.3.4e0", "1.2.3.0x1", "1.2.3.1000000000000000000004"}) {
        FakeDialogs dialogs;
        dialogs.ExpectBox("IP Address Error");
        EXPECT_EQ(funct_IPStringToLong(dialogs, entry), std::nullopt) << entry;
        EXPECT_EQ(dialogs.boxes.at(0).text,
                  std::string("The IP Address '") + entry + "' is not valid !");
    }
}

}  // namespace
}  // namespace orvel::network

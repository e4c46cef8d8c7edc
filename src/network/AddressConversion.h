#pragma once

// Conversions between the operator's texts and the 32-bit values of the router
// network settings: ports as hexadecimal text, addresses as dotted decimal text
// with the first number in the most significant byte.
//
// Both parsers report a rejected entry apart from the value, so that a valid
// 255.255.255.255 (the value -1) is never mistaken for a failure.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Dialogs.h"

namespace orvel::network {

// Hexadecimal digits in either case, no prefix; "" gives 0. An invalid
// character or a value above 7FFFFFFF shows "Error in HEX Conversion" and
// gives nullopt.
std::optional<std::int32_t> funct_HexStringToLong(platform::Dialogs& dialogs,
                                                  std::string_view strHex);

// 192.168.0.1 for the value C0A80001; never fails.
std::string funct_LongToIPString(std::int32_t lngAddress);

// A text with fewer than three dots gives nullopt without a message. Otherwise
// each of the four parts (the fourth is everything after the third dot) must be
// a plain decimal number 0 to 255, or the "IP Address Error" box is shown and
// the result is nullopt.
std::optional<std::int32_t> funct_IPStringToLong(platform::Dialogs& dialogs,
                                                 std::string_view strAddress);

}  // namespace orvel::network

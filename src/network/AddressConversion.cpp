#include "network/AddressConversion.h"

#include <array>
#include <cstdio>
#include <limits>

#include "platform/RuntimeError.h"

namespace orvel::network {

namespace {

constexpr std::int64_t kLongMax = std::numeric_limits<std::int32_t>::max();

void ShowHexError(platform::Dialogs& dialogs, const std::string& description) {
    std::string text = "Error in HEX Conversion";
    text += platform::CR;
    text += "Entry Contains INVALID Character";
    text += platform::CR;
    text += platform::CR;
    text += description;
    dialogs.MsgBox(text, platform::vbExclamation | platform::vbOKOnly, "funct_HexStringToLong");
}

void ShowAddressError(platform::Dialogs& dialogs, std::string_view strAddress) {
    std::string text = "The IP Address '";
    text += strAddress;
    text += "' is not valid !";
    dialogs.MsgBox(text, platform::vbExclamation | platform::vbOKOnly, "IP Address Error");
}

// One part of a dotted address: decimal digits only, at most 255.
std::optional<std::uint32_t> AddressPart(std::string_view part) {
    if (part.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 255) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace

std::optional<std::int32_t> funct_HexStringToLong(platform::Dialogs& dialogs,
                                                  std::string_view strHex) {
    std::int64_t accumulator = 0;
    for (char c : strHex) {
        accumulator *= 16;
        if (accumulator > kLongMax) {
            ShowHexError(dialogs, platform::ErrorDescription(platform::kErrOverflow));
            return std::nullopt;
        }
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c >= '0' && c <= '9') {
            accumulator += c - '0';
        } else if (c >= 'A' && c <= 'F') {
            accumulator += c - 'A' + 10;
        } else {
            ShowHexError(dialogs, "");
            return std::nullopt;
        }
        if (accumulator > kLongMax) {
            ShowHexError(dialogs, platform::ErrorDescription(platform::kErrOverflow));
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(accumulator);
}

std::string funct_LongToIPString(std::int32_t lngAddress) {
    const auto bits = static_cast<std::uint32_t>(lngAddress);
    std::array<char, 16> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%u.%u.%u.%u", (bits >> 24) & 0xFFu,
                  (bits >> 16) & 0xFFu, (bits >> 8) & 0xFFu, bits & 0xFFu);
    return buffer.data();
}

std::optional<std::int32_t> funct_IPStringToLong(platform::Dialogs& dialogs,
                                                 std::string_view strAddress) {
    std::array<std::string_view, 4> parts;
    std::string_view rest = strAddress;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t dot = rest.find('.');
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        parts[i] = rest.substr(0, dot);
        rest.remove_prefix(dot + 1);
    }
    parts[3] = rest;

    std::uint32_t bits = 0;
    for (std::string_view part : parts) {
        const std::optional<std::uint32_t> value = AddressPart(part);
        if (!value) {
            ShowAddressError(dialogs, strAddress);
            return std::nullopt;
        }
        bits = (bits << 8) | *value;
    }
    return static_cast<std::int32_t>(bits);
}

}  // namespace orvel::network

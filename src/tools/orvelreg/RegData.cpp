#include "tools/orvelreg/RegData.h"

#include <cinttypes>
#include <cstdio>

#include "tools/orvelreg/RegNames.h"

namespace orvel::tools {

using namespace platform;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string LittleEndian(std::uint64_t value, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::uint64_t FromLittleEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

namespace {

std::optional<std::string> EncodeMultiString(std::string_view text, char separator,
                                             std::string* error) {
    if (text.empty()) return std::string(1, '\0');
    const std::string_view mark =
        separator == '\0' ? std::string_view("\\0", 2) : std::string_view(&separator, 1);
    std::string data;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(mark, start);
        const std::string_view entry = text.substr(start, end - start);
        if (entry.empty()) {
            *error = "a REG_MULTI_SZ entry cannot be empty (it would end the list)";
            return std::nullopt;
        }
        data += entry;
        data += '\0';
        if (end == std::string_view::npos) break;
        start = end + mark.size();
    }
    return data + '\0';
}

// A REG_DWORD (4 bytes) or REG_QWORD (8 bytes) from decimal or 0x hex.
std::optional<std::string> EncodeNumber(DWORD type, std::string_view text, std::string* error) {
    const std::size_t size = type == REG_QWORD ? 8 : 4;
    const std::uint64_t most = size == 8 ? UINT64_MAX : UINT32_MAX;
    std::string_view digits = text;
    const bool hex =
        digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hex) digits.remove_prefix(2);
    const unsigned base = hex ? 16 : 10;
    bool valid = !digits.empty();
    std::uint64_t value = 0;
    for (char c : digits) {
        const int digit = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0 || value > (most - static_cast<unsigned>(digit)) / base) {
            valid = false;
            break;
        }
        value = value * base + static_cast<unsigned>(digit);
    }
    if (!valid) {
        *error = TypeName(type) + " data must be a number from 0 to " + std::to_string(most) +
                 ", decimal or 0x hex: \"" + std::string(text) + "\"";
        return std::nullopt;
    }
    return LittleEndian(value, size);
}

std::optional<std::string> EncodeHex(DWORD type, std::string_view text, std::string* error) {
    if (text.size() % 2 != 0) {
        *error =
            TypeName(type) + " data must be pairs of hex digits: \"" + std::string(text) + "\"";
        return std::nullopt;
    }
    std::string data;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            *error = TypeName(type) + " data must be hex digits: \"" + std::string(text) + "\"";
            return std::nullopt;
        }
        data += static_cast<char>(high * 16 + low);
    }
    return data;
}

}  // namespace

std::optional<std::string> EncodeData(DWORD type, std::string_view text, char separator,
                                      std::string* error) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return std::string(text) + '\0';
        case REG_MULTI_SZ:
            return EncodeMultiString(text, separator, error);
        case REG_DWORD:
        case REG_QWORD:
            return EncodeNumber(type, text, error);
        default:
            return EncodeHex(type, text, error);
    }
}

std::string DisplayData(DWORD type, std::string_view bytes) {
    auto nulsAsText = [](std::string_view text) {
        std::string shown;
        for (char c : text) {
            if (c == '\0') {
                shown += "\\0";
            } else {
                shown += c;
            }
        }
        return shown;
    };
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
            return nulsAsText(bytes);
        case REG_MULTI_SZ:
            if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
            if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
            return nulsAsText(bytes);
        case REG_DWORD:
        case REG_QWORD:
            if (bytes.size() == (type == REG_QWORD ? 8u : 4u)) {
                char text[24];
                std::snprintf(text, sizeof text, "0x%" PRIx64, FromLittleEndian(bytes));
                return text;
            }
            [[fallthrough]];
        default: {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            std::string hex;
            for (char c : bytes) {
                const auto byte = static_cast<unsigned char>(c);
                hex += kDigits[byte >> 4];
                hex += kDigits[byte & 15];
            }
            return hex;
        }
    }
}

}  // namespace orvel::tools

#include "tools/orvelreg/RegEncoding.h"

#include <cstdint>

namespace orvel::tools {

namespace {

constexpr char32_t kNoCharacter = 0xFFFFFFFF;

void AppendUtf8(char32_t code, std::string* text) {
    if (code < 0x80) {
        *text += static_cast<char>(code);
    } else if (code < 0x800) {
        *text += static_cast<char>(0xC0 | (code >> 6));
        *text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *text += static_cast<char>(0xE0 | (code >> 12));
        *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *text += static_cast<char>(0xF0 | (code >> 18));
        *text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The character at pos (moving pos past it), or kNoCharacter when the bytes
// there are not UTF-8 (pos then moves by one byte).
char32_t NextUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        ++pos;
        return kNoCharacter;
    }
    if (pos + length > text.size()) {
        ++pos;
        return kNoCharacter;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return kNoCharacter;
        }
        code = (code << 6) | (byte(pos + i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++pos;
        return kNoCharacter;
    }
    pos += length;
    return code;
}

void AppendUnit(std::uint32_t unit, std::string* bytes) {
    *bytes += static_cast<char>(unit & 0xFF);
    *bytes += static_cast<char>(unit >> 8);
}

// What Windows-1252 puts at 0x80 to 0x9F; the rest is Latin-1.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

bool IsUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        if (NextUtf8(bytes, pos) == kNoCharacter) return false;
    }
    return true;
}

bool Utf16LeToUtf8(std::string_view bytes, std::string* text, std::size_t* failedAt) {
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    };
    const auto fail = [&](std::size_t at) {
        if (failedAt != nullptr) *failedAt = at;
        return false;
    };
    text->clear();
    text->reserve(bytes.size() / 2);
    const std::size_t whole = bytes.size() & ~std::size_t{1};
    for (std::size_t i = 0; i < whole; i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 3 < whole && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            return fail(i);
        }
        AppendUtf8(code, text);
    }
    return whole == bytes.size() || fail(whole);
}

std::optional<std::string> Utf8ToUtf16Le(std::string_view text) {
    std::string bytes;
    bytes.reserve(2 * text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t code = NextUtf8(text, pos);
        if (code == kNoCharacter) return std::nullopt;
        if (code < 0x10000) {
            AppendUnit(code, &bytes);
        } else {
            AppendUnit(0xD800 + ((code - 0x10000) >> 10), &bytes);
            AppendUnit(0xDC00 + ((code - 0x10000) & 0x3FF), &bytes);
        }
    }
    return bytes;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte, &text);
    }
    return text;
}

std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t code = NextUtf8(text, pos);
        units += code != kNoCharacter && code >= 0x10000 ? 2 : 1;
    }
    return units;
}

}  // namespace orvel::tools

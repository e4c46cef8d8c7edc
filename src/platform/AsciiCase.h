#pragma once

// Names compared as the Windows name lookups compare them: ASCII letters
// without regard to case, every other byte as it is. Every case rule of the
// project goes through here: the C library's and Qt's case mappings follow the
// locale (under tr_TR "i" does not become "I").

#include <algorithm>
#include <string>
#include <string_view>

namespace orvel::platform {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string ToAsciiUpper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), AsciiUpper);
    return upper;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

}  // namespace orvel::platform

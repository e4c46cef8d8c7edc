#pragma once

// Names compared as the Windows name lookups compare them: ASCII letters
// without regard to case, every other byte as it is.

#include <algorithm>
#include <string_view>

namespace orvel::platform {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

}  // namespace orvel::platform

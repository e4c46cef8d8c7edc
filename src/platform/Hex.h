#pragma once

// Hex() of the old runtime: upper-case hexadecimal without prefix or leading
// zeros; a negative number shows its 32-bit two's complement ("FFFFFFFF").

#include <cstdint>
#include <cstdio>
#include <string>

namespace orvel::platform {

inline std::string Hex(std::int32_t number) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%X", static_cast<std::uint32_t>(number));
    return text;
}

}  // namespace orvel::platform

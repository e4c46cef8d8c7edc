#pragma once

// Colours as 24-bit 0x00BBGGRR values, the order the console's colour rules use.

#include <cstdint>

namespace orvel::status {

using WinColour = std::uint32_t;

inline constexpr WinColour kBlack = 0;
inline constexpr WinColour kRed = 255;
inline constexpr WinColour kGreen = 65280;
inline constexpr WinColour kYellow = 65535;
inline constexpr WinColour kCyan = 16776960;
inline constexpr WinColour kWhite = 16777215;
// The grey-text system colour.
inline constexpr WinColour kGrayText = 0x80000011u;

}  // namespace orvel::status

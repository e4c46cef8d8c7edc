#pragma once

// Texts of the server identity panel.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvel::status {

// The release marker's fixed prefix, "Quarlen_Release_Version: ".
inline constexpr std::size_t kReleasePrefixLength = 25;

// "Win", "WIN95/98", "LINUX 6.1.0" or "UnKnown" by platform number.
std::string ServerOsCaption(std::int16_t platformId, std::int16_t major, std::int16_t minor,
                            std::int16_t build);
// The version text without its 25-character prefix; "" when it is shorter.
std::string ReleaseText(std::string_view serverVersion);

// Caption of fraOrvelServerOS by connection and selection.
std::string SelectionCaption(bool connected, bool localServerSelected,
                             const std::string& remoteServerName);

}  // namespace orvel::status

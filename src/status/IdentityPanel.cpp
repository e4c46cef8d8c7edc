#include "status/IdentityPanel.h"

namespace orvel::status {

std::string ServerOsCaption(std::int16_t platformId, std::int16_t major, std::int16_t minor,
                            std::int16_t build) {
    switch (platformId) {
        case 0:
            return "Win";
        case 1:
            return "WIN95/98";
        case 2:
            // The family with per-process inspection: on this system the server
            // computer runs Linux, so the label names it.
            return "LINUX " + std::to_string(major) + "." + std::to_string(minor) + "." +
                   std::to_string(build);
        default:
            return "UnKnown";
    }
}

std::string ReleaseText(std::string_view serverVersion) {
    if (serverVersion.size() <= kReleasePrefixLength) return {};
    return std::string(serverVersion.substr(kReleasePrefixLength));
}

std::string SelectionCaption(bool connected, bool localServerSelected,
                             const std::string& remoteServerName) {
    if (connected) return localServerSelected ? "Local Server" : "Remote Server";
    return localServerSelected ? "(Local Server)" : "(" + remoteServerName + ")";
}

}  // namespace orvel::status

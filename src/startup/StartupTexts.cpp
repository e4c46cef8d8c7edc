#include "startup/StartupTexts.h"

#include <cstdint>
#include <cstdio>

namespace orvel::startup {

namespace {

constexpr std::size_t kReleaseMarkerPrefix = 25;  // "Quarlen_Release_Version: "

// The old "0.0 " number format applied to major.minor: at least one digit
// before the point and the minor number after it, then a blank. A minor
// number of two digits (kernel 6.12) is written in full, not rounded away.
std::string VersionNumberText(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor) + " ";
}

}  // namespace

std::string ReleaseText(const platform::VersionInfo& version) {
    const std::string& marker = version.releaseMarker;
    return marker.size() > kReleaseMarkerPrefix ? marker.substr(kReleaseMarkerPrefix) : "";
}

std::string SplashVersionText(const platform::VersionInfo& version) {
    return "Version " + ReleaseText(version);
}

std::string SplashPlatformText(const platform::OsVersion& os, const std::string& designText) {
    switch (os.platformId) {
        case platform::VER_PLATFORM_WIN32_WINDOWS:
            return "Win 95/98";
        case platform::VER_PLATFORM_WIN32_NT:
            return "Linux " + VersionNumberText(os.major, os.minor) + std::to_string(os.build);
        default:
            return designText;
    }
}

std::string MainWindowCaption(const platform::VersionInfo& version) {
    const std::string& marker = version.releaseMarker;
    if (marker.find("x.x.x") == std::string::npos) {
        std::size_t colon = marker.find(':');
        return version.comments + "  " +
               (colon == std::string::npos ? marker : marker.substr(colon + 1));
    }
    return version.comments + "  " + std::to_string(version.major) + "." +
           std::to_string(version.minor) + "." + std::to_string(version.revision);
}

std::string HexResult(platform::HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<std::uint32_t>(result));
    return text;
}

}  // namespace orvel::startup

#include "startup/StartupTexts.h"

#include "status/IdentityPanel.h"

namespace orvel::startup {

namespace {

// The old "0.0 " number format applied to major.minor: at least one digit
// before the point and the minor number after it, then a blank. A minor
// number of two digits (kernel 6.12) is written in full, not rounded away.
std::string VersionNumberText(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor) + " ";
}

}  // namespace

std::string SplashVersionText(const platform::VersionInfo& version) {
    return "Version " + status::ReleaseText(version.releaseMarker);
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

}  // namespace orvel::startup

#pragma once

// Texts that start-up and its windows build from the version information
// and the operating system.

#include <string>

#include "platform/RpcSecurity.h"
#include "platform/SystemInfo.h"
#include "platform/VersionInfo.h"

namespace orvel::startup {

// The release text: the release marker without its 25-character prefix.
std::string ReleaseText(const platform::VersionInfo& version);

// The splash's "Version " label.
std::string SplashVersionText(const platform::VersionInfo& version);

// The splash's platform label; designText for an unknown platform.
std::string SplashPlatformText(const platform::OsVersion& os, const std::string& designText);

// The main window caption: the comment text, two blanks and the version
// numbers; a stamped release marker (no "x.x.x") puts its part after the
// first ':' in place of the numbers.
std::string MainWindowCaption(const platform::VersionInfo& version);

// An HRESULT in upper-case hexadecimal without prefix or leading zeros.
std::string HexResult(platform::HRESULT result);

}  // namespace orvel::startup

#pragma once

// Texts that start-up and its windows build from the version information
// and the operating system.

#include <string>

#include "platform/RpcSecurity.h"
#include "platform/SystemInfo.h"
#include "platform/VersionInfo.h"

namespace orvel::startup {

// The splash's "Version " label: the release marker without its
// 25-character prefix.
std::string SplashVersionText(const platform::VersionInfo& version);

// The splash's platform label; designText for an unknown platform.
std::string SplashPlatformText(const platform::OsVersion& os, const std::string& designText);

}  // namespace orvel::startup

#pragma once

#include <string>

#include "platform/SystemInfo.h"

namespace orvel::fakes {

// System information the test sets.
class FakeSystemInfo : public platform::SystemInfo {
  public:
    platform::OsVersion Version() override { return version; }
    std::string LocalIpAddress() override { return ipAddress; }
    std::string HostName() override { return hostName; }

    platform::OsVersion version{platform::VER_PLATFORM_WIN32_NT, 6, 1, 0};
    std::string ipAddress = "192.168.10.20";
    std::string hostName = "ORVELHOST";
};

}  // namespace orvel::fakes

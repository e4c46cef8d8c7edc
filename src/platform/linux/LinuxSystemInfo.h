#pragma once

#include <string_view>

#include "platform/SystemInfo.h"

namespace orvel::platform {

// Kernel version from uname, the non-loopback IPv4 addresses from getifaddrs, the host name from
// gethostname, the user and groups from getpwuid_r, getgrnam_r and getgroups.
class LinuxSystemInfo final : public SystemInfo {
  public:
    OsVersion Version() override;
    std::string LocalIpAddress() override;
    std::vector<std::string> LocalIpAddresses() override;
    std::string HostName() override;
    std::string UserName() override;
    GroupMembership MembershipOf(const std::string& group) override;
};

// "6.1.0-18-amd64" gives 6, 1, 0; missing or unreadable parts are 0.
OsVersion ParseKernelRelease(std::string_view release);

}  // namespace orvel::platform

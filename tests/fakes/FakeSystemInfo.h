#pragma once

#include <string>
#include <vector>

#include "platform/SystemInfo.h"

namespace orvel::fakes {

// System information the test sets.
class FakeSystemInfo : public platform::SystemInfo {
  public:
    platform::OsVersion Version() override { return version; }
    std::string LocalIpAddress() override {
        return ipAddresses.empty() ? std::string() : ipAddresses.front();
    }
    std::vector<std::string> LocalIpAddresses() override { return ipAddresses; }
    std::string HostName() override { return hostName; }
    std::string UserName() override { return userName; }
    platform::GroupMembership MembershipOf(const std::string&) override { return membership; }

    platform::OsVersion version{platform::VER_PLATFORM_WIN32_NT, 6, 1, 0};
    std::vector<std::string> ipAddresses{"192.168.10.20"};
    std::string hostName = "ORVELHOST";
    std::string userName = "operator";
    platform::GroupMembership membership = platform::GroupMembership::Member;
};

}  // namespace orvel::fakes

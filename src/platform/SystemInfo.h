#pragma once

#include <string>
#include <vector>

namespace orvel::platform {

inline constexpr int VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr int VER_PLATFORM_WIN32_NT = 2;

// Whether this process's user belongs to a group, from its own credentials
// (those of its log-in: a membership granted later counts from the next one).
enum class GroupMembership {
    Member,  // root, or the group is the primary or a supplementary one
    NotMember,
    NoSuchGroup,  // the group does not exist on this computer
};

struct OsVersion {
    int platformId = 0;  // 2 on Linux: the family with per-process inspection
    int major = 0;
    int minor = 0;
    int build = 0;  // 6.1.0 for kernel 6.1.0-18
};

class SystemInfo {
  public:
    virtual ~SystemInfo() = default;
    virtual OsVersion Version() = 0;
    // This computer's first non-loopback IPv4 address in dotted form; "" when none.
    virtual std::string LocalIpAddress() = 0;
    // Every non-loopback IPv4 address of the interfaces that are up, in dotted
    // form, in the order found; empty when there is none.
    virtual std::vector<std::string> LocalIpAddresses() = 0;
    virtual std::string HostName() = 0;
    // The log-in name of this process's user; "" when it has none.
    virtual std::string UserName() = 0;
    virtual GroupMembership MembershipOf(const std::string& group) = 0;
};

}  // namespace orvel::platform

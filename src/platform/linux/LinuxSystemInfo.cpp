#include "platform/linux/LinuxSystemInfo.h"

#include <arpa/inet.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <utility>
#include <vector>

namespace orvel::platform {

namespace {

// Reads the decimal number at the front of text and moves past it; a number
// too large for an int is capped rather than wrapped.
int TakeNumber(std::string_view& text) {
    long value = 0;
    std::size_t used = 0;
    while (used < text.size() && text[used] >= '0' && text[used] <= '9') {
        if (value < INT_MAX) value = value * 10 + (text[used] - '0');
        ++used;
    }
    text.remove_prefix(used);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

OsVersion ParseKernelRelease(std::string_view release) {
    OsVersion version;
    version.platformId = VER_PLATFORM_WIN32_NT;
    int* parts[] = {&version.major, &version.minor, &version.build};
    for (std::size_t index = 0; index < 3; ++index) {
        if (release.empty() || release.front() < '0' || release.front() > '9') break;
        *parts[index] = TakeNumber(release);
        if (release.empty() || release.front() != '.') break;
        release.remove_prefix(1);
    }
    return version;
}

OsVersion LinuxSystemInfo::Version() {
    utsname names{};
    if (uname(&names) != 0) return ParseKernelRelease({});
    return ParseKernelRelease(names.release);
}

std::string LinuxSystemInfo::LocalIpAddress() {
    std::vector<std::string> addresses = LocalIpAddresses();
    return addresses.empty() ? std::string() : std::move(addresses.front());
}

std::vector<std::string> LinuxSystemInfo::LocalIpAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return addresses;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0 || (entry->ifa_flags & IFF_UP) == 0) continue;
        const auto* inet = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        std::array<char, INET_ADDRSTRLEN> text{};
        if (inet_ntop(AF_INET, &inet->sin_addr, text.data(), text.size()) != nullptr) {
            addresses.emplace_back(text.data());
        }
    }
    freeifaddrs(list);
    return addresses;
}

std::string LinuxSystemInfo::HostName() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) return {};
    return name.data();
}

std::string LinuxSystemInfo::UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_name == nullptr) {
        return {};
    }
    return found->pw_name;
}

GroupMembership LinuxSystemInfo::MembershipOf(const std::string& name) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return GroupMembership::NoSuchGroup;
    }
    if (geteuid() == 0 || getegid() == found->gr_gid) return GroupMembership::Member;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) < 0) groups.clear();
    return std::find(groups.begin(), groups.end(), found->gr_gid) != groups.end()
               ? GroupMembership::Member
               : GroupMembership::NotMember;
}

}  // namespace orvel::platform

#include "platform/linux/LinuxSystemInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <utility>

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

}  // namespace orvel::platform

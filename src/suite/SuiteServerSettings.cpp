#include "suite/SuiteServerSettings.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/RegistryKey.h"

namespace orvel::suite {

namespace {

// Opens, queries and closes one value; the raw bytes and the type.
bool QueryValue(platform::Registry& registry, platform::HKEY root, std::string_view subKey,
                std::string_view valueName, platform::DWORD* type,
                std::vector<std::uint8_t>* data) {
    platform::RegistryValue value;
    if (platform::ReadRegistryValue(registry, root, subKey, valueName, &value) !=
        platform::ERROR_SUCCESS) {
        return false;
    }
    *type = value.type;
    *data = std::move(value.data);
    return true;
}

}  // namespace

std::optional<std::string> ReadStringValue(platform::Registry& registry, platform::HKEY root,
                                           std::string_view subKey, std::string_view valueName) {
    platform::DWORD type = 0;
    std::vector<std::uint8_t> data;
    if (!QueryValue(registry, root, subKey, valueName, &type, &data)) return std::nullopt;
    if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) return std::nullopt;
    std::string text(data.begin(), data.end());
    // The stored text ends at its first NUL (normally the terminating one).
    if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

std::optional<std::uint32_t> ReadDwordValue(platform::Registry& registry, platform::HKEY root,
                                            std::string_view subKey, std::string_view valueName) {
    platform::DWORD type = 0;
    std::vector<std::uint8_t> data;
    if (!QueryValue(registry, root, subKey, valueName, &type, &data)) return std::nullopt;
    if (type != platform::REG_DWORD || data.size() != 4) return std::nullopt;
    return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
           (static_cast<std::uint32_t>(data[2]) << 16) |
           (static_cast<std::uint32_t>(data[3]) << 24);
}

std::uint16_t ReadTcpPort(platform::Registry& registry) {
    auto port =
        ReadDwordValue(registry, platform::HKEY_LOCAL_MACHINE, kServerSettingsKey, kTcpPortValue);
    if (port && *port >= 1 && *port <= 65535) return static_cast<std::uint16_t>(*port);
    return kDefaultTcpPort;
}

bool RemoteUseEnabled(platform::Registry& registry) {
    auto isYes = [&](std::string_view valueName) {
        auto text = ReadStringValue(registry, platform::HKEY_LOCAL_MACHINE, kOleKey, valueName);
        if (!text) return false;
        std::string upper = *text;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return upper == "Y";
    };
    return isYes(kEnableDcomValue) && isYes(kEnableRemoteConnectValue);
}

}  // namespace orvel::suite

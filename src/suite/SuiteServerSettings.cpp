#include "suite/SuiteServerSettings.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace orvel::suite {

namespace {

// Opens, queries and closes one value; the raw bytes and the type.
bool QueryValue(platform::Registry& registry, platform::HKEY root, std::string_view subKey,
                std::string_view valueName, platform::DWORD* type,
                std::vector<std::uint8_t>* data) {
    platform::HKEY key = 0;
    if (registry.RegOpenKeyExA(root, subKey, 0, platform::KEY_READ, &key) !=
        platform::ERROR_SUCCESS) {
        return false;
    }
    platform::DWORD size = 0;
    platform::LONG result = registry.RegQueryValueExA(key, valueName, type, nullptr, &size);
    if (result == platform::ERROR_SUCCESS) {
        data->assign(size, 0);
        result = registry.RegQueryValueExA(key, valueName, type, data->data(), &size);
        data->resize(std::min<std::size_t>(size, data->size()));
    }
    registry.RegCloseKey(key);
    return result == platform::ERROR_SUCCESS;
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

std::string TlsFolder(const std::string& registryStore) {
    auto slash = registryStore.rfind('/');
    std::string folder = slash == std::string::npos ? "." : registryStore.substr(0, slash);
    return (folder.empty() ? std::string("/") : folder + "/") + "tls";
}

std::string ReadBindAddress(platform::Registry& registry) {
    auto text = ReadStringValue(registry, platform::HKEY_LOCAL_MACHINE, kServerSettingsKey,
                                kBindAddressValue);
    if (!text) return {};
    auto first = text->find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    auto last = text->find_last_not_of(" \t");
    return text->substr(first, last - first + 1);
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

#include "suite/SuiteServerSettings.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/AsciiCase.h"
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

bool DcomValueEnabled(platform::Registry& registry, std::string_view valueName) {
    platform::DWORD type = 0;
    std::vector<std::uint8_t> data;
    if (!QueryValue(registry, platform::HKEY_LOCAL_MACHINE, kOleKey, valueName, &type, &data)) {
        return false;
    }
    if (!data.empty() && data.back() == 0) data.pop_back();
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    return platform::EqualIgnoringAsciiCase(text, "Y");
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
    return DcomValueEnabled(registry, kEnableDcomValue) &&
           DcomValueEnabled(registry, kEnableRemoteConnectValue);
}

}  // namespace orvel::suite

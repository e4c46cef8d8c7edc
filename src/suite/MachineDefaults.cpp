#include "suite/MachineDefaults.h"

#include <cstdint>
#include <string>

#include "platform/RegistryKey.h"

namespace orvel::suite {

namespace {

using platform::DWORD;
using platform::ERROR_FILE_NOT_FOUND;
using platform::ERROR_SUCCESS;
using platform::HKEY;
using platform::LONG;

// Writes one value unless the key already holds a value of that name (of any type).
LONG WriteIfMissing(platform::Registry& registry, HKEY key, std::string_view valueName, DWORD type,
                    std::string_view bytes) {
    DWORD storedType = 0;
    DWORD size = 0;
    const LONG query = registry.RegQueryValueExA(key, valueName, &storedType, nullptr, &size);
    if (query == ERROR_SUCCESS) return ERROR_SUCCESS;
    if (query != ERROR_FILE_NOT_FOUND) return query;
    return registry.RegSetValueExA(key, valueName, type,
                                   reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   static_cast<DWORD>(bytes.size()));
}

std::string DwordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Each value of one key; the first error ends the key.
struct DefaultValue {
    std::string_view name;
    DWORD type = platform::REG_NONE;
    std::string bytes;
};

LONG WriteMissingValues(platform::Registry& registry, std::string_view subKey,
                        const std::initializer_list<DefaultValue>& values) {
    platform::RegistryKey key(registry);
    LONG result = key.Create(platform::HKEY_LOCAL_MACHINE, subKey);
    if (result != ERROR_SUCCESS) return result;
    for (const DefaultValue& value : values) {
        result = WriteIfMissing(registry, key.get(), value.name, value.type, value.bytes);
        if (result != ERROR_SUCCESS) break;
    }
    return result;
}

}  // namespace

LONG WriteMissingMachineDefaults(platform::Registry& registry) {
    // Strings are stored with their terminating NUL, as the console's helpers write them.
    const LONG ole =
        WriteMissingValues(registry, kOleKey,
                           {{"EnableDCOM", platform::REG_SZ, std::string("Y\0", 2)},
                            {"EnableRemoteConnect", platform::REG_SZ, std::string("N\0", 2)},
                            {"LegacyAuthenticationLevel", platform::REG_DWORD, DwordBytes(2)},
                            {"LegacyImpersonationLevel", platform::REG_DWORD, DwordBytes(2)}});
    if (ole != ERROR_SUCCESS) return ole;
    return WriteMissingValues(
        registry, kRpcKey,
        {{kProtocolsValue, platform::REG_MULTI_SZ, std::string(kDefaultProtocols)}});
}

}  // namespace orvel::suite

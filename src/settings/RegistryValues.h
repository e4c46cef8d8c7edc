#pragma once

// The console's single-value registry helpers and the install-folder lookups.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Registry.h"

namespace orvel::settings {

// The old variant as these helpers used it: empty, text (types 1 and 7),
// 32-bit integer (type 4) or bytes (type 3).
using RegistryVariant =
    std::variant<std::monostate, std::string, std::int32_t, std::vector<std::uint8_t>>;

// The registry and the boxes the helpers may show.
struct RegistryContext {
    platform::Registry& registry;
    platform::Dialogs& dialogs;
};

RegistryVariant functGetRegistryValue(RegistryContext& context, platform::HKEY hKey,
                                      const std::string& strKey, const std::string& strValueName,
                                      std::int16_t intType, const RegistryVariant& varDefault = {});
RegistryVariant functWriteRegistryValue(RegistryContext& context, platform::HKEY hKey,
                                        const std::string& strKey, const std::string& strValueName,
                                        std::int16_t intType, const RegistryVariant& varValue,
                                        const RegistryVariant& varDefault = {});
void functDeleteRegistryValue(RegistryContext& context, platform::HKEY hKey,
                              const std::string& strKey, const std::string& strValueName);

// True when the value exists with type intType and holds what functWriteRegistryValue
// would write for varValue (types 1 and 4; any other type never matches). Read-only.
bool RegistryValueMatches(platform::Registry& registry, platform::HKEY hKey,
                          const std::string& strKey, const std::string& strValueName,
                          std::int16_t intType, const RegistryVariant& varValue);
// True when the value exists, whatever its type. Read-only.
bool RegistryValueExists(platform::Registry& registry, platform::HKEY hKey,
                         const std::string& strKey, const std::string& strValueName);

// functWriteRegistryValue only when the stored value differs from varValue: a
// machine already set up is left untouched, so a user without the right to
// write it sees no "Registry Access" box. Returns true when it wrote (or tried).
bool WriteRegistryValueWhenDifferent(RegistryContext& context, platform::HKEY hKey,
                                     const std::string& strKey, const std::string& strValueName,
                                     std::int16_t intType, const RegistryVariant& varValue);

// The suite folder and the router system folder, each ending with '/'.
std::string functGetOrvelPath(platform::Registry& registry);
std::string functGetCorvanePath(platform::Registry& registry);

inline constexpr const char* kDefaultOrvelPath = "/opt/Quarlen/Corvane Network Suite";
inline constexpr const char* kDefaultCorvanePath = "/opt/Quarlen/Corvane";

}  // namespace orvel::settings

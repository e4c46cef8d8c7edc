#include "suiteserver/ServerRegistration.h"

#include <string_view>

#include "platform/RegistryKey.h"

#include "suite/SuiteServerSettings.h"

namespace orvel::suiteserver {

namespace {

using platform::ERROR_FILE_NOT_FOUND;
using platform::ERROR_SUCCESS;
using platform::HKEY_CLASSES_ROOT;

platform::LONG WriteDefault(platform::Registry& registry, const std::string& subKey,
                            std::string_view text) {
    platform::RegistryKey key(registry);
    if (platform::LONG result = key.Create(HKEY_CLASSES_ROOT, subKey); result != ERROR_SUCCESS) {
        return result;
    }
    std::string data(text);
    return registry.RegSetValueExA(key.get(), "", platform::REG_SZ,
                                   reinterpret_cast<const std::uint8_t*>(data.c_str()),
                                   static_cast<platform::DWORD>(data.size() + 1));
}

std::string ClassKey() {
    return "CLSID\\" + std::string(suite::kSuiteServerClassId);
}

}  // namespace

platform::LONG RegisterServerClass(platform::Registry& registry, const std::string& serverPath) {
    const std::string progId(suite::kSuiteServerProgId);
    for (auto [subKey, text] : {std::pair<std::string, std::string_view>{progId, progId},
                                {progId + "\\Clsid", suite::kSuiteServerClassId},
                                {ClassKey(), progId},
                                {ClassKey() + "\\ProgID", progId},
                                {ClassKey() + "\\LocalServer32", serverPath}}) {
        platform::LONG result = WriteDefault(registry, subKey, text);
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

platform::LONG UnregisterServerClass(platform::Registry& registry) {
    const std::string progId(suite::kSuiteServerProgId);
    // Deepest keys first; a class key that holds keys of others is left standing.
    for (const std::string& subKey : {ClassKey() + "\\LocalServer32", ClassKey() + "\\ProgID",
                                      ClassKey(), progId + "\\Clsid", progId}) {
        platform::LONG result = registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, subKey);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND &&
            result != platform::ERROR_ACCESS_DENIED) {
            return result;
        }
        if (result == platform::ERROR_ACCESS_DENIED) {
            // Refused because other keys remain below it, or because the store may
            // not be written: only the second is a failure.
            platform::RegistryKey probe(registry);
            if (probe.Open(HKEY_CLASSES_ROOT, "", platform::KEY_WRITE) != ERROR_SUCCESS) {
                return platform::ERROR_ACCESS_DENIED;
            }
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace orvel::suiteserver

#include "settings/RegistryValues.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "platform/RegistryKey.h"

namespace orvel::settings {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;

namespace {

constexpr DWORD kStringBufferSize = 1024;
constexpr DWORD kDwordBufferSize = 4;
constexpr DWORD kBinaryBufferSize = 4096;
constexpr DWORD kPathBufferSize = 256;

// A string as stored, without its terminating NUL. A value stored without
// one keeps its last character.
std::string StoredText(const std::uint8_t* data, DWORD size) {
    if (size > 0 && data[size - 1] == '\0') --size;
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The text of a variant, as the old string conversion made it.
std::optional<std::string> AsText(const RegistryVariant& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<std::int32_t>(&value)) return std::to_string(*number);
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) {
        return std::string(bytes->begin(), bytes->end());
    }
    return std::string();
}

// A variant as a 32-bit integer: numbers round half to even; text must be a
// whole number text; anything else (or out of range) cannot be converted.
std::optional<std::int32_t> AsLong(const RegistryVariant& value) {
    if (std::holds_alternative<std::monostate>(value)) return 0;
    if (const auto* number = std::get_if<std::int32_t>(&value)) return *number;
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) return std::nullopt;
    // Parsed without regard to the process locale: the decimal point is '.'.
    std::string_view digits(*text);
    while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    double parsed = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        !std::isfinite(parsed)) {
        return std::nullopt;
    }
    double rounded = std::nearbyint(parsed);
    if (rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

std::optional<std::vector<std::uint8_t>> AsBytes(const RegistryVariant& value) {
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) return *bytes;
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        auto bits = static_cast<std::uint32_t>(*number);
        return std::vector<std::uint8_t>{
            static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    }
    std::string text = *AsText(value);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A folder from a REG_SZ value under HKEY_LOCAL_MACHINE, or the fallback.
std::string InstallFolder(platform::Registry& registry, std::string_view key,
                          std::string_view valueName, const char* fallback) {
    std::string folder = fallback;
    platform::RegistryValue value;
    if (platform::ReadRegistryValue(registry, platform::HKEY_LOCAL_MACHINE, key, valueName, &value,
                                    kPathBufferSize) == platform::ERROR_SUCCESS &&
        value.type == platform::REG_SZ) {
        // A path ends at its first NUL; an empty one names no folder.
        std::string stored(value.data.begin(), value.data.end());
        stored = stored.substr(0, stored.find('\0'));
        if (!stored.empty()) folder = stored;
    }
    return folder + "/";
}

}  // namespace

RegistryVariant functGetRegistryValue(RegistryContext& context, HKEY hKey,
                                      const std::string& strKey, const std::string& strValueName,
                                      std::int16_t intType, const RegistryVariant& varDefault) {
    RegistryVariant result = varDefault;
    platform::Registry& registry = context.registry;
    platform::RegistryKey key(registry);
    if (key.Open(hKey, strKey, platform::KEY_READ) != platform::ERROR_SUCCESS) return result;
    const HKEY handle = key.get();
    DWORD type = platform::REG_NONE;
    switch (intType) {
        case platform::REG_SZ: {
            std::vector<std::uint8_t> buffer(kStringBufferSize);
            DWORD size = kStringBufferSize;
            if (registry.RegQueryValueExA(handle, strValueName, &type, buffer.data(), &size) ==
                platform::ERROR_SUCCESS) {
                result = StoredText(buffer.data(), size);
            }
            break;
        }
        case platform::REG_DWORD: {
            std::uint8_t buffer[kDwordBufferSize] = {};
            DWORD size = kDwordBufferSize;
            if (registry.RegQueryValueExA(handle, strValueName, &type, buffer, &size) ==
                platform::ERROR_SUCCESS) {
                std::uint32_t bits = buffer[0] | (buffer[1] << 8) | (buffer[2] << 16) |
                                     (static_cast<std::uint32_t>(buffer[3]) << 24);
                result = static_cast<std::int32_t>(bits);
            }
            break;
        }
        case platform::REG_BINARY: {
            std::vector<std::uint8_t> buffer(kBinaryBufferSize);
            DWORD size = kBinaryBufferSize;
            // An empty value cannot be cut to size and leaves the default.
            if (registry.RegQueryValueExA(handle, strValueName, &type, buffer.data(), &size) ==
                    platform::ERROR_SUCCESS &&
                size > 0) {
                buffer.resize(size);
                result = std::move(buffer);
            }
            break;
        }
        case platform::REG_MULTI_SZ: {
            std::vector<std::uint8_t> buffer(kBinaryBufferSize);
            DWORD size = kBinaryBufferSize;
            if (registry.RegQueryValueExA(handle, strValueName, &type, buffer.data(), &size) ==
                platform::ERROR_SUCCESS) {
                result = std::string(buffer.begin(), buffer.begin() + size);
            }
            break;
        }
        default:
            context.dialogs.MsgBox("functGetRegistryValue: " + std::to_string(intType),
                                   platform::vbInformation, "Parameter Error");
            break;
    }
    return result;
}

RegistryVariant functWriteRegistryValue(RegistryContext& context, HKEY hKey,
                                        const std::string& strKey, const std::string& strValueName,
                                        std::int16_t intType, const RegistryVariant& varValue,
                                        const RegistryVariant& varDefault) {
    RegistryVariant result = varDefault;
    platform::Registry& registry = context.registry;
    platform::RegistryKey key(registry);
    if (key.Open(hKey, strKey, platform::KEY_ALL_ACCESS) != platform::ERROR_SUCCESS) {
        key.Create(hKey, strKey);
    }
    key.Close();
    if (key.Open(hKey, strKey, platform::KEY_ALL_ACCESS) != platform::ERROR_SUCCESS) {
        context.dialogs.MsgBox(std::string("Unable To Access Registry") + platform::CR +
                                   platform::CR + "You May not be able to Access OrvelServers",
                               platform::vbCritical, "Registry Access");
        return result;
    }

    std::vector<std::uint8_t> data;
    RegistryVariant readBackDefault;
    bool convertible = true;
    switch (intType) {
        case platform::REG_SZ: {
            std::string text = *AsText(varValue);
            data.assign(text.begin(), text.end());
            data.push_back('\0');
            readBackDefault = std::string("ERRROR");
            break;
        }
        case platform::REG_DWORD: {
            std::optional<std::int32_t> number = AsLong(varValue);
            convertible = number.has_value();
            if (number) {
                auto bits = static_cast<std::uint32_t>(*number);
                data = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                        static_cast<std::uint8_t>(bits >> 16),
                        static_cast<std::uint8_t>(bits >> 24)};
            }
            readBackDefault = std::int32_t{0};
            break;
        }
        case platform::REG_MULTI_SZ: {
            std::string text = *AsText(varValue);
            data.assign(text.begin(), text.end());
            break;
        }
        case platform::REG_BINARY:
            data = *AsBytes(varValue);
            break;
        default:
            key.Close();
            context.dialogs.MsgBox("functWriteRegistryValue: " + std::to_string(intType),
                                   platform::vbInformation, "Parameter Error");
            return result;
    }

    // A value that cannot be converted ends the operation with the default.
    const std::uint8_t none = 0;  // an empty value still passes a valid pointer
    if (convertible &&
        registry.RegSetValueExA(key.get(), strValueName, static_cast<DWORD>(intType),
                                data.empty() ? &none : data.data(),
                                static_cast<DWORD>(data.size())) == platform::ERROR_SUCCESS) {
        result =
            functGetRegistryValue(context, hKey, strKey, strValueName, intType, readBackDefault);
    }
    return result;
}

void functDeleteRegistryValue(RegistryContext& context, HKEY hKey, const std::string& strKey,
                              const std::string& strValueName) {
    platform::RegistryKey key(context.registry);
    if (key.Open(hKey, strKey, platform::KEY_ALL_ACCESS) == platform::ERROR_SUCCESS) {
        context.registry.RegDeleteValueA(key.get(), strValueName);
    }
}

bool RegistryValueMatches(platform::Registry& registry, HKEY hKey, const std::string& strKey,
                          const std::string& strValueName, std::int16_t intType,
                          const RegistryVariant& varValue) {
    std::vector<std::uint8_t> expected;
    if (intType == platform::REG_SZ) {
        const std::string text = *AsText(varValue);
        expected.assign(text.begin(), text.end());
        expected.push_back('\0');
    } else if (intType == platform::REG_DWORD) {
        const std::optional<std::int32_t> number = AsLong(varValue);
        if (!number) return false;
        const auto bits = static_cast<std::uint32_t>(*number);
        expected = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                    static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    } else {
        return false;
    }
    // A stored value longer than the expected one differs; it is not read whole.
    platform::RegistryValue stored;
    if (platform::ReadRegistryValue(registry, hKey, strKey, strValueName, &stored,
                                    static_cast<DWORD>(expected.size())) !=
        platform::ERROR_SUCCESS) {
        return false;
    }
    return stored.type == static_cast<DWORD>(intType) && stored.data == expected;
}

bool RegistryValueExists(platform::Registry& registry, HKEY hKey, const std::string& strKey,
                         const std::string& strValueName) {
    // A zero limit reads no data: a value of any size answers at most "more data".
    platform::RegistryValue ignored;
    const LONG result =
        platform::ReadRegistryValue(registry, hKey, strKey, strValueName, &ignored, 0);
    return result == platform::ERROR_SUCCESS || result == platform::ERROR_MORE_DATA;
}

bool WriteRegistryValueWhenDifferent(RegistryContext& context, HKEY hKey, const std::string& strKey,
                                     const std::string& strValueName, std::int16_t intType,
                                     const RegistryVariant& varValue) {
    if (RegistryValueMatches(context.registry, hKey, strKey, strValueName, intType, varValue))
        return false;
    functWriteRegistryValue(context, hKey, strKey, strValueName, intType, varValue);
    return true;
}

std::string functGetOrvelPath(platform::Registry& registry) {
    return InstallFolder(registry, "SOFTWARE\\Quarlen\\Corvane Network Suite\\1.00.000",
                         "OrvelPATH", kDefaultOrvelPath);
}

std::string functGetCorvanePath(platform::Registry& registry) {
    return InstallFolder(registry, "SOFTWARE\\Quarlen\\Corvane\\Path", "Root", kDefaultCorvanePath);
}

}  // namespace orvel::settings

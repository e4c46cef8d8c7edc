#pragma once

// A registry key handle that closes itself, and the one way to read a value:
// open the key for reading, query, close.

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace orvel::platform {

class RegistryKey {
  public:
    explicit RegistryKey(Registry& registry) : registry_(&registry) {}
    RegistryKey(RegistryKey&& other) noexcept : registry_(other.registry_), key_(other.key_) {
        other.key_ = 0;
    }
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { Close(); }

    // Open and Create close a key held before; on failure no key is held.
    LONG Open(HKEY root, std::string_view subKey, DWORD access);
    LONG Create(HKEY root, std::string_view subKey);
    void Close();

    HKEY get() const { return key_; }
    bool IsOpen() const { return key_ != 0; }

  private:
    Registry* registry_;
    HKEY key_ = 0;
};

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
};

inline constexpr DWORD kAnyValueSize = 0xFFFFFFFFu;

// Opens root\subKey for reading, reads one value whole and closes the key.
// A value longer than limit bytes answers ERROR_MORE_DATA and nothing, as a
// buffer of that size would.
LONG ReadRegistryValue(Registry& registry, HKEY root, std::string_view subKey,
                       std::string_view valueName, RegistryValue* value,
                       DWORD limit = kAnyValueSize);

}  // namespace orvel::platform

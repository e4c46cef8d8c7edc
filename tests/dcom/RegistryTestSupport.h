#pragma once

// Helpers for tests against the real registry store: seeding and reading raw
// values, a snapshot of the whole store, and a view of the store as a process
// without write rights sees it.

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace orvel::dcom::testing {

using namespace orvel::platform;

struct RawValue {
    DWORD type = REG_NONE;
    std::string bytes;
    bool operator==(const RawValue&) const = default;
};

inline std::string Sz(std::string_view text) {
    return std::string(text) + '\0';
}

inline std::string Dword(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

inline void Seed(Registry& registry, HKEY root, std::string_view key, std::string_view name,
                 DWORD type, std::string_view bytes) {
    HKEY handle = 0;
    if (registry.RegCreateKeyA(root, key, &handle) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create key " + std::string(key));
    }
    registry.RegSetValueExA(handle, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
    registry.RegCloseKey(handle);
}

inline void CreateKey(Registry& registry, HKEY root, std::string_view key) {
    HKEY handle = 0;
    if (registry.RegCreateKeyA(root, key, &handle) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create key " + std::string(key));
    }
    registry.RegCloseKey(handle);
}

inline bool KeyExists(Registry& registry, HKEY root, std::string_view key) {
    HKEY handle = 0;
    if (registry.RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    registry.RegCloseKey(handle);
    return true;
}

// The stored value, or type REG_NONE with no bytes when the key or value is missing.
inline RawValue Read(Registry& registry, HKEY root, std::string_view key, std::string_view name) {
    RawValue value;
    HKEY handle = 0;
    if (registry.RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (registry.RegQueryValueExA(handle, name, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        std::string bytes(size, '\0');
        registry.RegQueryValueExA(handle, name, &value.type,
                                  reinterpret_cast<std::uint8_t*>(bytes.data()), &size);
        bytes.resize(size);
        value.bytes = bytes;
    } else {
        value.type = REG_NONE;
    }
    registry.RegCloseKey(handle);
    return value;
}

// Every key (as "path\") and value (as "path\name") of HKEY_LOCAL_MACHINE.
using Snapshot = std::map<std::string, RawValue>;

inline void SnapshotKey(Registry& registry, const std::string& path, Snapshot& snapshot) {
    HKEY handle = 0;
    if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return;
    }
    snapshot[path + "\\"] = {};
    std::string name;
    std::string data;
    DWORD type = 0;
    for (DWORD i = 0; registry.RegEnumValueA(handle, i, &name, &type, &data) == ERROR_SUCCESS;
         ++i) {
        snapshot[path + "\\" + name] = {type, data};
    }
    std::vector<std::string> children;
    for (DWORD i = 0; registry.RegEnumKeyExA(handle, i, &name) == ERROR_SUCCESS; ++i) {
        children.push_back(name);
    }
    registry.RegCloseKey(handle);
    for (const std::string& child : children) {
        SnapshotKey(registry, path.empty() ? child : path + "\\" + child, snapshot);
    }
}

inline Snapshot TakeSnapshot(Registry& registry) {
    Snapshot snapshot;
    SnapshotKey(registry, "", snapshot);
    return snapshot;
}

// The store as a process that may not write it sees it: every value readable,
// every open for writing, create, write and delete answering 5.
class ReadOnlyRegistry final : public Registry {
  public:
    explicit ReadOnlyRegistry(Registry& store) : store_(store) {}

    LONG RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD options, DWORD samDesired,
                       HKEY* result) override {
        if ((samDesired & ~KEY_READ) != 0) return ERROR_ACCESS_DENIED;
        return store_.RegOpenKeyExA(key, subKey, options, samDesired, result);
    }
    LONG RegCreateKeyA(HKEY, std::string_view, HKEY*) override { return ERROR_ACCESS_DENIED; }
    LONG RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type, std::uint8_t* data,
                          DWORD* dataSize) override {
        return store_.RegQueryValueExA(key, valueName, type, data, dataSize);
    }
    LONG RegSetValueExA(HKEY, std::string_view, DWORD, const std::uint8_t*, DWORD) override {
        return ERROR_ACCESS_DENIED;
    }
    LONG RegDeleteValueA(HKEY, std::string_view) override { return ERROR_ACCESS_DENIED; }
    LONG RegDeleteKeyA(HKEY, std::string_view) override { return ERROR_ACCESS_DENIED; }
    LONG RegCloseKey(HKEY key) override { return store_.RegCloseKey(key); }
    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override {
        return store_.RegEnumKeyExA(key, index, name);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                       std::string* data) override {
        return store_.RegEnumValueA(key, index, valueName, type, data);
    }
    std::string StoreProblem() const override { return store_.StoreProblem(); }

  private:
    Registry& store_;
};

// The store failing unexpectedly (an exception, as a lost store or memory would
// raise): on deleting one key, or on every value query.
class FailingRegistry final : public Registry {
  public:
    explicit FailingRegistry(Registry& store) : store_(store) {}
    std::string failingDeleteKey;
    bool failQueries = false;

    LONG RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD options, DWORD samDesired,
                       HKEY* result) override {
        return store_.RegOpenKeyExA(key, subKey, options, samDesired, result);
    }
    LONG RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) override {
        return store_.RegCreateKeyA(key, subKey, result);
    }
    LONG RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type, std::uint8_t* data,
                          DWORD* dataSize) override {
        if (failQueries) throw std::runtime_error("store lost");
        return store_.RegQueryValueExA(key, valueName, type, data, dataSize);
    }
    LONG RegSetValueExA(HKEY key, std::string_view valueName, DWORD type, const std::uint8_t* data,
                        DWORD dataSize) override {
        return store_.RegSetValueExA(key, valueName, type, data, dataSize);
    }
    LONG RegDeleteValueA(HKEY key, std::string_view valueName) override {
        return store_.RegDeleteValueA(key, valueName);
    }
    LONG RegDeleteKeyA(HKEY key, std::string_view subKey) override {
        if (subKey == failingDeleteKey) throw std::runtime_error("store lost");
        return store_.RegDeleteKeyA(key, subKey);
    }
    LONG RegCloseKey(HKEY key) override { return store_.RegCloseKey(key); }
    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override {
        return store_.RegEnumKeyExA(key, index, name);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                       std::string* data) override {
        return store_.RegEnumValueA(key, index, valueName, type, data);
    }
    std::string StoreProblem() const override { return store_.StoreProblem(); }

  private:
    Registry& store_;
};

}  // namespace orvel::dcom::testing

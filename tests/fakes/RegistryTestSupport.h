#pragma once

// Helpers for tests against the real registry store: seeding and reading raw
// values, a snapshot of the whole store, and a view of the store as a process
// without write rights sees it, or as a store that fails.

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace orvel::fakes {

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
        value.bytes.resize(size);
        registry.RegQueryValueExA(handle, name, &value.type,
                                  reinterpret_cast<std::uint8_t*>(value.bytes.data()), &size);
        value.bytes.resize(size);
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

// A view of the real store. readOnly: as a process that may not write the store
// sees it (every value readable; opening for writing, create, write and delete
// answer 5). The throw switches make the store fail unexpectedly, as a lost store
// or exhausted memory would: on deleting one key, or on every value query.
class StoreView : public Registry {
  public:
    explicit StoreView(Registry& store) : store_(store) {}
    bool readOnly = false;
    std::string throwOnDeleteKey;
    bool throwOnQuery = false;

    LONG RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD options, DWORD samDesired,
                       HKEY* result) override {
        if (readOnly && (samDesired & ~KEY_READ) != 0) return ERROR_ACCESS_DENIED;
        return store_.RegOpenKeyExA(key, subKey, options, samDesired, result);
    }
    LONG RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) override {
        return readOnly ? ERROR_ACCESS_DENIED : store_.RegCreateKeyA(key, subKey, result);
    }
    LONG RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type, std::uint8_t* data,
                          DWORD* dataSize) override {
        if (throwOnQuery) throw std::runtime_error("store lost");
        return store_.RegQueryValueExA(key, valueName, type, data, dataSize);
    }
    LONG RegSetValueExA(HKEY key, std::string_view valueName, DWORD type, const std::uint8_t* data,
                        DWORD dataSize) override {
        return readOnly ? ERROR_ACCESS_DENIED
                        : store_.RegSetValueExA(key, valueName, type, data, dataSize);
    }
    LONG RegDeleteValueA(HKEY key, std::string_view valueName) override {
        return readOnly ? ERROR_ACCESS_DENIED : store_.RegDeleteValueA(key, valueName);
    }
    LONG RegDeleteKeyA(HKEY key, std::string_view subKey) override {
        if (subKey == throwOnDeleteKey) throw std::runtime_error("store lost");
        return readOnly ? ERROR_ACCESS_DENIED : store_.RegDeleteKeyA(key, subKey);
    }
    LONG RegCloseKey(HKEY key) override { return store_.RegCloseKey(key); }
    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override {
        return store_.RegEnumKeyExA(key, index, name);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                       std::string* data) override {
        return store_.RegEnumValueA(key, index, valueName, type, data);
    }
    LONG RegApplyBatch(const std::function<LONG()>& work) override {
        return store_.RegApplyBatch(work);
    }
    std::string StoreProblem() const override { return store_.StoreProblem(); }

  private:
    Registry& store_;
};

// The store as a process without write rights sees it.
struct ReadOnlyStore : StoreView {
    explicit ReadOnlyStore(Registry& store) : StoreView(store) { readOnly = true; }
};

}  // namespace orvel::fakes

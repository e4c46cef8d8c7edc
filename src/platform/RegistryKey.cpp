#include "platform/RegistryKey.h"

#include <array>

#include "platform/AsciiCase.h"

namespace orvel::platform {

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        Close();
        registry_ = other.registry_;
        key_ = other.key_;
        other.key_ = 0;
    }
    return *this;
}

LONG RegistryKey::Open(HKEY root, std::string_view subKey, DWORD access) {
    Close();
    HKEY key = 0;
    const LONG result = registry_->RegOpenKeyExA(root, subKey, 0, access, &key);
    if (result == ERROR_SUCCESS) key_ = key;
    return result;
}

LONG RegistryKey::Create(HKEY root, std::string_view subKey) {
    Close();
    HKEY key = 0;
    const LONG result = registry_->RegCreateKeyA(root, subKey, &key);
    if (result == ERROR_SUCCESS) key_ = key;
    return result;
}

void RegistryKey::Close() {
    if (key_ != 0) registry_->RegCloseKey(key_);
    key_ = 0;
}

LONG ReadRegistryValue(Registry& registry, HKEY root, std::string_view subKey,
                       std::string_view valueName, RegistryValue* value, DWORD limit) {
    RegistryKey key(registry);
    LONG result = key.Open(root, subKey, KEY_READ);
    if (result != ERROR_SUCCESS) return result;
    // Asked for its size first; another writer may change it in between, so ask again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = 0;
        DWORD type = REG_NONE;
        result = registry.RegQueryValueExA(key.get(), valueName, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) return result;
        if (size > limit) return ERROR_MORE_DATA;
        std::vector<std::uint8_t> data(size == 0 ? 1 : size);
        result = registry.RegQueryValueExA(key.get(), valueName, &type, data.data(), &size);
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) return result;
        data.resize(size);
        value->type = type;
        value->data = std::move(data);
        return ERROR_SUCCESS;
    }
    return result;
}

namespace {

// The path as it lies below HKEY_LOCAL_MACHINE, without a trailing backslash.
std::string MachinePath(HKEY root, std::string_view path) {
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    std::string full = root == HKEY_CLASSES_ROOT ? "SOFTWARE\\Classes" : "";
    if (!full.empty() && !path.empty()) full += '\\';
    full += path;
    return full;
}

}  // namespace

bool IsProtectedKey(HKEY root, std::string_view path) {
    if (root != HKEY_LOCAL_MACHINE && root != HKEY_CLASSES_ROOT) return path.empty();
    static constexpr std::array<std::string_view, 5> kProtected = {
        "", "SOFTWARE", "SOFTWARE\\Classes", "SOFTWARE\\Classes\\CLSID",
        "SOFTWARE\\Classes\\AppID"};
    const std::string full = MachinePath(root, path);
    for (std::string_view key : kProtected) {
        if (EqualIgnoringAsciiCase(full, key)) return true;
    }
    return false;
}

int KeyDepth(HKEY root, std::string_view path) {
    const std::string full = MachinePath(root, path);
    if (full.empty()) return 0;
    int depth = 1;
    for (char c : full) depth += c == '\\' ? 1 : 0;
    return depth;
}

}  // namespace orvel::platform

#pragma once

// The registry operations the console was written against, with the Windows
// result codes, access masks and value types. Handles are 32-bit values: the
// root constants below, or a handle returned by an open or create.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AsciiCase.h"

namespace orvel::platform {

using HKEY = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

inline constexpr DWORD KEY_READ = 0x20019u;
inline constexpr DWORD KEY_WRITE = 0x20006u;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003Fu;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_DISK_FULL = 112;  // "There is not enough space on the disk."
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BUSY = 170;  // another writer held the store too long
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
// The store file itself is damaged or unreadable (ERROR_BADDB).
inline constexpr LONG ERROR_BADDB = 1009;

// The deepest a key may lie below its hive root, as Windows allows.
inline constexpr int kMaxKeyDepth = 512;

// Whether a key is one that is never deleted: the hive roots, SOFTWARE,
// SOFTWARE\Classes (HKEY_CLASSES_ROOT) and the CLSID and AppID keys under it,
// which hold every class registration. Any letter case, HKEY_CLASSES_ROOT or
// its HKEY_LOCAL_MACHINE spelling, one trailing backslash.
bool IsProtectedKey(HKEY root, std::string_view path);

// How many levels below HKEY_LOCAL_MACHINE a path lies (HKEY_CLASSES_ROOT is 2).
int KeyDepth(HKEY root, std::string_view path);

class Registry {
  public:
    virtual ~Registry() = default;

    // Opens an existing key; never creates. An empty sub-key opens the key itself.
    virtual LONG RegOpenKeyExA(HKEY key, std::string_view subKey, DWORD options, DWORD samDesired,
                               HKEY* result) = 0;
    // Opens the key, or creates it with every missing intermediate key.
    virtual LONG RegCreateKeyA(HKEY key, std::string_view subKey, HKEY* result) = 0;
    // An empty value name addresses the default value. On success dataSize holds the
    // bytes copied; when the buffer is too small, 234 and the size needed. data may be
    // null to ask for the size (then 0 and the size).
    virtual LONG RegQueryValueExA(HKEY key, std::string_view valueName, DWORD* type,
                                  std::uint8_t* data, DWORD* dataSize) = 0;
    virtual LONG RegSetValueExA(HKEY key, std::string_view valueName, DWORD type,
                                const std::uint8_t* data, DWORD dataSize) = 0;
    virtual LONG RegDeleteValueA(HKEY key, std::string_view valueName) = 0;
    // Deletes the last component of subKey; refuses (5) a key that has subkeys.
    virtual LONG RegDeleteKeyA(HKEY key, std::string_view subKey) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;

    // Enumeration, as RegEnumKeyExA and RegEnumValueA: index from 0 until 259.
    // Names come back in the case they were created with, in creation order.
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) = 0;
    virtual LONG RegEnumValueA(HKEY key, DWORD index, std::string* valueName, DWORD* type,
                               std::string* data) = 0;

    // Runs work as one write of the store: when work answers ERROR_SUCCESS, all it
    // wrote is kept together; when it answers anything else or throws, none of it
    // is. Other processes see the whole batch or nothing, and the work's reads see
    // one state of the store. Answers work's result, or why the batch could not be
    // kept.
    virtual LONG RegApplyBatch(const std::function<LONG()>& work) = 0;

    // Finds one value by name (any letter case) and answers the name as it was
    // created, its type and its bytes; 2 when there is none. Implementations
    // with an index look it up; this one enumerates.
    virtual LONG RegFindValueA(HKEY key, std::string_view valueName, std::string* storedName,
                               DWORD* type, std::string* data) {
        std::string name;
        for (DWORD index = 0;; ++index) {
            const LONG result = RegEnumValueA(key, index, &name, type, data);
            if (result == ERROR_NO_MORE_ITEMS) return ERROR_FILE_NOT_FOUND;
            if (result != ERROR_SUCCESS) return result;
            if (EqualIgnoringAsciiCase(name, valueName)) {
                if (storedName != nullptr) *storedName = name;
                return ERROR_SUCCESS;
            }
        }
    }

    // As RegDeleteTreeA: deletes the key subKey below key with its sub-keys and
    // values; with an empty subKey, the sub-keys and values of key itself. A
    // protected key (or one holding protected keys) is refused with 5.
    // Implementations that can name keys by more than their names (a sub-key
    // with an empty name, made by another program) delete those too; this one
    // works by names and answers 87 for a key it cannot name, or for a tree
    // deeper than the registry allows.
    virtual LONG RegDeleteTreeA(HKEY key, std::string_view subKey) {
        const bool root = key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT;
        if (root && IsProtectedKey(key, subKey)) return ERROR_ACCESS_DENIED;
        struct Level {
            HKEY handle;
            std::string name;
        };
        std::vector<Level> levels;
        HKEY top = 0;
        if (LONG result = RegOpenKeyExA(key, subKey, 0, KEY_ALL_ACCESS, &top);
            result != ERROR_SUCCESS) {
            return result;
        }
        levels.push_back({top, std::string(subKey)});
        LONG result = ERROR_SUCCESS;
        while (result == ERROR_SUCCESS && !levels.empty()) {
            std::string child;
            result = RegEnumKeyExA(levels.back().handle, 0, &child);
            if (result == ERROR_SUCCESS) {
                HKEY handle = 0;
                if (child.empty() || levels.size() > static_cast<std::size_t>(kMaxKeyDepth)) {
                    result = ERROR_INVALID_PARAMETER;
                } else if ((result = RegOpenKeyExA(levels.back().handle, child, 0, KEY_ALL_ACCESS,
                                                   &handle)) == ERROR_SUCCESS) {
                    levels.push_back({handle, std::move(child)});
                }
                continue;
            }
            if (result != ERROR_NO_MORE_ITEMS) break;
            result = ERROR_SUCCESS;
            Level done = std::move(levels.back());
            levels.pop_back();
            RegCloseKey(done.handle);
            if (!levels.empty()) {
                result = RegDeleteKeyA(levels.back().handle, done.name);
            } else if (!subKey.empty()) {
                result = RegDeleteKeyA(key, subKey);
            } else {
                std::string value;
                while (result == ERROR_SUCCESS &&
                       RegEnumValueA(key, 0, &value, nullptr, nullptr) == ERROR_SUCCESS) {
                    result = RegDeleteValueA(key, value);
                }
            }
        }
        for (const Level& level : levels) RegCloseKey(level.handle);
        return result;
    }

    // Empty when the store is healthy; otherwise a one-line message naming the
    // damaged or unreadable file. Every operation then answers ERROR_BADDB or 2.
    virtual std::string StoreProblem() const = 0;
};

}  // namespace orvel::platform

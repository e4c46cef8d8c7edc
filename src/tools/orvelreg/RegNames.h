#pragma once

// Key names and value type names as the operator writes them and as .reg
// files and query lines show them.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace orvel::tools {

using platform::DWORD;
using platform::HKEY;

// A key as the operator names it: "HKLM\SOFTWARE\X", "HKEY_CLASSES_ROOT\CLSID".
struct KeyName {
    HKEY root = 0;
    std::string path;  // below the root, without leading or trailing backslash

    // "HKEY_LOCAL_MACHINE\SOFTWARE\X", the long form used in output and .reg files.
    std::string FullName() const;
    KeyName Child(std::string_view name) const;
};

// Parses a key name; nullopt for an unknown root or an empty component.
std::optional<KeyName> ParseKeyName(std::string_view text);

// "REG_SZ" for 1 ...; other codes as "REG_0x<hex>". Parsing takes the names only.
std::string TypeName(DWORD type);
std::optional<DWORD> ParseTypeName(std::string_view name);

// The names ParseTypeName takes, for messages: "REG_SZ, REG_EXPAND_SZ, ...".
std::string TypeNameList();

// "the key lies deeper than 512 levels, ..." for messages.
std::string TooDeepText();

}  // namespace orvel::tools

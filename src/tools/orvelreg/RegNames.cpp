#include "tools/orvelreg/RegNames.h"

#include <cstdio>

#include "platform/AsciiCase.h"

namespace orvel::tools {

using namespace platform;

namespace {

// The types add /t takes, in the order the usage lists them.
constexpr DWORD kNamedTypes[] = {REG_SZ,       REG_EXPAND_SZ, REG_DWORD, REG_QWORD,
                                 REG_MULTI_SZ, REG_BINARY,    REG_NONE};

}  // namespace

std::string KeyName::FullName() const {
    std::string name = root == HKEY_CLASSES_ROOT ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
    if (!path.empty()) name += '\\' + path;
    return name;
}

KeyName KeyName::Child(std::string_view name) const {
    KeyName child{root, path};
    if (!child.path.empty()) child.path += '\\';
    child.path += name;
    return child;
}

std::optional<KeyName> ParseKeyName(std::string_view text) {
    const std::size_t slash = text.find('\\');
    const std::string_view root = text.substr(0, slash);
    KeyName key;
    if (EqualIgnoringAsciiCase(root, "hklm") ||
        EqualIgnoringAsciiCase(root, "hkey_local_machine")) {
        key.root = HKEY_LOCAL_MACHINE;
    } else if (EqualIgnoringAsciiCase(root, "hkcr") ||
               EqualIgnoringAsciiCase(root, "hkey_classes_root")) {
        key.root = HKEY_CLASSES_ROOT;
    } else {
        return std::nullopt;
    }
    if (slash == std::string_view::npos) return key;
    std::string_view path = text.substr(slash + 1);
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.empty()) return key;
    if (path.front() == '\\' || path.find("\\\\") != std::string_view::npos) return std::nullopt;
    key.path = std::string(path);
    return key;
}

std::string TypeName(DWORD type) {
    switch (type) {
        case REG_NONE:
            return "REG_NONE";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default: {
            char text[24];
            std::snprintf(text, sizeof text, "REG_0x%X", type);
            return text;
        }
    }
}

std::optional<DWORD> ParseTypeName(std::string_view name) {
    for (DWORD type : kNamedTypes) {
        if (EqualIgnoringAsciiCase(name, TypeName(type))) return type;
    }
    return std::nullopt;
}

std::string TypeNameList() {
    std::string list;
    for (DWORD type : kNamedTypes) list += (list.empty() ? "" : ", ") + TypeName(type);
    return list;
}

std::string TooDeepText() {
    return "the key lies deeper than " + std::to_string(kMaxKeyDepth) +
           " levels, more than the registry allows";
}

}  // namespace orvel::tools

#pragma once

// The text side of orvel-reg, apart from any store: the command line, value
// data as typed after /d, the lines of a query and the .reg file layout.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

enum class Verb { Help, Query, Add, Delete, Export, Import };

struct Command {
    Verb verb = Verb::Help;
    KeyName key;
    std::optional<std::string> valueName;  // /v NAME, or "" for /ve
    bool allValues = false;                // delete /va
    bool subtree = false;                  // query /s
    std::optional<DWORD> type;             // add /t
    std::optional<std::string> data;       // add /d
    char separator = '\0';                 // add /s for REG_MULTI_SZ; '\0' means the text "\0"
    bool force = false;                    // /f (add, delete), /y (export)
    std::string file;                      // export, import
};

// Parses the arguments after the program name. On a usage error, returns
// nullopt and sets error to one line that says what is wrong.
std::optional<Command> ParseCommandLine(const std::vector<std::string>& args, std::string* error);

std::string UsageText();

// "REG_SZ" for 1 ...; other codes as "REG_0x<hex>". Parsing takes the names only.
std::string TypeName(DWORD type);
std::optional<DWORD> ParseTypeName(std::string_view name);

// The bytes a value of this type gets from the text after /d: strings with
// their NUL, multi-strings split at the separator ("\0" as text when it is NUL)
// with the closing NUL, double words from decimal or 0x hex, binary from hex
// digits. nullopt and error when the text does not fit the type.
std::optional<std::string> EncodeData(DWORD type, std::string_view text, char separator,
                                      std::string* error);

// A value as a query line shows its data: text without its NUL, multi-strings
// joined with "\0", double words as 0x hex, everything else as hex digits.
std::string DisplayData(DWORD type, std::string_view bytes);

// One value or key of a .reg file. remove stands for the "-" forms:
// [-KEY] deletes the key and its subtree, "name"=- deletes the value.
struct RegValueEntry {
    std::string name;  // "" is the default value (@)
    bool remove = false;
    DWORD type = platform::REG_NONE;
    std::string data;  // exact bytes
    int line = 0;      // where a parsed .reg file has it
};

struct RegKeyEntry {
    KeyName key;
    bool remove = false;
    std::vector<RegValueEntry> values;
    int line = 0;  // where a parsed .reg file has it
};

// The whole .reg text: the version line, then each key with its values.
// Values whose bytes the text forms cannot carry exactly are written as hex(N).
std::string FormatRegFile(const std::vector<RegKeyEntry>& keys);

// Parses .reg text (LF or CR LF lines, "Windows Registry Editor Version 5.00"
// or "REGEDIT4" first): ANSI or UTF-8 bytes, or UTF-16 little-endian after its
// byte-order mark, as the registry editor writes by default (then the text is
// taken as UTF-8; hex lists keep their bytes as written). On a fault, returns
// false and sets error to a message with the line number; nothing of the file
// should be applied then. Keys deeper than the registry allows are a fault.
bool ParseRegFile(std::string_view text, std::vector<RegKeyEntry>* keys, std::string* error);

// "the key lies deeper than 512 levels, ..." for messages.
std::string TooDeepText();

}  // namespace orvel::tools

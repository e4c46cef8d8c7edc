#pragma once

// The .reg file: what it holds, how it is written and how it is read.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/orvelreg/RegNames.h"

namespace orvel::tools {

// One value or key of a .reg file. remove stands for the "-" forms:
// [-KEY] deletes the key and its subtree, "name"=- deletes the value.
struct RegValueEntry {
    std::string name;  // "" is the default value (@)
    bool remove = false;
    DWORD type = platform::REG_NONE;
    std::string data;  // exact bytes, text as UTF-8
    int line = 0;      // where a parsed .reg file has it
};

struct RegKeyEntry {
    KeyName key;
    bool remove = false;
    std::vector<RegValueEntry> values;
    int line = 0;  // where a parsed .reg file has it
};

// The two forms an export writes.
// Utf8: for Linux: UTF-8 without byte-order mark, LF line ends, every byte of
//   the store kept (text that is not UTF-8 included).
// Windows: what Windows' editor and reg write and read without loss: UTF-16
//   little-endian after its byte-order mark, CR LF line ends, the text of
//   hex(1), hex(2) and hex(7) in UTF-16. Text that is not UTF-8 cannot be
//   written in it.
enum class RegFileForm { Utf8, Windows };

// The whole .reg text: the version line, then each key with its values.
// Values whose bytes the "text" and dword: forms cannot carry exactly, and
// text holding a line break, are written as hex(N), so that no value can
// start a line of its own. nullopt and error (naming the key or value) for a
// name that no .reg file can carry (a line break in it, a key name that
// would read back as another) or text the form cannot carry.
std::optional<std::string> FormatRegFile(const std::vector<RegKeyEntry>& keys, RegFileForm form,
                                         std::string* error);

// Parses a .reg file ("Windows Registry Editor Version 5.00" or "REGEDIT4"
// first; LF or CR LF lines). The file's encoding decides how its text and the
// bytes of hex(1), hex(2) and hex(7) become the store's UTF-8:
// - UTF-16 little-endian after its byte-order mark (as Windows' editor writes):
//   the text, and those hex lists as UTF-16 text;
// - "REGEDIT4" in 8 bits: UTF-8 when the whole file is UTF-8, otherwise
//   Windows-1252; those hex lists likewise, or as UTF-16 where they plainly
//   are (an even count of bytes ending in a UTF-16 NUL);
// - "Windows Registry Editor Version 5.00" in 8 bits (as orvel-reg writes
//   for Linux, with or without a UTF-8 byte-order mark): every byte as it is.
// On a fault, returns false and sets error to a message with the line number;
// nothing of the file should be applied then. Keys deeper than the registry
// allows are a fault.
bool ParseRegFile(std::string_view text, std::vector<RegKeyEntry>* keys, std::string* error);

}  // namespace orvel::tools

#include "tools/orvelreg/RegText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <utility>

namespace orvel::tools {

using namespace platform;

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string HexByte(unsigned char byte, const char* digits) {
    return {digits[byte >> 4], digits[byte & 15]};
}

std::string LittleEndian(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::uint32_t FromLittleEndian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Quoted text of a .reg file: backslash and double quote escaped.
std::string Quote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// A string value the "..." form carries exactly: one NUL, at the end.
bool PlainString(DWORD type, std::string_view data) {
    return type == REG_SZ && !data.empty() && data.back() == '\0' &&
           data.find('\0') == data.size() - 1;
}

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
    const std::string root = Lower(text.substr(0, slash));
    KeyName key;
    if (root == "hklm" || root == "hkey_local_machine") {
        key.root = HKEY_LOCAL_MACHINE;
    } else if (root == "hkcr" || root == "hkey_classes_root") {
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
        default: {
            char text[24];
            std::snprintf(text, sizeof text, "REG_0x%X", type);
            return text;
        }
    }
}

std::optional<DWORD> ParseTypeName(std::string_view name) {
    const std::string lower = Lower(name);
    for (DWORD type : {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ}) {
        if (lower == Lower(TypeName(type))) return type;
    }
    return std::nullopt;
}

namespace {

std::optional<std::string> EncodeMultiString(std::string_view text, char separator,
                                             std::string* error) {
    if (text.empty()) return std::string(1, '\0');
    const std::string_view mark =
        separator == '\0' ? std::string_view("\\0", 2) : std::string_view(&separator, 1);
    std::string data;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(mark, start);
        const std::string_view entry = text.substr(start, end - start);
        if (entry.empty()) {
            *error = "a REG_MULTI_SZ entry cannot be empty (it would end the list)";
            return std::nullopt;
        }
        data += entry;
        data += '\0';
        if (end == std::string_view::npos) break;
        start = end + mark.size();
    }
    return data + '\0';
}

std::optional<std::string> EncodeDword(std::string_view text, std::string* error) {
    std::uint64_t value = 0;
    std::string_view digits = text;
    const bool hex =
        digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hex) digits.remove_prefix(2);
    bool valid = !digits.empty() && digits.size() <= (hex ? 8u : 10u);
    for (char c : digits) {
        const int digit = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0) valid = false;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit < 0 ? 0 : digit);
    }
    if (!valid || value > 0xFFFFFFFFull) {
        *error = "REG_DWORD data must be a number from 0 to 4294967295, decimal or 0x hex: \"" +
                 std::string(text) + "\"";
        return std::nullopt;
    }
    return LittleEndian(static_cast<std::uint32_t>(value));
}

std::optional<std::string> EncodeHex(DWORD type, std::string_view text, std::string* error) {
    if (text.size() % 2 != 0) {
        *error =
            TypeName(type) + " data must be pairs of hex digits: \"" + std::string(text) + "\"";
        return std::nullopt;
    }
    std::string data;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            *error = TypeName(type) + " data must be hex digits: \"" + std::string(text) + "\"";
            return std::nullopt;
        }
        data += static_cast<char>(high * 16 + low);
    }
    return data;
}

}  // namespace

std::optional<std::string> EncodeData(DWORD type, std::string_view text, char separator,
                                      std::string* error) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return std::string(text) + '\0';
        case REG_MULTI_SZ:
            return EncodeMultiString(text, separator, error);
        case REG_DWORD:
            return EncodeDword(text, error);
        default:
            return EncodeHex(type, text, error);
    }
}

std::string DisplayData(DWORD type, std::string_view bytes) {
    auto nulsAsText = [](std::string_view text) {
        std::string shown;
        for (char c : text) {
            if (c == '\0') {
                shown += "\\0";
            } else {
                shown += c;
            }
        }
        return shown;
    };
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
            return nulsAsText(bytes);
        case REG_MULTI_SZ:
            if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
            if (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
            return nulsAsText(bytes);
        case REG_DWORD:
            if (bytes.size() == 4) {
                char text[16];
                std::snprintf(text, sizeof text, "0x%x", FromLittleEndian(bytes));
                return text;
            }
            [[fallthrough]];
        default: {
            std::string hex;
            for (char c : bytes) hex += HexByte(static_cast<unsigned char>(c), "0123456789ABCDEF");
            return hex;
        }
    }
}

std::string FormatRegFile(const std::vector<RegKeyEntry>& keys) {
    constexpr std::size_t kLineWidth = 80;
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (const RegKeyEntry& key : keys) {
        text += key.remove ? "[-" : "[";
        text += key.key.FullName() + "]\n";
        for (const RegValueEntry& value : key.values) {
            std::string line = value.name.empty() ? "@=" : Quote(value.name) + "=";
            if (value.remove) {
                line += "-";
            } else if (PlainString(value.type, value.data)) {
                line += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
            } else if (value.type == REG_DWORD && value.data.size() == 4) {
                char number[16];
                std::snprintf(number, sizeof number, "dword:%08x", FromLittleEndian(value.data));
                line += number;
            } else {
                char prefix[24];
                if (value.type == REG_BINARY) {
                    std::snprintf(prefix, sizeof prefix, "hex:");
                } else {
                    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
                }
                line += prefix;
                // Long lists continue on the next line after a backslash, as regedit wraps them.
                std::size_t lineStart = 0;
                for (std::size_t i = 0; i < value.data.size(); ++i) {
                    std::string item =
                        HexByte(static_cast<unsigned char>(value.data[i]), "0123456789abcdef");
                    if (i + 1 < value.data.size()) item += ',';
                    if (line.size() - lineStart + item.size() > kLineWidth - 2) {
                        line += "\\\n  ";
                        lineStart = line.size() - 2;
                    }
                    line += item;
                }
            }
            text += line + "\n";
        }
        text += "\n";
    }
    return text;
}

namespace {

// Reads .reg text one character at a time, counting lines for messages.
class RegReader {
  public:
    explicit RegReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    char Next() {
        const char c = text_[pos_++];
        if (c == '\n') ++line_;
        return c;
    }
    int line() const { return line_; }
    bool Fail(const std::string& message) {
        error_ = "line " + std::to_string(line_) + ": " + message;
        return false;
    }
    const std::string& error() const { return error_; }

    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t')) Next();
    }
    // The rest of the line without its line break (which is consumed).
    std::string_view RestOfLine() {
        const std::size_t start = pos_;
        while (!AtEnd() && Peek() != '\n') Next();
        std::string_view rest = text_.substr(start, pos_ - start);
        if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
        if (!AtEnd()) Next();
        return rest;
    }
    // Nothing but blanks or a comment may follow on this line.
    bool EndOfLine() {
        SkipBlanks();
        if (!AtEnd() && Peek() == ';') RestOfLine();
        if (!AtEnd() && Peek() == '\r') Next();
        if (AtEnd()) return true;
        if (Peek() != '\n') return Fail("unexpected text after the value");
        Next();
        return true;
    }
    bool StartsWith(std::string_view word) const {
        return Lower(text_.substr(pos_, word.size())) == word;
    }
    void Skip(std::size_t count) {
        for (std::size_t i = 0; i < count && !AtEnd(); ++i) Next();
    }
    // A quoted text after its opening quote; \\ and \" stand for \ and ".
    bool Quoted(std::string* text) {
        text->clear();
        while (!AtEnd()) {
            char c = Next();
            if (c == '"') return true;
            if (c == '\\' && !AtEnd() && (Peek() == '\\' || Peek() == '"')) c = Next();
            *text += c;
        }
        return Fail("a quoted text has no closing quote");
    }
    // Comma-separated hex bytes, possibly continued over lines ending in a backslash.
    bool HexList(std::string* data) {
        data->clear();
        bool expectByte = true;
        while (true) {
            SkipBlanks();
            if (AtEnd()) break;
            const char c = Peek();
            if (c == '\\') {
                Next();
                SkipBlanks();
                if (!AtEnd() && Peek() == '\r') Next();
                if (AtEnd() || Peek() != '\n') return Fail("a backslash must end the line");
                Next();
                continue;
            }
            if (c == '\r' || c == '\n' || c == ';') break;
            if (c == ',') {
                if (expectByte) return Fail("a hex byte is missing before a comma");
                Next();
                expectByte = true;
                continue;
            }
            const int high = HexDigit(c);
            if (high < 0 || !expectByte) return Fail("a hex byte is malformed");
            Next();
            int value = high;
            if (!AtEnd() && HexDigit(Peek()) >= 0) value = value * 16 + HexDigit(Next());
            if (!AtEnd() && HexDigit(Peek()) >= 0) return Fail("a hex byte has too many digits");
            *data += static_cast<char>(value);
            expectByte = false;
        }
        if (expectByte && !data->empty()) return Fail("the hex list ends with a comma");
        return EndOfLine();
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
    std::string error_;
};

bool ParseValue(RegReader& reader, RegValueEntry* value) {
    if (reader.Peek() == '@') {
        reader.Next();
        value->name.clear();
    } else {
        reader.Next();  // the opening quote
        if (!reader.Quoted(&value->name)) return false;
    }
    reader.SkipBlanks();
    if (reader.Peek() != '=') return reader.Fail("'=' is missing after the name");
    reader.Next();
    reader.SkipBlanks();
    if (reader.Peek() == '-') {
        reader.Next();
        value->remove = true;
        return reader.EndOfLine();
    }
    if (reader.Peek() == '"') {
        reader.Next();
        value->type = REG_SZ;
        if (!reader.Quoted(&value->data)) return false;
        value->data += '\0';
        return reader.EndOfLine();
    }
    if (reader.StartsWith("dword:")) {
        reader.Skip(6);
        std::uint32_t number = 0;
        int digits = 0;
        while (!reader.AtEnd() && HexDigit(reader.Peek()) >= 0 && digits < 9) {
            number = number * 16 + static_cast<std::uint32_t>(HexDigit(reader.Next()));
            ++digits;
        }
        if (digits == 0 || digits > 8) return reader.Fail("dword: needs 1 to 8 hex digits");
        value->type = REG_DWORD;
        value->data = LittleEndian(number);
        return reader.EndOfLine();
    }
    if (reader.StartsWith("hex:")) {
        reader.Skip(4);
        value->type = REG_BINARY;
        return reader.HexList(&value->data);
    }
    if (reader.StartsWith("hex(")) {
        reader.Skip(4);
        std::uint64_t type = 0;
        int digits = 0;
        while (!reader.AtEnd() && HexDigit(reader.Peek()) >= 0 && digits < 9) {
            type = type * 16 + static_cast<std::uint64_t>(HexDigit(reader.Next()));
            ++digits;
        }
        if (digits == 0 || digits > 8 || !reader.StartsWith("):")) {
            return reader.Fail("hex(N): needs a type number of 1 to 8 hex digits");
        }
        reader.Skip(2);
        value->type = static_cast<DWORD>(type);
        return reader.HexList(&value->data);
    }
    return reader.Fail("the value data is not \"text\", dword:, hex: or hex(N):");
}

}  // namespace

namespace {

void AppendUtf8(std::uint32_t code, std::string* text) {
    if (code < 0x80) {
        *text += static_cast<char>(code);
    } else if (code < 0x800) {
        *text += static_cast<char>(0xC0 | (code >> 6));
        *text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *text += static_cast<char>(0xE0 | (code >> 12));
        *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *text += static_cast<char>(0xF0 | (code >> 18));
        *text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 little-endian text (after its byte-order mark) as UTF-8.
bool Utf16ToUtf8(std::string_view bytes, std::string* text, std::string* error) {
    if (bytes.size() % 2 != 0) {
        *error = "the UTF-16 file ends in the middle of a character";
        return false;
    }
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    };
    int line = 1;
    text->reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            *error = "line " + std::to_string(line) + ": a UTF-16 character is broken";
            return false;
        }
        if (code == '\n') ++line;
        AppendUtf8(code, text);
    }
    return true;
}

// The version line comes first, after any blank lines.
bool ParseVersionLine(RegReader& reader, std::string* error) {
    while (!reader.AtEnd()) {
        reader.SkipBlanks();
        std::string_view line = reader.RestOfLine();
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4") return true;
        *error = "the file does not start with \"Windows Registry Editor Version 5.00\"";
        return false;
    }
    *error = "the file is empty";
    return false;
}

bool ParseKeyLine(RegReader& reader, std::vector<RegKeyEntry>* keys, std::string* error) {
    const int line = reader.line();
    const std::string where = "line " + std::to_string(line) + ": ";
    std::string_view header = reader.RestOfLine();
    const std::size_t close = header.rfind(']');
    if (close == std::string_view::npos) {
        *error = where + "a key line has no closing ']'";
        return false;
    }
    RegKeyEntry entry;
    entry.line = line;
    std::string_view name = header.substr(1, close - 1);
    if (!name.empty() && name.front() == '-') {
        entry.remove = true;
        name.remove_prefix(1);
    }
    const std::optional<KeyName> key = ParseKeyName(name);
    if (!key) {
        *error = where + "\"" + std::string(name) +
                 "\" is not a key under HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT";
        return false;
    }
    if (KeyDepth(key->root, key->path) > kMaxKeyDepth) {
        *error = where + TooDeepText();
        return false;
    }
    entry.key = *key;
    keys->push_back(std::move(entry));
    return true;
}

bool ParseRegText(std::string_view text, std::vector<RegKeyEntry>* keys, std::string* error) {
    RegReader reader(text);
    if (!ParseVersionLine(reader, error)) return false;
    while (true) {
        while (!reader.AtEnd() && (reader.Peek() == ' ' || reader.Peek() == '\t' ||
                                   reader.Peek() == '\r' || reader.Peek() == '\n')) {
            reader.Next();
        }
        if (reader.AtEnd()) return true;
        const char c = reader.Peek();
        if (c == ';') {
            reader.RestOfLine();
        } else if (c == '[') {
            if (!ParseKeyLine(reader, keys, error)) return false;
        } else if (c == '"' || c == '@') {
            if (keys->empty() || keys->back().remove) {
                *error = "line " + std::to_string(reader.line()) + ": a value outside of a key";
                return false;
            }
            RegValueEntry value;
            value.line = reader.line();
            if (!ParseValue(reader, &value)) {
                *error = reader.error();
                return false;
            }
            keys->back().values.push_back(std::move(value));
        } else {
            *error = "line " + std::to_string(reader.line()) +
                     ": expected [KEY], \"name\"=..., @=... or a ; comment";
            return false;
        }
    }
}

}  // namespace

std::string TooDeepText() {
    return "the key lies deeper than " + std::to_string(kMaxKeyDepth) +
           " levels, more than the registry allows";
}

bool ParseRegFile(std::string_view text, std::vector<RegKeyEntry>* keys, std::string* error) {
    keys->clear();
    if (text.substr(0, 2) == "\xFF\xFE") {
        std::string decoded;
        if (!Utf16ToUtf8(text.substr(2), &decoded, error)) return false;
        if (decoded.substr(0, 3) == "\xEF\xBB\xBF") decoded.erase(0, 3);
        return ParseRegText(decoded, keys, error);
    }
    if (text.substr(0, 2) == "\xFE\xFF") {
        *error = "the file is UTF-16 big-endian; save it as UTF-16 little-endian or ANSI";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return ParseRegText(text, keys, error);
}

std::string UsageText() {
    return R"(orvel-reg: reads and changes the Orvel registry store.

  orvel-reg query KEY [/v NAME | /ve] [/s]
      Shows the values of KEY and names its sub-keys; /s goes through the whole
      subtree; /v or /ve shows one value (with /s, in every key of the subtree).
  orvel-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
      Creates KEY (with every missing key above it) and, with /v or /ve, writes
      the value. TYPE is REG_SZ (the default), REG_EXPAND_SZ, REG_DWORD,
      REG_MULTI_SZ, REG_BINARY or REG_NONE. REG_DWORD data is decimal or 0x hex,
      REG_BINARY and REG_NONE data hex digits, REG_MULTI_SZ entries are separated
      by the two characters \0 (or by the one character given with /s).
      An existing value is replaced only with /f.
  orvel-reg delete KEY [/v NAME | /ve | /va] /f
      Deletes one value, the default value, every value of KEY (/va), or KEY
      with its whole subtree. Nothing is deleted without /f.
  orvel-reg export KEY FILE [/y]
      Writes KEY and its subtree to FILE as .reg text; FILE - writes to the
      standard output. An existing FILE is replaced only with /y.
  orvel-reg import FILE
      Applies a .reg file ("Windows Registry Editor Version 5.00" or "REGEDIT4"):
      [KEY] creates a key, "name"=... or @=... writes a value, [-KEY] deletes a
      key with its subtree, "name"=- deletes a value. A file with a syntax error
      changes nothing; otherwise each key and value is written in turn.

KEY is ROOT\path with ROOT one of HKLM, HKCR, HKEY_LOCAL_MACHINE and
HKEY_CLASSES_ROOT (HKCR is HKLM\SOFTWARE\Classes). Names are compared without
regard to letter case. Options may also start with '-'.

The store is $ORVEL_ROOT/registry.db when ORVEL_ROOT is set, otherwise
/var/lib/orvel/registry.db. Writing needs write access to the store file.

Exit status: 0 success, 1 failure (not found, refused, store problem), 2 usage error.
)";
}

namespace {

// Which options a command line gave, to check their combinations.
struct Given {
    bool v = false, ve = false, t = false, d = false, s = false;
};

std::optional<Verb> ParseVerb(const std::string& verb, std::string* error) {
    if (verb == "--help" || verb == "-h" || verb == "/?" || verb == "-?" || verb == "help") {
        return Verb::Help;
    }
    static const std::pair<const char*, Verb> kVerbs[] = {{"query", Verb::Query},
                                                          {"add", Verb::Add},
                                                          {"delete", Verb::Delete},
                                                          {"export", Verb::Export},
                                                          {"import", Verb::Import}};
    for (const auto& [name, value] : kVerbs) {
        if (verb == name) return value;
    }
    *error = "unknown operation \"" + verb + "\" (query, add, delete, export, import)";
    return std::nullopt;
}

// The option a word names ("/v" for "-V"), or "" when it names none. Only the
// option names count as options: file paths start with '/' too.
std::string OptionName(const std::string& arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return {};
    std::string option(1, '/');
    option += Lower(arg.substr(1));
    static const char* const kOptions[] = {"/v", "/ve", "/va", "/s", "/t",    "/d",
                                           "/f", "/y",  "/?",  "/h", "/-help"};
    const bool known =
        std::find(std::begin(kOptions), std::end(kOptions), option) != std::end(kOptions);
    return known ? option : std::string();
}

// Reads option args[i] (and its value, moving i on). False with error on a fault.
bool ParseOption(const std::vector<std::string>& args, std::size_t& i, const std::string& option,
                 Command* command, Given* given, std::string* error) {
    auto takeValue = [&](std::string* value) {
        if (i + 1 >= args.size()) {
            *error = option + " needs a value after it";
            return false;
        }
        *value = args[++i];
        return true;
    };
    auto once = [&](bool* seen) {
        if (*seen) *error = option + " is given twice";
        return !std::exchange(*seen, true);
    };
    const Verb verb = command->verb;
    const bool keyVerb = verb != Verb::Import && verb != Verb::Export;
    std::string value;
    if (option == "/v" && keyVerb) {
        if (!once(&given->v) || !takeValue(&value)) return false;
        command->valueName = value;
    } else if (option == "/ve" && keyVerb) {
        if (!once(&given->ve)) return false;
        command->valueName = std::string();
    } else if (option == "/va" && verb == Verb::Delete) {
        return once(&command->allValues);
    } else if (option == "/s" && verb == Verb::Query) {
        return once(&command->subtree);
    } else if (option == "/s" && verb == Verb::Add) {
        if (!once(&given->s) || !takeValue(&value)) return false;
        if (value.size() != 1) *error = "/s takes one separator character";
        command->separator = value.empty() ? '\0' : value[0];
        return value.size() == 1;
    } else if (option == "/t" && verb == Verb::Add) {
        if (!once(&given->t) || !takeValue(&value)) return false;
        command->type = ParseTypeName(value);
        if (!command->type) {
            *error = "unknown type \"" + value +
                     "\" (REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_MULTI_SZ, REG_BINARY, REG_NONE)";
        }
        return command->type.has_value();
    } else if (option == "/d" && verb == Verb::Add) {
        if (!once(&given->d) || !takeValue(&value)) return false;
        command->data = value;
    } else if ((option == "/f" && (verb == Verb::Add || verb == Verb::Delete)) ||
               (option == "/y" && verb == Verb::Export)) {
        return once(&command->force);
    } else {
        *error = "option " + args[i] + " does not belong to " + Lower(args[0]);
        return false;
    }
    return true;
}

bool CheckCombinations(const Command& command, const Given& given, std::string* error) {
    if (given.v && given.ve) {
        *error = "/v and /ve exclude each other";
    } else if (command.allValues && (given.v || given.ve)) {
        *error = "/va excludes /v and /ve";
    } else if ((given.t || given.d) && !command.valueName) {
        *error = "/t and /d need /v NAME or /ve";
    } else if (given.s && command.type.value_or(REG_SZ) != REG_MULTI_SZ) {
        *error = "/s applies to REG_MULTI_SZ data only";
    } else {
        return true;
    }
    return false;
}

// KEY FILE for export, FILE for import, KEY for the others.
bool TakePositionals(const std::vector<std::string>& positional, const std::string& verb,
                     Command* command, std::string* error) {
    const std::size_t wanted = command->verb == Verb::Export ? 2 : 1;
    if (positional.size() < wanted) {
        *error = command->verb == Verb::Import   ? "import needs the FILE to read"
                 : command->verb == Verb::Export ? "export needs KEY and FILE"
                                                 : verb + " needs a KEY";
        return false;
    }
    if (positional.size() > wanted) {
        *error = "unexpected argument \"" + positional[wanted] + "\"";
        return false;
    }
    if (command->verb == Verb::Import) {
        command->file = positional[0];
        return true;
    }
    const std::optional<KeyName> key = ParseKeyName(positional[0]);
    if (!key) {
        *error = "\"" + positional[0] +
                 "\" is not a key: it must start with HKLM\\ or HKCR\\ (or the long forms) and "
                 "have no empty names";
        return false;
    }
    if (KeyDepth(key->root, key->path) > kMaxKeyDepth) {
        *error = "\"" + positional[0].substr(0, 60) + "...\": " + TooDeepText();
        return false;
    }
    command->key = *key;
    if (command->verb == Verb::Export) command->file = positional[1];
    return true;
}

}  // namespace

std::optional<Command> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
    Command command;
    if (args.empty()) {
        *error = "no operation given";
        return std::nullopt;
    }
    const std::string verb = Lower(args[0]);
    const std::optional<Verb> parsed = ParseVerb(verb, error);
    if (!parsed) {
        *error = "unknown operation \"" + args[0] + "\" (query, add, delete, export, import)";
        return std::nullopt;
    }
    command.verb = *parsed;
    if (command.verb == Verb::Help) return command;

    std::vector<std::string> positional;
    Given given;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string option = OptionName(args[i]);
        if (option.empty()) {
            if (args[i].size() > 1 && args[i][0] == '-') {
                *error = "unknown option " + args[i];
                return std::nullopt;
            }
            positional.push_back(args[i]);
        } else if (option == "/?" || option == "/-help" || option == "/h") {
            command.verb = Verb::Help;
            return command;
        } else if (!ParseOption(args, i, option, &command, &given, error)) {
            return std::nullopt;
        }
    }
    if (!CheckCombinations(command, given, error) ||
        !TakePositionals(positional, verb, &command, error)) {
        return std::nullopt;
    }
    return command;
}

}  // namespace orvel::tools

// Reads .reg files as Windows' editor writes them, in either of its formats.

#include <cstdint>
#include <utility>

#include "platform/AsciiCase.h"
#include "tools/orvelreg/RegData.h"
#include "tools/orvelreg/RegEncoding.h"
#include "tools/orvelreg/RegFile.h"

namespace orvel::tools {

using namespace platform;

namespace {

constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kVersion4 = "REGEDIT4";

// How the file was encoded, which decides what the bytes of hex(1), hex(2)
// and hex(7) stand for.
enum class FileEncoding {
    Utf16,  // UTF-16 little-endian: so is their text
    Ansi,   // REGEDIT4 in 8 bits: UTF-8 or Windows-1252, or UTF-16 where plainly so
    Bytes,  // orvel-reg's own 8-bit form: the bytes as they are
};

// 8-bit text of a REGEDIT4 file: UTF-8 as it is, anything else as Windows-1252.
std::string AnsiText(std::string_view bytes) {
    return IsUtf8(bytes) ? std::string(bytes) : Windows1252ToUtf8(bytes);
}

// The text of the hex bytes of a text type where they plainly are UTF-16: an
// even count ending in a UTF-16 NUL (two for a multi-string that is not
// empty), no broken character; nullopt otherwise. 8-bit text ends with one
// NUL byte, an 8-bit multi-string with two.
std::optional<std::string> PlainlyUtf16(DWORD type, std::string_view bytes) {
    const bool ends = bytes.size() >= 2 && bytes.size() % 2 == 0 &&
                      bytes.substr(bytes.size() - 2) == std::string_view("\0\0", 2);
    const bool multiEnds =
        bytes.size() == 2 ||
        (bytes.size() >= 4 && bytes.substr(bytes.size() - 4) == std::string_view("\0\0\0\0", 4));
    std::string text;
    if (!ends || (type == REG_MULTI_SZ && !multiEnds) || !Utf16LeToUtf8(bytes, &text)) {
        return std::nullopt;
    }
    return text;
}

// The store's UTF-8 for the hex bytes of a text type.
std::string HexListText(DWORD type, std::string bytes, FileEncoding encoding) {
    std::string text;
    switch (encoding) {
        case FileEncoding::Utf16:
            return Utf16LeToUtf8(bytes, &text) ? text : bytes;
        case FileEncoding::Ansi:
            if (std::optional<std::string> utf16 = PlainlyUtf16(type, bytes)) return *utf16;
            return AnsiText(bytes);
        case FileEncoding::Bytes:
            break;
    }
    return bytes;
}

// Reads .reg text one character at a time, counting lines for messages.
class RegReader {
  public:
    RegReader(std::string_view text, FileEncoding encoding) : text_(text), encoding_(encoding) {}

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
        if (!AtEnd() && Peek() == ';') {
            RestOfLine();
            return true;
        }
        if (!AtEnd() && Peek() == '\r') Next();
        if (AtEnd()) return true;
        if (Peek() != '\n') return Fail("unexpected text after the value");
        Next();
        return true;
    }
    bool StartsWith(std::string_view word) const {
        return EqualIgnoringAsciiCase(text_.substr(pos_, word.size()), word);
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

    bool Value(RegValueEntry* value);

  private:
    // A number of 1 to 8 hex digits, as after dword: or in hex(N).
    bool HexNumber(std::uint32_t* number) {
        int digits = 0;
        std::uint64_t read = 0;
        while (!AtEnd() && HexDigit(Peek()) >= 0 && digits < 9) {
            read = read * 16 + static_cast<std::uint64_t>(HexDigit(Next()));
            ++digits;
        }
        *number = static_cast<std::uint32_t>(read);
        return digits > 0 && digits <= 8;
    }

    std::string_view text_;
    FileEncoding encoding_;
    std::size_t pos_ = 0;
    int line_ = 1;
    std::string error_;
};

bool RegReader::Value(RegValueEntry* value) {
    if (Peek() == '@') {
        Next();
        value->name.clear();
    } else {
        Next();  // the opening quote
        if (!Quoted(&value->name)) return false;
    }
    SkipBlanks();
    if (Peek() != '=') return Fail("'=' is missing after the name");
    Next();
    SkipBlanks();
    if (Peek() == '-') {
        Next();
        value->remove = true;
        return EndOfLine();
    }
    if (Peek() == '"') {
        Next();
        value->type = REG_SZ;
        if (!Quoted(&value->data)) return false;
        value->data += '\0';
        return EndOfLine();
    }
    if (StartsWith("dword:")) {
        Skip(6);
        std::uint32_t number = 0;
        if (!HexNumber(&number)) return Fail("dword: needs 1 to 8 hex digits");
        value->type = REG_DWORD;
        value->data = LittleEndian(number, 4);
        return EndOfLine();
    }
    if (StartsWith("hex:")) {
        Skip(4);
        value->type = REG_BINARY;
        return HexList(&value->data);
    }
    if (StartsWith("hex(")) {
        Skip(4);
        if (!HexNumber(&value->type) || !StartsWith("):")) {
            return Fail("hex(N): needs a type number of 1 to 8 hex digits");
        }
        Skip(2);
        if (!HexList(&value->data)) return false;
        if (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ) {
            value->data = HexListText(value->type, std::move(value->data), encoding_);
        }
        return true;
    }
    return Fail("the value data is not \"text\", dword:, hex: or hex(N):");
}

// The version line comes first, after any blank lines; its format is returned.
std::optional<std::string_view> VersionLine(RegReader& reader, std::string* error) {
    while (!reader.AtEnd()) {
        reader.SkipBlanks();
        std::string_view line = reader.RestOfLine();
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (line == kVersion5) return kVersion5;
        if (line == kVersion4) return kVersion4;
        *error = "the file does not start with \"" + std::string(kVersion5) + "\" or \"" +
                 std::string(kVersion4) + "\"";
        return std::nullopt;
    }
    *error = "the file is empty";
    return std::nullopt;
}

// A key line: the name runs to the first ']' that only blanks or a comment follow.
bool ParseKeyLine(RegReader& reader, std::vector<RegKeyEntry>* keys, std::string* error) {
    const int line = reader.line();
    const std::string where = "line " + std::to_string(line) + ": ";
    std::string_view header = reader.RestOfLine();
    std::size_t close = header.find(']');
    for (; close != std::string_view::npos; close = header.find(']', close + 1)) {
        const std::size_t after = header.find_first_not_of(" \t", close + 1);
        if (after == std::string_view::npos || header[after] == ';') break;
    }
    if (close == std::string_view::npos) {
        *error = where + "a key line must end with ']' (a ; comment may follow)";
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

bool ParseRegText(std::string_view text, FileEncoding encoding, std::vector<RegKeyEntry>* keys,
                  std::string* error) {
    RegReader reader(text, encoding);
    if (!VersionLine(reader, error)) return false;
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
            if (!reader.Value(&value)) {
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

// The line of a UTF-16 text on which the unit at offset lies.
int Utf16LineAt(std::string_view bytes, std::size_t offset) {
    int line = 1;
    for (std::size_t i = 0; i + 1 < offset && i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\n' && bytes[i + 1] == '\0') ++line;
    }
    return line;
}

}  // namespace

bool ParseRegFile(std::string_view text, std::vector<RegKeyEntry>* keys, std::string* error) {
    keys->clear();
    if (text.substr(0, 2) == "\xFF\xFE") {
        std::string decoded;
        std::size_t failedAt = 0;
        if (!Utf16LeToUtf8(text.substr(2), &decoded, &failedAt)) {
            *error = failedAt + 1 >= text.size() - 2
                         ? "the UTF-16 file ends in the middle of a character"
                         : "line " + std::to_string(Utf16LineAt(text.substr(2), failedAt)) +
                               ": a UTF-16 character is broken";
            return false;
        }
        if (decoded.substr(0, 3) == "\xEF\xBB\xBF") decoded.erase(0, 3);
        return ParseRegText(decoded, FileEncoding::Utf16, keys, error);
    }
    if (text.substr(0, 2) == "\xFE\xFF") {
        *error = "the file is UTF-16 big-endian; save it as UTF-16 little-endian or ANSI";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    RegReader probe(text, FileEncoding::Bytes);
    const std::optional<std::string_view> version = VersionLine(probe, error);
    if (!version) return false;
    if (*version == kVersion4) {
        return ParseRegText(AnsiText(text), FileEncoding::Ansi, keys, error);
    }
    return ParseRegText(text, FileEncoding::Bytes, keys, error);
}

}  // namespace orvel::tools

// Writes .reg files in the layout of Windows' editor.

#include <cinttypes>
#include <cstdio>

#include "tools/orvelreg/RegData.h"
#include "tools/orvelreg/RegEncoding.h"
#include "tools/orvelreg/RegFile.h"

namespace orvel::tools {

using namespace platform;

namespace {

constexpr std::string_view kVersionLine = "Windows Registry Editor Version 5.00";

// Windows' editor ends a hex line with ",\" once it has reached this width.
constexpr std::size_t kHexLineWidth = 77;

// Quoted text of a .reg file: backslash and double quote escaped.
std::string Quote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A key name that reads back as itself: none of its ']' may be followed by
// blanks and a ';', which would end the name there and start a comment.
bool ReadsBackAsKeyName(std::string_view name) {
    for (std::size_t close = name.find(']'); close != std::string_view::npos;
         close = name.find(']', close + 1)) {
        const std::size_t after = name.find_first_not_of(" \t", close + 1);
        if (after != std::string_view::npos && name[after] == ';') return false;
    }
    return true;
}

class RegWriter {
  public:
    explicit RegWriter(RegFileForm form)
        : windows_(form == RegFileForm::Windows), eol_(windows_ ? "\r\n" : "\n") {}

    bool Key(const RegKeyEntry& key, std::string* error) {
        const std::string name = key.key.FullName();
        if (HasLineBreak(name)) {
            *error =
                "the key name \"" + name + "\" holds a line break, which a .reg file cannot carry";
            return false;
        }
        if (!ReadsBackAsKeyName(name)) {
            *error = "the key name \"" + name +
                     "\" holds ']' before a ';', which a .reg file would read as a comment";
            return false;
        }
        if (!CheckText(name, "the key name \"" + name + "\"", error)) return false;
        text_ += (key.remove ? "[-" : "[") + name + "]" + eol_;
        for (const RegValueEntry& value : key.values) {
            if (!Value(value, name, error)) return false;
        }
        text_ += eol_;
        return true;
    }

    std::string Finish() {
        const std::string head = std::string(kVersionLine) + eol_ + eol_;
        if (!windows_) return head + text_;
        // Every name and text was checked to be UTF-8 on the way.
        return "\xFF\xFE" + Utf8ToUtf16Le(head + text_).value_or(std::string());
    }

  private:
    // Text a file for Windows carries only when it is UTF-8.
    bool CheckText(std::string_view text, const std::string& what, std::string* error) const {
        if (!windows_ || IsUtf8(text)) return true;
        *error = what + " is not UTF-8 text, which Windows' editor cannot read";
        return false;
    }

    bool Value(const RegValueEntry& value, const std::string& key, std::string* error) {
        const std::string shown =
            value.name.empty() ? "the default value" : "the value \"" + value.name + "\"";
        if (HasLineBreak(value.name)) {
            *error = shown + " of " + key +
                     " has a line break in its name, which a .reg file "
                     "cannot carry";
            return false;
        }
        if (!CheckText(value.name, shown + " of " + key, error)) return false;
        std::string line = value.name.empty() ? "@=" : Quote(value.name) + "=";
        const std::string_view data = value.data;
        if (value.remove) {
            line += "-";
        } else if (value.type == REG_SZ && !data.empty() && data.find('\0') == data.size() - 1 &&
                   !HasLineBreak(data) && (!windows_ || IsUtf8(data))) {
            line += Quote(data.substr(0, data.size() - 1));
        } else if (value.type == REG_DWORD && data.size() == 4) {
            char number[16];
            std::snprintf(number, sizeof number, "dword:%08" PRIx64, FromLittleEndian(data));
            line += number;
        } else if (IsTextType(value.type) && windows_) {
            if (!CheckText(data, shown + " of " + key, error)) return false;
            AppendHex(value.type, *Utf8ToUtf16Le(data), &line);
        } else {
            AppendHex(value.type, data, &line);
        }
        text_ += line + eol_;
        return true;
    }

    // hex: or hex(N): and the bytes, wrapped as Windows' editor wraps them:
    // after the comma that takes a line to kHexLineWidth columns or more, a
    // backslash ends the line and the next one starts with two blanks.
    void AppendHex(DWORD type, std::string_view bytes, std::string* line) const {
        char prefix[24];
        if (type == REG_BINARY) {
            std::snprintf(prefix, sizeof prefix, "hex:");
        } else {
            std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
        }
        *line += prefix;
        std::size_t width = Utf16Length(*line);
        static constexpr char kDigits[] = "0123456789abcdef";
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            *line += kDigits[byte >> 4];
            *line += kDigits[byte & 15];
            if (i + 1 == bytes.size()) break;
            *line += ',';
            width += 3;
            if (width >= kHexLineWidth) {
                *line += "\\" + eol_ + "  ";
                width = 2;
            }
        }
    }

    bool windows_;
    std::string eol_;
    std::string text_;
};

}  // namespace

std::optional<std::string> FormatRegFile(const std::vector<RegKeyEntry>& keys, RegFileForm form,
                                         std::string* error) {
    RegWriter writer(form);
    for (const RegKeyEntry& key : keys) {
        if (!writer.Key(key, error)) return std::nullopt;
    }
    return writer.Finish();
}

}  // namespace orvel::tools

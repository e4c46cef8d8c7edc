#include "platform/IniProfileFormat.h"

#include <vector>

#include "platform/AsciiCase.h"

namespace orvel::platform::ini {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// What Windows trims around names and values: white space and Ctrl-Z (the old
// end-of-file mark that DOS editors leave after the last value).
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Names and values are C strings to the caller: a NUL ends them.
std::string_view CutAtNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

// ---- Encodings ----

enum class Encoding { Bytes, Utf16Le, Utf16Be };

// The file as text: UTF-16 turned into UTF-8, where a lone surrogate becomes
// its own three bytes so that lines a write does not touch go back unchanged.
struct Decoded {
    Encoding encoding = Encoding::Bytes;
    std::string owned;
    std::string_view text;
    bool whole = true;  // false: a UTF-16 file with an odd byte at its end
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point at pos (advanced past it), or nullopt for bytes that are not
// UTF-8. Encoded surrogates pass only when allowed (text decoded from a file).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& pos,
                                      bool allowSurrogates) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    char32_t c = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (text.size() - pos < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (byte(pos + i) & 0x3F);
    }
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    if (overlong || c > 0x10FFFF || (surrogate && !allowSurrogates)) return std::nullopt;
    pos += length;
    return c;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        if (!NextCodePoint(text, pos, false)) return false;
    }
    return true;
}

Decoded Decode(std::string_view bytes) {
    Decoded decoded;
    if (bytes.size() < 2 || !((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                              (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        decoded.text = bytes;
        return decoded;
    }
    const bool little = bytes[0] == '\xFF';
    decoded.encoding = little ? Encoding::Utf16Le : Encoding::Utf16Be;
    decoded.whole = bytes.size() % 2 == 0;
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t i) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        return little ? (second << 8 | first) : (first << 8 | second);
    };
    decoded.owned.reserve(bytes.size());
    for (std::size_t i = 1; i < units; ++i) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
        }
        AppendUtf8(decoded.owned, c);
    }
    decoded.text = decoded.owned;
    return decoded;
}

// The bytes of text in the file's encoding, byte-order mark first; nullopt
// when text is not UTF-8 and the file is UTF-16.
std::optional<std::string> Encode(Encoding encoding, std::string_view text) {
    if (encoding == Encoding::Bytes) return std::string(text);
    const bool little = encoding == Encoding::Utf16Le;
    std::string bytes;
    bytes.reserve(2 * text.size() + 2);
    const auto put = [&](char32_t u) {
        const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
        bytes += little ? low : high;
        bytes += little ? high : low;
    };
    put(0xFEFF);
    for (std::size_t pos = 0; pos < text.size();) {
        const std::optional<char32_t> c = NextCodePoint(text, pos, true);
        if (!c) return std::nullopt;
        if (*c >= 0x10000) {
            put(0xD800 + ((*c - 0x10000) >> 10));
            put(0xDC00 + ((*c - 0x10000) & 0x3FF));
        } else {
            put(*c);
        }
    }
    return bytes;
}

// ---- Lines ----

enum class Kind { Blank, Header, Comment, Entry, Other };

struct Line {
    std::size_t begin = 0;  // first byte of the line
    std::size_t end = 0;    // first byte of its line end (or of the next line when it has none)
    std::size_t next = 0;   // first byte of the next line
    Kind kind = Kind::Blank;
    std::string_view name;   // section name of a header, key of an entry
    std::string_view value;  // value of an entry, trimmed
};

struct Lines {
    std::size_t start = 0;  // after a UTF-8 byte-order mark, which belongs to no line
    std::vector<Line> lines;
};

// Splits at CR LF, LF and lone CR and classifies every line. A header is a
// line whose first non-blank byte is '[' and that holds a ']'; its name ends at
// the first ']'.
Lines ParseLines(std::string_view text) {
    Lines parsed;
    parsed.start = text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    std::size_t pos = parsed.start;
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            line.end = line.next = text.size();
        } else {
            line.end = end;
            line.next = end + 1;
            if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++line.next;
        }
        std::string_view trimmed = TrimBlanks(text.substr(line.begin, line.end - line.begin));
        std::size_t close = trimmed.find(']');
        if (trimmed.empty()) {
            line.kind = Kind::Blank;
        } else if (trimmed.front() == '[' && close != std::string_view::npos) {
            line.kind = Kind::Header;
            line.name = CutAtNul(TrimBlanks(trimmed.substr(1, close - 1)));
        } else if (trimmed.front() == ';') {
            line.kind = Kind::Comment;
        } else if (std::size_t equals = trimmed.find('='); equals != std::string_view::npos) {
            line.kind = Kind::Entry;
            line.name = CutAtNul(TrimBlanks(trimmed.substr(0, equals)));
            line.value = TrimBlanks(trimmed.substr(equals + 1));
        } else {
            line.kind = Kind::Other;
        }
        parsed.lines.push_back(line);
        pos = line.next;
    }
    return parsed;
}

// The lines of a section: after its header up to the next header. The section
// "" is the lines before the first header; it is always there, so a header
// "[]" further down is never reached, as on Windows.
struct Section {
    bool found = false;
    std::size_t header = kNone;  // kNone for the section ""
    std::size_t first = 0;
    std::size_t end = 0;
};

Section FindSection(const std::vector<Line>& lines, std::string_view name) {
    Section section;
    std::size_t i = 0;
    if (name.empty()) {
        section.found = true;
    } else {
        while (i < lines.size() &&
               !(lines[i].kind == Kind::Header && EqualIgnoringAsciiCase(lines[i].name, name))) {
            ++i;
        }
        if (i == lines.size()) return section;
        section.found = true;
        section.header = i++;
    }
    section.first = i;
    while (i < lines.size() && lines[i].kind != Kind::Header) ++i;
    section.end = i;
    return section;
}

std::size_t FindKey(const std::vector<Line>& lines, const Section& section, std::string_view key) {
    for (std::size_t i = section.first; i < section.end; ++i) {
        if (lines[i].kind == Kind::Entry && EqualIgnoringAsciiCase(lines[i].name, key)) return i;
    }
    return section.end;
}

std::string_view LineEndOf(std::string_view text, std::string_view fallback) {
    std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) return fallback;
    if (text[end] == '\r') return (end + 1 < text.size() && text[end + 1] == '\n') ? "\r\n" : "\r";
    return "\n";
}

std::optional<std::string> FindInText(std::string_view text, std::string_view section,
                                      std::string_view key) {
    const Lines parsed = ParseLines(text);
    const Section found = FindSection(parsed.lines, TrimBlanks(CutAtNul(section)));
    if (!found.found) return std::nullopt;
    const std::size_t entry = FindKey(parsed.lines, found, TrimBlanks(CutAtNul(key)));
    if (entry == found.end) return std::nullopt;
    return std::string(Unquote(CutAtNul(parsed.lines[entry].value)));
}

// A name Windows would write but no read could find again.
bool Unreadable(std::string_view section, std::string_view key) {
    return section.find(']') != std::string_view::npos || key.starts_with(';') ||
           key.starts_with('[') || key.find('=') != std::string_view::npos;
}

// The write on decoded text; section and key are trimmed and checked.
EditResult EditText(std::string_view text, std::string_view section,
                    std::optional<std::string_view> key, std::optional<std::string_view> value,
                    std::string_view defaultLineEnd) {
    const Lines parsed = ParseLines(text);
    const std::vector<Line>& lines = parsed.lines;
    const std::string_view lineEnd = LineEndOf(text, defaultLineEnd);
    const Section found = FindSection(lines, section);
    EditResult result{std::string(text), false};
    const auto lineStart = [&](std::size_t i) {
        return i < lines.size() ? lines[i].begin : text.size();
    };

    if (!found.found) {
        if (!key || !value) return result;  // nothing to delete
        if (text.size() > parsed.start && text.back() != '\n' && text.back() != '\r') {
            result.text += lineEnd;
        }
        result.text.append("[").append(section).append("]").append(lineEnd);
        result.text.append(*key).append("=").append(*value).append(lineEnd);
        result.changed = true;
        return result;
    }

    if (!key) {
        // The header and everything up to the next header go.
        const std::size_t from =
            found.header == kNone ? lineStart(found.first) : lines[found.header].begin;
        const std::size_t to = lineStart(found.end);
        result.text.erase(from, to - from);
        result.changed = to > from;
        return result;
    }

    const std::size_t entry = FindKey(lines, found, *key);
    if (!value) {
        if (entry == found.end) return result;
        result.text.erase(lines[entry].begin, lines[entry].next - lines[entry].begin);
        result.changed = true;
        return result;
    }

    if (entry != found.end) {
        // Rewritten in place, keeping the key's spelling in the file.
        const std::string line = std::string(lines[entry].name) + "=" + std::string(*value);
        const std::string_view old =
            text.substr(lines[entry].begin, lines[entry].end - lines[entry].begin);
        if (old != line) {
            result.text.replace(lines[entry].begin, old.size(), line);
            result.changed = true;
        }
        return result;
    }

    // A new key goes after the section's last entry, or right after its header
    // (at the top of the file for the section "").
    std::size_t anchor = found.header;
    for (std::size_t i = found.first; i < found.end; ++i) {
        if (lines[i].kind == Kind::Entry) anchor = i;
    }
    const std::string line = std::string(*key) + "=" + std::string(*value);
    if (anchor == kNone) {
        result.text.insert(parsed.start, line + std::string(lineEnd));
    } else if (lines[anchor].next == lines[anchor].end) {
        result.text.insert(lines[anchor].next, std::string(lineEnd) + line + std::string(lineEnd));
    } else {
        result.text.insert(lines[anchor].next, line + std::string(lineEnd));
    }
    result.changed = true;
    return result;
}

}  // namespace

std::optional<std::string> FindValue(std::string_view bytes, std::string_view section,
                                     std::string_view key) {
    const Decoded decoded = Decode(bytes);
    std::optional<std::string> value = FindInText(decoded.text, section, key);
    if (value && decoded.encoding != Encoding::Bytes) {
        // A lone surrogate has no UTF-8 form: the caller gets '?', as Windows
        // gives for a character its code page lacks.
        std::string& text = *value;
        for (std::size_t i = 0; i + 2 < text.size(); ++i) {
            if (text[i] == '\xED' && static_cast<unsigned char>(text[i + 1]) >= 0xA0) {
                text.replace(i, 3, "?");
            }
        }
    }
    return value;
}

std::string ReadValue(std::string_view bytes, std::string_view section, std::string_view key,
                      std::optional<std::string_view> fallback) {
    if (std::optional<std::string> value = FindValue(bytes, section, key)) return *value;
    std::string_view text = CutAtNul(fallback.value_or(""));
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(Unquote(text));
}

std::optional<EditResult> ApplyWrite(std::string_view bytes, std::string_view section,
                                     std::optional<std::string_view> key,
                                     std::optional<std::string_view> value) {
    section = TrimBlanks(section);
    if (key) key = TrimBlanks(*key);
    // A line break or NUL in any argument could forge further lines.
    if (HoldsLineBreakOrNul(section) || (key && HoldsLineBreakOrNul(*key)) ||
        (value && HoldsLineBreakOrNul(*value))) {
        return std::nullopt;
    }
    const bool adds = key && value;
    if (adds && Unreadable(section, *key)) return std::nullopt;

    const Decoded decoded = Decode(bytes);
    if (decoded.encoding == Encoding::Bytes) {
        return EditText(decoded.text, section, key, value, "\n");
    }
    EditResult edit = EditText(decoded.text, section, key, value, "\r\n");
    if (!edit.changed) return EditResult{std::string(bytes), false};
    if (!decoded.whole || !IsUtf8(section) || (key && !IsUtf8(*key)) ||
        (value && !IsUtf8(*value))) {
        return std::nullopt;
    }
    std::optional<std::string> encoded = Encode(decoded.encoding, edit.text);
    if (!encoded) return std::nullopt;
    return EditResult{std::move(*encoded), true};
}

}  // namespace orvel::platform::ini

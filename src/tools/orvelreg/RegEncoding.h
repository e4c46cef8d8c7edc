#pragma once

// The text encodings .reg files come in: the store keeps text as UTF-8,
// Windows' editor writes UTF-16 little-endian, and older files the ANSI code
// page of western Windows (Windows-1252).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvel::tools {

// Whether bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool IsUtf8(std::string_view bytes);

// UTF-16 little-endian as UTF-8; a surrogate pair becomes one character. An
// odd byte count or an unpaired surrogate is refused: false, and failedAt
// (when given) is the byte offset of the broken unit.
bool Utf16LeToUtf8(std::string_view bytes, std::string* text, std::size_t* failedAt = nullptr);

// UTF-8 as UTF-16 little-endian (no byte-order mark); nullopt when the text
// is not UTF-8.
std::optional<std::string> Utf8ToUtf16Le(std::string_view text);

// Windows-1252 as UTF-8. The five bytes the code page leaves unassigned
// become the control characters of the same number, as Windows maps them.
std::string Windows1252ToUtf8(std::string_view bytes);

// How many UTF-16 units the UTF-8 text takes: the width Windows' editor
// counts when it wraps a line. Bytes that are not UTF-8 count one each.
std::size_t Utf16Length(std::string_view text);

}  // namespace orvel::tools

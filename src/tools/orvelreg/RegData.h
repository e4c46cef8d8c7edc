#pragma once

// Value data as the operator types it after /d and as a query line shows it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace orvel::tools {

using platform::DWORD;

// The bytes a value of this type gets from the text after /d: strings with
// their NUL, multi-strings split at the separator ("\0" as text when it is NUL)
// with the closing NUL, double and quad words from decimal or 0x hex, binary
// from hex digits. nullopt and error when the text does not fit the type.
std::optional<std::string> EncodeData(DWORD type, std::string_view text, char separator,
                                      std::string* error);

// A value as a query line shows its data: text without its NUL, multi-strings
// joined with "\0", double and quad words as 0x hex, everything else as hex digits.
std::string DisplayData(DWORD type, std::string_view bytes);

// The value of a hex digit, -1 for any other character.
int HexDigit(char c);

// size bytes of value, least significant first; and back.
std::string LittleEndian(std::uint64_t value, std::size_t size);
std::uint64_t FromLittleEndian(std::string_view bytes);

}  // namespace orvel::tools

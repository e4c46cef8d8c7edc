#pragma once

// The text rules of Windows private profile files (GetPrivateProfileStringA /
// WritePrivateProfileStringA), on the bytes of a file, apart from the file
// handling so that they can be tested on plain strings.
//
// A file that starts with a UTF-16 byte-order mark (little- or big-endian) is
// UTF-16 text; any other file is bytes (a leading UTF-8 byte-order mark is read
// past and kept). The caller's names and values are UTF-8, so a write to a
// UTF-16 file that is not valid UTF-8 is refused rather than written as bytes.

#include <optional>
#include <string>
#include <string_view>

namespace orvel::platform::ini {

// The value of key in section as a read sees it (trimmed, cut at a NUL, outer
// quotes removed), or nullopt when the section or key is missing. Section and
// key are compared without regard to letter case; the first match wins. The
// section "" is the lines before the first section header.
std::optional<std::string> FindValue(std::string_view bytes, std::string_view section,
                                     std::string_view key);

// What a read answers: the value, or else the fallback (nullopt stands for
// NULL, which is "") without its trailing spaces and outer quotes.
std::string ReadValue(std::string_view bytes, std::string_view section, std::string_view key,
                      std::optional<std::string_view> fallback);

// What a write makes of the file's bytes: the new bytes, or nullopt when the
// write is refused: CR, LF or NUL inside a section, key or value; a key that
// could not be read back (starting with ';' or '[', or holding '='); a section
// holding ']'; text a UTF-16 file cannot hold, or a UTF-16 file with an odd
// byte at its end. Lines the write does not touch keep their bytes. New lines
// end as the text's first line does (LF for a text without line ends, CR LF in
// a UTF-16 file). changed tells whether the bytes differ.
struct EditResult {
    std::string text;
    bool changed = false;
};
std::optional<EditResult> ApplyWrite(std::string_view bytes, std::string_view section,
                                     std::optional<std::string_view> key,
                                     std::optional<std::string_view> value);

}  // namespace orvel::platform::ini

#pragma once

// Certificate serial numbers as the suite writes and compares them: upper-case
// hexadecimal without leading zeros. The server's revocation check and
// orvel-cert's list and revoke read the revocation file through these two
// functions, so both always agree on what is revoked.

#include <set>
#include <string>
#include <string_view>

namespace orvel::suite {

// "0x0a:1B", "0A1b" and "a1b" all give "A1B"; colons and blanks between the
// digits are dropped. Anything else that is no hexadecimal digit gives "".
// ASCII only: the locale never changes a serial.
std::string NormalizeSerial(std::string_view text);

// The serials of a revocation file: the first word of every line, up to a
// blank or '#', normalised; lines that hold no serial are passed over.
std::set<std::string> ParseRevokedSerials(std::string_view text);

}  // namespace orvel::suite

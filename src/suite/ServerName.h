#pragma once

// The one rule for a computer's name wherever the suite takes one: the remote
// server an operator types, the host a console connects to, the computer a
// certificate bundle is made for (also a folder name, so no "..", no "/").

#include <string_view>

namespace orvel::suite {

// A host name (labels of 1-63 letters, digits, hyphens, and an underscore for
// NetBIOS-style names; no label begins or ends with a hyphen) or an IPv4
// address; at most 253 characters. ASCII only, whatever the process locale.
bool IsValidServerName(std::string_view name);

}  // namespace orvel::suite

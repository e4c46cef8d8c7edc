#pragma once

// The machine-wide protocol list as the protocol check sees it: the stored
// multi-string split at every NUL, so the list's two closing NULs give two
// empty entries at the end, which are kept and written back.

#include <string>
#include <string_view>
#include <vector>

namespace orvel::dcom {

std::vector<std::string> SplitAtNul(std::string_view text);
std::string JoinWithNul(const std::vector<std::string>& entries);

// True for the connection-oriented TCP/IP entry (ncacn_ip_tcp), in any letter case.
bool IsTcpEntry(std::string_view entry);

// The number of real protocol names: every entry but the two empty closing ones.
std::size_t RealEntryCount(const std::vector<std::string>& entries);

// "DCom Protocol Stack" CR CR, then "n: entry" CR per real entry, with
// " (Should Be 1st)" after a TCP/IP entry that is not first.
std::string BuildProtocolReport(const std::vector<std::string>& entries);

// Swaps the first TCP/IP entry after position 0 with entry 0; every other entry
// stays where it is. Nothing changes when no real entry is TCP/IP.
void MoveTcpEntryFirst(std::vector<std::string>& entries);

}  // namespace orvel::dcom

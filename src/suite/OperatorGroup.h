#pragma once

// The suite's operators: the members of one group. The suite server refuses
// everyone else on its local socket, and the console tells them once what to
// ask their administrator for instead of a box for every refusal.

#include <string>

namespace orvel::suite {

inline constexpr const char* kOperatorGroup = "orvel";
// The reason of the local server's refusal of a user outside the group.
inline constexpr const char* kNotOperatorReason = "permission denied: not in group orvel";
inline constexpr const char* kNotOperatorTitle = "Not an Orvel Operator";

// The one message for a user outside the group; userName "" when unknown.
std::string NotOperatorMessage(const std::string& userName);

}  // namespace orvel::suite

#pragma once

// Who the log-on runner acts for. The autostart entry runs it at every log-on
// of every user; only the suite's operators (members of the group orvel) and
// root get the console and the other programs of the Run list.

#include <sys/types.h>

#include <optional>
#include <span>

namespace orvel::tools {

inline constexpr const char* kOperatorGroup = "orvel";

// Root always; anyone else when the operators' group exists and is the
// primary group or one of the supplementary groups.
bool IsOperator(uid_t uid, gid_t primaryGroup, std::span<const gid_t> groups,
                std::optional<gid_t> operatorGroup);

// The same question for this process, from its own credentials (those of the
// log-on session, so a membership granted later counts from the next log-on).
bool ThisProcessIsOperator();

}  // namespace orvel::tools

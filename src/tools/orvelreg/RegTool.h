#pragma once

// The operations of orvel-reg against a registry: each prints what it found
// or did to out, its faults to err, and returns the exit status (0 success,
// 1 failure).

#include <ostream>

#include "platform/Registry.h"
#include "tools/orvelreg/RegText.h"

namespace orvel::tools {

int RunCommand(const Command& command, platform::Registry& registry, std::ostream& out,
               std::ostream& err);

// One line for a registry result code, as the operator reads it.
std::string ResultText(platform::LONG result);

// Reads KEY and its whole subtree: each key with its values, parents before children,
// keys and values in the store's order.
platform::LONG CollectTree(platform::Registry& registry, const KeyName& key,
                           std::vector<RegKeyEntry>* keys);

}  // namespace orvel::tools

#pragma once

// The operations of orvel-reg against a registry: each prints what it found
// or did to out, its faults to err, and returns the exit status (0 success,
// 1 failure).

#include <ostream>

#include "platform/Registry.h"
#include "tools/orvelreg/RegText.h"

namespace orvel::tools {

// The most one import reads: a .reg file of the whole store is far smaller.
inline constexpr std::size_t kMaxImportBytes = std::size_t{64} << 20;

// A tree holds keys deeper than the registry allows (the tool's own code).
inline constexpr platform::LONG kKeyTooDeep = -512;

// storePath names the store in messages about it (a full disk, a busy store).
int RunCommand(const Command& command, platform::Registry& registry, std::ostream& out,
               std::ostream& err, const std::string& storePath = {});

// One line for a registry result code, as the operator reads it.
std::string ResultText(platform::LONG result, const std::string& storePath = {});

// Reads KEY and its whole subtree: each key with its values, parents before children,
// keys and values in the store's order. kKeyTooDeep for a tree deeper than the
// registry allows.
platform::LONG CollectTree(platform::Registry& registry, const KeyName& key,
                           std::vector<RegKeyEntry>* keys);

}  // namespace orvel::tools

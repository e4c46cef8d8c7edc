#pragma once

// The operations of orvel-reg against a registry: each prints what it found
// or did to out, its faults to err, and returns the exit status (0 success,
// 1 failure).

#include <ostream>

#include "platform/Registry.h"
#include "tools/orvelreg/RegText.h"

namespace orvel::tools {

// The most one import reads from a pipe or device; a regular file is read whole.
inline constexpr std::size_t kMaxImportBytes = std::size_t{64} << 20;

// The whole of an import file: a regular file whatever its size, so that every
// export can be imported again; a pipe or device (which may never end, as
// /dev/zero) up to kMaxImportBytes. false and error for more, for a folder or
// for a file that cannot be read.
bool ReadImportFile(const std::string& path, std::string* text, std::string* error);

// A tree holds keys deeper than the registry allows (the tool's own code).
inline constexpr platform::LONG kKeyTooDeep = -512;

// storePath names the store in messages about it (a full disk, a busy store).
int RunCommand(const Command& command, platform::Registry& registry, std::ostream& out,
               std::ostream& err, const std::string& storePath = {});

// One line for a registry result code, as the operator reads it.
std::string ResultText(platform::LONG result, const std::string& storePath = {});

// Reads KEY and its whole subtree: each key with its values, parents before children,
// keys and values in the store's order. A key no .reg file can carry (one
// without a name, made by another program, or deeper than the registry allows)
// is left out with its subtree and its name added to skipped, so that what an
// export writes can always be imported.
platform::LONG CollectTree(platform::Registry& registry, const KeyName& key,
                           std::vector<RegKeyEntry>* keys,
                           std::vector<std::string>* skipped = nullptr);

}  // namespace orvel::tools

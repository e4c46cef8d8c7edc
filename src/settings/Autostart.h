#pragma once

// Start at log-on: the console's entry in the machine-wide Run list, which
// the log-on runner (orvel-run) starts for every session.

#include <string>

#include "platform/FileSystem.h"
#include "settings/ConsoleSettings.h"
#include "settings/RegistryValues.h"

namespace orvel::settings {

inline constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValueName = "Orvel_Console";

// The Run entry's text: the running executable's folder and name, quoted.
std::string AutoStartCommand(platform::FileSystem& fileSystem);

// The toggle's effect once the menu entry shows `checked`: writes the Run
// entry of the running copy (so a moved console re-registers its new folder)
// or removes it, and records the state in AutoStart. A failed write is
// reported by the registry helper; the setting still follows the entry.
void SetAutoStart(RegistryContext& registry, platform::FileSystem& fileSystem,
                  ConsoleSettings& settings, bool checked);

}  // namespace orvel::settings

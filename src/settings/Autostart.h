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

// Who toggles the menu entry: the operator, or the main window's load, which
// checks it once (AutoStart on) or checks and unchecks it (AutoStart off).
enum class AutoStartToggle { ByOperator, AtLoad };

// The toggle's effect once the menu entry shows `checked`: the Run entry of
// the running copy (so a moved console re-registers its new folder) is written
// when the stored one differs, or a Run entry that is there is removed; the
// state is recorded in AutoStart. The load's check before its uncheck writes
// nothing, so a machine without a Run entry is left untouched. A failed write
// is reported by the registry helper; the setting still follows the entry.
void SetAutoStart(RegistryContext& registry, platform::FileSystem& fileSystem,
                  ConsoleSettings& settings, bool checked,
                  AutoStartToggle toggle = AutoStartToggle::ByOperator);

}  // namespace orvel::settings

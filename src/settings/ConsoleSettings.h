#pragma once

// The console's own settings, kept in "Orvel Console.ini" beside the executable.

#include <cstdint>
#include <string>

#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "platform/VersionInfo.h"

namespace orvel::settings {

struct ConsoleSettings {
    bool LocalServerSelected = false;
    std::string RemoteServerName;
    std::string LocalServerName;
    std::int16_t ColorTheme = 0;
    std::int16_t WindowState = 0;
    std::int16_t WindowFormWidth = 0;
    std::int16_t WindowFormHeight = 0;
    std::int16_t WindowFormTop = 0;
    std::int16_t WindowFormLeft = 0;
    std::int16_t Current = 0;
    bool AutoStart = false;
};

// What the two routines need from the platform.
struct ConfigurationContext {
    platform::ProfileFile& profile;
    platform::FileSystem& fileSystem;
    platform::Dialogs& dialogs;
    platform::Clock& clock;
    const platform::VersionInfo& version;
    // The box telling that the file cannot be written has been shown this run.
    bool writeFailureShown = false;
    // The file is not this user's to change (a user outside the operators'
    // group, told so once already): it is read, never created or written.
    bool readOnly = false;
};

// Fills settings from the file; asks to create the file when it is missing
// (unless the context is read-only).
void ReadConsoleConfiguration(ConfigurationContext& context, ConsoleSettings& settings);
// Writes every entry but "Created". A file that cannot be written is said
// once per run in a box (writeFailureShown remembers it).
void WriteConsoleConfiguration(ConfigurationContext& context, const ConsoleSettings& settings);

}  // namespace orvel::settings

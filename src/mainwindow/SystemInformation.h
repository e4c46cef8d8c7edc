#pragma once

// The about box's "&System Info..." action: finding the system-information
// program through the registry and starting it.

#include <string>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/ProgramStarter.h"
#include "platform/Registry.h"

namespace orvel::mainwindow {

inline constexpr const char* kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* kSysInfoValue = "PATH";
inline constexpr const char* kSysInfoLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr const char* kSysInfoLocationValue = "MSINFO";
inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

// Reads a text value. The key is opened for reading only, so a user who may
// not write the registry still finds the program. True when the value was
// read; value is set only then.
bool GetKeyValue(platform::Registry& registry, platform::HKEY rootKey, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyValue);

struct SysInfoServices {
    platform::Registry& registry;
    platform::FileSystem& fileSystem;
    platform::ProgramStarter& programs;
    platform::Dialogs& dialogs;
    std::string applicationTitle;
};

// Starts the program the first key names (unchecked), or MSINFO32.EXE in
// the folder the second key names when it exists; otherwise, or when the
// start fails, says that system information is unavailable.
void StartSysInfo(SysInfoServices& services);

}  // namespace orvel::mainwindow

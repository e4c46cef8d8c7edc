#pragma once

// The suite's fifteen programs (entries 1-15; entry 0 is never used), the
// component servers each one needs, and the searches over them.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/WindowSystem.h"
#include "status/ComponentServerTable.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::settings {
struct RegistryContext;
}

namespace orvel::launcher {

inline constexpr int kCatalogueSize = 16;
inline constexpr int kFirstApplication = 1;
inline constexpr int kLastApplication = 15;

// Launch states.
inline constexpr std::int16_t kStateUnsupported = -1;
inline constexpr std::int16_t kStateOffLine = 0;
inline constexpr std::int16_t kStateFileMissing = 2;
inline constexpr std::int16_t kStateFilePresent = 3;
inline constexpr std::int16_t kStateServerMissing = 4;
inline constexpr std::int16_t kStateReady = 5;
inline constexpr std::int16_t kStateRunning = 6;

// Remote support.
inline constexpr std::int16_t kRemoteAccepted = 100;
inline constexpr std::int16_t kRemoteUnsupported = 101;
inline constexpr std::int16_t kRemoteSupported = 102;

struct ApplicationEntry {
    std::string Path;  // ends with '/'
    std::string FileName;
    std::string DisplayName;
    std::int16_t Category = 0;  // 0 applications, 1 tools, 2 utilities
    std::int16_t Slot = 0;
    std::int16_t State = kStateUnsupported;
    std::int16_t RemoteSupport = kRemoteSupported;
    std::int32_t ProcessId = 0;
    platform::HWND WindowHandle = 0;
    std::string WindowTitle;
    std::string LongName;
};

using ApplicationCatalogue = std::array<ApplicationEntry, kCatalogueSize>;

// Fills entries 1-15 with their rows. The editor of entry 14 lives in
// editorPath (ending with '/') as editorFile.
void FillApplicationRows(ApplicationCatalogue& catalogue, const std::string& strOrvelPath,
                         const std::string& editorPath, const std::string& editorFile);

// The build of start-up: the rows, the editor's place from the registry
// (values "EditorPath" and "Editor" under Software\Quarlen\Corvane, with
// strCorvanePath + "bin/" and "Shaper.exe" as defaults), then the file check.
void BuildApplicationCatalogue(ApplicationCatalogue& catalogue, settings::RegistryContext& registry,
                               platform::FileSystem& fileSystem, const std::string& strOrvelPath,
                               const std::string& strCorvanePath);

// State 3 for each entry whose program file exists, 2 otherwise.
void CheckApplicationFiles(ApplicationCatalogue& catalogue, platform::FileSystem& fileSystem);

// The first entry 1-15 whose window exists, 0 when none; refreshes the
// WindowHandle of every entry it looks at.
std::int16_t FindRunningApplication(ApplicationCatalogue& catalogue,
                                    platform::WindowSystem& windows);

// The component servers an entry needs besides the common 11, 7 and 3.
struct RequiredServers {
    std::span<const std::int16_t> checkList;
    std::span<const std::int16_t> startList;
};
RequiredServers RequiredServersOf(int index);

// What the two server routines need of the main window's state.
struct ServerAccess {
    status::ComponentServerTable& table;
    const std::shared_ptr<suiteclient::SuiteServer>& objOrvelServerLocal;
    const std::shared_ptr<suiteclient::SuiteServer>& objOrvelServerRemote;
};

// The last slot of the entry's combined check list that is not running, or -1
// (also when not connected). Entry 1 follows the active-set rule, entry 15
// never needs a server.
std::int16_t FindMissingServer(int index, ServerAccess access);
// Asks the suite server to start 11, 7, 3 and then the entry's start list.
void StartRequiredServers(int index, ServerAccess access, platform::Dialogs& dialogs);

}  // namespace orvel::launcher

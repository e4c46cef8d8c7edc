#include "launcher/ApplicationCatalogue.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/WindowSnapshot.h"
#include "status/ComponentStatus.h"
#include "status/ServerReferences.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::launcher {

namespace {

struct Row {
    const char* fileName;
    const char* windowTitle;
    const char* displayName;
    const char* longName;
    std::int16_t category;
    std::int16_t slot;
    std::int16_t remoteSupport;
};

constexpr std::array<Row, 16> kRows{{
    {},
    {"DeskMain.exe", "DeskMain", "Main Desk", "Orvel Main Desk", 0, 0, 102},
    {"PortSetEdit.exe", "Port Set Editor", "Port Editor", "Orvel Port Editor", 0, 1, 101},
    {"JournalView.exe", "JournalView", "Journal View", "Orvel Journal View", 0, 2, 102},
    {"Recorder.exe", "Recorder", "Recorder", "Orvel Recorder", 0, 3, 102},
    {"MatrixPanel.exe", "MatrixPanel", "Matrix Panel", "Orvel Matrix Panel", 0, 4, 102},
    {"TrackWatch.exe", "TrackWatch", "Track/Watch", "Pelorus Track and Watch", 0, 5, 102},
    {"SoftDeck.exe", "softdeck", "Soft Decks", "GUI Soft Decks", 0, 6, 102},
    {"CardHealth.exe", "Card Health", "Card Health", "Orvel Card Health", 1, 0, 102},
    {"LockBreaker.exe", "LockBreaker", "Lock Breaker", "Orvel Lock Breaker", 1, 1, 102},
    {"ConfLoad.exe", "ConfLoad", "Conference Load", "Orvel Conference Load", 1, 2, 102},
    {"DirectSwitch.exe", "DirectSwitchControl", "Direct Switch", "Corvane Direct Switch", 1, 3,
     102},
    {"Rewire.exe", "Rewire Utility", "Rewire", "Orvel Rewire", 1, 4, 101},
    {"StateKeeper.exe", "State Keeper", "Keep/Recall", "Orvel State Keeper", 1, 5, 102},
    {nullptr, "Corvane Shaper", "Setup Editor", "Setup Editor", 1, 6, 102},
    {"LinkCheck.exe", "LinkCheck", "Link Check", "Orvel Link Check", 2, 0, 101},
}};

constexpr std::array<std::int16_t, 3> kCommon{11, 7, 3};

// Check and start lists after the common part; entry 1's check list is 9
// unless the active-set rule replaces it.
constexpr std::array<std::int16_t, 1> k9{9};
constexpr std::array<std::int16_t, 2> k10_9{10, 9};
constexpr std::array<std::int16_t, 2> k9_6{9, 6};
constexpr std::array<std::int16_t, 5> k9_2_12_1_5{9, 2, 12, 1, 5};
constexpr std::array<std::int16_t, 2> k4_5{4, 5};
constexpr std::array<std::int16_t, 3> k4_5_13{4, 5, 13};
constexpr std::array<std::int16_t, 4> k4_5_0_1{4, 5, 0, 1};
constexpr std::array<std::int16_t, 3> k4_9_14{4, 9, 14};
constexpr std::array<std::int16_t, 2> k9_14{9, 14};
constexpr std::array<std::int16_t, 2> k6_5{6, 5};

const std::array<RequiredServers, 16> kRequired{{
    {},
    {k9, k10_9},
    {k9_6, k9_6},
    {k9_2_12_1_5, k9_2_12_1_5},
    {k9_2_12_1_5, k9_2_12_1_5},
    {k4_5, k4_5},
    {k4_5_13, k4_5_13},
    {k4_5_0_1, k4_5_0_1},
    {k9, k9},
    {k4_9_14, k4_9_14},
    {k9_14, k9_14},
    {k4_5, k4_5},
    {k9_6, k9_6},
    {k4_5, k4_5},
    {k6_5, k6_5},
    {},
}};

bool ValidIndex(int index) {
    return index >= kFirstApplication && index <= kLastApplication;
}

}  // namespace

void FillApplicationRows(ApplicationCatalogue& catalogue, const std::string& strOrvelPath,
                         const std::string& editorPath, const std::string& editorFile) {
    for (int index = kFirstApplication; index <= kLastApplication; ++index) {
        ApplicationEntry entry;
        entry.Path = strOrvelPath;
        entry.FileName = ".exe";
        entry.DisplayName = "App Index " + std::to_string(index);
        entry.LongName = "Initialized Only";
        const Row& row = kRows[static_cast<std::size_t>(index)];
        entry.FileName = row.fileName ? row.fileName : editorFile;
        if (!row.fileName) entry.Path = editorPath;
        entry.WindowTitle = row.windowTitle;
        entry.DisplayName = row.displayName;
        entry.LongName = row.longName;
        entry.Category = row.category;
        entry.Slot = row.slot;
        entry.RemoteSupport = row.remoteSupport;
        catalogue[static_cast<std::size_t>(index)] = std::move(entry);
    }
}

void CheckApplicationFiles(ApplicationCatalogue& catalogue, platform::FileSystem& fileSystem) {
    for (int index = kFirstApplication; index <= kLastApplication; ++index) {
        auto& entry = catalogue[static_cast<std::size_t>(index)];
        entry.State = fileSystem.FileExists(entry.Path + entry.FileName) ? kStateFilePresent
                                                                         : kStateFileMissing;
    }
}

std::int16_t FindRunningApplication(ApplicationCatalogue& catalogue,
                                    platform::WindowSystem& windows) {
    // The titles of entries 1-15 are looked up together, in one pass.
    std::vector<std::string> titles;
    for (int index = kFirstApplication; index <= kLastApplication; ++index) {
        titles.push_back(catalogue[static_cast<std::size_t>(index)].WindowTitle);
    }
    platform::WindowSnapshot windowsNow(windows, std::move(titles));
    for (int index = kFirstApplication; index <= kLastApplication; ++index) {
        auto& entry = catalogue[static_cast<std::size_t>(index)];
        entry.WindowHandle = windowsNow.FindWindowA(entry.WindowTitle);
        if (entry.WindowHandle > 0) return static_cast<std::int16_t>(index);
    }
    return 0;
}

RequiredServers RequiredServersOf(int index) {
    if (!ValidIndex(index)) return {};
    return kRequired[static_cast<std::size_t>(index)];
}

std::int16_t FindMissingServer(int index, ServerAccess access) {
    if (!status::RefreshServerReferences(access.table, access.objOrvelServerLocal,
                                         access.objOrvelServerRemote)) {
        return -1;
    }
    if (!ValidIndex(index)) return -1;
    // A status the server could not give counts as not running.
    std::array<std::int32_t, suite::kComponentSlots> status{};
    for (int k = 0; k < suite::kComponentSlots; ++k) {
        auto& server = access.table[static_cast<std::size_t>(k)].objServer;
        status[static_cast<std::size_t>(k)] =
            server ? server->GetComponentStatus(static_cast<std::int16_t>(k)).value_or(0) : 0;
    }
    auto running = [&](std::int16_t k) {
        return status[static_cast<std::size_t>(k)] == status::kStatusRunning;
    };
    std::int16_t result = -1;
    for (std::int16_t k : kCommon) {
        if (!running(k)) result = k;
    }
    if (index == 15) return -1;
    if (index == 1) {
        auto activeSet = access.objOrvelServerRemote->GetActiveSet();
        if (activeSet && *activeSet == suite::kNoActiveSet) {
            return running(7) ? (running(9) ? result : std::int16_t{9}) : std::int16_t{-1};
        }
    }
    for (std::int16_t k : RequiredServersOf(index).checkList) {
        if (!running(k)) result = k;
    }
    return result;
}

void StartRequiredServers(int index, ServerAccess access, platform::Dialogs& dialogs) {
    if (!status::RefreshServerReferences(access.table, access.objOrvelServerLocal,
                                         access.objOrvelServerRemote)) {
        return;
    }
    for (std::int16_t k : kCommon) status::StartComponentServer(access.table, k, dialogs);
    for (std::int16_t k : RequiredServersOf(index).startList) {
        status::StartComponentServer(access.table, k, dialogs);
    }
}

}  // namespace orvel::launcher

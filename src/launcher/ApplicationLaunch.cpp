#include "launcher/ApplicationLaunch.h"

#include "status/ServerReferences.h"

namespace orvel::launcher {

using platform::CR;
using namespace status;  // colours

namespace {
constexpr int kSizeBusy = 250;
constexpr int kSizeError = 10;
}  // namespace

StatePanelLook LookOfState(std::int16_t state) {
    switch (state) {
        case kStateOffLine:
            return {"Off Line", kBlack, kGrayText, kPanelStylePlain, std::nullopt};
        case kStateUnsupported:
            return {"UnSupported", kBlack, kGrayText, kPanelStylePlain, std::nullopt};
        case kStateFileMissing:
            return {"UnRegistered", kBlack, kRed, kPanelStylePlain, std::nullopt};
        case kStateFilePresent:
            return {"Registered", kBlack, kYellow, kPanelStylePlain, std::nullopt};
        case kStateServerMissing:
            return {"[Ready]", kBlack, kGreen, kPanelStylePlain, std::nullopt};
        case kStateReady:
            return {"Ready", kBlack, kGreen, kPanelStylePlain, std::nullopt};
        case kStateRunning:
            return {std::nullopt, kGreen, kBlack, kPanelStylePlain, kSizeBusy};
        default:
            return {"Error", kRed, kWhite, kPanelStylePlain, kSizeError};
    }
}

StatePanelLook BusyLook(const std::string& caption) {
    return {caption, kYellow, kBlack, kPanelStyleBusy, kSizeBusy};
}

std::int16_t DecideApplicationState(int index, StateContext context) {
    if (index < kFirstApplication || index > kLastApplication) return kStateUnsupported;
    auto& entry = context.catalogue[static_cast<std::size_t>(index)];
    if (!RefreshServerReferences(context.servers.table, context.servers.objOrvelServerLocal,
                                 context.servers.objOrvelServerRemote)) {
        entry.State = kStateOffLine;
        return entry.State;
    }
    if (const auto window = context.windows.FindWindowA(entry.WindowTitle); window != 0) {
        entry.WindowHandle = window;
        entry.State = kStateRunning;
        return entry.State;
    }
    if (!context.localServerSelected && entry.RemoteSupport == kRemoteUnsupported) {
        entry.State = kStateUnsupported;
    }
    if (entry.State != kStateUnsupported && entry.State != kStateFileMissing) {
        entry.State =
            FindMissingServer(index, context.servers) >= 0 ? kStateServerMissing : kStateReady;
    }
    return entry.State;
}

bool WindowChangedSincePaint(ApplicationEntry& entry, platform::WindowSystem& windows) {
    entry.WindowHandle = windows.FindWindowA(entry.WindowTitle);
    const bool running = entry.WindowHandle > 0;
    return running != (entry.State == kStateRunning);
}

std::string NotConnectedText(const std::string& displayName) {
    return std::string("Cannot Start the Application ") + CR + CR + "'" + displayName + "'" + CR +
           CR + "Until the Orvel Server is Started";
}

std::string ServerDidNotStartText(const std::string& serverDisplayName) {
    return std::string("The Required Orvel Server") + CR + CR + "'" + serverDisplayName +
           " Server'" + CR + CR + " Did Not Start. Cannot Launch Application";
}

std::string StartFailedText(const ApplicationEntry& entry, const std::string& reason) {
    return std::string("Cannot Start the Application ") + CR + CR + "'" + entry.DisplayName + "'" +
           CR + CR + entry.Path + entry.FileName + CR + "      " + reason;
}

bool StartApplication(ApplicationEntry& entry, platform::FileSystem& fileSystem,
                      platform::ProgramStarter* starter, platform::Dialogs& dialogs) {
    // The console's current directory follows the last launched program, as
    // the old console's did; every path it keeps is absolute.
    fileSystem.ChangeDirectory(entry.Path);
    platform::StartResult result;
    if (starter == nullptr) {
        result.error = "No program starter is available";
    } else {
        result = starter->Start(entry.Path + entry.FileName, kNormalFocus);
    }
    if (result.pid <= 0) {
        const std::string reason =
            result.error.empty() ? std::string("The program did not start") : result.error;
        dialogs.MsgBox(StartFailedText(entry, reason), platform::vbExclamation,
                       "Application Not Started");
        return false;
    }
    entry.ProcessId = static_cast<std::int32_t>(result.pid);
    entry.State = kStateRunning;
    return true;
}

bool LaunchedProcessAlive(const ApplicationEntry& entry, platform::ProgramStarter* starter) {
    return starter != nullptr && entry.ProcessId > 0 &&
           starter->IsAlive(static_cast<pid_t>(entry.ProcessId));
}

}  // namespace orvel::launcher

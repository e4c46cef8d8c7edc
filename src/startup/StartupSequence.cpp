#include "startup/StartupSequence.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/Hex.h"
#include "platform/RegistryKey.h"
#include "startup/StartupTexts.h"

namespace orvel::startup {

using platform::CR;
using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;

namespace {

constexpr std::int16_t kTypeString = 1;
constexpr std::int16_t kTypeDword = 4;
const std::string kIndent = "      ";  // continuation lines: six blanks

// A failure inside one step never ends the start-up: the next step runs.
template <typename Step>
void RunStep(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

}  // namespace

StartupSequence::StartupSequence(const StartupServices& services, StartupHooks hooks,
                                 ProgramState& state)
    : services_(services),
      hooks_(std::move(hooks)),
      state_(state),
      registryValues_{services.registry, services.dialogs} {}

bool StartupSequence::Run() {
    // 1. No window yet. A damaged registry store is said once; every lookup
    //    below then falls back to its default.
    RunStep([&] { ReportDamagedStore(); });
    RunStep([&] { TestAdministrator(); });        // 2
    RunStep([&] { LookUpServerClass(); });        // 3
    RunStep([&] { PrepareServerActivation(); });  // 4
    RunStep([&] { InitializeRpcSecurity(); });    // 5
    RunStep([&] { LocateFolders(); });            // 6
    RunStep([&] {                                 // 7
        if (hooks_.fillColourThemes) hooks_.fillColourThemes(state_);
    });
    RunStep([&] { FillComponentServers(); });  // 8
    RunStep([&] {                              // 9
        if (hooks_.buildApplicationCatalogue) hooks_.buildApplicationCatalogue(state_);
    });
    RunStep([&] { SetSettingsDefaults(); });  // 10
    RunStep([&] {                             // 11
        settings::ReadConsoleConfiguration(services_.configuration, state_.ConsoleSettings);
    });
    RunStep([&] {  // 12
        if (hooks_.showSplash) hooks_.showSplash(state_);
    });
    bool running = true;  // 13
    RunStep([&] {
        if (hooks_.showMainWindow) running = hooks_.showMainWindow(state_);
    });
    if (!running) return false;  // another console runs: no settings write
    RunStep([&] {                // 14
        settings::WriteConsoleConfiguration(services_.configuration, state_.ConsoleSettings);
    });
    return true;  // 15
}

void StartupSequence::ReportDamagedStore() {
    std::string problem = services_.registry.StoreProblem();
    if (problem.empty()) return;
    services_.dialogs.MsgBox(problem + CR + CR + "The Orvel Console goes on with its defaults.",
                             platform::vbCritical, "Registry Store Damaged");
}

// Silent: only the answers of the registry say whether this user may change
// machine-wide settings.
void StartupSequence::TestAdministrator() {
    platform::Registry& registry = services_.registry;
    platform::RegistryKey key(registry);
    if (key.Open(HKEY_LOCAL_MACHINE, kAdministratorTestKey, platform::KEY_WRITE) !=
        platform::ERROR_SUCCESS) {
        if (key.Create(HKEY_LOCAL_MACHINE, kAdministratorTestKey) == platform::ERROR_SUCCESS) {
            state_.IsAdministrator = true;
            key.Close();
            registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAdministratorTestKey);
        } else {
            state_.IsAdministrator = false;
        }
    } else {
        // A key left over from an earlier run.
        key.Close();
        state_.IsAdministrator =
            registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAdministratorTestKey) ==
            platform::ERROR_SUCCESS;
    }
}

void StartupSequence::LookUpServerClass() {
    settings::RegistryVariant value =
        settings::functGetRegistryValue(registryValues_, HKEY_CLASSES_ROOT, kServerClassIdKey, "",
                                        kTypeString, std::string(kNotFound));
    const std::string* text = std::get_if<std::string>(&value);
    state_.ServerClassId = text != nullptr ? *text : kNotFound;
}

// The suite server runs as the interactive user, without authentication. Each
// value is written only when the stored one differs, so a machine already set
// up gives a user without the right to write no "Registry Access" box.
void StartupSequence::PrepareServerActivation() {
    if (state_.ServerClassId != kNotFound) {
        const std::string appId = "AppID\\" + state_.ServerClassId;
        const std::string machineAppId = "SOFTWARE\\Classes\\AppID\\" + state_.ServerClassId;
        const settings::RegistryVariant interactiveUser = std::string("Interactive User");
        const settings::RegistryVariant noAuthentication = std::int32_t{1};
        settings::WriteRegistryValueWhenDifferent(registryValues_, HKEY_CLASSES_ROOT, appId,
                                                  "RunAs", kTypeString, interactiveUser);
        settings::WriteRegistryValueWhenDifferent(registryValues_, HKEY_CLASSES_ROOT, appId,
                                                  "AuthenticationLevel", kTypeDword,
                                                  noAuthentication);
        settings::WriteRegistryValueWhenDifferent(registryValues_, HKEY_LOCAL_MACHINE, machineAppId,
                                                  "RunAs", kTypeString, interactiveUser);
        settings::WriteRegistryValueWhenDifferent(registryValues_, HKEY_LOCAL_MACHINE, machineAppId,
                                                  "AuthenticationLevel", kTypeDword,
                                                  noAuthentication);
    } else {
        services_.dialogs.MsgBox(std::string("Unable to Find Orvel_Server in Registry") + CR + CR +
                                     "You may not be able to Connect to the Orvel Server",
                                 platform::vbCritical, "Missing Orvel_Server Component");
    }
}

void StartupSequence::InitializeRpcSecurity() {
    platform::HRESULT result = services_.rpcSecurity.CoInitializeSecurity(
        platform::RPC_C_AUTHN_LEVEL_NONE, platform::RPC_C_IMP_LEVEL_IMPERSONATE,
        platform::EOAC_NONE);
    platform::Dialogs& dialogs = services_.dialogs;
    switch (result) {
        case platform::S_OK:
            break;
        case platform::RPC_E_TOO_LATE:
            dialogs.MsgBox(std::string("DCom Security has already been Initialized by another") +
                               CR + kIndent + "Application, or previous instance of" + CR +
                               kIndent + services_.configuration.version.comments + "." + CR + CR +
                               "Remote Clients may not be able to connect" + CR + kIndent +
                               "if Security was not correctly set.",
                           platform::vbInformation, "Security Already Initialized");
            break;
        case platform::RPC_E_NO_GOOD_SECURITY_PACKAGES:
            dialogs.MsgBox(std::string("DCom Security could not find a 'Good Security Package'") +
                               CR + CR + "Remote Clients may not be able to connect" + CR +
                               kIndent + "if 'Logged In' as different user on Server",
                           platform::vbInformation, "Security No Good Security Package");
            break;
        default:
            dialogs.MsgBox(
                std::string("DCom Security has responded with result other than sucess.") + CR +
                    "CODE: " + platform::Hex(result) + CR + CR +
                    "Remote Clients may not be able to connect" + CR + kIndent +
                    "if 'Logged In' as different user on Server",
                platform::vbInformation, "Security Unknown Result");
            break;
    }
}

void StartupSequence::LocateFolders() {
    state_.strOrvelPath = settings::functGetOrvelPath(services_.registry);
    state_.strCorvanePath = settings::functGetCorvanePath(services_.registry);
}

void StartupSequence::FillComponentServers() {
    status::FillComponentServerTable(state_.ComponentServers, state_.strOrvelPath);
}

void StartupSequence::SetSettingsDefaults() {
    settings::ConsoleSettings& settings = state_.ConsoleSettings;
    settings.LocalServerSelected = true;
    settings.LocalServerName = "";
    settings.RemoteServerName = "";
    settings.AutoStart = false;
}

}  // namespace orvel::startup

#include "startup/StartupSequence.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/Hex.h"
#include "platform/RegistryKey.h"
#include "startup/StartupTexts.h"
#include "suite/OperatorGroup.h"

namespace orvel::startup {

using platform::CR;
using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;

namespace {

constexpr std::int16_t kTypeString = 1;
constexpr std::int16_t kTypeDword = 4;
const std::string kIndent = "      ";  // continuation lines: six blanks

}  // namespace

bool IsSuiteOperator(platform::SystemInfo& system, const platform::InstallRoot& root) {
    if (root.relocated) return true;
    return system.MembershipOf(suite::kOperatorGroup) != platform::GroupMembership::NotMember;
}

StartupSequence::StartupSequence(const StartupServices& services, StartupHooks hooks,
                                 ProgramState& state)
    : services_(services),
      hooks_(std::move(hooks)),
      state_(state),
      registryValues_{services.registry, services.dialogs} {}

// A failure inside one step never ends the start-up: the next step runs, and
// the failure leaves a line.
template <typename Step>
void StartupSequence::RunStep(std::string_view what, Step&& step) {
    platform::RunGuarded(services_.diagnostics, platform::DiagnosticArea::kStartup, what,
                         std::forward<Step>(step));
}

bool StartupSequence::Run() {
    // 1. No window yet. A damaged registry store is said once; every lookup
    //    below then falls back to its default.
    RunStep("step 1: the registry store's state", [&] { ReportDamagedStore(); });
    RunStep("a user outside the operators' group", [&] { TellNonOperator(); });
    RunStep("step 2: the administrator test", [&] { TestAdministrator(); });        // 2
    RunStep("step 3: the server class", [&] { LookUpServerClass(); });              // 3
    RunStep("step 4: the server activation", [&] { PrepareServerActivation(); });   // 4
    RunStep("step 5: the remote-call security", [&] { InitializeRpcSecurity(); });  // 5
    RunStep("step 6: the folders", [&] { LocateFolders(); });                       // 6
    RunStep("step 7: the colour themes", [&] {                                      // 7
        if (hooks_.fillColourThemes) hooks_.fillColourThemes(state_);
    });
    RunStep("step 8: the component servers", [&] { FillComponentServers(); });  // 8
    RunStep("step 9: the application catalogue", [&] {                          // 9
        if (hooks_.buildApplicationCatalogue) hooks_.buildApplicationCatalogue(state_);
    });
    RunStep("step 10: the settings defaults", [&] { SetSettingsDefaults(); });  // 10
    RunStep("step 11: reading the settings", [&] {                              // 11
        settings::ReadConsoleConfiguration(services_.configuration, state_.ConsoleSettings);
    });
    RunStep("step 12: the splash", [&] {  // 12
        if (hooks_.showSplash) hooks_.showSplash(state_);
    });
    bool running = true;  // 13
    RunStep("step 13: the main window", [&] {
        if (hooks_.showMainWindow) running = hooks_.showMainWindow(state_);
    });
    if (!running) return false;                     // another console runs: no settings write
    RunStep("step 14: writing the settings", [&] {  // 14
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

// A user the suite server refuses hears it once, with what to ask for, and
// not through the boxes of each thing that fails for them: the activation
// values they cannot write and the settings file they can neither create nor
// save.
void StartupSequence::TellNonOperator() {
    if (state_.IsOperator) return;
    services_.configuration.readOnly = true;
    services_.dialogs.MsgBox(suite::NotOperatorMessage(state_.UserName), platform::vbExclamation,
                             suite::kNotOperatorTitle);
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
    if (!state_.IsOperator) return;
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

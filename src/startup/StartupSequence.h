#pragma once

// The console's start-up: administrator test, the suite server's activation
// values, process-wide RPC security, install folders, program-wide tables,
// settings, splash, main window, settings written back.

#include <functional>

#include "platform/Diagnostics.h"
#include "platform/Dialogs.h"
#include "platform/InstallRoot.h"
#include "platform/Registry.h"
#include "platform/RpcSecurity.h"
#include "platform/SystemInfo.h"
#include "settings/ConsoleSettings.h"
#include "settings/RegistryValues.h"
#include "startup/ProgramState.h"

namespace orvel::startup {

inline constexpr const char* kAdministratorTestKey =
    "SOFTWARE\\Quarlen\\OrvelConsole_AdministratorTest";
inline constexpr const char* kServerClassIdKey = "Orvel_Server.clsOrvel_Server\\Clsid";
inline constexpr const char* kNotFound = "Not Found";

// Whether this user may use the installed suite: root and the members of the
// operators' group. An installation root of one's own (ORVEL_ROOT) has a
// server of its user, and a computer without the group has no rule to tell.
bool IsSuiteOperator(platform::SystemInfo& system, const platform::InstallRoot& root);

// The platform services start-up uses. The settings context is the
// program's one, shared with the windows that write the settings later.
struct StartupServices {
    platform::Registry& registry;
    platform::Dialogs& dialogs;
    platform::RpcSecurity& rpcSecurity;
    settings::ConfigurationContext& configuration;
    platform::Diagnostics& diagnostics;
};

// What the windows and the tables of other parts of the console contribute.
// An empty hook is skipped.
struct StartupHooks {
    std::function<void(ProgramState&)> fillColourThemes;           // step 7
    std::function<void(ProgramState&)> buildApplicationCatalogue;  // step 9
    std::function<void(ProgramState&)> showSplash;                 // step 12, modal
    // Step 13: creates and shows the main window, running its load. Answers
    // false when the load ended the program (another console is running).
    std::function<bool(ProgramState&)> showMainWindow;
};

class StartupSequence {
  public:
    StartupSequence(const StartupServices& services, StartupHooks hooks, ProgramState& state);

    // Runs steps 1 to 15. True: the main window runs and the event loop takes
    // over; false: the main window's load ended the program.
    bool Run();

    // The registry helpers' context, for the windows' later use.
    settings::RegistryContext& RegistryValues() { return registryValues_; }

  private:
    template <typename Step>
    void RunStep(std::string_view what, Step&& step);
    void ReportDamagedStore();
    void TellNonOperator();
    void TestAdministrator();
    void LookUpServerClass();
    void PrepareServerActivation();
    void InitializeRpcSecurity();
    void LocateFolders();
    void FillComponentServers();
    void SetSettingsDefaults();

    StartupServices services_;
    StartupHooks hooks_;
    ProgramState& state_;
    settings::RegistryContext registryValues_;
};

}  // namespace orvel::startup

// Orvel_Console: builds the platform services and the program-wide state,
// runs the start-up sequence, then the window event loop. Before any window
// it answers --help and --version; Qt takes its own options and every other
// argument is ignored.

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/IniProfileFile.h"
#include "platform/InstallRoot.h"
#include "platform/StandardOptions.h"
#include "platform/VersionInfo.h"
#include "platform/linux/FileInstanceLock.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "platform/linux/PosixProgramStarter.h"
#include "platform/linux/ProcProcessTable.h"
#include "platform/linux/ProcessRpcSecurity.h"
#include "platform/linux/SqliteRegistry.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/X11DisplayProbe.h"
#include "platform/linux/X11WindowSystem.h"
#include "platform/qt/CloseSignals.h"
#include "platform/qt/QtDiagnostics.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtUiDispatcher.h"
#include "startup/ConsoleWindows.h"
#include "startup/DisplayCheck.h"
#include "startup/RecordedDialogs.h"
#include "startup/StartupSequence.h"
#include "suite/SuiteServerSettings.h"
#include "suiteclient/GrpcSuiteServerFactory.h"
#include "suiteclient/RpcRuntime.h"

namespace {

constexpr const char* kUsage =
    "Usage: Orvel_Console [--help | --version]\n"
    "The Orvel Console: the suite server's component servers, the applications\n"
    "of the suite and this computer's role, in one window.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Every other argument is ignored. The settings file \"Orvel Console.ini\" lives\n"
    "beside the program (its folder must be writable by the group orvel).\n"
    "ORVEL_ROOT relocates the registry store and the socket folder;\n"
    "ORVEL_RECORD_BOXES=FILE answers every box with its default button and\n"
    "records it in FILE instead of showing it (scripted checks).\n";

}  // namespace

int main(int argc, char* argv[]) {
    using namespace orvel;
    if (auto answered = platform::AnswerStandardOption(platform::Arguments(argc, argv),
                                                       "Orvel_Console", kUsage, std::cout)) {
        return *answered;
    }
    // The check's connection stays open until Qt has its own: see X11DisplayProbe.h.
    platform::X11DisplayConnection display;
    if (auto problem = startup::MissingDisplayMessage([&display] { return display.Open(); })) {
        std::fprintf(stderr, "Orvel_Console: %s\n", problem->c_str());
        return 2;
    }
    suiteclient::RpcRuntime rpcRuntime;  // before Qt starts any thread
    QApplication application(argc, argv);
    display.Close();
    application.setWindowIcon(
        QIcon::fromTheme("orvel-console", QIcon(":/orvel/orvel-console.svg")));

    const platform::VersionInfo version = platform::ProgramVersionInfo();
    const platform::InstallRoot root = platform::LocateInstallRoot();
    std::unique_ptr<platform::Registry> registry = platform::OpenRegistryStore(root);
    platform::IniProfileFile profile;
    platform::LinuxFileSystem fileSystem;
    platform::SystemClock clock;
    platform::LinuxSystemInfo systemInfo;
    platform::FileInstanceLock instanceLock(platform::FileInstanceLock::DefaultLockPath(root));
    platform::ProcessRpcSecurity rpcSecurity;
    platform::QtDialogs shownDialogs(version.title);
    const char* recordBoxes = std::getenv("ORVEL_RECORD_BOXES");
    std::unique_ptr<startup::RecordedDialogs> recordedDialogs;
    if (recordBoxes != nullptr && *recordBoxes != '\0')
        recordedDialogs = std::make_unique<startup::RecordedDialogs>(shownDialogs, recordBoxes);
    platform::Dialogs& dialogs =
        recordedDialogs ? static_cast<platform::Dialogs&>(*recordedDialogs) : shownDialogs;

    startup::ProgramState state;
    state.IsOperator = startup::IsSuiteOperator(systemInfo, root);
    state.UserName = systemInfo.UserName();
    settings::ConfigurationContext configuration{profile, fileSystem, dialogs, clock, version};
    platform::QtUiDispatcher dispatcher;
    suiteclient::SuiteServerEndpoints endpoints;
    endpoints.socketPath = root.suiteServerSocket();
    endpoints.tcpPort = suite::ReadTcpPort(*registry);
    endpoints.tlsFolder = suite::TlsFolder(root.registryStore);
    suiteclient::GrpcSuiteServerFactory servers(endpoints, dispatcher);
    platform::X11WindowSystem windowSystem;  // the display Qt uses, from DISPLAY
    platform::ProcProcessTable processTable;
    platform::PosixProgramStarter programStarter;

    platform::QtDiagnostics diagnostics;

    startup::ConsoleWindows windows({*registry, dialogs, clock, instanceLock, systemInfo,
                                     fileSystem, profile, windowSystem, servers, version,
                                     configuration, diagnostics, &processTable, &programStarter,
                                     &dispatcher});
    startup::StartupSequence sequence({*registry, dialogs, rpcSecurity, configuration, diagnostics},
                                      windows.Hooks(), state);
    // Shutdown, log-out or Ctrl+C: the orderly close, without a question.
    bool closeRequested = false;
    platform::CloseSignals closeSignals([&](int) {
        closeRequested = true;
        if (auto* window = windows.MainWindow()) window->CloseBySignal();
        QCoreApplication::exit(0);  // leaves every event loop, an open box's too
    });
    if (!sequence.Run()) return 0;  // another console of this user runs
    if (closeRequested) return 0;   // asked to close during the start-up
    return application.exec();
}

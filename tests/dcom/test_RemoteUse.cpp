// End to end: a fresh installation is closed to remote consoles; the DCOM
// check's correction and a restart of the real suite server open it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <thread>

#include "FakeClock.h"
#include "FakeDialogs.h"
#include "FakeInstanceLock.h"
#include "SuiteServerHarness.h"
#include "dcom/DComConfiguration.h"
#include "dcom/ServerRegistration.h"
#include "launcher/ApplicationCatalogue.h"
#include "mainwindow/ColourThemes.h"
#include "mainwindow/frmMain.h"
#include "platform/VersionInfo.h"

namespace orvel::dcom {
namespace {

using namespace std::chrono_literals;
using namespace platform;

class NoWindows : public WindowSystem {
  public:
    HWND FindWindowA(std::string_view) override { return 0; }
    bool PostMessageA(HWND, unsigned, std::intptr_t, std::intptr_t) override { return false; }
    bool ShowWindow(HWND, int) override { return false; }
    bool BringWindowToTop(HWND) override { return false; }
};

class NoFiles : public FileSystem {
  public:
    bool FileExists(const std::string&) override { return false; }
    std::optional<std::string> ResolvePath(const std::string&) override { return std::nullopt; }
    std::string ExecutableFolder() override { return "/opt/console"; }
    std::string ExecutableName() override { return "Orvel_Console"; }
    bool ChangeDirectory(const std::string&) override { return true; }
    std::string CurrentDirectory() override { return "/"; }
};

bool TcpAnswers(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

bool WaitForTcp(std::uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!TcpAnswers(port)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

QApplication& Application() {
    static int argc = 1;
    static char name[] = "dcom_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(argc, argv);
    return application;
}

TEST(RemoteUse, CorrectionAndServerRestartOpenTheServerToRemoteConsoles) {
    Application();
    orvel::testing::SuiteServerHarness harness;
    const std::uint16_t port = orvel::testing::FreeTcpPort();
    harness.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
    int exitCode = -1;
    harness.RunProgram({"Orvel_Server", "--regserver"}, &exitCode);
    ASSERT_EQ(exitCode, 0) << "the machine defaults are written at registration";
    harness.SetUpTls();  // the site authority, the server's certificate, a console bundle
    harness.StartServer();

    // The console of a remote PC, role 1, naming this computer as its server.
    fakes::FakeDialogs dialogs;
    fakes::FakeClock clock;
    fakes::FakeInstanceLock instanceLock;
    NoWindows windows;
    NoFiles files;
    settings::ConsoleSettings consoleSettings;
    consoleSettings.Current = 1;
    consoleSettings.RemoteServerName = "127.0.0.1";
    status::ComponentServerTable table;
    const std::string suiteFolder = harness.suiteFolder + "/";
    status::FillComponentServerTable(table, suiteFolder);
    launcher::ApplicationCatalogue catalogue;
    launcher::FillApplicationRows(catalogue, suiteFolder, "/corvane/bin/", "Shaper.exe");
    mainwindow::ColourThemes themes;
    mainwindow::FillColourThemes(themes);
    const VersionInfo version = ProgramVersionInfo();
    auto factory = harness.MakeFactory(port, 1500ms);

    settings::RegistryContext registryContext{harness.Registry(), dialogs};
    RegistrationContext registration{registryContext, table, consoleSettings, suiteFolder};
    DComContext dcomContext{registryContext};

    mainwindow::MainWindowContext context{consoleSettings, dialogs,   clock,  windows,
                                          instanceLock,    *factory,  files,  version,
                                          table,           catalogue, themes, true};
    context.configureComputer = [&](std::int16_t role) { ConfigureComputer(registration, role); };
    mainwindow::frmMain window(context);

    // Remote use is off: the connection is refused.
    ASSERT_FALSE(TcpAnswers(port));
    dialogs.ExpectBox("DCom Error: 429");
    window.cmdServerOrvelHost_Click();
    ASSERT_TRUE(dialogs.ScriptDone());
    EXPECT_FALSE(window.Connected());
    EXPECT_EQ(dialogs.boxes.back().text.rfind("'Cannot Start DCom'", 0), 0u)
        << dialogs.boxes.back().text;

    // The check finds a fresh machine and corrects it after two Yes answers.
    dialogs.ExpectBox("DCom Configuration is NOT Correct", vbYes)
        .ExpectBox("(DCom Configuration is Correct)", vbYes)
        .ExpectBox("Changes on next Reboot");
    mnuToolsDComConfiguration_Click(dcomContext);
    ASSERT_TRUE(dialogs.ScriptDone());

    harness.StopServer();
    harness.StartServer();
    ASSERT_TRUE(WaitForTcp(port)) << harness.ServerLog();

    // A host console on the server computer, as a remote session requires.
    auto host = harness.Factory().CreateLocal();
    ASSERT_TRUE(host) << host.error().description;
    ASSERT_TRUE((*host)->ConnectClient("Host"));

    // The server has no active set yet, which the console reports once connected.
    dialogs.ExpectBox("No Active CORVANE Set Selected");
    window.cmdServerOrvelHost_Click();
    EXPECT_TRUE(window.Connected());
    EXPECT_TRUE(dialogs.ScriptDone());
    EXPECT_FALSE(consoleSettings.LocalServerSelected);
}

}  // namespace
}  // namespace orvel::dcom

// The road of "scripts/demo.sh remote" on loopback: a file server's root with
// remote use on and its TLS folder, and a remote console's root of its own
// with the class registration, the computer's console bundle installed and a
// suite server of its own; the console's client reaches both, the file
// server's over TLS, and reads the component rows there.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "SuiteServerHarness.h"
#include "suite/ComponentCatalog.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::testing {
namespace {

using namespace std::chrono_literals;
using platform::HKEY_LOCAL_MACHINE;

constexpr int kSlot = 3;

TEST(RemoteRoad, ARemoteConsolesRootReachesTheFileServerOverTlsAndReadsItsRows) {
    SuiteServerHarness fileServer;
    const std::uint16_t port = FreeTcpPort();
    fileServer.SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarlen\\Orvel\\Server", "TcpPort", port);
    fileServer.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableDCOM", "Y");
    fileServer.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Ole", "EnableRemoteConnect",
                         "Y");
    fileServer.SetUpTls();
    fileServer.InstallComponent(kSlot);
    fileServer.StartServer();

    // The remote console's root: the computer's bundle from the file server's
    // authority, and the class registration its start-up looks for.
    SuiteServerHarness remoteConsole;
    int code = -1;
    std::string output = fileServer.RunProgram({"orvel-cert", "bundle", "remotepc"}, &code);
    ASSERT_EQ(code, 0) << output;
    output = remoteConsole.RunProgram(
        {"orvel-cert", "install", fileServer.root + "/tls/bundles/remotepc"}, &code);
    ASSERT_EQ(code, 0) << output;
    output = remoteConsole.RunProgram({"Orvel_Server", "--regserver"}, &code);
    ASSERT_EQ(code, 0) << output;
    output = remoteConsole.RunProgram(
        {"orvel-reg", "query", "HKCR\\" + std::string(suite::kSuiteServerProgId) + "\\Clsid"},
        &code);
    EXPECT_EQ(code, 0) << "no class registration in the remote console's root: " << output;
    remoteConsole.StartServer();

    // The console's connect in a remote role: its own root's server first,
    // then the file server's by address, with the installed bundle.
    auto factory = remoteConsole.MakeFactory(port, 10s);
    auto local = factory->CreateLocal();
    ASSERT_TRUE(local) << local.error().reason;
    EXPECT_GE((*local)->ConnectClient("Local").value_or(0), 1);
    auto remote = factory->CreateRemote("127.0.0.1");
    ASSERT_TRUE(remote) << remoteConsole.lastProblem;
    EXPECT_GE((*remote)->ConnectClient("Remote").value_or(0), 1);
    const auto& definition = suite::ComponentDefinitions()[kSlot];
    auto name = (*remote)->GetComponentName(kSlot);
    ASSERT_TRUE(name) << name.error().description;
    EXPECT_FALSE(name->empty()) << definition.exeName;
    EXPECT_TRUE((*remote)->GetComponentStatus(kSlot)) << "a row's status over TLS";
    EXPECT_TRUE((*remote)->DisconnectClient());
    EXPECT_TRUE((*local)->DisconnectClient());
}

}  // namespace
}  // namespace orvel::testing

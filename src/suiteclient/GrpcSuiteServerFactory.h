#pragma once

// Suite server instances reached over gRPC: on this computer through the
// installation's unix socket, on a named computer through TCP.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/UiDispatcher.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::suiteclient {

struct SuiteServerEndpoints {
    std::string socketPath;         // the local server's socket (InstallRoot::suiteServerSocket)
    std::uint16_t tcpPort = 47310;  // the remote servers' port (suite::ReadTcpPort)
    std::chrono::milliseconds callDeadline{1500};
    std::chrono::milliseconds createDeadline{1500};
    std::string clientProgram = "Orvel_Console";  // named in the server's log
    // The TLS folder (suite::TlsFolder) whose console bundle remote connections
    // use; empty: no bundle, no remote connection.
    std::string tlsFolder;
    // Where the precise reason of a failed remote connection goes (the operator
    // sees only the run-time error); standard error when unset.
    std::function<void(const std::string&)> reportProblem;
};

// The console bundle's three files, read from tlsFolder; problem says what is
// missing when they cannot be read.
struct ConsoleBundle {
    std::string authorityCert;
    std::string key;
    std::string cert;
    std::string problem;
};
ConsoleBundle ReadConsoleBundle(const std::string& tlsFolder);

class GrpcSuiteServerFactory final : public SuiteServerFactory {
  public:
    // Events are handed to the user-interface thread through dispatcher, which
    // must outlive every instance created here.
    GrpcSuiteServerFactory(SuiteServerEndpoints endpoints, platform::UiDispatcher& dispatcher);
    ~GrpcSuiteServerFactory() override;

    Outcome<std::shared_ptr<SuiteServer>> CreateLocal() override;
    // computerName as the operator typed it (host name or IPv4 address), with
    // or without the leading "\\".
    Outcome<std::shared_ptr<SuiteServer>> CreateRemote(const std::string& computerName) override;

  private:
    Outcome<std::shared_ptr<SuiteServer>> Create(const std::string& target, bool local,
                                                 const std::string& computerName = {});
    void Report(const std::string& problem) const;

    SuiteServerEndpoints endpoints_;
    platform::UiDispatcher& dispatcher_;
};

}  // namespace orvel::suiteclient

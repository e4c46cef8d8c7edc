#pragma once

// Suite server instances reached over gRPC: on this computer through the
// installation's unix socket, on a named computer through TCP.

#include <chrono>
#include <cstdint>
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
};

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
    Outcome<std::shared_ptr<SuiteServer>> Create(const std::string& target, bool local);

    SuiteServerEndpoints endpoints_;
    platform::UiDispatcher& dispatcher_;
};

// True for a name a remote server can have: a host name or a dotted address.
bool IsPlausibleComputerName(const std::string& name);

}  // namespace orvel::suiteclient

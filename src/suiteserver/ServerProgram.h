#pragma once

// Orvel_Server's command line: serve, register, unregister, send a message.

#include <cstdint>
#include <string>

#include "platform/InstallRoot.h"
#include "platform/Registry.h"
#include "suiteserver/ServerLog.h"

namespace orvel::suiteserver {

// The whole program; returns the exit code.
int RunServerProgram(int argc, char** argv);

// Serves the unix socket (and TCP when remote use is on) until SIGTERM, SIGINT
// or SIGHUP. Blocks those signals in the calling thread first.
int ServeUntilSignalled(const platform::InstallRoot& root, platform::Registry& registry,
                        ServerLog& log);

// Sends EventOrvelMessage(intMessage, intVar, text) through the running
// server's local socket; 0, or 1 with a message on standard error.
int SendMessageToServer(const std::string& socketPath, std::int16_t intMessage, std::int16_t intVar,
                        const std::string& text);

}  // namespace orvel::suiteserver

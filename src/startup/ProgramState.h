#pragma once

// The program-wide state that start-up sets and the windows read. main()
// owns the one instance and hands it down by reference.

#include <string>

#include "settings/ConsoleSettings.h"
#include "status/ComponentServerTable.h"

namespace orvel::startup {

struct ProgramState {
    bool IsAdministrator = false;
    // Root or a member of the operators' group (see IsSuiteOperator).
    bool IsOperator = true;
    std::string UserName;
    std::string ServerClassId;
    std::string strOrvelPath;    // ends with '/'
    std::string strCorvanePath;  // ends with '/'
    settings::ConsoleSettings ConsoleSettings;
    status::ComponentServerTable ComponentServers;
};

}  // namespace orvel::startup

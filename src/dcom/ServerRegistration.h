#pragma once

// The computer's role and the class registration of the component servers
// that goes with it.

#include <cstdint>
#include <string>

#include "settings/ConsoleSettings.h"
#include "settings/RegistryValues.h"
#include "status/ComponentServerTable.h"

namespace orvel::dcom {

struct RegistrationContext {
    settings::RegistryContext& registry;
    status::ComponentServerTable& table;
    settings::ConsoleSettings& settings;  // RemoteServerName read, LocalServerSelected set
    const std::string& strOrvelPath;
};

// Applies role 0 (file server), 1 (remote PC) or 2 (extended remote PC).
void ConfigureComputer(RegistrationContext& context, std::int16_t role);
void RegisterAsLocal(RegistrationContext& context, std::int16_t index);
void RegisterAsRemote(RegistrationContext& context, std::int16_t index);

}  // namespace orvel::dcom

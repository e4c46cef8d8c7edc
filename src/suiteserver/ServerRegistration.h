#pragma once

// The suite server's own class registration, written by --regserver.

#include <string>

#include "platform/Registry.h"

namespace orvel::suiteserver {

// HKCR "Orvel_Server.clsOrvel_Server\Clsid" = the class identifier, and
// "CLSID\{id}" with "LocalServer32" = serverPath and "ProgID". Writing it again
// changes nothing. ERROR_SUCCESS or the first registry error.
platform::LONG RegisterServerClass(platform::Registry& registry, const std::string& serverPath);
// Removes what RegisterServerClass wrote; a missing part is no error.
platform::LONG UnregisterServerClass(platform::Registry& registry);

}  // namespace orvel::suiteserver

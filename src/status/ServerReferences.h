#pragma once

// Binding of the component server entries to the main window's two suite
// server references, and the start and stop of single slots.

#include <memory>

#include "platform/Dialogs.h"
#include "status/ComponentServerTable.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::status {

// Gives each entry the reference of its host kind. True ("connected") when
// both references exist and every entry could be bound; otherwise every
// entry's reference is cleared and the answer is false.
bool RefreshServerReferences(ComponentServerTable& table,
                             const std::shared_ptr<suiteclient::SuiteServer>& local,
                             const std::shared_ptr<suiteclient::SuiteServer>& remote);

// StartComponent on the slot's own reference, with the hourglass pointer
// shown during the call.
platform::Outcome<std::int32_t> StartComponentServer(ComponentServerTable& table, int slot,
                                                     platform::Dialogs& dialogs);
platform::Outcome<std::int32_t> StopComponentServer(ComponentServerTable& table, int slot);

}  // namespace orvel::status

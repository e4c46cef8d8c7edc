#pragma once

// The console's table of the twenty component server slots.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "suite/ComponentCatalog.h"
#include "suiteclient/SuiteServer.h"

namespace orvel::status {

struct ComponentServerEntry {
    std::string strClassId2;
    std::string strClassId;
    std::string strAppId;
    std::string strFolder;  // the suite folder, ending with '/'
    std::string strExeName;
    std::string strDisplayName;
    std::int16_t intStartMode = suite::kStartOnDemand;
    std::int16_t intHostKind = suite::kHostNone;
    bool blnKeepRunning = false;
    // Borrowed from the main window's two references; set only by RefreshServerReferences.
    std::shared_ptr<suiteclient::SuiteServer> objServer;
};

using ComponentServerTable = std::array<ComponentServerEntry, suite::kComponentSlots>;

// Resets every entry to the unused placeholder, then fills the used slots.
void FillComponentServerTable(ComponentServerTable& table, const std::string& strOrvelPath);

}  // namespace orvel::status

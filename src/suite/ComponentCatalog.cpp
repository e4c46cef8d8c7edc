#include "suite/ComponentCatalog.h"

namespace orvel::suite {

// Class identifiers: {4F52564C-<kind>-4000-8000-0000000000<slot>}, kind 0001 for the
// main class, 0002 for the second class (also the application identifier).
// Slot 15 is the exception: its second class is its main class and its
// application identifier stands alone (kind 0003).

const std::array<ComponentDefinition, kComponentSlots>& ComponentDefinitions() {
    static constexpr std::array<ComponentDefinition, kComponentSlots> kDefinitions{{
        {"{4F52564C-0002-4000-8000-000000000000}", "{4F52564C-0001-4000-8000-000000000000}",
         "{4F52564C-0002-4000-8000-000000000000}", "DeviceControlServer.exe", "Device Control",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-000000000001}", "{4F52564C-0001-4000-8000-000000000001}",
         "{4F52564C-0002-4000-8000-000000000001}", "DevStatusServer.exe", "Device Status",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-000000000002}", "{4F52564C-0001-4000-8000-000000000002}",
         "{4F52564C-0002-4000-8000-000000000002}", "FaultStatServer.exe", "Fault Status",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-000000000003}", "{4F52564C-0001-4000-8000-000000000003}",
         "{4F52564C-0002-4000-8000-000000000003}", "DeskMainServer.exe", "Main Desk", kHostRemote,
         kStartWithLocalConnection},
        {"{4F52564C-0002-4000-8000-000000000004}", "{4F52564C-0001-4000-8000-000000000004}",
         "{4F52564C-0002-4000-8000-000000000004}", "MatrixControlServer.exe", "Matrix Control",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-000000000005}", "{4F52564C-0001-4000-8000-000000000005}",
         "{4F52564C-0002-4000-8000-000000000005}", "MatrixStatusServer.exe", "Matrix Status",
         kHostLocal, kStartWithLocalConnection},
        {"{4F52564C-0002-4000-8000-000000000006}", "{4F52564C-0001-4000-8000-000000000006}",
         "{4F52564C-0002-4000-8000-000000000006}", "FileServiceServer.exe", "File Service",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-000000000007}", "{4F52564C-0001-4000-8000-000000000007}",
         "{4F52564C-0002-4000-8000-000000000007}", "SetupStoreServer.exe", "Setup Store",
         kHostRemote, kStartWithLocalConnection},
        {"{4F52564C-0002-4000-8000-000000000008}", "{4F52564C-0001-4000-8000-000000000008}",
         "{4F52564C-0002-4000-8000-000000000008}", "ClockSyncServer.exe", "Clock Sync", kHostRemote,
         kStartWithLocalConnection},
        {"{4F52564C-0002-4000-8000-000000000009}", "{4F52564C-0001-4000-8000-000000000009}",
         "{4F52564C-0002-4000-8000-000000000009}", "CardHealthServer.exe", "Card Health",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-00000000000A}", "{4F52564C-0001-4000-8000-00000000000A}",
         "{4F52564C-0002-4000-8000-00000000000A}", "DataAccessServer.exe", "Data Access",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-00000000000B}", "{4F52564C-0001-4000-8000-00000000000B}",
         "{4F52564C-0002-4000-8000-00000000000B}", "BootFilesServer.exe", "Boot Files", kHostRemote,
         kStartWithLocalConnection},
        {"{4F52564C-0002-4000-8000-00000000000C}", "{4F52564C-0001-4000-8000-00000000000C}",
         "{4F52564C-0002-4000-8000-00000000000C}", "JournalServer.exe", "Journal", kHostLocal,
         kStartOnDemand},
        {"{4F52564C-0002-4000-8000-00000000000D}", "{4F52564C-0001-4000-8000-00000000000D}",
         "{4F52564C-0002-4000-8000-00000000000D}", "PelorusInfoServer.exe", "Pelorus Info",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0002-4000-8000-00000000000E}", "{4F52564C-0001-4000-8000-00000000000E}",
         "{4F52564C-0002-4000-8000-00000000000E}", "ConfLoadServer.exe", "Conference Load",
         kHostLocal, kStartOnDemand},
        {"{4F52564C-0001-4000-8000-00000000000F}", "{4F52564C-0001-4000-8000-00000000000F}",
         "{4F52564C-0003-4000-8000-00000000000F}", "PanelKeysServer.exe", "Panel Keys", kHostRemote,
         kStartWithLocalConnection},
        kUnusedComponent,
        kUnusedComponent,
        kUnusedComponent,
        kUnusedComponent,
    }};
    return kDefinitions;
}

bool IsUsedSlot(int slot) {
    return slot >= 0 && slot < kComponentSlots &&
           ComponentDefinitions()[static_cast<std::size_t>(slot)].classId !=
               kUnusedComponent.classId;
}

const std::array<std::string_view, 23>& ConfigurationClassIds() {
    static constexpr std::array<std::string_view, 23> kIds{{
        "{4F52564C-0001-4000-8000-000000000007}",
        "{4F52564C-0007-4000-8000-000000000001}",
        "{4F52564C-0007-4000-8000-000000000002}",
        "{4F52564C-0007-4000-8000-000000000003}",
        "{4F52564C-0007-4000-8000-000000000004}",
        "{4F52564C-0007-4000-8000-000000000005}",
        "{4F52564C-0007-4000-8000-000000000006}",
        "{4F52564C-0007-4000-8000-000000000007}",
        "{4F52564C-0007-4000-8000-000000000008}",
        "{4F52564C-0007-4000-8000-000000000009}",
        "{4F52564C-0007-4000-8000-00000000000A}",
        "{4F52564C-0007-4000-8000-00000000000B}",
        "{4F52564C-0007-4000-8000-00000000000C}",
        "{4F52564C-0007-4000-8000-00000000000D}",
        "{4F52564C-0007-4000-8000-00000000000E}",
        "{4F52564C-0007-4000-8000-00000000000F}",
        "{4F52564C-0007-4000-8000-000000000010}",
        "{4F52564C-0007-4000-8000-000000000011}",
        "{4F52564C-0007-4000-8000-000000000012}",
        "{4F52564C-0007-4000-8000-000000000013}",
        "{4F52564C-0007-4000-8000-000000000014}",
        "{4F52564C-0007-4000-8000-000000000015}",
        "",
    }};
    return kIds;
}

}  // namespace orvel::suite

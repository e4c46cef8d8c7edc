#pragma once

// The router network settings of this computer: the record the settings dialog
// edits, loaded from the registry and saved to the registry and to the router
// system's INI file.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ProfileFile.h"
#include "platform/SystemInfo.h"
#include "settings/RegistryValues.h"

namespace orvel::network {

inline constexpr const char* kNetworkKey = "SOFTWARE\\Quarlen\\Corvane\\Network";
inline constexpr const char* kNetworkSection = "NETWORK";
// Under the router system folder; found without regard to letter case.
inline constexpr const char* kCorvaneIniName = "BIN/CORVANE.INI";

struct NetworkSettings {
    std::int32_t lngBaseIPAddress = 0;
    // This computer's own address: the stored one when it is among them, else
    // the first found; 0 when the computer has none.
    std::int32_t lngMulticastInterface = 0;
    std::int32_t lngMulticastSecondary = 0;  // 0: none
    std::int32_t lngRouter1 = 0;             // shown as "Subnet Mask"
    std::int32_t lngRouter2 = 0;             // shown as "Gateway"
    std::int32_t lngCommunicationPort = 0;
    std::int32_t lngRebootPort = 0;

    // False while the stored base address is missing or not an address. Such a
    // base address is never written back (registry and INI key stay as they
    // are) until the operator enters one.
    bool baseIPAddressValid = true;
    // "Base IP Address" exactly as stored ("" when missing).
    std::string strBaseIPAddressStored;
    // False when this computer has no IPv4 address of its own: the primary
    // interface cannot be chosen and is never written.
    bool multicastInterfaceAvailable = true;
};

// Which multicast interface is in use: the state of the dialog's two check
// boxes. Both unticked saves like Secondary.
enum class MulticastChoice { Primary, Secondary };

struct NetworkContext {
    settings::RegistryContext& registry;  // its dialogs show every box
    platform::ProfileFile& profile;
    platform::FileSystem& fileSystem;
    platform::SystemInfo& systemInfo;
    std::string strCorvanePath;  // the router system folder, ending with '/'
};

// What a save could not write; empty lists when everything was written.
struct SaveReport {
    std::string iniPath;
    std::vector<std::string> failedRegistryValues;
    std::vector<std::string> failedIniKeys;
    bool allWritten() const { return failedRegistryValues.empty() && failedIniKeys.empty(); }
};

// Fills settings from the registry; answers which check box to tick. A stored
// base address with three dots but invalid parts shows the address message.
MulticastChoice LoadNetworkSettings(NetworkContext& context, NetworkSettings& settings);

// Writes the registry values and the INI section, then shows "Updated
// Information" when every write succeeded, or a box naming what failed.
SaveReport SaveNetworkSettings(NetworkContext& context, const NetworkSettings& settings,
                               MulticastChoice inUse);

// The INI file: strCorvanePath + "BIN/CORVANE.INI", with every existing
// component spelled as on disk. A missing file lies in the existing BIN folder.
std::string CorvaneIniPath(platform::FileSystem& fileSystem, const std::string& strCorvanePath);

}  // namespace orvel::network

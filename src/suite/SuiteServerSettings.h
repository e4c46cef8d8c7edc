#pragma once

// The suite server's class identity, its transport settings and the registry
// values it keeps them in: known to the console and to the suite server alike.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "suite/MachineDefaults.h"

namespace orvel::suite {

// The suite server class: its ProgID and its class identifier.
inline constexpr std::string_view kSuiteServerProgId = "Orvel_Server.clsOrvel_Server";
inline constexpr std::string_view kSuiteServerClassId = "{4F52564C-0000-4000-8000-000000000000}";

// TCP port of the suite server when remote use is on; HKLM "SOFTWARE\Quarlen\Orvel\Server"
// "TcpPort" (double word) overrides it.
inline constexpr std::uint16_t kDefaultTcpPort = 47310;
inline constexpr std::string_view kServerSettingsKey = "SOFTWARE\\Quarlen\\Orvel\\Server";
inline constexpr std::string_view kTcpPortValue = "TcpPort";
// The address TCP listens on (string, same key): empty or missing serves every
// IPv4 and IPv6 address; otherwise one address ("127.0.0.1", "::1", "192.0.2.7").
inline constexpr std::string_view kBindAddressValue = "BindAddress";
// Milliseconds a component gets between the request to end and being killed.
inline constexpr std::string_view kStopGraceValue = "StopGraceMs";
inline constexpr std::uint32_t kDefaultStopGraceMs = 5000;
// Instances one local user or one remote address may hold at once (double
// word, same key): a terminal server with many operators raises it. Never
// more than the server's cap of 256 for all callers together.
inline constexpr std::string_view kInstancesPerCallerValue = "MaxInstancesPerCaller";
inline constexpr std::uint32_t kDefaultInstancesPerCaller = 32;

// The suite folder (HKLM, string): a relative component program path is taken
// from there.
inline constexpr std::string_view kSuiteFolderKey =
    "SOFTWARE\\Quarlen\\Corvane Network Suite\\1.00.000";
inline constexpr std::string_view kSuiteFolderValue = "OrvelPATH";
inline constexpr std::string_view kDefaultSuiteFolder = "/opt/Quarlen/Corvane Network Suite";

// The active configuration set (HKLM, string).
inline constexpr std::string_view kActiveSetKey = "SOFTWARE\\Quarlen\\Corvane";
inline constexpr std::string_view kActiveSetValue = "ActiveSet";
inline constexpr std::string_view kNoActiveSet = "No Active Set";

// The DCOM machine values that allow remote use (HKLM kOleKey, strings "Y"/"N").
inline constexpr std::string_view kEnableDcomValue = "EnableDCOM";
inline constexpr std::string_view kEnableRemoteConnectValue = "EnableRemoteConnect";

// A string value (types 1 and 2) without its terminating NUL; nullopt when the
// key or value is missing, of another type, or the store cannot be read.
std::optional<std::string> ReadStringValue(platform::Registry& registry, platform::HKEY root,
                                           std::string_view subKey, std::string_view valueName);
// A double-word value (type 4); nullopt as above.
std::optional<std::uint32_t> ReadDwordValue(platform::Registry& registry, platform::HKEY root,
                                            std::string_view subKey, std::string_view valueName);

// The folder of the transport's keys and certificates: beside the registry
// store (/var/lib/orvel/tls, or $ORVEL_ROOT/tls).
std::string TlsFolder(const std::string& registryStore);
// Files in it. The site authority and the suite server's own key and certificate:
inline constexpr std::string_view kAuthorityCertFile = "ca.crt";
inline constexpr std::string_view kAuthorityKeyFile = "ca.key";
inline constexpr std::string_view kServerCertFile = "server.crt";
inline constexpr std::string_view kServerKeyFile = "server.key";
// Serial numbers (hexadecimal, one a line) of the revoked console certificates.
inline constexpr std::string_view kRevokedFile = "revoked";
// The console bundle installed on this computer (key, certificate, authority).
inline constexpr std::string_view kConsoleBundleFolder = "console";
inline constexpr std::string_view kBundleKeyFile = "console.key";
inline constexpr std::string_view kBundleCertFile = "console.crt";

// The TCP bind address: the registry's value, or "" (every address).
std::string ReadBindAddress(platform::Registry& registry);

// The TCP port: the registry's value when it is 1..65535, the default otherwise.
std::uint16_t ReadTcpPort(platform::Registry& registry);
// One DCOM value under HKLM kOleKey, read as the console reads every value as
// text: whatever type it is stored with (a binary "Y" counts), its bytes less
// one terminating NUL; "Y" or "y" is yes. Missing or unreadable is no. The
// console's configuration check and the suite server both read it here.
bool DcomValueEnabled(platform::Registry& registry, std::string_view valueName);
// True when both DCOM values are yes.
bool RemoteUseEnabled(platform::Registry& registry);

}  // namespace orvel::suite

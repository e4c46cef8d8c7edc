#pragma once

// The Tools menu checks of the remote-call settings: presence and version of
// the remote-call runtime, the enable flags, the legacy levels and the
// protocol order, each with its two-question correction.

#include <cstdint>
#include <string>

#include "platform/Diagnostics.h"
#include "settings/RegistryValues.h"

namespace orvel::dcom {

// Finds an entry point in the running program; nullptr when it is not there.
using EntryPointLookup = void* (*)(const char* name);

// Looks the name up among the symbols of the program and the libraries it loaded.
void* LookupLoadedEntryPoint(const char* name);

// The entry point whose presence means the remote-call runtime is linked in;
// it answers the runtime's version text.
inline constexpr const char* kRuntimeEntryPoint = "grpc_version_string";
// The runtime's release version, std::string grpc::Version(), present when its C++
// library is loaded (the entry point above names only the core library's version).
inline constexpr const char* kRuntimeReleaseEntryPoint = "_ZN4grpc7VersionB5cxx11Ev";

struct DComContext {
    settings::RegistryContext& registry;
    // Where a check that ends on an unexpected failure leaves its line.
    platform::Diagnostics& diagnostics;
    EntryPointLookup lookupEntryPoint = &LookupLoadedEntryPoint;
};

bool functDComInstalled(DComContext& context);
// "gRPC " + the runtime's release version (or its core version when only the core
// library is loaded), or "Not Installed" after a box.
std::string functGetDComVersion(DComContext& context);
// The version name the installed-version key of an old DCOM installation gives:
// a name of the version table, "Unknown", or "hKey Error" when the key is missing.
std::string functGetInstalledDComVersion(DComContext& context);
// The low byte of the stored value, or -1 when it cannot be read.
std::int32_t functGetLegacyAuthenticationLevel(DComContext& context);
std::int32_t functGetLegacyImpersonationLevel(DComContext& context);

void mnuToolsDComConfiguration_Click(DComContext& context);
void mnuToolsDComProtocol_Click(DComContext& context);

}  // namespace orvel::dcom

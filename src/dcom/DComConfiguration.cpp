#include "dcom/DComConfiguration.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>
#include <vector>

#include "dcom/DComTexts.h"
#include "platform/RegistryKey.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::dcom {

using platform::CR;
using platform::ERROR_SUCCESS;
using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;
using settings::RegistryVariant;

namespace {

constexpr const char* kOleLevelKey = "SOFTWARE\\Microsoft\\Ole";
constexpr const char* kOleWriteKey = "Software\\Microsoft\\Ole";
constexpr const char* kInstalledVersionKey =
    "CLSID\\{bdc67890-4fc0-11d0-a805-00aa006d2ea4}\\InstalledVersion";

struct VersionName {
    std::string_view installed;
    std::string_view name;
};

constexpr std::array<VersionName, 6> kVersionTable{{
    {"4,71,0,3328", "DCOM95/98 1.3"},
    {"4,71,0,2618", "DCOM95 1.2"},
    {"4,71,0,2612", "DCOM98 1.2"},
    {"4,71,0,1719", "DCOM98 Gold"},
    {"4,71,0,1718", "DCOM95 1.1"},
    {"4,71,0,1120", "DCOM95 1.x"},
}};

// Reads one legacy level: the first byte of at most four bytes of data. The key is
// only read, so a user without write rights still sees the stored value.
std::int32_t ReadLegacyLevel(DComContext& context, std::string_view valueName) {
    platform::RegistryValue value;
    if (platform::ReadRegistryValue(context.registry.registry, HKEY_LOCAL_MACHINE, kOleLevelKey,
                                    valueName, &value, 4) != ERROR_SUCCESS) {
        return -1;
    }
    return value.data.empty() ? 0 : value.data[0];
}

// Read as the suite server reads them at its start, so that the check and
// the server agree on what "Y" is.
bool EnableFlagIsYes(DComContext& context, std::string_view valueName) {
    return suite::DcomValueEnabled(context.registry.registry, valueName);
}

bool VersionPasses(const std::string& version) {
    for (std::string_view accepted : {"2000", "NT", "DCOM95/98", "DCOM98", "1.3"}) {
        if (version.find(accepted) != std::string::npos) return true;
    }
    // The runtime linked into the programs stands in for a current DCOM.
    return version.starts_with(kRuntimeVersionPrefix);
}

}  // namespace

void* LookupLoadedEntryPoint(const char* name) {
    return ::dlsym(RTLD_DEFAULT, name);
}

bool functDComInstalled(DComContext& context) {
    return context.lookupEntryPoint != nullptr &&
           context.lookupEntryPoint(kRuntimeEntryPoint) != nullptr;
}

std::string functGetDComVersion(DComContext& context) {
    void* entryPoint = context.lookupEntryPoint != nullptr
                           ? context.lookupEntryPoint(kRuntimeEntryPoint)
                           : nullptr;
    if (entryPoint == nullptr) {
        context.registry.dialogs.MsgBox("DCom is not installed, Cannot get Version",
                                        platform::vbExclamation + platform::vbOKOnly,
                                        "DCom Version");
        return "Not Installed";
    }
    // The operating-system and installed-version steps of the old platform do not
    // apply: the runtime linked into the programs names its own version.
    if (void* release = context.lookupEntryPoint(kRuntimeReleaseEntryPoint)) {
        using ReleaseFunction = std::string (*)();
        return std::string(kRuntimeVersionPrefix) + reinterpret_cast<ReleaseFunction>(release)();
    }
    using CoreFunction = const char* (*)();
    const char* text = reinterpret_cast<CoreFunction>(entryPoint)();
    return std::string(kRuntimeVersionPrefix) + (text != nullptr ? text : "");
}

std::string functGetInstalledDComVersion(DComContext& context) {
    platform::Registry& registry = context.registry.registry;
    platform::RegistryKey key(registry);
    if (key.Open(HKEY_CLASSES_ROOT, kInstalledVersionKey, platform::KEY_READ) != ERROR_SUCCESS) {
        return "hKey Error";
    }
    std::array<std::uint8_t, 64> buffer{};
    platform::DWORD type = 0;
    platform::DWORD size = static_cast<platform::DWORD>(buffer.size());
    const platform::LONG result =
        registry.RegQueryValueExA(key.get(), "", &type, buffer.data(), &size);
    key.Close();
    if (result != ERROR_SUCCESS) return "Unknown";
    std::string installed(reinterpret_cast<const char*>(buffer.data()), size);
    installed.resize(std::min<std::size_t>(installed.size(), 11));
    for (const VersionName& entry : kVersionTable) {
        if (installed == entry.installed) return std::string(entry.name);
    }
    return "Unknown";
}

std::int32_t functGetLegacyAuthenticationLevel(DComContext& context) {
    return ReadLegacyLevel(context, "LegacyAuthenticationLevel");
}

std::int32_t functGetLegacyImpersonationLevel(DComContext& context) {
    return ReadLegacyLevel(context, "LegacyImpersonationLevel");
}

namespace {

// What the check found, in the order it reads the machine's settings.
struct CheckFindings {
    std::string report = std::string("DCom Configuration") + CR;
    bool correct = true;
    bool dcomMissing = false;
    std::string version;
};

void AddLine(CheckFindings& findings, const std::string& line) {
    findings.report += std::string(1, CR) + line;
}

// OLE32's registration and, when registered, its version.
void CheckInstallation(DComContext& context, CheckFindings& findings) {
    if (functDComInstalled(context)) {
        AddLine(findings, "OLE32: Registered");
    } else {
        AddLine(findings, "OLE32: NOT Registered");
        findings.correct = false;
        findings.dcomMissing = true;
        return;
    }
    findings.version = functGetDComVersion(context);
    AddLine(findings, "Version: " + findings.version);
    if (!VersionPasses(findings.version)) {
        findings.report += " [Should be 1.3 or higher]";
        findings.correct = false;
    }
}

void CheckEnableFlag(DComContext& context, CheckFindings& findings, std::string_view valueName,
                     const std::string& label) {
    if (EnableFlagIsYes(context, valueName)) {
        AddLine(findings, label + ": Y");
    } else {
        AddLine(findings, label + ": N [Should be Y]");
        findings.correct = false;
    }
}

// The legacy levels must be None (1) and Impersonate (3).
void CheckLegacyLevels(DComContext& context, CheckFindings& findings) {
    const std::int32_t authentication = functGetLegacyAuthenticationLevel(context);
    AddLine(findings, "LegacyAuthenticationLevel: ");
    if (authentication == 1) {
        findings.report += "None";
    } else {
        findings.report += std::to_string(authentication) + " [Should Be None (1)]";
        findings.correct = false;
    }
    const std::int32_t impersonation = functGetLegacyImpersonationLevel(context);
    AddLine(findings, "LegacyImpersonationLevel:  ");
    if (impersonation == 3) {
        findings.report += "Impersonate";
    } else {
        findings.report += std::to_string(impersonation) + " [Should Be Impersonate (3)]";
        findings.correct = false;
    }
}

CheckFindings InspectConfiguration(DComContext& context) {
    CheckFindings findings;
    CheckInstallation(context, findings);
    CheckEnableFlag(context, findings, suite::kEnableDcomValue, "Enabled");
    CheckEnableFlag(context, findings, suite::kEnableRemoteConnectValue, "Remote Connect");
    if (!findings.dcomMissing) CheckLegacyLevels(context, findings);
    return findings;
}

// Shows the faults found and asks whether to correct them.
bool OfferCorrection(platform::Dialogs& dialogs, std::string report) {
    dialogs.Beep();
    report += std::string(2, CR) + "CONFIGURATION ERROR" + CR +
              "Do you want 'Automatic Correction' of this error ?";
    return dialogs.MsgBox(report,
                          platform::vbCritical + platform::vbYesNo + platform::vbDefaultButton2,
                          "DCom Configuration is NOT Correct") == platform::vbYes;
}

// Shows the configuration as it would be after the correction and asks to save it.
bool ConfirmChanges(platform::Dialogs& dialogs, const std::string& version) {
    std::string summary = std::string("DCom Configuration") + CR;
    summary += std::string(1, CR) + "OLE32: Registered";
    summary += std::string(1, CR) + "Version: " + version;
    summary += std::string(1, CR) + "Enabled: Y";
    summary += std::string(1, CR) + "Remote Connect: Y";
    summary += std::string(1, CR) + "LegacyAuthenticationLevel: None";
    summary += std::string(1, CR) + "LegacyImpersonationLevel:  Impersonate";
    summary +=
        std::string(2, CR) + "CONFIGURATION CHANGES" + CR + "Do you want to SAVE these changes ?";
    return dialogs.MsgBox(summary,
                          platform::vbQuestion + platform::vbYesNo + platform::vbDefaultButton2,
                          "(DCom Configuration is Correct)") == platform::vbYes;
}

// Writes the four corrected values and reports any that could not be written.
void SaveCorrections(DComContext& context) {
    struct Correction {
        const char* valueName;
        std::int16_t type;
        RegistryVariant value;
    };
    const std::array<Correction, 4> corrections{{
        {"EnableDCOM", platform::REG_SZ, std::string("Y")},
        {"EnableRemoteConnect", platform::REG_SZ, std::string("Y")},
        {"LegacyAuthenticationLevel", platform::REG_DWORD, std::int32_t{1}},
        {"LegacyImpersonationLevel", platform::REG_DWORD, std::int32_t{3}},
    }};
    std::vector<std::string> notWritten;
    for (const Correction& correction : corrections) {
        // The helper answers the value read back after a successful write and the
        // empty default after a failed one.
        const RegistryVariant written = settings::functWriteRegistryValue(
            context.registry, HKEY_LOCAL_MACHINE, kOleWriteKey, correction.valueName,
            correction.type, correction.value);
        if (std::holds_alternative<std::monostate>(written)) {
            notWritten.emplace_back(correction.valueName);
        }
    }
    ShowCorrectionOutcome(context.registry.dialogs, notWritten, "DCom Configuration NOT Saved");
}

void RunConfigurationCheck(DComContext& context) {
    platform::Dialogs& dialogs = context.registry.dialogs;
    const CheckFindings findings = InspectConfiguration(context);
    if (findings.dcomMissing) {
        dialogs.MsgBox("OLE32 is NOT installed or Active",
                       platform::vbCritical + platform::vbOKOnly, "DCom OLE32 Configuration Error");
        return;
    }
    if (findings.correct) {
        dialogs.MsgBox(findings.report, platform::vbInformation + platform::vbOKOnly,
                       "DCom Configuration is Correct");
        return;
    }
    if (!OfferCorrection(dialogs, findings.report)) return;
    if (!ConfirmChanges(dialogs, findings.version)) return;
    SaveCorrections(context);
}

}  // namespace

void mnuToolsDComConfiguration_Click(DComContext& context) {
    // An unexpected failure (the store lost, memory exhausted) ends the check at
    // once, as the old command did, instead of escaping into the window's event loop.
    platform::RunGuarded(context.diagnostics, platform::DiagnosticArea::kDCom,
                         "the DCom configuration check", [&] { RunConfigurationCheck(context); });
}

}  // namespace orvel::dcom

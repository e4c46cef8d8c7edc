#include <algorithm>
#include <cctype>
#include <exception>

#include "dcom/DComConfiguration.h"
#include "dcom/DComTexts.h"
#include "dcom/ProtocolList.h"
#include "platform/AsciiCase.h"

namespace orvel::dcom {

using platform::CR;

namespace {

constexpr const char* kRpcKey = "Software\\Microsoft\\RPC";
constexpr const char* kProtocolsValue = "DCOM Protocols";
constexpr const char* kNotFound = "Not Found";

}  // namespace

std::vector<std::string> SplitAtNul(std::string_view text) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t nul = text.find('\0', start);
        if (nul == std::string_view::npos) {
            entries.emplace_back(text.substr(start));
            return entries;
        }
        entries.emplace_back(text.substr(start, nul - start));
        start = nul + 1;
    }
}

std::string JoinWithNul(const std::vector<std::string>& entries) {
    std::string text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) text += '\0';
        text += entries[i];
    }
    return text;
}

bool IsTcpEntry(std::string_view entry) {
    return platform::ToAsciiUpper(entry).find("IP_TCP") != std::string::npos;
}

std::size_t RealEntryCount(const std::vector<std::string>& entries) {
    return entries.size() >= 2 ? entries.size() - 2 : 0;
}

std::string BuildProtocolReport(const std::vector<std::string>& entries) {
    std::string report = std::string("DCom Protocol Stack") + CR + CR;
    for (std::size_t i = 0; i < RealEntryCount(entries); ++i) {
        report += std::to_string(i + 1) + ": " + entries[i];
        if (i > 0 && IsTcpEntry(entries[i])) report += " (Should Be 1st)";
        report += CR;
    }
    return report;
}

void MoveTcpEntryFirst(std::vector<std::string>& entries) {
    // Only the first TCP/IP entry moves: swapping each further one with the old
    // entry 0 would lose one entry and write another twice.
    for (std::size_t i = 1; i < RealEntryCount(entries); ++i) {
        if (IsTcpEntry(entries[i])) {
            std::swap(entries[0], entries[i]);
            return;
        }
    }
}

namespace {

void RunProtocolCheck(DComContext& context) {
    platform::Dialogs& dialogs = context.registry.dialogs;
    const settings::RegistryVariant stored = settings::functGetRegistryValue(
        context.registry, platform::HKEY_LOCAL_MACHINE, kRpcKey, kProtocolsValue,
        platform::REG_MULTI_SZ, std::string(kNotFound));
    const std::string* list = std::get_if<std::string>(&stored);
    if (list == nullptr || *list == kNotFound) {
        dialogs.MsgBox("Unable to Locate DCom protocol in Registry",
                       platform::vbExclamation + platform::vbOKOnly, "Registry Error");
        return;
    }

    std::vector<std::string> entries = SplitAtNul(*list);
    const bool tcpFirst = IsTcpEntry(entries[0]);
    std::string report = BuildProtocolReport(entries);
    if (tcpFirst) {
        dialogs.MsgBox(report, platform::vbInformation + platform::vbOKOnly,
                       "DCom Protocol is Correct");
        return;
    }

    dialogs.Beep();
    report += std::string(1, CR) + CR + "CONFIGURATION ERROR" + CR +
              "Do you want 'Automatic Correction' of this error ?";
    if (dialogs.MsgBox(report,
                       platform::vbCritical + platform::vbYesNo + platform::vbDefaultButton2,
                       "DCom Protocol is NOT Correct") != platform::vbYes) {
        return;
    }

    MoveTcpEntryFirst(entries);
    report = BuildProtocolReport(entries) + CR + CR + "CONFIGURATION CHANGES" + CR +
             "Do you want to SAVE these changes ?";
    if (dialogs.MsgBox(report,
                       platform::vbQuestion + platform::vbYesNo + platform::vbDefaultButton2,
                       "(DCom Protocol is Correct)") != platform::vbYes) {
        return;
    }

    const settings::RegistryVariant written = settings::functWriteRegistryValue(
        context.registry, platform::HKEY_LOCAL_MACHINE, kRpcKey, kProtocolsValue,
        platform::REG_MULTI_SZ, JoinWithNul(entries));
    std::vector<std::string> notWritten;
    if (std::holds_alternative<std::monostate>(written)) notWritten.emplace_back(kProtocolsValue);
    ShowCorrectionOutcome(dialogs, notWritten, "DCom Protocol NOT Saved");
}

}  // namespace

void mnuToolsDComProtocol_Click(DComContext& context) {
    // An unexpected failure ends the check at once, without a box.
    platform::RunGuarded(context.diagnostics, platform::DiagnosticArea::kDCom,
                         "the DCom protocol check", [&] { RunProtocolCheck(context); });
}

}  // namespace orvel::dcom

#include "network/NetworkSettings.h"

#include <algorithm>
#include <optional>

#include "network/AddressConversion.h"
#include "platform/Hex.h"

namespace orvel::network {

namespace {

constexpr std::int16_t kString = 1;
constexpr std::int16_t kDoubleWord = 4;

std::int32_t ReadDoubleWord(settings::RegistryContext& registry, const char* valueName) {
    const settings::RegistryVariant value =
        settings::functGetRegistryValue(registry, platform::HKEY_LOCAL_MACHINE, kNetworkKey,
                                        valueName, kDoubleWord, std::int32_t{0});
    const auto* number = std::get_if<std::int32_t>(&value);
    return number != nullptr ? *number : 0;
}

std::string ReadString(settings::RegistryContext& registry, const char* valueName) {
    const settings::RegistryVariant value = settings::functGetRegistryValue(
        registry, platform::HKEY_LOCAL_MACHINE, kNetworkKey, valueName, kString, std::string());
    const auto* text = std::get_if<std::string>(&value);
    return text != nullptr ? *text : std::string();
}

// The writes of one save, each checked by the value the helper reads back.
class SaveRun {
  public:
    explicit SaveRun(NetworkContext& context) : context_(context) {}

    void WriteDoubleWord(const char* valueName, std::int32_t value) {
        const settings::RegistryVariant readBack =
            settings::functWriteRegistryValue(context_.registry, platform::HKEY_LOCAL_MACHINE,
                                              kNetworkKey, valueName, kDoubleWord, value);
        const auto* number = std::get_if<std::int32_t>(&readBack);
        if (number == nullptr || *number != value) {
            report_.failedRegistryValues.emplace_back(valueName);
        }
    }

    void WriteString(const char* valueName, const std::string& value) {
        const settings::RegistryVariant readBack =
            settings::functWriteRegistryValue(context_.registry, platform::HKEY_LOCAL_MACHINE,
                                              kNetworkKey, valueName, kString, value);
        const auto* text = std::get_if<std::string>(&readBack);
        if (text == nullptr || *text != value) {
            report_.failedRegistryValues.emplace_back(valueName);
        }
    }

    // The INI keys go into the file as one replacement: all of them or none.
    void BeginIni() { context_.profile.BeginBatch(report_.iniPath); }
    void WriteIni(const char* key, const std::string& value) {
        iniKeys_.emplace_back(key);
        if (!context_.profile.WritePrivateProfileStringA(kNetworkSection, key, value,
                                                         report_.iniPath)) {
            report_.failedIniKeys.emplace_back(key);
        }
    }
    void EndIni() {
        if (!context_.profile.EndBatch()) {
            report_.failedIniKeys = iniKeys_;
        }
    }

    SaveReport& report() { return report_; }

  private:
    NetworkContext& context_;
    SaveReport report_;
    std::vector<std::string> iniKeys_;
};

void ShowSaveResult(platform::Dialogs& dialogs, const SaveReport& report) {
    const char cr = platform::CR;
    if (report.allWritten()) {
        std::string text = "The following have been updated:";
        text += cr;
        text += cr;
        text += "System Registry";
        text += cr;
        text += report.iniPath;
        dialogs.MsgBox(text, platform::vbInformation | platform::vbOKOnly, "Updated Information");
        return;
    }
    std::string text = "The following could not be updated:";
    text += cr;
    if (!report.failedRegistryValues.empty()) {
        text += cr;
        text += "System Registry";
        for (const std::string& name : report.failedRegistryValues) {
            text += cr;
            text += "      " + name;
        }
    }
    if (!report.failedIniKeys.empty()) {
        text += cr;
        text += report.iniPath;
        for (const std::string& key : report.failedIniKeys) {
            text += cr;
            text += "      " + key;
        }
    }
    dialogs.MsgBox(text, platform::vbExclamation | platform::vbOKOnly, "Update Error");
}

}  // namespace

MulticastChoice LoadNetworkSettings(NetworkContext& context, NetworkSettings& settings) {
    settings::RegistryContext& registry = context.registry;
    settings.lngRebootPort = ReadDoubleWord(registry, "Reboot Port");
    settings.lngCommunicationPort = ReadDoubleWord(registry, "Communication Port");

    settings.strBaseIPAddressStored = ReadString(registry, "Base IP Address");
    const std::optional<std::int32_t> base =
        funct_IPStringToLong(registry.dialogs, settings.strBaseIPAddressStored);
    settings.baseIPAddressValid = base.has_value();
    settings.lngBaseIPAddress = base.value_or(-1);

    const std::int32_t storedMulticast = ReadDoubleWord(registry, "Multicast Interface");
    const std::int32_t storedSecondary = ReadDoubleWord(registry, "Multicast Interface Secondary");
    // The stored interface is compared with every address of this computer, so
    // that a computer with several interfaces keeps the one chosen.
    const std::vector<std::string> locals = context.systemInfo.LocalIpAddresses();
    const auto own = std::find(locals.begin(), locals.end(), funct_LongToIPString(storedMulticast));

    MulticastChoice choice = MulticastChoice::Secondary;
    std::optional<std::int32_t> primary;
    if (own != locals.end()) {
        choice = MulticastChoice::Primary;
        settings.lngMulticastSecondary = storedSecondary;
        primary = funct_IPStringToLong(registry.dialogs, *own);
    } else {
        // An interface other than this computer's own is the secondary one.
        settings.lngMulticastSecondary = storedMulticast;
        if (!locals.empty()) primary = funct_IPStringToLong(registry.dialogs, locals.front());
    }
    settings.multicastInterfaceAvailable = primary.has_value();
    settings.lngMulticastInterface = primary.value_or(0);

    settings.lngRouter1 = ReadDoubleWord(registry, "Router 1");
    settings.lngRouter2 = ReadDoubleWord(registry, "Router 2");
    return choice;
}

SaveReport SaveNetworkSettings(NetworkContext& context, const NetworkSettings& settings,
                               MulticastChoice inUse) {
    SaveRun run(context);
    run.report().iniPath = CorvaneIniPath(context.fileSystem, context.strCorvanePath);

    const std::int32_t multicast =
        inUse == MulticastChoice::Primary && settings.multicastInterfaceAvailable
            ? settings.lngMulticastInterface
            : settings.lngMulticastSecondary;

    if (settings.baseIPAddressValid) {
        run.WriteString("Base IP Address", funct_LongToIPString(settings.lngBaseIPAddress));
        run.WriteDoubleWord("Base IP Address DW", settings.lngBaseIPAddress);
    }
    run.WriteDoubleWord("Multicast Interface", multicast);
    run.WriteString("Multicast Interface SZ", funct_LongToIPString(multicast));
    run.WriteDoubleWord("Multicast Interface Secondary", settings.lngMulticastSecondary);
    run.WriteString("Multicast Interface Secondary SZ",
                    funct_LongToIPString(settings.lngMulticastSecondary));
    run.WriteDoubleWord("Communication Port", settings.lngCommunicationPort);
    run.WriteDoubleWord("Reboot Port", settings.lngRebootPort);
    run.WriteDoubleWord("Router 1", settings.lngRouter1);
    run.WriteString("Router 1 SZ", funct_LongToIPString(settings.lngRouter1));
    run.WriteDoubleWord("Router 2", settings.lngRouter2);
    run.WriteString("Router 2 SZ", funct_LongToIPString(settings.lngRouter2));

    run.BeginIni();
    if (settings.baseIPAddressValid) {
        run.WriteIni("base_ip_address", funct_LongToIPString(settings.lngBaseIPAddress));
    }
    run.WriteIni("multicast_interface", funct_LongToIPString(multicast));
    run.WriteIni("reboot_port", platform::Hex(settings.lngRebootPort));
    run.WriteIni("communication_port", platform::Hex(settings.lngCommunicationPort));
    run.WriteIni("router1", funct_LongToIPString(settings.lngRouter1));
    run.WriteIni("router2", funct_LongToIPString(settings.lngRouter2));
    run.EndIni();

    ShowSaveResult(context.registry.dialogs, run.report());
    return run.report();
}

std::string CorvaneIniPath(platform::FileSystem& fileSystem, const std::string& strCorvanePath) {
    std::string written = strCorvanePath + kCorvaneIniName;
    if (std::optional<std::string> onDisk = fileSystem.ResolvePath(written)) {
        return *onDisk;
    }
    if (std::optional<std::string> folder = fileSystem.ResolvePath(strCorvanePath + "BIN")) {
        return *folder + "/CORVANE.INI";
    }
    return written;
}

}  // namespace orvel::network

#include "settings/Autostart.h"

namespace orvel::settings {

std::string AutoStartCommand(platform::FileSystem& fileSystem) {
    return "\"" + fileSystem.ExecutableFolder() + "/" + fileSystem.ExecutableName() + "\"";
}

void SetAutoStart(RegistryContext& registry, platform::FileSystem& fileSystem,
                  ConsoleSettings& settings, bool checked, AutoStartToggle toggle) {
    if (checked) {
        // At load with AutoStart off the uncheck follows at once: nothing to write.
        const bool uncheckFollows = toggle == AutoStartToggle::AtLoad && !settings.AutoStart;
        if (!uncheckFollows) {
            WriteRegistryValueWhenDifferent(registry, platform::HKEY_LOCAL_MACHINE, kRunKey,
                                            kRunValueName, platform::REG_SZ,
                                            AutoStartCommand(fileSystem));
        }
    } else if (RegistryValueExists(registry.registry, platform::HKEY_LOCAL_MACHINE, kRunKey,
                                   kRunValueName)) {
        functDeleteRegistryValue(registry, platform::HKEY_LOCAL_MACHINE, kRunKey, kRunValueName);
    }
    settings.AutoStart = checked;
}

}  // namespace orvel::settings

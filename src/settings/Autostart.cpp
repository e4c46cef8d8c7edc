#include "settings/Autostart.h"

namespace orvel::settings {

std::string AutoStartCommand(platform::FileSystem& fileSystem) {
    return "\"" + fileSystem.ExecutableFolder() + "/" + fileSystem.ExecutableName() + "\"";
}

void SetAutoStart(RegistryContext& registry, platform::FileSystem& fileSystem,
                  ConsoleSettings& settings, bool checked) {
    if (checked) {
        functWriteRegistryValue(registry, platform::HKEY_LOCAL_MACHINE, kRunKey, kRunValueName, 1,
                                AutoStartCommand(fileSystem));
    } else {
        functDeleteRegistryValue(registry, platform::HKEY_LOCAL_MACHINE, kRunKey, kRunValueName);
    }
    settings.AutoStart = checked;
}

}  // namespace orvel::settings

#include "mainwindow/SystemInformation.h"

#include "platform/RegistryKey.h"
#include "platform/WindowSystem.h"

namespace orvel::mainwindow {

bool GetKeyValue(platform::Registry& registry, platform::HKEY rootKey, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyValue) {
    // A 1 KiB buffer, as the path has always been read; only text names a program.
    platform::RegistryValue value;
    if (platform::ReadRegistryValue(registry, rootKey, keyName, subKeyRef, &value, 1024) !=
            platform::ERROR_SUCCESS ||
        value.type != platform::REG_SZ) {
        return false;
    }
    std::string text(value.data.begin(), value.data.end());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    keyValue = text;
    return true;
}

void StartSysInfo(SysInfoServices& services) {
    std::string sysInfoPath;
    bool found = GetKeyValue(services.registry, platform::HKEY_LOCAL_MACHINE, kSysInfoKey,
                             kSysInfoValue, sysInfoPath);
    if (!found) {
        std::string folder;
        if (GetKeyValue(services.registry, platform::HKEY_LOCAL_MACHINE, kSysInfoLocationKey,
                        kSysInfoLocationValue, folder)) {
            const std::string program = folder + "/MSINFO32.EXE";
            if (services.fileSystem.FileExists(program)) {
                sysInfoPath = program;
                found = true;
            }
        }
    }
    if (found && services.programs.Start(sysInfoPath, platform::SW_SHOWNORMAL).pid > 0) return;
    services.dialogs.MsgBox(kSysInfoUnavailable, platform::vbOKOnly, services.applicationTitle);
}

}  // namespace orvel::mainwindow

#include "mainwindow/SystemInformation.h"

#include <array>

#include "platform/WindowSystem.h"

namespace orvel::mainwindow {

bool GetKeyValue(platform::Registry& registry, platform::HKEY rootKey, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyValue) {
    platform::HKEY key = 0;
    if (registry.RegOpenKeyExA(rootKey, keyName, 0, platform::KEY_READ, &key) !=
        platform::ERROR_SUCCESS) {
        return false;
    }
    std::array<std::uint8_t, 1024> buffer{};
    platform::DWORD size = static_cast<platform::DWORD>(buffer.size());
    platform::DWORD type = 0;
    const auto result = registry.RegQueryValueExA(key, subKeyRef, &type, buffer.data(), &size);
    registry.RegCloseKey(key);
    // Only text values name a program; any other type counts as unreadable.
    if (result != platform::ERROR_SUCCESS || type != platform::REG_SZ) return false;
    std::string text(reinterpret_cast<const char*>(buffer.data()), size);
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

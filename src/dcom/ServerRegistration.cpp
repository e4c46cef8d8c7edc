#include "dcom/ServerRegistration.h"

#include <exception>
#include <string_view>

#include "platform/RegistryKey.h"
#include "platform/RuntimeError.h"
#include "suite/ComponentCatalog.h"

namespace orvel::dcom {

namespace {

using platform::ERROR_SUCCESS;
using platform::HKEY_CLASSES_ROOT;
using platform::HKEY_LOCAL_MACHINE;

// Slots that always run on the file server.
bool IsFileServerSlot(int index) {
    return index == 3 || index == 7 || index == 11 || index == 15;
}

constexpr int kSetupStoreSlot = 7;

status::ComponentServerEntry* EntryAt(RegistrationContext& context, std::int16_t index) {
    if (index < 0 || index >= static_cast<int>(context.table.size())) return nullptr;
    return &context.table[static_cast<std::size_t>(index)];
}

// True when the class exists and this process may change it. Without the right to
// change class registrations nothing is written and nothing is said.
bool MayRegister(RegistrationContext& context, const status::ComponentServerEntry& entry) {
    if (entry.strClassId.empty() || entry.strExeName.empty()) return false;
    platform::RegistryKey key(context.registry.registry);
    return key.Open(HKEY_CLASSES_ROOT, "CLSID\\" + entry.strClassId, platform::KEY_ALL_ACCESS) ==
           ERROR_SUCCESS;
}

// Deletes the named values of the application key, when that key can be changed.
void DeleteAppIdValues(RegistrationContext& context, const std::string& appId,
                       std::initializer_list<std::string_view> valueNames) {
    platform::Registry& registry = context.registry.registry;
    platform::RegistryKey key(registry);
    if (key.Open(HKEY_CLASSES_ROOT, "AppID\\" + appId, platform::KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        return;
    }
    for (std::string_view valueName : valueNames) registry.RegDeleteValueA(key.get(), valueName);
}

void WriteString(RegistrationContext& context, platform::HKEY root, const std::string& key,
                 const std::string& valueName, const std::string& value) {
    settings::functWriteRegistryValue(context.registry, root, key, valueName, platform::REG_SZ,
                                      value);
}

void WriteDword(RegistrationContext& context, platform::HKEY root, const std::string& key,
                const std::string& valueName, std::int32_t value) {
    settings::functWriteRegistryValue(context.registry, root, key, valueName, platform::REG_DWORD,
                                      value);
}

// The server path under one local-server key of a class; the other key is removed.
void MoveServerPath(RegistrationContext& context, const std::string& classId,
                    const std::string& serverPath, bool local) {
    const std::string classKey = "CLSID\\" + classId;
    const std::string kept = classKey + (local ? "\\LocalServer32" : "\\_LocalServer32");
    const std::string removed = classKey + (local ? "\\_LocalServer32" : "\\LocalServer32");
    WriteString(context, HKEY_CLASSES_ROOT, kept, "", serverPath);
    context.registry.registry.RegDeleteKeyA(HKEY_CLASSES_ROOT, removed);
}

void WriteMachineAppId(RegistrationContext& context, const std::string& classId) {
    const std::string key = "SOFTWARE\\Classes\\AppID\\" + classId;
    WriteString(context, HKEY_LOCAL_MACHINE, key, "RunAs", "Interactive User");
    WriteDword(context, HKEY_LOCAL_MACHINE, key, "AuthenticationLevel", 1);
}

void Register(RegistrationContext& context, const status::ComponentServerEntry& entry, bool local) {
    if (!MayRegister(context, entry)) return;
    const std::string appKey = "AppID\\" + entry.strAppId;
    const std::string serverPath = context.strOrvelPath + entry.strExeName;
    if (local) {
        DeleteAppIdValues(
            context, entry.strAppId,
            {"ActivateAtStorage", "RemoteServerName", "AccessPermission", "LaunchPermission"});
        WriteString(context, HKEY_CLASSES_ROOT, appKey, "", "OrvelServer " + entry.strDisplayName);
        WriteString(context, HKEY_CLASSES_ROOT, appKey, "RunAs", "Interactive User");
    } else {
        DeleteAppIdValues(context, entry.strAppId,
                          {"ActivateAtStorage", "AccessPermission", "LaunchPermission"});
        WriteString(context, HKEY_CLASSES_ROOT, appKey, "", "OrvelServer " + entry.strDisplayName);
        WriteString(context, HKEY_CLASSES_ROOT, appKey, "RunAs", "Interactive User");
        WriteString(context, HKEY_CLASSES_ROOT, appKey, "RemoteServerName",
                    context.settings.RemoteServerName);
        WriteDword(context, HKEY_CLASSES_ROOT, appKey, "AuthenticationLevel", 1);
    }
    MoveServerPath(context, entry.strClassId, serverPath, local);
    MoveServerPath(context, entry.strClassId2, serverPath, local);
    WriteMachineAppId(context, entry.strClassId);
    WriteMachineAppId(context, entry.strClassId2);
}

// An unexpected failure ends the registration of this entry with a box; the
// caller goes on with the next entry.
void RegisterReportingErrors(RegistrationContext& context, std::int16_t index, bool local) {
    const status::ComponentServerEntry* entry = EntryAt(context, index);
    if (entry == nullptr) return;
    try {
        Register(context, *entry, local);
    } catch (const std::exception& error) {
        const platform::RuntimeError runtimeError{platform::kErrInvalidCall, error.what()};
        context.registry.dialogs.MsgBox(
            "Registry Error " + runtimeError.description, platform::vbCritical + platform::vbOKOnly,
            "RegisterAsRemote (" + std::to_string(runtimeError.number) + ")");
    }
}

}  // namespace

void RegisterAsLocal(RegistrationContext& context, std::int16_t index) {
    RegisterReportingErrors(context, index, true);
}

void RegisterAsRemote(RegistrationContext& context, std::int16_t index) {
    RegisterReportingErrors(context, index, false);
}

void ConfigureComputer(RegistrationContext& context, std::int16_t role) {
    if (role < 0 || role > 2) return;
    const bool fileServer = role == 0;
    const auto registerEntry = [&](std::int16_t index, bool local) {
        if (local) {
            RegisterAsLocal(context, index);
        } else {
            RegisterAsRemote(context, index);
        }
    };
    for (std::int16_t index = 0; index < static_cast<std::int16_t>(context.table.size()); ++index) {
        status::ComponentServerEntry& entry = context.table[static_cast<std::size_t>(index)];
        if (index == kSetupStoreSlot) {
            // The Setup Store program serves a whole set of classes: each one is
            // registered like the slot's own class.
            const auto& classIds = suite::ConfigurationClassIds();
            for (int j = 0; j < suite::kConfigurationClassCount; ++j) {
                entry.strClassId = std::string(classIds[static_cast<std::size_t>(j)]);
                registerEntry(index, fileServer);
            }
            entry.strClassId = std::string(classIds[0]);
            entry.intHostKind = suite::kHostRemote;
        } else if (IsFileServerSlot(index)) {
            registerEntry(index, fileServer);
            entry.intHostKind = suite::kHostRemote;
        } else if (role == 2) {
            entry.intHostKind = suite::kHostRemote;
            registerEntry(index, false);
        } else {
            entry.intHostKind = suite::kHostLocal;
            registerEntry(index, true);
        }
    }
    context.settings.LocalServerSelected = fileServer;
}

}  // namespace orvel::dcom

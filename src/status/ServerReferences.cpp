#include "status/ServerReferences.h"

namespace orvel::status {

namespace {

void ClearReferences(ComponentServerTable& table) {
    for (auto& entry : table) entry.objServer.reset();
}

platform::RuntimeError NoReference() {
    return platform::MakeError(platform::kErrObjectNotSet);
}

}  // namespace

bool RefreshServerReferences(ComponentServerTable& table,
                             const std::shared_ptr<suiteclient::SuiteServer>& local,
                             const std::shared_ptr<suiteclient::SuiteServer>& remote) {
    if (!local || !remote) {
        ClearReferences(table);
        return false;
    }
    for (auto& entry : table) {
        switch (entry.intHostKind) {
            case suite::kHostLocal:
                entry.objServer = local;
                break;
            case suite::kHostRemote:
                entry.objServer = remote;
                break;
            case suite::kHostNone:
                entry.objServer.reset();
                break;
            default:
                ClearReferences(table);
                return false;
        }
    }
    return true;
}

platform::Outcome<std::int32_t> StartComponentServer(ComponentServerTable& table, int slot,
                                                     platform::Dialogs& dialogs) {
    if (slot < 0 || slot >= static_cast<int>(table.size())) {
        return platform::MakeError(platform::kErrInvalidCall);
    }
    auto server = table[static_cast<std::size_t>(slot)].objServer;
    if (!server) return NoReference();
    const int saved = dialogs.MousePointer();
    dialogs.SetMousePointer(platform::vbHourglass);
    auto result = server->StartComponent(static_cast<std::int16_t>(slot));
    dialogs.SetMousePointer(saved);
    return result;
}

platform::Outcome<std::int32_t> StopComponentServer(ComponentServerTable& table, int slot) {
    if (slot < 0 || slot >= static_cast<int>(table.size())) {
        return platform::MakeError(platform::kErrInvalidCall);
    }
    auto server = table[static_cast<std::size_t>(slot)].objServer;
    if (!server) return NoReference();
    return server->StopComponent(static_cast<std::int16_t>(slot));
}

}  // namespace orvel::status

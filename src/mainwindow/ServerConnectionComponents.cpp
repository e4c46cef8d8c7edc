#include "mainwindow/ServerConnection.h"

// The component servers the connection manages: "Connect ALL", "Disconnect
// ALL", and the stop of the local servers no running program needs.

#include <array>
#include <utility>
#include <vector>

#include "launcher/ApplicationLaunch.h"
#include "platform/WindowSnapshot.h"
#include "status/ComponentStatus.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::mainwindow {

using platform::vbInformation;

namespace {

// Each slot's reference as the table binds it now, for calls on the worker.
std::array<std::shared_ptr<suiteclient::SuiteServer>, suite::kComponentSlots> BoundReferences(
    const status::ComponentServerTable& table) {
    std::array<std::shared_ptr<suiteclient::SuiteServer>, suite::kComponentSlots> references;
    for (std::size_t slot = 0; slot < references.size(); ++slot) {
        references[slot] = table[slot].objServer;
    }
    return references;
}

}  // namespace

// The starts run on the worker, the hourglass shown until the last has ended.
void ServerConnection::ConnectAll() {
    if (!Connected()) return;
    for (auto& entry : services_.table) entry.blnKeepRunning = true;
    auto& dialogs = services_.dialogs;
    const int pointer = dialogs.MousePointer();
    dialogs.SetMousePointer(platform::vbHourglass);
    OffUi(
        [references = BoundReferences(services_.table)] {
            for (int slot : {3, 7, 11}) {
                if (const auto& server = references[static_cast<std::size_t>(slot)]) {
                    server->StartComponent(static_cast<std::int16_t>(slot));
                }
            }
            for (std::size_t slot = 0; slot < references.size(); ++slot) {
                if (references[slot])
                    references[slot]->StartComponent(static_cast<std::int16_t>(slot));
            }
        },
        [&dialogs, pointer] { dialogs.SetMousePointer(pointer); });
}

void ServerConnection::DisconnectAll() {
    if (!Connected()) return;
    if (launcher::FindRunningApplication(services_.catalogue, services_.windows) > 0) {
        services_.dialogs.MsgBox("Cannot Stop Servers while Applications are running",
                                 vbInformation, "Applications Are Running");
        return;
    }
    for (auto& entry : services_.table) entry.blnKeepRunning = false;
    worker_->Post([references = BoundReferences(services_.table)] {
        for (std::size_t slot = 0; slot < references.size(); ++slot) {
            if (references[slot]) references[slot]->StopComponent(static_cast<std::int16_t>(slot));
        }
    });
}

void ServerConnection::StopUnneededServers() {
    if (!Connected()) return;
    if (services_.settings.LocalServerSelected && OtherClientCount() != 0) return;
    std::array<bool, suite::kComponentSlots> needed{};
    // Every entry's window is looked up, all together in one pass.
    std::vector<std::string> titles;
    for (const auto& app : services_.catalogue) titles.push_back(app.WindowTitle);
    platform::WindowSnapshot windowsNow(services_.windows, std::move(titles));
    for (int index = 0; index < launcher::kCatalogueSize; ++index) {
        auto& app = services_.catalogue[static_cast<std::size_t>(index)];
        app.WindowHandle = windowsNow.FindWindowA(app.WindowTitle);
        if (app.WindowHandle == 0 && !launcher::LaunchedProcessAlive(app, services_.starter)) {
            continue;
        }
        for (auto slot : launcher::RequiredServersOf(index).startList) {
            needed[static_cast<std::size_t>(slot)] = true;
        }
    }
    for (int slot = 0; slot < suite::kComponentSlots; ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        auto& entry = services_.table[s];
        if (needed[s] || entry.blnKeepRunning || startedByConnection_[s] || !entry.objServer) {
            continue;
        }
        auto code = entry.objServer->GetComponentStatus(static_cast<std::int16_t>(slot));
        if (!code) return;  // ends at its first error
        if (*code == status::kStatusRunning && entry.intHostKind == suite::kHostLocal) {
            if (!entry.objServer->StopComponent(static_cast<std::int16_t>(slot))) return;
            emit rowsChanged();
            if (!Connected()) return;
        }
    }
}

}  // namespace orvel::mainwindow

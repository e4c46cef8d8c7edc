#pragma once

// The main window (offscreen) against a real Orvel_Server on a temporary
// installation with the demo component in every used slot.

#include <chrono>
#include <functional>
#include <map>

#include "MainWindowFixture.h"
#include "SuiteServerHarness.h"
#include "suite/SuiteServerSettings.h"

namespace orvel::mainwindow::testing {

using namespace std::chrono_literals;

class WithServer : public MainWindowTest {
  protected:
    WithServer() {
        for (int slot = 0; slot < 20; ++slot) {
            if (suite::IsUsedSlot(slot)) programs[slot] = harness.InstallComponent(slot);
        }
        harness.SetString(platform::HKEY_LOCAL_MACHINE, std::string(suite::kActiveSetKey),
                          std::string(suite::kActiveSetValue), "Studio A");
        harness.StartServer();
        factoryInUse = harness.MakeFactory(orvel::testing::FreeTcpPort(), kDeadline);
        context = std::make_unique<MainWindowContext>(
            MainWindowContext{settings, dialogs, clock, windows, instanceLock, *factoryInUse, files,
                              version, table, catalogue, themes, true});
        context->configureComputer = [this](std::int16_t role) {
            ApplyRoleHostKinds(table, settings, role);
        };
    }
    ~WithServer() override {
        window.reset();
        factoryInUse.reset();
    }

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        return harness.dispatcher.RunUntil(done, limit);
    }
    bool AllUsedRowsShow(const QString& caption) {
        for (int slot = 0; slot < 20; ++slot) {
            if (suite::IsUsedSlot(slot) && Panel(slot)->text() != caption) return false;
        }
        return true;
    }

    static constexpr std::chrono::milliseconds kDeadline{400};
    orvel::testing::SuiteServerHarness harness;
    std::unique_ptr<suiteclient::GrpcSuiteServerFactory> factoryInUse;
    std::map<int, std::string> programs;
};

}  // namespace orvel::mainwindow::testing

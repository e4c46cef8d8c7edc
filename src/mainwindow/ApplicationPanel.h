#pragma once

// The application frame fraApplications: seven launcher slots, each a button
// with a program's name (cmdApplication) beside its state panel
// (pnlApplication) in a slot container (spltApplication) whose tag holds the
// catalogue index; it fills itself for a category, paints launch states,
// launches programs and notices their windows coming and going.

#include <array>
#include <cstdint>
#include <memory>

#include <QGroupBox>

#include "launcher/ApplicationCatalogue.h"
#include "launcher/ApplicationLaunch.h"
#include "mainwindow/ColourThemes.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/ProgramStarter.h"
#include "platform/WindowSystem.h"
#include "settings/ConsoleSettings.h"
#include "status/ComponentServerTable.h"
#include "suiteclient/SuiteServer.h"

class QPushButton;

namespace orvel::mainwindow {

class StatePanel;

inline constexpr int kApplicationSlots = 7;

class ApplicationPanel : public QGroupBox {
    Q_OBJECT
  public:
    // What the panel works with; all of it outlives the panel.
    struct Services {
        launcher::ApplicationCatalogue& catalogue;
        status::ComponentServerTable& table;
        platform::WindowSystem& windows;
        platform::FileSystem& fileSystem;
        platform::Dialogs& dialogs;
        platform::ProgramStarter* starter = nullptr;
        const settings::ConsoleSettings& settings;
        // The main window's two server references.
        const std::shared_ptr<suiteclient::SuiteServer>& objOrvelServerLocal;
        const std::shared_ptr<suiteclient::SuiteServer>& objOrvelServerRemote;
    };

    ApplicationPanel(Services services, QWidget* parent);

    // Fills the seven slots with the programs of category, in the colours of
    // the active theme (entries 1 and 4).
    void FillApplicationPanel(std::int16_t category, const ColourTable& colours);
    // Recomputes and paints the state of catalogue entry index.
    void RefreshApplicationState(int index);
    // The launch action of slot s (button or state panel).
    void cmdApplication_Click(int slot);
    // The poll's launched-tool scan over the visible slots.
    void ScanLaunchedTools();

    // The catalogue index in slot s's tag; 0 when the tag holds none.
    int SlotTag(int slot) const;

  signals:
    // A launch found a server missing: the servers view is wanted.
    void serversWanted();

  private:
    static std::size_t Index(int slot) { return static_cast<std::size_t>(slot); }
    launcher::ServerAccess Access() const;
    bool Connected() const;
    void PaintPanel(int slot, const launcher::StatePanelLook& look);
    void Launch(int slot, int index);

    Services services_;
    std::array<QWidget*, kApplicationSlots> spltApplication_{};
    std::array<QPushButton*, kApplicationSlots> cmdApplication_{};
    std::array<StatePanel*, kApplicationSlots> pnlApplication_{};
};

}  // namespace orvel::mainwindow

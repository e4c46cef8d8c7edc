#include "mainwindow/ApplicationPanel.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <utility>
#include <vector>

#include "mainwindow/SplitRow.h"
#include "mainwindow/StatePanel.h"
#include "platform/WindowSnapshot.h"
#include "status/ServerReferences.h"

namespace orvel::mainwindow {

using launcher::kStateReady;
using launcher::kStateRunning;
using launcher::kStateServerMissing;

ApplicationPanel::ApplicationPanel(Services services, QWidget* parent)
    : QGroupBox("Orvel Applications", parent), services_(services) {
    setObjectName("fraApplications");
    auto* column = new QVBoxLayout(this);
    for (int s = 0; s < kApplicationSlots; ++s) {
        auto [row, button, panel] =
            MakeSplitRow(this, "spltApplication", "cmdApplication", "pnlApplication", s);
        column->addWidget(row);
        row->hide();
        spltApplication_[Index(s)] = row;
        cmdApplication_[Index(s)] = button;
        pnlApplication_[Index(s)] = panel;
        connect(button, &QPushButton::clicked, this, [this, s] { cmdApplication_Click(s); });
        connect(panel, &StatePanel::clicked, this, [this, s] { cmdApplication_Click(s); });
    }
    column->addStretch(1);
}

launcher::ServerAccess ApplicationPanel::Access() const {
    return {services_.table, services_.objOrvelServerLocal, services_.objOrvelServerRemote};
}

bool ApplicationPanel::Connected() const {
    return status::RefreshServerReferences(services_.table, services_.objOrvelServerLocal,
                                           services_.objOrvelServerRemote);
}

int ApplicationPanel::SlotTag(int slot) const {
    if (slot < 0 || slot >= kApplicationSlots) return 0;
    bool ok = false;
    const int index = spltApplication_[Index(slot)]->property("Tag").toString().toInt(&ok);
    return ok && index >= launcher::kFirstApplication && index <= launcher::kLastApplication ? index
                                                                                             : 0;
}

void ApplicationPanel::FillApplicationPanel(std::int16_t category, const ColourTable& colours) {
    Paint(this, colours[4], colours[4] ^ 0xC0C0C0u);
    for (int s = 0; s < kApplicationSlots; ++s) {
        spltApplication_[Index(s)]->hide();
        spltApplication_[Index(s)]->setProperty("Tag", QString());
        Paint(cmdApplication_[Index(s)], colours[1], colours[1] ^ 0xCFCFCFu);
        cmdApplication_[Index(s)]->setEnabled(false);
    }
    launcher::CheckApplicationFiles(services_.catalogue, services_.fileSystem);
    for (int i = launcher::kFirstApplication; i <= launcher::kLastApplication; ++i) {
        const auto& entry = services_.catalogue[static_cast<std::size_t>(i)];
        if (entry.Category != category) continue;
        const int s = entry.Slot;
        if (s < 0 || s >= kApplicationSlots) continue;
        auto* row = spltApplication_[Index(s)];
        row->show();
        row->setProperty("Tag", QString::number(i));
        row->setProperty("FileName", Q(entry.FileName));
        RefreshApplicationState(i);
        auto* button = cmdApplication_[Index(s)];
        Paint(button, colours[1], colours[1] ^ 0xCFCFCFu);
        button->setText(Q(entry.DisplayName));
        button->setToolTip(PlainTip(entry.LongName));
        button->setEnabled(entry.State == kStateServerMissing || entry.State == kStateReady ||
                           entry.State == kStateRunning);
    }
}

void ApplicationPanel::PaintPanel(int slot, const launcher::StatePanelLook& look) {
    if (slot < 0 || slot >= kApplicationSlots) return;
    auto* panel = pnlApplication_[Index(slot)];
    if (look.caption) panel->setText(Q(*look.caption));
    Paint(panel, look.back, look.text);
    panel->setProperty("PanelStyle", look.style);
    if (look.size) panel->setProperty("PanelSize", *look.size);
    // The busy look stands out with a raised frame.
    panel->setFrameStyle(
        QFrame::Panel |
        (look.style == launcher::kPanelStyleBusy ? QFrame::Raised : QFrame::Sunken));
}

void ApplicationPanel::RefreshApplicationState(int index) {
    if (index < launcher::kFirstApplication || index > launcher::kLastApplication) return;
    auto& entry = services_.catalogue[static_cast<std::size_t>(index)];
    launcher::DecideApplicationState(index, {services_.catalogue, Access(), services_.windows,
                                             services_.settings.LocalServerSelected});
    if (entry.Slot < 0 || entry.Slot >= kApplicationSlots) return;
    pnlApplication_[Index(entry.Slot)]->setToolTip(PlainTip(entry.FileName));
    PaintPanel(entry.Slot, launcher::LookOfState(entry.State));
}

void ApplicationPanel::cmdApplication_Click(int slot) {
    const int index = SlotTag(slot);
    if (!Connected()) {
        if (index == 0) return;
        services_.dialogs.MsgBox(
            launcher::NotConnectedText(
                services_.catalogue[static_cast<std::size_t>(index)].DisplayName),
            platform::vbInformation, "Orvel Server is NOT Connected");
        emit serversWanted();
        return;
    }
    if (index == 0) return;
    Launch(slot, index);
    RefreshApplicationState(index);
}

void ApplicationPanel::Launch(int slot, int index) {
    auto& entry = services_.catalogue[static_cast<std::size_t>(index)];
    if (entry.State == kStateServerMissing) {
        PaintPanel(slot, launcher::BusyLook("Servers"));
        launcher::StartRequiredServers(index, Access(), services_.dialogs);
        RefreshApplicationState(index);
    }
    if (entry.State == kStateServerMissing) {
        const auto missing = launcher::FindMissingServer(index, Access());
        if (missing >= 0) {
            services_.dialogs.MsgBox(
                launcher::ServerDidNotStartText(
                    services_.table[static_cast<std::size_t>(missing)].strDisplayName),
                platform::vbExclamation, "Orvel Servers");
            return;
        }
        // Every required server came up after the state was decided: the
        // program is ready after all.
        entry.State = kStateReady;
    }
    // Started before and still opening its window: nothing starts twice and
    // there is nothing to bring to the front yet.
    if (entry.State == kStateReady && launcher::LaunchedProcessAlive(entry, services_.starter)) {
        return;
    }
    if (entry.State == kStateReady) {
        PaintPanel(slot, launcher::BusyLook("Application"));
        const int pointer = services_.dialogs.MousePointer();
        services_.dialogs.SetMousePointer(platform::vbHourglass);
        launcher::StartApplication(entry, services_.fileSystem, services_.starter,
                                   services_.dialogs);
        services_.dialogs.SetMousePointer(pointer);
    } else if (entry.State == kStateRunning) {
        services_.windows.ShowWindow(entry.WindowHandle, platform::SW_SHOWNORMAL);
        services_.windows.BringWindowToTop(entry.WindowHandle);
    }
}

void ApplicationPanel::ScanLaunchedTools() {
    // The windows of every shown slot are looked up together, in one pass.
    std::vector<std::string> titles;
    for (int s = 0; s < kApplicationSlots; ++s) {
        if (spltApplication_[Index(s)]->isHidden()) continue;
        if (const int index = SlotTag(s); index != 0) {
            titles.push_back(services_.catalogue[static_cast<std::size_t>(index)].WindowTitle);
        }
    }
    if (titles.empty()) return;
    platform::WindowSnapshot windowsNow(services_.windows, std::move(titles));
    for (int s = 0; s < kApplicationSlots; ++s) {
        if (spltApplication_[Index(s)]->isHidden()) continue;
        const int index = SlotTag(s);
        if (index == 0) continue;
        auto& entry = services_.catalogue[static_cast<std::size_t>(index)];
        if (launcher::WindowChangedSincePaint(entry, windowsNow)) {
            RefreshApplicationState(index);
        }
    }
}

}  // namespace orvel::mainwindow

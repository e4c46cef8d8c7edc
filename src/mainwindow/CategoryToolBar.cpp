#include "mainwindow/CategoryToolBar.h"

#include <QAction>
#include <QScopedValueRollback>

namespace orvel::mainwindow {

CategoryToolBar::CategoryToolBar(QWidget* parent) : QToolBar("Orvel", parent) {
    setObjectName("tlbToolBar");
    setMovable(false);
    struct ButtonRow {
        const char* key;
        const char* caption;
        const char* tip;
    };
    const ButtonRow buttons[] = {
        {"keyOrvelApplications", "Orvel Applications", "Click to show Orvel Applications"},
        {"keyOrvelTools", "Orvel Tools", "Click to Show Orvel Tools"},
        {"keyOrvelUtilities", "Orvel Utilities", "Click to Show Orvel Utilities"},
        {"keyOrvelServers", "Orvel Servers", "Click to Show Orvel Servers"},
        {"keyOrvelClients", "Orvel Clicents", "Click to show Orvel Clients"},
    };
    for (const auto& row : buttons) {
        auto* action = addAction(row.caption);
        action->setObjectName(row.key);
        action->setToolTip(row.tip);
        const QString key = row.key;
        if (key != "keyOrvelClients") {
            // A category button switches the view however it is toggled.
            action->setCheckable(true);
            connect(action, &QAction::toggled, this, [this, key] {
                if (!pressing_) emit buttonClicked(key);
            });
        } else {
            connect(action, &QAction::triggered, this, [this, key] { emit buttonClicked(key); });
        }
    }
}

std::string CategoryToolBar::Press(const QString& key) {
    const QScopedValueRollback<bool> pressing(pressing_, true);
    QAction* clicked = nullptr;
    for (auto* action : actions()) {
        action->setChecked(false);
        if (action->objectName() == key) clicked = action;
    }
    if (clicked == nullptr) return {};
    clicked->setChecked(true);
    return clicked->text().toStdString();
}

}  // namespace orvel::mainwindow

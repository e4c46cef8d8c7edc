#pragma once

// One row of the server or application frame: a container holding a button
// and its state panel.

class QPushButton;
class QWidget;

namespace orvel::mainwindow {

class StatePanel;

struct SplitRow {
    QWidget* row = nullptr;
    QPushButton* button = nullptr;
    StatePanel* panel = nullptr;
};

// Builds row index, its parts named <rowName>_i, <buttonName>_i and <panelName>_i.
SplitRow MakeSplitRow(QWidget* parent, const char* rowName, const char* buttonName,
                      const char* panelName, int index);

}  // namespace orvel::mainwindow

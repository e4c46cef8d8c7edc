#include "mainwindow/SplitRow.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "mainwindow/StatePanel.h"

namespace orvel::mainwindow {

SplitRow MakeSplitRow(QWidget* parent, const char* rowName, const char* buttonName,
                      const char* panelName, int index) {
    SplitRow split;
    split.row = new QWidget(parent);
    split.row->setObjectName(QString("%1_%2").arg(rowName).arg(index));
    auto* rowLayout = new QHBoxLayout(split.row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    split.button = new QPushButton(split.row);
    split.button->setObjectName(QString("%1_%2").arg(buttonName).arg(index));
    split.panel = new StatePanel(split.row);
    split.panel->setObjectName(QString("%1_%2").arg(panelName).arg(index));
    split.panel->SetSubject(split.button);
    split.panel->setTextFormat(Qt::PlainText);
    split.panel->setAlignment(Qt::AlignCenter);
    split.panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The button keeps the width of its caption; the panel takes the rest and
    // shortens its caption when that is too little. Spare room goes 3 : 2.
    rowLayout->addWidget(split.button, 3);
    rowLayout->addWidget(split.panel, 2);
    return split;
}

}  // namespace orvel::mainwindow

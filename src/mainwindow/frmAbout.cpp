#include "mainwindow/frmAbout.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace orvel::mainwindow {

namespace {

QLabel* PlainLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

std::string ReleaseOfMarker(const std::string& marker) {
    const auto colon = marker.find(':');
    return colon == std::string::npos ? marker : marker.substr(colon + 1);
}

frmAbout::frmAbout(const platform::VersionInfo& version, SysInfoServices services,
                   const QIcon& icon, QWidget* parent)
    : QDialog(parent), services_(std::move(services)) {
    setObjectName("frmAbout");
    const QString title = QString::fromStdString(version.title);
    setWindowTitle("About " + title);
    setWindowIcon(icon);

    picIcon = new QLabel(this);
    picIcon->setObjectName("picIcon");
    const QIcon shown = icon.isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon) : icon;
    picIcon->setPixmap(shown.pixmap(48, 48));

    lblTitle = PlainLabel("lblTitle", "Corvane Network Suite -- " + title, this);
    QFont bold = lblTitle->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    lblTitle->setFont(bold);

    lblVersion = PlainLabel(
        "lblVersion", "Version " + QString::fromStdString(ReleaseOfMarker(version.releaseMarker)),
        this);

    txtDescription = new QLineEdit(this);
    txtDescription->setObjectName("txtDescription");
    txtDescription->setReadOnly(true);
    txtDescription->setFrame(false);
    txtDescription->setText(QString::fromStdString(version.fileDescription));
    txtDescription->setVisible(!version.fileDescription.empty());

    lblDisclaimer = PlainLabel("lblDisclaimer",
                               "Warning: this program is protected by copyright law and "
                               "international treaties. Unauthorised copying or distribution "
                               "of it, or of any part of it, is prohibited.",
                               this);
    lblDisclaimer->setWordWrap(true);

    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton("&System Info...", this);
    cmdSysInfo->setObjectName("cmdSysInfo");
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    texts->addWidget(txtDescription);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(picIcon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    bottom->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addLayout(bottom);
    setMinimumWidth(460);
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo(services_);
}

}  // namespace orvel::mainwindow

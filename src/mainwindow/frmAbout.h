#pragma once

// The about box: the console's title and release, and a button that starts
// the system-information program.

#include <string>

#include <QDialog>

#include "mainwindow/SystemInformation.h"
#include "platform/VersionInfo.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace orvel::mainwindow {

// The release marker's text after its first colon, blank included; the whole
// marker when it has none.
std::string ReleaseOfMarker(const std::string& marker);

class frmAbout : public QDialog {
    Q_OBJECT
  public:
    frmAbout(const platform::VersionInfo& version, SysInfoServices services, const QIcon& icon,
             QWidget* parent = nullptr);

    void cmdSysInfo_Click();

    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLineEdit* txtDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;

  private:
    SysInfoServices services_;
};

}  // namespace orvel::mainwindow

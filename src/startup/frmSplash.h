#pragma once

#include <QDialog>

#include "platform/SystemInfo.h"
#include "platform/VersionInfo.h"

class QFrame;
class QLabel;
class QTimer;

namespace orvel::startup {

inline constexpr int kSplashTimeoutMs = 3500;

// The splash window: product, release and operating system. Shown modally
// once at start-up; closes itself on its timer's first tick, on a character
// key, or on a click on its frame.
class frmSplash : public QDialog {
    Q_OBJECT

  public:
    frmSplash(const platform::VersionInfo& version, const platform::OsVersion& os,
              QWidget* parent = nullptr, int timeoutMs = kSplashTimeoutMs);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QFrame* Frame1 = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblCompanyProduct = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblPlatform = nullptr;
    QLabel* lblLegalNotice = nullptr;
    QTimer* Timer1 = nullptr;
};

}  // namespace orvel::startup

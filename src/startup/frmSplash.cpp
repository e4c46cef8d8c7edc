#include "startup/frmSplash.h"

#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>

#include "startup/StartupTexts.h"

namespace orvel::startup {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const std::string& text, int pointSize,
                  bool bold = false) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(text));
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

// The product logo, drawn rather than loaded: 209 x 62 pixels.
QPixmap LogoPixmap() {
    QPixmap logo(209, 62);
    QPainter painter(&logo);
    QLinearGradient gradient(0, 0, 209, 62);
    gradient.setColorAt(0, QColor(0x00, 0x20, 0x60));
    gradient.setColorAt(1, QColor(0x30, 0x70, 0xC0));
    painter.fillRect(logo.rect(), gradient);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPointSize(24);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(logo.rect(), Qt::AlignCenter, QStringLiteral("ORVEL"));
    return logo;
}

}  // namespace

frmSplash::frmSplash(const platform::VersionInfo& version, const platform::OsVersion& os,
                     QWidget* parent, int timeoutMs)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("frmSplash");
    setModal(true);

    Frame1 = new QFrame(this);
    Frame1->setObjectName("Frame1");
    Frame1->setFrameShape(QFrame::Box);
    Frame1->installEventFilter(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(Frame1);

    imgLogo = new QLabel(Frame1);
    imgLogo->setObjectName("imgLogo");
    imgLogo->setPixmap(LogoPixmap());

    lblCompanyProduct = MakeLabel(Frame1, "lblCompanyProduct", "Corvane Network Suite", 14);
    lblProductName = MakeLabel(Frame1, "lblProductName", version.comments, 20, true);
    lblVersion = MakeLabel(Frame1, "lblVersion", SplashVersionText(version), 11, true);
    lblPlatform = MakeLabel(Frame1, "lblPlatform", SplashPlatformText(os, "Platform"), 11, true);
    lblLegalNotice = MakeLabel(Frame1, "lblLegalNotice",
                               "Warning: this program is protected by copyright law. "
                               "Unauthorised copying or distribution of it, or of any part "
                               "of it, is prohibited.",
                               8);
    lblLegalNotice->setWordWrap(true);

    auto* inner = new QVBoxLayout(Frame1);
    auto* top = new QHBoxLayout;
    top->addWidget(imgLogo);
    top->addStretch();
    auto* titles = new QVBoxLayout;
    titles->addWidget(lblCompanyProduct, 0, Qt::AlignRight);
    titles->addWidget(lblProductName, 0, Qt::AlignRight);
    top->addLayout(titles);
    inner->addLayout(top);
    inner->addSpacing(24);
    inner->addWidget(lblVersion, 0, Qt::AlignRight);
    inner->addWidget(lblPlatform, 0, Qt::AlignRight);
    inner->addSpacing(24);
    inner->addWidget(lblLegalNotice);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer1->setInterval(timeoutMs);
    // Queued: a tick that comes while exec() is still showing the window must
    // close it from inside the modal loop, or exec() would wait for ever.
    connect(Timer1, &QTimer::timeout, this, &QDialog::accept, Qt::QueuedConnection);
    Timer1->start();

    setFocusPolicy(Qt::StrongFocus);
}

// A character key closes; a lone Shift, an arrow or a function key does not.
void frmSplash::keyPressEvent(QKeyEvent* event) {
    if (!event->text().isEmpty()) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Frame1 && event->type() == QEvent::MouseButtonPress) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace orvel::startup

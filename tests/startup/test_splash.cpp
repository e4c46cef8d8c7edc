#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <functional>

#include "startup/frmSplash.h"

namespace orvel::startup {
namespace {

platform::OsVersion Linux(int major, int minor, int build) {
    return {platform::VER_PLATFORM_WIN32_NT, major, minor, build};
}

QString LabelText(const QWidget& window, const char* name) {
    auto* label = window.findChild<QLabel*>(name);
    return label != nullptr ? label->text() : QString("<missing %1>").arg(name);
}

// The product, release and system labels come from what the splash is given.
TEST(SplashTest, LabelsNameProductReleaseAndSystem) {
    frmSplash splash(platform::ProgramVersionInfo(), Linux(6, 1, 0));
    EXPECT_EQ(LabelText(splash, "lblProductName"), "Orvel Control Console");
    EXPECT_EQ(LabelText(splash, "lblVersion"), "Version Release 7.1.0");
    EXPECT_EQ(LabelText(splash, "lblPlatform"), "Linux 6.1 0");
}

void ClickOn(QWidget* widget, QPoint at = {}) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
}

// The splash closes on its timer's first tick (inside the modal loop, where a
// direct close would be lost), on a key that types a character, or on a click
// anywhere on its frame; other keys leave it. Each case acts on a fresh splash.
TEST(SplashTest, ClosesOnTheFirstTickACharacterKeyOrAClickOnTheFrame) {
    struct Case {
        const char* what;
        int timeoutMs;
        std::function<void(frmSplash&)> act;
        bool closes;
    };
    auto key = [](Qt::Key k) { return [k](frmSplash& s) { QTest::keyClick(&s, k); }; };
    const int never = 600000;
    const Case cases[] = {
        {"first tick", 20, [](frmSplash& s) { s.exec(); }, true},
        {"character key", never, key(Qt::Key_A), true},
        {"shift", never, key(Qt::Key_Shift), false},
        {"arrow", never, key(Qt::Key_Left), false},
        {"function key", never, key(Qt::Key_F5), false},
        {"click on the frame", never,
         [](frmSplash& s) { ClickOn(s.findChild<QFrame*>("Frame1"), QPoint(2, 2)); }, true},
        {"click on a label of the frame", never,
         [](frmSplash& s) { ClickOn(s.findChild<QLabel*>("lblVersion")); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        frmSplash splash{platform::ProgramVersionInfo(), Linux(6, 1, 0), nullptr, c.timeoutMs};
        if (c.timeoutMs == never) {  // the tick case is shown by exec()
            splash.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&splash));
        }
        // A splash that never closes itself is rejected here instead of hanging.
        QTimer::singleShot(10000, &splash, &QDialog::reject);
        c.act(splash);
        EXPECT_EQ(splash.isVisible(), !c.closes);
        EXPECT_EQ(splash.result(), c.closes ? QDialog::Accepted : QDialog::Rejected);
    }
}

}  // namespace
}  // namespace orvel::startup

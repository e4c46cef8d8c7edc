#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

#include "startup/StartupTexts.h"
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

TEST(SplashTest, LabelsNameProductReleaseAndSystem) {
    platform::VersionInfo version = platform::ProgramVersionInfo();
    frmSplash splash(version, Linux(6, 1, 0));
    EXPECT_EQ(LabelText(splash, "lblCompanyProduct"), "Corvane Network Suite");
    EXPECT_EQ(LabelText(splash, "lblProductName"), "Orvel Control Console");
    EXPECT_EQ(LabelText(splash, "lblVersion"), "Version Release 7.1.0");
    EXPECT_EQ(LabelText(splash, "lblPlatform"), "Linux 6.1 0");
    auto* timer = splash.findChild<QTimer*>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 3500);
    EXPECT_TRUE(timer->isActive()) << "enabled from the start";
}

TEST(SplashTest, PlatformLabelByPlatformNumber) {
    EXPECT_EQ(SplashPlatformText(Linux(5, 15, 133), "Platform"), "Linux 5.15 133");
    EXPECT_EQ(SplashPlatformText(Linux(6, 12, 9), "Platform"), "Linux 6.12 9")
        << "a two-digit minor is not rounded away";
    EXPECT_EQ(SplashPlatformText({platform::VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998}, "Platform"),
              "Win 95/98");
    EXPECT_EQ(SplashPlatformText({0, 1, 2, 3}, "Platform"), "Platform");
    EXPECT_EQ(SplashPlatformText({3, 1, 2, 3}, "Platform"), "Platform");
}

void ClickOn(QWidget* widget, QPoint at = {}) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
}

// A key that types a character or a click anywhere on the frame closes the
// splash; other keys leave it. Each case acts on a freshly shown splash.
TEST(SplashClosingTest, CharacterKeysAndClicksOnTheFrameClose) {
    struct Case {
        const char* what;
        std::function<void(frmSplash&)> act;
        bool closes;
    };
    auto key = [](Qt::Key k) { return [k](frmSplash& s) { QTest::keyClick(&s, k); }; };
    const Case cases[] = {
        {"character key", key(Qt::Key_A), true},
        {"shift", key(Qt::Key_Shift), false},
        {"arrow", key(Qt::Key_Left), false},
        {"function key", key(Qt::Key_F5), false},
        {"click on the frame",
         [](frmSplash& s) { ClickOn(s.findChild<QFrame*>("Frame1"), QPoint(2, 2)); }, true},
        {"click on a label of the frame",
         [](frmSplash& s) { ClickOn(s.findChild<QLabel*>("lblVersion")); }, true},
    };
    const platform::VersionInfo version = platform::ProgramVersionInfo();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        frmSplash splash{version, Linux(6, 1, 0)};
        splash.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&splash));
        c.act(splash);
        EXPECT_EQ(splash.isVisible(), !c.closes);
        if (c.closes) {
            EXPECT_EQ(splash.result(), QDialog::Accepted);
        }
    }
}

TEST(SplashTimerTest, FirstTickClosesTheModalSplash) {
    platform::VersionInfo version = platform::ProgramVersionInfo();
    frmSplash splash(version, Linux(6, 1, 0), nullptr, 20);
    // exec() returns only when the splash closes itself; the guard ends a hang.
    QTimer guard;
    guard.setSingleShot(true);
    bool guardFired = false;
    QObject::connect(&guard, &QTimer::timeout, &splash, [&] {
        guardFired = true;
        splash.reject();
    });
    guard.start(10000);
    EXPECT_EQ(splash.exec(), QDialog::Accepted);
    EXPECT_FALSE(guardFired);
}

}  // namespace
}  // namespace orvel::startup

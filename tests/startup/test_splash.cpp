#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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

class SplashClosingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        splash.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&splash));
    }
    platform::VersionInfo version = platform::ProgramVersionInfo();
    frmSplash splash{version, Linux(6, 1, 0)};
};

TEST_F(SplashClosingTest, CharacterKeyCloses) {
    QTest::keyClick(&splash, Qt::Key_A);
    EXPECT_FALSE(splash.isVisible());
    EXPECT_EQ(splash.result(), QDialog::Accepted);
}

TEST_F(SplashClosingTest, KeysWithoutACharacterDoNotClose) {
    QTest::keyClick(&splash, Qt::Key_Shift);
    QTest::keyClick(&splash, Qt::Key_Left);
    QTest::keyClick(&splash, Qt::Key_F5);
    EXPECT_TRUE(splash.isVisible());
}

TEST_F(SplashClosingTest, ClickOnTheFrameCloses) {
    auto* frame = splash.findChild<QFrame*>("Frame1");
    ASSERT_NE(frame, nullptr);
    QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_FALSE(splash.isVisible());
}

TEST_F(SplashClosingTest, ClickOnALabelOfTheFrameCloses) {
    auto* label = splash.findChild<QLabel*>("lblVersion");
    ASSERT_NE(label, nullptr);
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_FALSE(splash.isVisible());
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

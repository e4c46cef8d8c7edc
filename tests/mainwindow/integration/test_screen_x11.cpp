// The main window on a real X server (Xvfb) under openbox: its outer size
// at start-up and after "&Restore Size", its rows at the minimum size, the
// look of disabled buttons and the tool bar driven through Qt's
// accessibility interface. With ORVEL_SCREENSHOT_DIR set it also saves the
// screen at the minimum size and with disabled buttons.

#include <gmock/gmock.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QFontMetrics>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <cstdlib>

#include "MainWindowFixture.h"
#include "XTestSupport.h"
#include "mainwindow/WindowLayout.h"

namespace orvel::mainwindow::testing {
namespace {

std::unique_ptr<xtest::XServer> xServer;
std::string whyNoServer;

class ScreenTest : public MainWindowTest {
  protected:
    void SetUp() override {
        if (xServer == nullptr) GTEST_SKIP() << whyNoServer;
    }
    // Shows the window and waits until openbox has framed it.
    frmMain& ShownAndFramed() {
        auto& w = Loaded();
        w.show();
        EXPECT_TRUE(Settle([&] { return w.frameGeometry().size() != w.size(); }));
        return w;
    }
    template <typename Condition>
    static bool Settle(Condition condition) {
        return xtest::Eventually([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }
    // The window with its frame, as the X server shows it.
    void Save(const char* name) {
        const char* folder = std::getenv("ORVEL_SCREENSHOT_DIR");
        if (folder == nullptr) return;
        Settle([] { return true; });
        const QRect frame = window->frameGeometry();
        QGuiApplication::primaryScreen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(QString("%1/%2").arg(folder, name));
    }
};

TEST_F(ScreenTest, StartUpAndRestoreSizeGiveTheSameOuterSize) {
    auto& w = ShownAndFramed();
    const int standard = TwipsToPixels(kStandardSizeTwips, w.logicalDpiY());
    QSize atStart;
    EXPECT_TRUE(Settle([&] { return (atStart = w.frameGeometry().size()).height() == standard; }))
        << atStart.width() << " x " << atStart.height();
    EXPECT_EQ(atStart.width(), TwipsToPixels(kStandardSizeTwips, w.logicalDpiX()));
    w.resize(500, 450);
    ASSERT_TRUE(Settle([&] { return w.size() == QSize(500, 450); }));
    w.mnuFileRestoreSize_Click();
    EXPECT_TRUE(Settle([&] { return w.frameGeometry().size() == atStart; }))
        << w.frameGeometry().width() << " x " << w.frameGeometry().height();
    EXPECT_NEAR(settings.WindowFormHeight, kStandardSizeTwips, 15);
}

// At the minimum size every row keeps its caption readable: buttons, state
// panels, the side and host buttons and the identity labels.
TEST_F(ScreenTest, MinimumSizeKeepsEveryRowReadable) {
    local->statuses[5] = 1;
    auto& w = ShownAndFramed();
    ScriptServers();
    w.cmdServerOrvelHost_Click();  // the rows carry their captions
    ASSERT_TRUE(w.Connected());
    w.resize(100, 100);
    const int minimum = TwipsToPixels(kMinimumSizeTwips, w.logicalDpiY());
    ASSERT_TRUE(Settle([&] { return w.frameGeometry().height() == minimum; }))
        << w.frameGeometry().height();
    Save("mainwindow-minimum-size.png");
    QStringList controls = {"cmdServerLocal",   "cmdServerRemote",     "cmdServerOrvelHost",
                            "cmdServerConnect", "cmdServerDisconnect", "lblOrvelServerOS"};
    for (int i = 0; i < 20; ++i) {
        controls << QString("cmdServers_%1").arg(i) << QString("pnlServers_%1").arg(i);
    }
    for (const auto& name : controls) {
        auto* control = Find<QWidget>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        if (!control->isVisible()) continue;
        const int lettering = QFontMetrics(control->font()).height();
        EXPECT_GE(control->height(), lettering) << name.toStdString();
        EXPECT_GE(lettering, 8) << name.toStdString();
    }
}

// Disabled while disconnected: the all-servers buttons and the empty rows are
// lettered in a greyed colour, distinct from the enabled one.
TEST_F(ScreenTest, DisabledButtonsLookDisabled) {
    auto& w = ShownAndFramed();
    for (const char* name : {"cmdServerConnect", "cmdServerDisconnect", "cmdServers_0"}) {
        auto* button = Button(name);
        ASSERT_FALSE(button->isEnabled()) << name;
        const QPalette& palette = button->palette();
        EXPECT_NE(palette.color(QPalette::Disabled, QPalette::ButtonText),
                  palette.color(QPalette::Active, QPalette::ButtonText))
            << name;
    }
    Save("mainwindow-disabled-buttons.png");
    (void)w;
}

// A category button toggled through the accessibility interface switches the
// view and leaves exactly one button pressed.
TEST_F(ScreenTest, ToolBarCategoryToggledThroughAccessibility) {
    auto& w = ShownAndFramed();
    auto* toolBar = Find<QToolBar>("tlbToolBar");
    auto pressed = [&] {
        std::vector<std::string> keys;
        for (auto* action : toolBar->actions()) {
            if (action->isChecked()) keys.push_back(action->objectName().toStdString());
        }
        return keys;
    };
    ASSERT_EQ(pressed(), std::vector<std::string>{"keyOrvelServers"});
    QAction* tools = Find<QAction>("keyOrvelTools");
    auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(tools));
    ASSERT_NE(button, nullptr);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Orvel Tools");
    auto* actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QCoreApplication::processEvents();
    EXPECT_EQ(pressed(), std::vector<std::string>{"keyOrvelTools"});
    EXPECT_TRUE(Find<QWidget>("fraServers")->isHidden());
    EXPECT_FALSE(w.Applications()->isHidden());
    EXPECT_EQ(w.Applications()->title(), "Orvel Tools");

    // Toggled again: the view stays and the button stays pressed.
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QCoreApplication::processEvents();
    EXPECT_EQ(pressed(), std::vector<std::string>{"keyOrvelTools"});
    EXPECT_FALSE(w.Applications()->isHidden());
}

}  // namespace
}  // namespace orvel::mainwindow::testing

// The X server and openbox come first: the application connects to them.
int main(int argc, char** argv) {
    using orvel::mainwindow::testing::whyNoServer;
    using orvel::mainwindow::testing::xServer;
    xServer = orvel::xtest::XServer::Start(whyNoServer);
    if (xServer != nullptr && !xServer->StartWindowManager(whyNoServer)) xServer.reset();
    if (xServer != nullptr) {
        setenv("DISPLAY", xServer->display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    xServer.reset();
    return result;
}

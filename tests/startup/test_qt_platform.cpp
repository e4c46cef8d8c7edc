#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtUiDispatcher.h"

namespace orvel::platform {
namespace {

// Runs inspect on the next modal box once it is up.
void WhenModalShown(std::function<void(QWidget*)> inspect) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, inspect] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->deleteLater();
            inspect(modal);
        }
    });
    poll->start(5);
}

struct ShownBox {
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
};

// Shows the box, records what it showed and presses the button with that text
// (the default button for an empty text).
std::pair<int, ShownBox> Show(QtDialogs& dialogs, std::string_view text, int style,
                              std::string_view title, const QString& press = {}) {
    ShownBox shown;
    WhenModalShown([&shown, press](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return;
        shown.title = box->windowTitle();
        shown.text = box->text();
        shown.format = box->textFormat();
        shown.icon = box->icon();
        for (QAbstractButton* button : box->buttons()) shown.buttons << button->text();
        shown.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        QAbstractButton* target = box->defaultButton();
        for (QAbstractButton* button : box->buttons()) {
            if (!press.isEmpty() && button->text().remove('&') == press) target = button;
        }
        target->click();
    });
    int answer = dialogs.MsgBox(text, style, title);
    return {answer, shown};
}

TEST(QtDialogsTest, MessageBoxShowsPlainTextWithLineBreaks) {
    QtDialogs dialogs;
    auto [answer, shown] = Show(dialogs, "<b>first</b>\r\rsecond", vbCritical, "");
    EXPECT_EQ(answer, vbOK);
    EXPECT_EQ(shown.text, "<b>first</b>\n\nsecond");
    EXPECT_EQ(shown.format, Qt::PlainText);
    EXPECT_EQ(shown.title, "Orvel Console") << "an empty title shows the program title";
    EXPECT_EQ(shown.icon, QMessageBox::Critical);
    EXPECT_EQ(shown.buttons.size(), 1);
}

TEST(QtDialogsTest, StyleChoosesIconButtonsAndDefault) {
    QtDialogs dialogs;
    auto [noAnswer, question] =
        Show(dialogs, "Close?", vbQuestion + vbYesNo + vbDefaultButton2, "Disconnect Server");
    EXPECT_EQ(noAnswer, vbNo) << "the default of style 292 is No";
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_EQ(question.buttons.size(), 2);
    EXPECT_EQ(question.title, "Disconnect Server");

    auto [yesAnswer, plain] = Show(dialogs, "Create?", vbQuestion + vbYesNo, "Create System File");
    EXPECT_EQ(yesAnswer, vbYes) << "without +256 Yes is the default";

    auto [pressedNo, unused] = Show(dialogs, "Create?", vbYesNo, "t", "No");
    EXPECT_EQ(pressedNo, vbNo);

    EXPECT_EQ(Show(dialogs, "x", vbExclamation, "t").second.icon, QMessageBox::Warning);
    EXPECT_EQ(Show(dialogs, "x", vbInformation, "t").second.icon, QMessageBox::Information);
}

TEST(QtDialogsTest, InputBoxAnswersTextOrEmptyForCancel) {
    QtDialogs dialogs;
    WhenModalShown([](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->labelText(), "Name\nof the computer");
        EXPECT_EQ(dialog->textValue(), "HOST1");
        dialog->setTextValue("HOST2");
        dialog->accept();
    });
    EXPECT_EQ(dialogs.InputBox("Name\rof the computer", "Server", "HOST1"), "HOST2");

    WhenModalShown([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(dialogs.InputBox("Name", "Server", "HOST1"), "");
}

TEST(QtDialogsTest, HourglassPointerIsTakenAndGivenBackOnce) {
    QtDialogs dialogs;
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    dialogs.SetMousePointer(vbHourglass);
    dialogs.SetMousePointer(vbHourglass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(dialogs.MousePointer(), vbHourglass);
    dialogs.SetMousePointer(vbDefault);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    dialogs.SetMousePointer(vbDefault);
    EXPECT_EQ(dialogs.MousePointer(), vbDefault);
}

// Runs the event loop until done() or a generous deadline.
bool ProcessUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(QtUiDispatcherTest, WorkFromAnotherThreadRunsOnTheUserInterfaceThread) {
    QtUiDispatcher dispatcher;
    std::atomic<int> ran{0};
    std::thread::id uiThread = std::this_thread::get_id();
    bool allOnUiThread = true;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            dispatcher.Post([&] {
                allOnUiThread = allOnUiThread && std::this_thread::get_id() == uiThread;
                ++ran;
            });
        }
    });
    worker.join();
    EXPECT_EQ(ran, 0) << "queued, not run inside Post";
    EXPECT_TRUE(ProcessUntil([&] { return ran == 100; }));
    EXPECT_TRUE(allOnUiThread);
}

TEST(QtUiDispatcherTest, WorkForAGoneTargetIsDropped) {
    auto* target = new QObject;
    QtUiDispatcher dispatcher(target);
    int ran = 0;
    dispatcher.Post([&] { ++ran; });
    delete target;  // the queued call goes with it
    dispatcher.Post([&] { ++ran; });
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 0);
}

TEST(QtUiDispatcherTest, PostingWhileTheTargetGoesIsSafe) {
    for (int round = 0; round < 20; ++round) {
        auto* target = new QObject;
        QtUiDispatcher dispatcher(target);
        std::atomic<bool> stop{false};
        std::thread worker([&] {
            while (!stop) dispatcher.Post([] {});
        });
        QCoreApplication::processEvents();
        delete target;
        stop = true;
        worker.join();
        QCoreApplication::processEvents();
    }
    SUCCEED();
}

}  // namespace
}  // namespace orvel::platform

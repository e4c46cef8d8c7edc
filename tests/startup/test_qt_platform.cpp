#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
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

// Texts are plain with \r as line break; the style picks icon, buttons and
// default; an empty title shows the program's.
TEST(QtDialogsTest, StyleChoosesIconButtonsAndDefault) {
    struct Case {
        const char* text;
        int style;
        const char* title;
        const char* press;  // empty: Enter on the default button
        int answer;
        QMessageBox::Icon icon;
        qsizetype buttons;
    };
    const Case cases[] = {
        {"<b>first</b>\r\rsecond", vbCritical, "", "", vbOK, QMessageBox::Critical, 1},
        {"Close?", vbQuestion + vbYesNo + vbDefaultButton2, "Disconnect Server", "", vbNo,
         QMessageBox::Question, 2},
        {"Create?", vbQuestion + vbYesNo, "Create System File", "", vbYes, QMessageBox::Question,
         2},
        {"Create?", vbYesNo, "t", "No", vbNo, QMessageBox::NoIcon, 2},
        {"x", vbExclamation, "t", "", vbOK, QMessageBox::Warning, 1},
        {"x", vbInformation, "t", "", vbOK, QMessageBox::Information, 1},
    };
    QtDialogs dialogs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // Checks the box once it is up, then presses the button with that text.
        WhenModalShown([&c](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->buttons().size(), c.buttons);
            EXPECT_EQ(box->windowTitle(), *c.title != '\0' ? c.title : "Orvel Console");
            EXPECT_EQ(box->text(), QString(c.text).replace('\r', '\n'));
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            QAbstractButton* target = box->defaultButton();
            for (QAbstractButton* button : box->buttons()) {
                if (*c.press != '\0' && button->text().remove('&') == c.press) target = button;
            }
            target->click();
        });
        EXPECT_EQ(dialogs.MsgBox(c.text, c.style, c.title), c.answer);
    }
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran == 100; }, 10000));
    EXPECT_TRUE(allOnUiThread);
}

// Work queued for a target that goes is dropped with it, also while another
// thread is still posting (a use after free here is for the sanitizers).
TEST(QtUiDispatcherTest, WorkForAGoneTargetIsDropped) {
    for (int round = 0; round < 20; ++round) {
        auto* target = new QObject;
        QtUiDispatcher dispatcher(target);
        std::atomic<bool> stop{false};
        std::thread worker([&] {
            while (!stop) dispatcher.Post([] {});
        });
        QCoreApplication::processEvents();
        std::atomic<int> ran{0};
        dispatcher.Post([&] { ++ran; });
        delete target;
        stop = true;
        worker.join();
        dispatcher.Post([&] { ++ran; });
        QCoreApplication::processEvents();
        EXPECT_EQ(ran, 0);
    }
}

}  // namespace
}  // namespace orvel::platform

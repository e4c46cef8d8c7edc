// The main() of test programs whose windows are built without a display: it
// picks the offscreen platform unless one is set and makes the QApplication.
// Compiled into each such program (it is not part of the orvel_fakes library).

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>

// The window tests share one application object, on the offscreen platform.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

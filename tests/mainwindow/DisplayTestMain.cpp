// GoogleTest entry for the window tests that need a real X server: a private
// Xvfb for the run, and one QApplication on Qt's xcb platform talking to it.
// There is no window manager on it; the tests play that part themselves.
#include "WebServers.h"

#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // Declared before the application, so it outlives it.
    testsupport::XvfbDisplay display;
    qputenv("DISPLAY", QByteArray::fromStdString(display.Name()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

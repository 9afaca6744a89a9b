// Test entry shared by every suite, compiled into each one.
//
// A suite that does not draw (VELAR_TEST_SUITE_DRAWS 0) gets a QApplication on
// the offscreen platform whatever the environment holds, and forgets the X
// display, so that nothing in it can connect to the display (many processes
// opening one virtual display at once make some of them fail). A drawing suite
// creates its application on the display when there is one. No application is
// created while CTest only lists the tests at build time.
#include <QApplication>
#include <clocale>
#include <gtest/gtest.h>
#include <memory>

#ifndef VELAR_TEST_SUITE_DRAWS
#define VELAR_TEST_SUITE_DRAWS 0
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    std::unique_ptr<QApplication> app;
    if (!VELAR_TEST_SUITE_DRAWS) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        app = std::make_unique<QApplication>(argc, argv);
    } else if (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        app = std::make_unique<QApplication>(argc, argv);
    }
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}

// Test entry shared by every suite: a QApplication exists for the tests that
// need one, but not while CTest only lists the tests at build time (there may
// be no display then).
#include <QApplication>
#include <clocale>
#include <gtest/gtest.h>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    std::unique_ptr<QApplication> app;
    if (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        app = std::make_unique<QApplication>(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}

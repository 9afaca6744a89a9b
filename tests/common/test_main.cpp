// Test entry shared by every suite, compiled into each one.
//
// A suite of the libraries below the widgets (VELAR_TEST_SUITE_CORE 1) gets a
// QCoreApplication and links no GUI code. A suite that does not draw
// (VELAR_TEST_SUITE_DRAWS 0) gets a QApplication on the offscreen platform
// whatever the environment holds, and forgets the X display, so that nothing
// in it can connect to the display (many processes opening one virtual
// display at once make some of them fail). A drawing suite creates its
// application on the display when there is one, and skips every test with
// the reason when there is none. No application is created while CTest only
// lists the tests at build time.
//
// Every test process gets settings and data folders of its own: tests running
// side by side would otherwise read each other's settings (a hollowing wall, a
// printer, a recent file) from the one folder the test command gives them.
// Child processes a test starts inherit them and keep what the test gave them.
#ifndef VELAR_TEST_SUITE_CORE
#define VELAR_TEST_SUITE_CORE 0
#endif
#if VELAR_TEST_SUITE_CORE
#include <QCoreApplication>
#else
#include <QApplication>
#endif

#include <clocale>
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#ifndef VELAR_TEST_SUITE_DRAWS
#define VELAR_TEST_SUITE_DRAWS 0
#endif

namespace {
// Skips every test of a drawing suite started without a display.
class NoDisplay : public ::testing::Environment {
public:
    void SetUp() override { GTEST_SKIP() << "this suite draws with OpenGL and needs an X display (run it under xvfb-run)"; }
};

std::string& privateHome() {
    static std::string path;
    return path;
}
} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (!qEnvironmentVariableIsSet("VELAR_TEST_HOME")) {
        std::string pattern = (std::filesystem::temp_directory_path() / "velar-test-XXXXXX").string();
        if (::mkdtemp(pattern.data())) {
            privateHome() = pattern;
            // Settings objects that live until static destruction write their
            // files then, after main has returned: the folder goes last.
            std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(privateHome(), ignored);
            });
            qputenv("VELAR_TEST_HOME", pattern.c_str());
            qputenv("XDG_CONFIG_HOME", (pattern + "/config").c_str());
            qputenv("XDG_DATA_HOME", (pattern + "/data").c_str());
        }
    }
#if VELAR_TEST_SUITE_CORE
    QCoreApplication app(argc, argv);
#else
    std::unique_ptr<QApplication> app;
    if (!VELAR_TEST_SUITE_DRAWS) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        app = std::make_unique<QApplication>(argc, argv);
    } else if (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        ::testing::AddGlobalTestEnvironment(new NoDisplay);
    }
#endif
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}

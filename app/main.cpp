// The program's entry: the application, the main window, the data folder and
// the run's log with the system report, the memory check, then the event loop.
#include "app/Constants.h"
#include "app/DataFolders.h"
#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "app/Startup.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDateTime>
#include <clocale>

int main(int argc, char** argv) {
    shareHeapUnderAddressLimit();
    ignoreFileSizeSignal();
    QApplication app(argc, argv);
    // QApplication adopts the environment's locale; numbers in files and logs
    // must keep the C notation.
    std::setlocale(LC_NUMERIC, "C");
    initResources();

    MainWindow* window = MainWindow::instance();

    openRunLog(getCommonAppDataDir(), QDateTime::currentDateTime());
    writeSystemReport(platform::processorCount(), platform::totalPhysicalMemory());

    installMemoryCheck(hasEnoughMemory);
    window->setApplication(&app);
    window->show();
    return app.exec();
}

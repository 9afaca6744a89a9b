#include "app/Startup.h"
#include "app/Log.h"
#include "app/VlrBaseWidget.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(Startup, runLogIsCreatedInTheLogsFolderAndStartsWithTheSystemReport) {
    QTemporaryDir root;
    const QString data = root.path() + "/Norvane";
    const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 9));
    logStream().close();
    const QString path = openRunLog(data, start);
    EXPECT_EQ(path, data + "/Logs/2024_03_05_14_07_09.log");
    ASSERT_TRUE(logStream().isOpen());
    writeSystemReport(12, 17179869184ull); // 16 GiB
    logStream().close();

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("=============System info CPU & RAM================\n"
                                      "Number of processors: 12\n"
                                      "Physical RAM: 16\n"
                                      "===========================================\n"
                                      "\n"));
}

TEST(Startup, physicalMemoryIsReportedInGibibytesWithSixDigits) {
    EXPECT_EQ(physicalGiB(8ull << 30), 8.0);
    EXPECT_EQ(physicalGiB(17179869184ull), 16.0);
    EXPECT_NEAR(physicalGiB(17112760320ull), 15.9375, 1e-4);
}

TEST(Startup, panelsScaleByTheTextUnitCutTowardsZero) {
    struct Case {
        int base;
        int unit;
        int expected;
    };
    const Case cases[] = {{150, 13, 121}, {174, 13, 141}, {240, 20, 300}, {341, 20, 426}, {226, 16, 226}};
    for (const Case& c : cases)
        EXPECT_EQ(VlrBaseWidget::scaledToTextUnit(c.base, c.unit), c.expected) << c.base << "@" << c.unit;
}

} // namespace

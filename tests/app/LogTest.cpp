#include "app/Log.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

TEST(RunLog, writersProduceTheirExactLines) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/run.log";
    RunLog log;
    log.text("dropped before open", true); // lost, and must not block later writes
    ASSERT_TRUE(log.open(path.toStdString()));
    EXPECT_FALSE(log.open(path.toStdString())); // already open

    log.integer(5, "count", true);
    log.integer(5, nullptr, true);
    log.text("Number of processors: ", false);
    log.integer(8, nullptr, true);
    log.real(1234567.0, "v");
    log.real(0.5, nullptr);
    log.string(std::string("ab\0cd", 5), true);
    log.wstring(L"W\u00fcrfel \u03bc", true);
    const double p[3] = {1.5, -2.0, 1e-7};
    log.point(p, "p", true);
    log.close();

    EXPECT_EQ(readAll(path), QByteArray("count=5\n5\nNumber of processors: 8\nv=1.23457e+06\n0.5\nab\n") +
                                 QString::fromUtf8("Würfel μ\n").toUtf8() + QByteArray("p=1.5, -2, 1e-07\n"));
}

TEST(RunLog, aSecondOpenOfTheSameNameAppends) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/2024_03_05_14_07_09.log").toStdString();
    {
        RunLog first;
        ASSERT_TRUE(first.open(path));
        first.text("first run", true);
    }
    {
        RunLog second;
        ASSERT_TRUE(second.open(path));
        second.text("second run", true);
    }
    EXPECT_EQ(readAll(QString::fromStdString(path)), QByteArray("first run\nsecond run\n"));
}

TEST(RunLog, aPathWithNonAsciiCharactersIsWritten) {
    QTemporaryDir dir;
    const QString path = dir.path() + QString::fromUtf8("/Größe_μ.log");
    RunLog log;
    ASSERT_TRUE(log.open(path.toStdString()));
    log.wstring(L"\u00e9t\u00e9", true);
    log.close();
    EXPECT_EQ(readAll(path), QString::fromUtf8("été\n").toUtf8());
}

TEST(RunLog, manyThreadsWritingAtOnceKeepEveryLineWhole) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/threads.log";
    RunLog log;
    ASSERT_TRUE(log.open(path.toStdString()));
    constexpr int threads = 8;
    constexpr int lines = 2000;
    const std::string names[threads] = {"t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7"};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < lines; ++i) {
                if (i % 2)
                    log.integer(i, names[t].c_str(), true);
                else
                    log.wstring(L"w" + std::to_wstring(t) + L"=\u00b5" + std::to_wstring(i), true);
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    log.close();

    const QStringList all = QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(all.size(), threads * lines);
    const QRegularExpression pattern(QString::fromUtf8("^(t|w)(\\d)=(µ?)(\\d+)$"));
    std::vector<std::vector<int>> seen(threads, std::vector<int>(lines, 0));
    for (const QString& line : all) {
        const QRegularExpressionMatch m = pattern.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        const int t = m.captured(2).toInt();
        const int i = m.captured(4).toInt();
        ASSERT_LT(i, lines);
        EXPECT_EQ(m.captured(1) == "t", i % 2 == 1) << line.toStdString();
        ++seen[t][i];
    }
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < lines; ++i)
            EXPECT_EQ(seen[t][i], 1) << "thread " << t << " line " << i;
}

TEST(RunLog, globalWritersAreSilentUntilTheLogOpens) {
    // The program's log is opened at most once per process; CTest runs each
    // test in a process of its own.
    if (logStream().isOpen())
        GTEST_SKIP() << "the program log is open in this process";
    logText("nowhere", true);
    logString("lost", true);
    logWString(L"lost", true);
    logInt(1, "n", true);
    logDouble(2.0, "d");
    const double p[3] = {1, 2, 3};
    logPoint(p, "p", true);
    EXPECT_FALSE(logStream().isOpen());

    // Whatever was written before the open must not appear once the file is
    // there, and the global writers must reach it after the open.
    QTemporaryDir dir;
    const QString path = dir.path() + "/program.log";
    ASSERT_TRUE(logOpen(path.toStdString()));
    logText("opened", true);
    logInt(3, "n", true);
    logPoint(p, "p", true);
    logDouble(0.5, "d");
    logStream().close();
    EXPECT_EQ(readAll(path), QByteArray("opened\nn=3\np=1, 2, 3\nd=0.5\n"));
}

} // namespace

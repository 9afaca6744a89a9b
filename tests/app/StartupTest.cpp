#include "app/Startup.h"
#include "app/Log.h"
#include "app/Platform.h"
#include "app/VlrBaseWidget.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Under an address-space limit, threads that allocate take their thread's
// stack of the limit and no more: a block of 200 MiB still fits beside eight
// of them in 400 MiB. With a heap of its own per thread (64 MiB reserved
// each) it would not.
TEST(Startup, threadsUnderAnAddressLimitLeaveItForTheProgramsMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory fills the address space";
#endif
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{rlim_t(platform::mappedBytes() + (400ull << 20)), RLIM_INFINITY};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(100);
        shareHeapUnderAddressLimit();
        std::mutex mutex;
        std::condition_variable changed;
        int allocated = 0;
        bool end = false;
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                // Used, so that the compiler keeps the allocation.
                char* volatile mine = static_cast<char*>(std::malloc(1024));
                if (mine)
                    mine[0] = 1;
                std::unique_lock<std::mutex> lock(mutex);
                ++allocated;
                changed.notify_all();
                changed.wait(lock, [&] { return end; });
                std::free(mine);
            });
        void* volatile block = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return allocated == 8; });
            block = std::malloc(200u << 20);
            if (block)
                static_cast<char*>(block)[0] = 1;
            end = true;
        }
        changed.notify_all();
        for (std::thread& t : threads)
            t.join();
        _exit(block != nullptr ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the block did not fit, 100: no limit could be set";
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

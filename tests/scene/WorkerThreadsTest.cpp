// Workers whose jobs have ended give their threads back: a scene of many
// objects whose jobs nobody waits for keeps no thread stack per object.
#include "scene/ObjectCalcThread.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Thread stacks mapped in this process: an unjoined thread keeps its stack,
// a writable anonymous mapping right above an inaccessible guard. Other
// mappings (a sanitizer's per-thread room, malloc's arenas) are not counted.
int threadStackCount() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    int stacks = 0;
    qulonglong guardEnd = 0; // end of the inaccessible mapping just read, 0 for none
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5)
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        const qulonglong begin = range.value(0).toULongLong(nullptr, 16);
        const qulonglong end = range.value(1).toULongLong(nullptr, 16);
        const bool anonymous = fields.size() == 5;
        if (fields[1] == "rw-p" && anonymous && begin == guardEnd && end - begin >= (qulonglong(1) << 20))
            ++stacks;
        guardEnd = fields[1] == "---p" ? end : 0;
    }
    return stacks;
}

} // namespace

TEST(WorkerThreads, endedJobsKeepNoThreadStacks) {
    constexpr int kWorkers = 400;
    std::vector<std::unique_ptr<ObjectCalcThread>> workers;
    const int before = threadStackCount();
    std::atomic<int> ended{0};
    for (int i = 0; i < kWorkers; ++i) {
        workers.push_back(std::make_unique<ObjectCalcThread>());
        workers.back()->start([](const ObjectCalcThread&) {}, [&ended] { ++ended; });
    }
    // Every job has ended (its worker no longer runs), none was waited for.
    auto running = [&] {
        for (const auto& w : workers)
            if (w->isRunning())
                return true;
        return false;
    };
    while (ended.load() < kWorkers || running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // One more job, as the next object's import would start it.
    auto next = std::make_unique<ObjectCalcThread>();
    next->start([](const ObjectCalcThread&) {});
    next->waitForJob();
    EXPECT_LT(threadStackCount() - before, kWorkers / 4) << "ended workers still hold their threads";
    // A worker started again after its job ended runs the new job.
    std::atomic<bool> ran{false};
    workers.front()->start([&ran](const ObjectCalcThread&) { ran = true; });
    workers.front()->waitForJob();
    EXPECT_TRUE(ran.load());
}

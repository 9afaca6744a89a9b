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

// Memory mappings of this process; an unjoined thread keeps two (its stack and
// the guard page below it).
int mappingCount() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    return maps.readAll().count('\n');
}

} // namespace

TEST(WorkerThreads, endedJobsKeepNoThreadStacks) {
    constexpr int kWorkers = 400;
    std::vector<std::unique_ptr<ObjectCalcThread>> workers;
    const int before = mappingCount();
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
    EXPECT_LT(mappingCount() - before, kWorkers / 4) << "ended workers still hold their threads";
    // A worker started again after its job ended runs the new job.
    std::atomic<bool> ran{false};
    workers.front()->start([&ran](const ObjectCalcThread&) { ran = true; });
    workers.front()->waitForJob();
    EXPECT_TRUE(ran.load());
}

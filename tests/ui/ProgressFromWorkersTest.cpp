// Progress reported from four worker threads at once: the dialog shows, the
// workers never wait for the GUI thread, and the last -1 closes it.
#include "app/ProgressReport.h"
#include "ui/ProgressBar.h"
#include "SceneFixtures.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

TEST(ProgressFromWorkers, fourThreadsShowAndCloseTheDialogWithoutWaitingForTheGuiThread) {
    ProgressBar bar(nullptr);
    bar.setMaximum(100);
    bar.setMinimumDuration(0);
    setProgressCallback([&bar](int value, unsigned int code, const std::wstring& a, const std::wstring& b,
                               const std::wstring& c) {
        bar.updateProgress(value, ProgressText(code), QString::fromStdWString(a), QString::fromStdWString(b),
                           QString::fromStdWString(c));
    });
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([t, &finished] {
            const std::wstring name = L"part" + std::to_wstring(t);
            for (int v = 0; v <= 100; ++v)
                reportProgress(v, unsigned(ProgressText::ImportingObject), name);
            ++finished;
        });
    // The workers end while the GUI thread is not running its event loop: no
    // report waited for it.
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(finished.load(), 4);
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return bar.isVisible(); }, 5000));
    EXPECT_TRUE(bar.labelText().contains(QStringLiteral("Importing object...")));

    // Four workers finishing at once: the dialog closes at the next tick.
    workers.clear();
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([] { ProgressSink().finish(); });
    for (auto& w : workers)
        w.join();
    EXPECT_TRUE(scenefixtures::runEventsUntil([&] { return !bar.isVisible(); }, 5000));
    setProgressCallback(ProgressCallbackFunction());
}

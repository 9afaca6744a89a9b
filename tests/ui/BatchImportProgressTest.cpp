// Batches of three files imported through the main window's import button
// while every core is busy: each batch shows one progress that names its
// files, only rises, and closes once when the batch ends; no progress dialog
// is ever left on screen.
#include "MeshFixtures.h"
#include "SceneFixtures.h"
#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "scene/CommandManager.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "ui/FileDialogProvider.h"
#include "ui/MainWindow.h"
#include "ui/ProgressBar.h"
#include "ui/ProjectManager.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class BatchDialogs : public FileDialogProvider {
public:
    QStringList openFileNames(QWidget*, const QString&, const QString&, const QString&) override {
        return files;
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&, QString*) override {
        return QString();
    }
    QStringList files;
};

// Counts the dialog's shows and hides.
class VisibilityCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            ++shows;
        else if (event->type() == QEvent::Hide)
            ++hides;
        return false;
    }
    int shows = 0, hides = 0;
};

// Keeps every core busy until destroyed: the import's workers, the GUI thread
// and the dialog's timer then run in the orders a loaded machine produces.
class BusyMachine {
public:
    BusyMachine() {
        const int cores = std::max(2, QThread::idealThreadCount());
        for (int i = 0; i < cores; ++i)
            m_threads.emplace_back([this] {
                volatile unsigned long spin = 0;
                while (!m_stop.load(std::memory_order_relaxed))
                    spin = spin + 1;
            });
    }
    ~BusyMachine() {
        m_stop.store(true);
        for (auto& t : m_threads)
            t.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

// ThreadSanitizer slows the readers and the spinning helpers tens of times
// over; fewer rounds still cover every hand-over it checks.
#if defined(__SANITIZE_THREAD__)
constexpr int kRounds = 10;
#else
constexpr int kRounds = 50;
#endif

struct Report {
    int value;
    unsigned int code;
    std::wstring text;
};

TEST(BatchImportProgress, threeFileBatchesOnABusyMachineShowOneRisingProgressAndCloseOnce) {
    installMemoryCheck([](const uint64_t&) { return true; });
    MainWindow* w = MainWindow::instance();
    setSceneHost(w);
    BatchDialogs dialogs;
    w->setFileDialogProvider(&dialogs);
    w->projectManager()->resetProject();

    // Three files of different sizes, large enough for their reads to overlap,
    // and three tiny ones, read before the dialog has even been shown.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList large, tiny;
    const int stacks[] = {60, 90, 120};
    for (int i = 0; i < 3; ++i) {
        large << dir.filePath(QStringLiteral("part%1.stl").arg(i));
        ASSERT_TRUE(
            scenefixtures::writeBinaryStl(large.back(), meshfixtures::uvSphere(10.0 + i, 200, stacks[i])));
        tiny << dir.filePath(QStringLiteral("cube%1.stl").arg(i));
        ASSERT_TRUE(scenefixtures::writeBinaryStl(tiny.back(), meshfixtures::cube(10.0 + i)));
    }

    // Every report that reaches the dialog, recorded on its way there, and
    // every value the dialog's bar shows.
    std::mutex recordMutex;
    std::vector<Report> reports;
    const ProgressCallbackFunction toDialog = ProgressCallback;
    ASSERT_TRUE(toDialog);
    setProgressCallback([&](int value, unsigned int code, const std::wstring& a, const std::wstring& b,
                            const std::wstring& c) {
        {
            std::lock_guard<std::mutex> lock(recordMutex);
            reports.push_back({value, code, a});
        }
        toDialog(value, code, a, b, c);
    });
    ProgressBar* dialog = w->progressBar();
    VisibilityCounter visibility;
    dialog->installEventFilter(&visibility);
    std::vector<int> shown;
    QProgressBar* bar = dialog->findChild<QProgressBar*>();
    ASSERT_NE(bar, nullptr);
    const QMetaObject::Connection barWatch = QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
        if (dialog->isVisible() && v >= 0)
            shown.push_back(v);
    });

    {
        BusyMachine busy;
        for (int round = 0; round < kRounds; ++round) {
            for (const QStringList& files : {large, tiny}) {
                SCOPED_TRACE(QString("round %1: %2").arg(round).arg(files.front()).toStdString());
                {
                    std::lock_guard<std::mutex> lock(recordMutex);
                    reports.clear();
                }
                shown.clear();
                visibility.shows = visibility.hides = 0;
                dialogs.files = files;
                const size_t undoBefore = w->commandManager()->undoCount();

                w->toolButtons()[0]->click();
                ASSERT_TRUE(scenefixtures::runEventsUntil([&] {
                    return !ObjectTable::instance()->importsRunning() &&
                           w->commandManager()->undoCount() == undoBefore + 1;
                }));
                // A show queued late (a posted call, a zero timer) would happen
                // now; a dialog left open stays open.
                scenefixtures::runEventsUntil([] { return false; }, 40);
                ASSERT_FALSE(dialog->isVisible());
                EXPECT_EQ(ObjectTable::instance()->count(), 3);
                EXPECT_EQ(visibility.shows, 1);
                EXPECT_EQ(visibility.hides, 1);

                std::lock_guard<std::mutex> lock(recordMutex);
                ASSERT_FALSE(reports.empty());
                int last = -1;
                int closes = 0;
                for (const Report& r : reports) {
                    if (r.value >= 0) {
                        EXPECT_GE(r.value, last) << "the batch's progress went back";
                        last = r.value;
                    }
                    if (r.value == -1)
                        ++closes;
                    if (r.code == 3) {
                        const QString title = QString::fromStdWString(r.text);
                        for (const QString& file : files)
                            EXPECT_TRUE(title.contains(QFileInfo(file).fileName())) << title.toStdString();
                    }
                }
                EXPECT_EQ(closes, 1);
                EXPECT_EQ(reports.back().value, -1);
                for (size_t i = 1; i < shown.size(); ++i)
                    EXPECT_GE(shown[i], shown[i - 1]) << "the dialog's bar went back";

                // The next batch starts from an empty scene.
                w->projectManager()->resetProject();
            }
        }
    }
    QObject::disconnect(barWatch);
    dialog->removeEventFilter(&visibility);
    setProgressCallback(toDialog);
    w->setFileDialogProvider(nullptr);
}

} // namespace

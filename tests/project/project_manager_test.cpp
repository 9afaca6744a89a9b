// The project commands as the user meets them: the question to save before
// the scene is replaced, a failed save that must not let New or Open drop the
// scene, a failed open that leaves an empty untitled project with a warning,
// panels closed before any object is deleted, and no camera kept once the
// manager is gone.
#include "ProjectTestSupport.h"

#include "project/VlrProjectFileHandling.h"
#include "ui/ProjectManager.h"

#include "app/DataFolders.h"
#include "fileIo/ReplacementFile.h"

#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "scene/CameraState.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "view/ViewCamera.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <new>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace projecttest;

namespace {

class ProjectManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearScene();
        ASSERT_TRUE(dir.isValid());
        manager = std::make_unique<ProjectManager>();
        manager->setProjectName(ProjectManager::defaultProjectName());
        manager->setFileDialogs(
            [this](const QString&, const QString& start, const QString&) {
                suggested << start;
                return saveName;
            },
            [this](const QString&, const QString&, const QString&) { return openName; });
        manager->setWindowHooks(recordingHooks());
    }
    // The window's part, recorded: the messages shown and answered from
    // `answers`, the panels closed and the history cleared.
    ProjectManager::WindowHooks recordingHooks() {
        ProjectManager::WindowHooks hooks;
        hooks.closeSidePanels = [this] { objectsWhenPanelsClosed << ObjectTable::instance()->count(); };
        hooks.historyCleared = [this] { ++historyCleared; };
        hooks.messageBox = [this](const QString& text, int icon, int, int, const QString& informative,
                                  const QString&, quint32) {
            messages << text;
            informatives << informative;
            icons << icon;
            return answers.isEmpty() ? int(QMessageBox::Cancel) : answers.takeFirst();
        };
        return hooks;
    }
    void TearDown() override { clearScene(); }
    void addPart(const QString& name) {
        ObjectTable::instance()->addObject(makeObject(meshfixtures::cube(), name));
        ObjectTable::instance()->setModified(true);
    }

    QTemporaryDir dir;
    std::unique_ptr<ProjectManager> manager;
    QStringList messages, informatives, suggested;
    QList<int> icons, answers;
    QList<int> objectsWhenPanelsClosed;
    int historyCleared = 0;
    QString saveName, openName;
};

} // namespace

TEST_F(ProjectManagerTest, failedSaveStopsNewAndOpenAndKeepsTheScene) {
    EXPECT_EQ(manager->askToSave(), ProjectManager::GoOn) << "an empty scene asks nothing";
    EXPECT_TRUE(messages.isEmpty());
    addPart(QStringLiteral("part"));
    addPart(QStringLiteral("base"));

    // Yes, but the folder does not exist: the save fails, New stops.
    saveName = dir.filePath(QStringLiteral("missing/x.vpf"));
    answers = {QMessageBox::Yes};
    EXPECT_FALSE(manager->newProject());
    EXPECT_EQ(ObjectTable::instance()->count(), 2);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].contains(QStringLiteral("impossible to save")));
    EXPECT_EQ(informatives[1], QString::fromLatin1(fileIo::saveFailureText(fileIo::SaveFailure::FolderMissing)))
        << "the reason goes under the warning";
    EXPECT_EQ(icons[1], int(QMessageBox::Warning));
    EXPECT_TRUE(suggested.first().endsWith(QStringLiteral("/part_base.vpf"))) << suggested.first().toStdString();
    EXPECT_TRUE(manager->isNewProject());

    // Yes, then the dialog is cancelled: Open stops before reading anything.
    saveName.clear();
    openName = dir.filePath(QStringLiteral("other.vpf"));
    answers = {QMessageBox::Yes};
    EXPECT_EQ(manager->openProjectDialog(), 0);
    EXPECT_EQ(ObjectTable::instance()->count(), 2);
    EXPECT_TRUE(objectsWhenPanelsClosed.isEmpty());

    // Cancel keeps the window open; No lets it close.
    answers = {QMessageBox::Cancel};
    EXPECT_FALSE(manager->confirmClose());
    answers = {QMessageBox::No};
    EXPECT_TRUE(manager->confirmClose());

    // Yes with a name without extension: saved to that name with ".vpf".
    saveName = dir.filePath(QStringLiteral("kept"));
    answers = {QMessageBox::Yes};
    EXPECT_TRUE(manager->newProject());
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("kept.vpf"))));
    EXPECT_EQ(objectsWhenPanelsClosed, QList<int>({2})) << "panels close before the objects go";
    EXPECT_EQ(ObjectTable::instance()->count(), 0);
    EXPECT_EQ(manager->projectPath(), ProjectManager::defaultProjectName() + QStringLiteral(".vpf"));
    EXPECT_EQ(historyCleared, 1);
}

TEST_F(ProjectManagerTest, openReplacesTheSceneAndAFailedOpenLeavesAnEmptyUntitledProject) {
    addPart(QStringLiteral("first"));
    const QString good = dir.filePath(QStringLiteral("good.VPF"));
    saveName = good;
    ASSERT_EQ(manager->saveProject(true), 1);
    EXPECT_EQ(manager->projectPath(), good);
    EXPECT_FALSE(ObjectTable::instance()->isModified());

    // Saved and unchanged: opening asks nothing.
    addPart(QStringLiteral("second"));
    ObjectTable::instance()->setModified(false);
    manager->commandManager()->clear();
    openName = good;
    EXPECT_EQ(manager->openProjectDialog(), 1);
    EXPECT_TRUE(messages.isEmpty());
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    EXPECT_EQ(ObjectTable::instance()->objectAt(0)->name(), QStringLiteral("first"));
    EXPECT_FALSE(manager->isNewProject());

    // A damaged file: warning, empty scene, untitled new project.
    const QString bad = dir.filePath(QStringLiteral("bad.vpf"));
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(fileBytes(good).left(100));
    f.close();
    EXPECT_EQ(manager->openProject(bad), 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("bad.vpf")));
    EXPECT_EQ(ObjectTable::instance()->count(), 0);
    EXPECT_TRUE(manager->isNewProject());
    EXPECT_EQ(manager->projectPath(), ProjectManager::defaultProjectName() + QStringLiteral(".vpf"));

    // A file without the project extension is ignored without a message.
    QFile::copy(good, dir.filePath(QStringLiteral("x.zip")));
    EXPECT_EQ(manager->openProject(dir.filePath(QStringLiteral("x.zip"))), 0);
    EXPECT_EQ(messages.size(), 1);
}

// A project with an object beyond the coordinate limit opens without it, says
// so, and is saved as a new project: the file that still holds the object is
// not written over by a plain Save.
TEST_F(ProjectManagerTest, aProjectOpenedWithoutSomeObjectsIsSavedUnderANewName) {
    const QString old = dir.filePath(QStringLiteral("old.vpf"));
    writeArchive(
        old, {{QStringLiteral("VlrProDesc.xml"), descriptorEntry(2)},
              {QStringLiteral("ObjGeo/0.vsg"), geometryEntry(meshfixtures::cube(10.0))},
              {QStringLiteral("ObjGeo/1.vsg"), geometryEntry(meshfixtures::box({10, 10, 10}, {0, 2e6, 0}))}});
    const QByteArray before = fileBytes(old);
    EXPECT_EQ(manager->openProject(old), 1);
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("old.vpf")));
    EXPECT_TRUE(informatives[0].contains(QStringLiteral("'part1'"))) << informatives[0].toStdString();
    EXPECT_EQ(icons[0], int(QMessageBox::Warning));
    EXPECT_TRUE(manager->isNewProject());

    // Save asks where to; cancelled, nothing is written.
    saveName.clear();
    EXPECT_EQ(manager->saveProject(false), 0);
    EXPECT_EQ(suggested.size(), 1);
    EXPECT_EQ(fileBytes(old), before);
    // New asks about saving first.
    answers = {QMessageBox::No};
    EXPECT_TRUE(manager->newProject());
    EXPECT_EQ(messages.size(), 2);
    EXPECT_EQ(fileBytes(old), before);
}

TEST_F(ProjectManagerTest, saveDialogAsksAboutOverwritingTheNameWithItsExtension) {
    // The real dialog: a name typed without extension that exists with it.
    ProjectManager real;
    addPart(QStringLiteral("part"));
    const QString existing = dir.filePath(QStringLiteral("name.vpf"));
    QFile old(existing);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();

    QString question;
    int step = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && step == 0) {
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(dir.filePath(QStringLiteral("name")));
            step = 1;
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && step == 1) {
            question = box->text();
            step = 2;
            box->button(QMessageBox::Yes)->click();
        }
    });
    timer.start();
    EXPECT_EQ(real.saveProject(true), 1);
    timer.stop();
    EXPECT_TRUE(question.contains(QStringLiteral("name.vpf"))) << question.toStdString();
    EXPECT_EQ(real.projectPath(), existing);
    EXPECT_NE(fileBytes(existing), QByteArray("old"));
}

TEST_F(ProjectManagerTest, aPipeNamedLikeAProjectIsRefusedWithoutWaitingForAWriter) {
    const QString fifo = dir.filePath(QStringLiteral("pipe.vpf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    // Should an open wait for a writer, this one unblocks it after a while and
    // notes that it had to.
    std::atomic<bool> done{false}, hadToUnblock{false};
    std::thread unblocker([&] {
        for (int k = 0; k < 400 && !done; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (done)
            return;
        hadToUnblock = true;
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
        if (fd >= 0)
            ::close(fd);
    });
    const int direct = VlrProjectFileHandling::instance()->open(0, fifo, ObjectTable::instance());
    const int byManager = manager->openProject(fifo);
    done = true;
    unblocker.join();
    EXPECT_FALSE(hadToUnblock);
    EXPECT_EQ(direct, 2);
    EXPECT_EQ(byManager, 0);
    ASSERT_EQ(messages.size(), 0) << "no parent window: logged only";
    QWidget window;
    ProjectManager withWindow(&window);
    withWindow.setWindowHooks(recordingHooks());
    EXPECT_EQ(withWindow.openProject(fifo), 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], fileNotRegularMessage().arg(fifo));
}

TEST_F(ProjectManagerTest, aManagerGoneLeavesNoCameraBehindForLaterSaves) {
    // The manager goes with the window and its camera; the project handler,
    // which lives on, must not read that camera afterwards.
    ViewCamera camera;
    camera.zoom = 7;
    {
        ProjectManager attached;
        attached.attachView(&camera, {});
    }
    camera.zoom = 9;
    VlrProjectFileHandling* files = VlrProjectFileHandling::instance();
    ASSERT_TRUE(files->saveGLInfo());
    const QString path = dir.filePath(QStringLiteral("after.vpf"));
    ASSERT_EQ(files->save(path), 0);
    CameraState read;
    read.zoom = 0;
    files->setView([] { return CameraState(); }, [&read](const CameraState& s) { read = s; });
    const int opened = files->open(0, path, ObjectTable::instance());
    files->setView({}, {});
    ASSERT_EQ(opened, 0);
    EXPECT_GT(read.zoom, 0.0);
    EXPECT_NE(read.zoom, 9.0);
}

namespace {

// Writes a project archive entry by entry; an entry's text is given in
// pieces, so that an entry of hundreds of megabytes is never held whole.
class StreamedArchive {
public:
    explicit StreamedArchive(const QString& path) : zip_(path) {
        zip_.setUtf8Enabled(true);
        ok_ = zip_.open(QuaZip::mdCreate);
    }
    // piece(k) for k = 0 .. pieces - 1 make the entry's text.
    void add(const QString& name, int pieces, const std::function<QByteArray(int)>& piece) {
        QuaZipFile file(&zip_);
        ok_ = ok_ && file.open(QIODevice::WriteOnly, QuaZipNewInfo(name), nullptr, 0, Z_DEFLATED, 1);
        for (int k = 0; ok_ && k < pieces; ++k)
            ok_ = file.write(piece(k)) >= 0;
        file.close();
        ok_ = ok_ && file.getZipError() == UNZ_OK;
    }
    bool close() {
        zip_.close();
        return ok_ && zip_.getZipError() == UNZ_OK;
    }

private:
    QuaZip zip_;
    bool ok_ = false;
};

// The largest resident size of this process so far, in bytes.
uint64_t peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return uint64_t(usage.ru_maxrss) * 1024;
}

} // namespace

// Entries made to exhaust memory (elements nested twenty million deep, half a
// gigabyte of text, 200 MB of regions for a cube of twelve facets) are
// refused through File > Open Project without taking more than a few hundred
// megabytes, also under a 1.5 GB address-space limit, and the message says
// why when the reader can tell; an allocation that fails anyway is told as a
// lack of memory.
TEST_F(ProjectManagerTest, craftedProjectsAreRefusedWithinBoundedMemory) {
    const QByteArray open20M = QByteArray("<a>").repeated(1 << 16);
    const QByteArray text = QByteArray(1 << 20, 'x');
    const QByteArray regions1M =
        QByteArray("<AreaSupport AreaType=\"1\" AreaID=\"0\" VertexID=\"0\" NumConeShape=\"1\"/>\n")
            .repeated(16384);
    const struct {
        const char* name;
        bool nestedDescriptor;
        std::function<void(StreamedArchive&)> support;
        const char* reason;
    } cases[] = {
        {"nested support entry", false,
         [&](StreamedArchive& a) {
             a.add(QStringLiteral("Support/0.xml"), 306, [&](int k) {
                 return k == 0 ? QByteArray("<SupportGen><AreaList>") : open20M;
             });
         },
         "larger than any"},
        {"nested descriptor", true, {}, ""},
        {"text in a support entry", false,
         [&](StreamedArchive& a) {
             a.add(QStringLiteral("Support/0.xml"), 501, [&](int k) {
                 return k == 0 ? QByteArray("<SupportGen><General BaseType=\"1\"/>") : text;
             });
         },
         "larger than any"},
        {"regions beyond what the mesh carries", false,
         [&](StreamedArchive& a) {
             a.add(QStringLiteral("Support/0.xml"), 201,
                   [&](int k) { return k == 0 ? QByteArray("<SupportGen><AreaList>") : regions1M; });
         },
         "more regions"},
    };
    const QByteArray descriptor = projecttest::descriptorEntry(1, {12});
    const QByteArray geometry = projecttest::geometryEntry(meshfixtures::cube());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("crafted.vpf"));
        StreamedArchive archive(path);
        if (c.nestedDescriptor)
            archive.add(QStringLiteral("VlrProDesc.xml"), 306,
                        [&](int k) { return k == 0 ? QByteArray("<Project><Header>") : open20M; });
        else
            archive.add(QStringLiteral("VlrProDesc.xml"), 1, [&](int) { return descriptor; });
        archive.add(QStringLiteral("ObjGeo/0.vsg"), 1, [&](int) { return geometry; });
        if (c.support)
            c.support(archive);
        ASSERT_TRUE(archive.close());
        ASSERT_LT(QFileInfo(path).size(), 4 << 20);

        openName = path;
        messages.clear();
        informatives.clear();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const uint64_t before = peakResidentBytes();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
            // 1.5 GB beyond what the process has mapped (the mesh records'
            // reserved window among it).
            const rlim_t most = rlim_t(platform::mappedBytes() + 1500000ull * 1024);
            const rlimit limit{most, most};
            setrlimit(RLIMIT_AS, &limit);
#endif
            const int opened = manager->openProjectDialog();
            const bool refused = opened == 0 && ObjectTable::instance()->count() == 0 &&
                                 messages.size() == 1 && messages[0].contains(QStringLiteral("corrupted")) &&
                                 informatives[0].contains(QLatin1String(c.reason));
            _exit((refused ? 0 : 1) | (peakResidentBytes() - before < (600ull << 20) ? 0 : 2));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the open ended the program (signal " << WTERMSIG(status) << ")";
        EXPECT_EQ(WEXITSTATUS(status) & 1, 0) << "not refused as damaged";
        EXPECT_EQ(WEXITSTATUS(status) & 2, 0) << "took 600 MB or more";
    }

    // Whatever allocation fails while the project is read, the project is
    // refused as not enough memory and the program goes on.
    const QString path = dir.filePath(QStringLiteral("plain.vpf"));
    projecttest::writeArchive(path, {{QStringLiteral("VlrProDesc.xml"), descriptor},
                                     {QStringLiteral("ObjGeo/0.vsg"), geometry}});
    MemoryCheckFunction saved = MemoryCheckCallback;
    installMemoryCheck([](const uint64_t&) -> bool { throw std::bad_alloc(); });
    openName = path;
    messages.clear();
    EXPECT_EQ(manager->openProjectDialog(), 0);
    installMemoryCheck(saved);
    EXPECT_EQ(ObjectTable::instance()->count(), 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("not enough memory"))) << messages[0].toStdString();
    EXPECT_EQ(manager->openProjectDialog(), 1) << "the same project opens once memory allows";
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
}

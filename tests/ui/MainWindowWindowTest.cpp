// The main window as a user meets it, headless: menus, tool buttons, the
// "Quick Action" menu, recent objects, keys, saving objects as STL and the
// window settings across a restart. File dialogs are answered by a stand-in
// provider, message boxes by a timer.
#include "MeshFixtures.h"
#include "MessageBoxAnswer.h"
#include "app/MemoryCheck.h"
#include "app/Settings.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "tests/fileIo/StlFixtures.h"
#include "ui/FileDialogProvider.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

class StandInDialogs : public FileDialogProvider {
public:
    QStringList openFileNames(QWidget*, const QString& caption, const QString& dir,
                              const QString& filter) override {
        ++opens;
        lastCaption = caption;
        lastDir = dir;
        lastFilter = filter;
        return openAnswer;
    }
    QString saveFileName(QWidget*, const QString& caption, const QString& dir, const QString& filter,
                         QString* selectedFilter) override {
        ++saves;
        lastCaption = caption;
        lastDir = dir;
        lastFilter = filter;
        if (selectedFilter && !chosenFilter.isEmpty())
            *selectedFilter = chosenFilter;
        return saveAnswer;
    }
    int opens = 0, saves = 0;
    QStringList openAnswer;
    QString saveAnswer, chosenFilter, lastCaption, lastDir, lastFilter;
};

const QString kBinary = "STL-STereoLithography File Format, Binary (*.stl)";
const QString kAscii = "STL-STereoLithography File Format, ASCII (*.stl)";
const QString kAll = "All available formats (*.*)";

class MainWindowUse : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
        w = MainWindow::instance();
        w->setFileDialogProvider(&dialogs);
        ObjectTable::instance()->deleteAllObjects();
    }
    void TearDown() override {
        ObjectTable::instance()->deleteAllObjects();
        w->setFileDialogProvider(nullptr);
    }
    ObjectEx* addCube(double size) {
        auto* obj = new ObjectEx();
        meshfixtures::fillMesh(*obj, meshfixtures::cube(size));
        obj->setLoaded(true);
        ObjectTable::instance()->addObject(obj);
        return obj;
    }
    void releaseKey(int key, Qt::KeyboardModifiers m = Qt::NoModifier, bool autoRepeat = false) {
        QKeyEvent press(QEvent::KeyPress, key, m, QString(), autoRepeat);
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, key, m, QString(), autoRepeat);
        QApplication::sendEvent(w, &release);
    }
    // A binary STL cube of 20 mm.
    QString writeCube(const QString& name) {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        const auto facets = meshfixtures::toStlFacets(meshfixtures::cube(20));
        f.write(QByteArray(80, ' '));
        const quint32 n = static_cast<quint32>(facets.size());
        f.write(reinterpret_cast<const char*>(&n), 4);
        for (const auto& facet : facets) {
            f.write(reinterpret_cast<const char*>(facet.data()), 48);
            f.write("\0\0", 2);
        }
        return path;
    }

    MainWindow* w = nullptr;
    StandInDialogs dialogs;
    QTemporaryDir dir;
};

// Runs events until done() holds; false after ten seconds.
bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QAction* findAction(QWidget* root, const QString& name) {
    return root->findChild<QAction*>(name);
}

TEST_F(MainWindowUse, menusButtonsAndQuickActionAreThoseOfTheWindow) {
    struct MenuRow {
        const char* name;
        const char* text;
        const char* shortcut;
        bool checkable, checked;
    };
    const MenuRow menus[] = {
        {"_menuFileNew", "New Project", "", false, false},
        {"_menuFileOpenProj", "Open Project", "", false, false},
        {"_menuFileSaveProj", "Save Project", "", false, false},
        {"_menuFileSaveAsProj", "Save Project As", "", false, false},
        {"_menuFileRecentProj", "Recent Project", "", false, false},
        {"_menuFilePreferences", "Preferences...", "", false, false},
        {"_menuEditUndo", "Undo", "Ctrl+Z", false, false},
        {"_menuEditRedo", "Redo", "Ctrl+Y", false, false},
        {"_menuViewWireframe", "Wireframe", "", true, false},
        {"_manuViewTransparent", "Transparent", "", true, false},
        {"_menuViewTransparentSupport", "Transparent Support", "", true, true},
        {"_menuHelpAbout", "About Velar3D", "", false, false},
    };
    for (const MenuRow& r : menus) {
        SCOPED_TRACE(r.name);
        QAction* a = findAction(w, r.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), r.text);
        EXPECT_EQ(a->shortcut().toString(), r.shortcut);
        EXPECT_EQ(a->isCheckable(), r.checkable);
        EXPECT_EQ(a->isChecked(), r.checked);
    }
    EXPECT_FALSE(findAction(w, "_menuFileRecentProj")->isVisible());
    EXPECT_FALSE(findAction(w, "_menuEditUndo")->isEnabled());
    EXPECT_FALSE(findAction(w, "_menuEditRedo")->isEnabled());

    struct ButtonRow {
        const char* name;
        const char* toolTip;
        bool checkable;
    };
    const ButtonRow buttons[] = {
        {"_btnImportObject", "Open STL file", false},
        {"_btnTranslate", "Orientate", true},
        {"_btnRescale", "Scale", true},
        {"_btnHollow", "Create Hollow and Holes", true},
        {"_btnGenerateSupport", "Generate Support", true},
        {"_btnExport", "Save to STL file", true},
        {"_btnExportGcode", "Export to gcode", true},
        {"_btnZSliceView", "Z Slice view", true},
    };
    ASSERT_EQ(w->toolButtons().size(), 8u);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(buttons[i].name);
        QAbstractButton* b = w->toolButtons()[i];
        EXPECT_EQ(b->objectName(), buttons[i].name);
        EXPECT_EQ(b->toolTip(), buttons[i].toolTip);
        EXPECT_TRUE(b->text().isEmpty());
        EXPECT_EQ(b->isCheckable(), buttons[i].checkable);
        EXPECT_EQ(b->geometry(), QRect(5, 150 + i * 48, 44, 44));
        EXPECT_EQ(b->iconSize(), QSize(32, 32));
        EXPECT_FALSE(b->icon().isNull());
        EXPECT_EQ(b->parentWidget(), static_cast<QWidget*>(w->glFrame()));
    }
    EXPECT_TRUE(w->toolButtons()[0]->isEnabled());
    EXPECT_TRUE(w->toolButtons()[5]->isEnabled());

    // "Quick Action": header, separator, entries with their status tips.
    const QList<QAction*> entries = w->contextMenu()->actions();
    ASSERT_EQ(entries.size(), 8);
    EXPECT_EQ(entries[0]->text(), "Quick Action");
    EXPECT_FALSE(entries[0]->isEnabled());
    EXPECT_TRUE(entries[0]->font().bold());
    EXPECT_TRUE(entries[1]->isSeparator());
    const char* texts[] = {"Rotate/Move",     "Auto Support",   "Import Objects",
                           "Unload Selected", "Recent Objects", "Save"};
    const char* tips[] = {"Rotate and move selected object",
                          "Generate support",
                          "Import Objects",
                          "Unload Selected Object",
                          "",
                          "Save Selected Object"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(entries[i + 2]->text(), texts[i]);
        EXPECT_EQ(entries[i + 2]->statusTip(), tips[i]);
        EXPECT_FALSE(entries[i + 2]->icon().isNull()) << texts[i];
    }
    EXPECT_EQ(entries[6]->menu(), w->recentObjectsMenu());
}

TEST_F(MainWindowUse, recentObjectsKeepFiveByPositionWithoutDuplicates) {
    QStringList files;
    for (const char* n : {"a.stl", "b.stl", "c.stl", "d.stl", "e.stl", "f.stl"})
        files << writeCube(n);
    w->addRecentObjects({files[0]});
    const QString otherSpelling = QDir(dir.path()).filePath("./a.stl");
    w->addRecentObjects({otherSpelling}); // the same file
    EXPECT_EQ(w->recentObjects().first(), otherSpelling);
    EXPECT_FALSE(w->recentObjects().contains(files[0]));
    w->addRecentObjects(files);
    EXPECT_EQ(w->recentObjects(), QStringList({files[5], files[4], files[3], files[2], files[1]}));
    QStringList stored;
    getPathList(PATH_RECENT_OBJECTS, &stored);
    EXPECT_EQ(stored, w->recentObjects());

    // An unreadable entry gets no action; the others keep their positions.
    QFile::remove(files[4]);
    w->addRecentObjects({}); // rebuilds the menu
    QStringList shown;
    for (QAction* a : w->recentObjectsMenu()->actions())
        shown << a->text();
    EXPECT_EQ(shown, QStringList({"1 - f.stl", "3 - d.stl", "4 - c.stl", "5 - b.stl"}));

    // Choosing an entry imports that file: the index travels in the action's data.
    QAction* third = w->recentObjectsMenu()->actions()[1];
    EXPECT_EQ(third->data().toInt(), 2);
    third->trigger();
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
    EXPECT_EQ(ObjectTable::instance()->objectAt(0)->name(), "d");
    EXPECT_EQ(w->recentObjects().first(), files[3]);
    EXPECT_EQ(getPathSetting(PATH_IMPORTED_OBJECT, ""), files[3]);
    ASSERT_TRUE(waitUntil([] { return !ObjectTable::instance()->importsRunning(); }));

    // A file that went away after the menu was built is reported, not imported.
    QAction* last = w->recentObjectsMenu()->actions().last();
    const int before = ObjectTable::instance()->count();
    QFile::remove(files[1]);
    QString text;
    answerNextMessageBox(QMessageBox::Ok, nullptr, &text);
    last->trigger();
    EXPECT_TRUE(text.contains("b.stl"));
    EXPECT_EQ(ObjectTable::instance()->count(), before);
}

TEST_F(MainWindowUse, keysActOnReleaseAndIgnoreAutoRepeat) {
    // L: the import dialog with its caption, start path and filter.
    dialogs.openAnswer.clear();
    releaseKey(Qt::Key_L);
    EXPECT_EQ(dialogs.opens, 1);
    EXPECT_EQ(dialogs.lastCaption, "Import file(s)");
    EXPECT_EQ(dialogs.lastFilter, "All available formats (*.stl );;STL-STereoLithography files (*.stl);;");
    releaseKey(Qt::Key_L, Qt::NoModifier, true); // X11's auto-repeat release
    EXPECT_EQ(dialogs.opens, 1);
    // S: the save dialog for the selection; a chord with Control or Alt is no
    // shortcut, even when Control is let go before the key: the modifiers are
    // those the key went down with. A release without its press does nothing.
    addCube(10)->setSelected(true);
    releaseKey(Qt::Key_S, Qt::ControlModifier);
    releaseKey(Qt::Key_S, Qt::AltModifier);
    for (int key : {Qt::Key_S, Qt::Key_L}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(w, &release);
        QApplication::sendEvent(w, &release);
    }
    EXPECT_EQ(dialogs.saves, 0);
    EXPECT_EQ(dialogs.opens, 1);
    releaseKey(Qt::Key_S);
    EXPECT_EQ(dialogs.saves, 1);
    EXPECT_EQ(dialogs.lastCaption, "Save Object");
    EXPECT_EQ(dialogs.lastFilter, kBinary + ";;" + kAscii + ";;" + kAll);
    // T toggles "Transparent Support" and the list's flag.
    QAction* ts = findAction(w, "_menuViewTransparentSupport");
    const bool before = ts->isChecked();
    releaseKey(Qt::Key_T);
    EXPECT_NE(ts->isChecked(), before);
    EXPECT_EQ(ObjectTable::instance()->transparentSupport(), ts->isChecked());
    releaseKey(Qt::Key_T);
    EXPECT_EQ(ts->isChecked(), before);
    // V frames the scene: a changed camera comes back to the default view.
    MainGLWidget* view = w->glWidget();
    view->camera().zoom = 123.0;
    releaseKey(Qt::Key_V);
    EXPECT_NE(view->zoom(), 123.0);
    // A and D act only while the support panel is open: not before it was
    // ever opened, not after it was closed.
    releaseKey(Qt::Key_A);
    releaseKey(Qt::Key_D);
    EXPECT_EQ(view->mode(), ViewMode::Select);
    QAbstractButton* support = w->toolButtons()[4];
    support->click();
    releaseKey(Qt::Key_A);
    EXPECT_EQ(view->mode(), ViewMode::AddSupport);
    // Esc puts the view back into selection mode.
    releaseKey(Qt::Key_Escape);
    EXPECT_EQ(view->mode(), ViewMode::Select);
    support->click();
    ASSERT_FALSE(support->isChecked());
    releaseKey(Qt::Key_A);
    releaseKey(Qt::Key_D);
    EXPECT_EQ(view->mode(), ViewMode::Select);
    // Esc ends the Orientate tool as its Close button does.
    QAbstractButton* orientate = w->toolButtons()[1];
    orientate->click();
    ASSERT_EQ(view->mode(), ViewMode::Transform);
    releaseKey(Qt::Key_Escape);
    EXPECT_FALSE(orientate->isChecked());
    EXPECT_EQ(w->activeToolButton(), nullptr);
    for (QWidget* panel : w->glFrame()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(panel == view || panel->isHidden() || qobject_cast<QAbstractButton*>(panel))
            << panel->objectName().toStdString();
    // Letters typed into a panel's number box are typing, Ctrl+A there
    // selects its text: no shortcut acts.
    QAbstractButton* scale = w->toolButtons()[2];
    scale->click();
    auto* factor = w->glFrame()->findChild<QDoubleSpinBox*>("_dsbFactorX");
    ASSERT_NE(factor, nullptr);
    QApplication::setActiveWindow(w);
    factor->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), factor);
    const int opens = dialogs.opens;
    for (int key : {Qt::Key_A, Qt::Key_L, Qt::Key_S})
        for (Qt::KeyboardModifiers m : {Qt::KeyboardModifiers(Qt::ControlModifier), Qt::KeyboardModifiers()})
            releaseKey(key, m);
    EXPECT_EQ(view->mode(), ViewMode::Select);
    EXPECT_EQ(dialogs.opens, opens);
    EXPECT_EQ(dialogs.saves, 1);
    scale->click();
}

TEST_F(MainWindowUse, importButtonImportsAndRemembersTheFile) {
    const QString cube = writeCube("cube.stl");
    dialogs.openAnswer = QStringList{cube};
    w->toolButtons()[0]->click();
    ASSERT_TRUE(waitUntil(
        [this] { return !ObjectTable::instance()->importsRunning() && w->commandManager()->canUndo(); }));
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    EXPECT_EQ(ObjectTable::instance()->objectAt(0)->facetCount(), 12u);
    EXPECT_EQ(w->lastImportPath(), cube);
    EXPECT_EQ(w->recentObjects().first(), cube);
    EXPECT_TRUE(findAction(w, "_menuEditUndo")->isEnabled());
    // The next dialog starts in the last import's folder.
    dialogs.openAnswer.clear();
    w->toolButtons()[0]->click();
    EXPECT_EQ(dialogs.lastDir, QFileInfo(cube).absolutePath());
    // Unload Selected removes it through an undoable command.
    QAction* unload = w->contextMenu()->actions()[5];
    unload->trigger();
    EXPECT_EQ(ObjectTable::instance()->count(), 0);
    findAction(w, "_menuEditUndo")->trigger();
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
}

TEST_F(MainWindowUse, saveWritesBinaryOrAsciiAndAFailureKeepsTheOldFile) {
    addCube(10);
    // A name typed without an extension gets the STL one, whichever filter.
    const QString path = dir.filePath("out.stl");
    struct Row {
        QString filter;
        bool binary;
    };
    for (const Row& r : {Row{kBinary, true}, Row{kAscii, false}, Row{kAll, false}}) {
        SCOPED_TRACE(r.filter.toStdString());
        QFile::remove(path);
        dialogs.saveAnswer = dir.filePath("out");
        dialogs.chosenFilter = r.filter;
        w->toolButtons()[5]->click();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (r.binary)
            EXPECT_EQ(bytes.size(), 84 + 50 * 12);
        else
            EXPECT_TRUE(bytes.startsWith("solid"));
        EXPECT_EQ(bytes.count("facet normal"), r.binary ? 0 : 12);
    }
    EXPECT_EQ(getPathSetting(PATH_SAVED_OBJECTS, ""), QFileInfo(path).absolutePath());
    EXPECT_EQ(dialogs.lastDir, QFileInfo(path).absolutePath() + "/");

    // A save that cannot be completed says so and leaves the old file alone.
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    const QByteArray before = old.readAll();
    old.close();
    dialogs.chosenFilter = kBinary;
    QString text;
    answerNextMessageBox(QMessageBox::Ok, nullptr, &text);
    {
        stlfixtures::FileSizeLimit limit(200);
        w->saveObjectsDialog(true);
    }
    EXPECT_TRUE(text.contains("out.stl"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), before);
    // A cancelled dialog writes nothing.
    dialogs.saveAnswer.clear();
    const int saves = dialogs.saves;
    w->saveObjectsDialog(true);
    EXPECT_EQ(dialogs.saves, saves + 1);
}

TEST_F(MainWindowUse, rightClickOpensQuickAction) {
    QString title;
    bool shown = false;
    QTimer::singleShot(50, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            shown = popup == w->contextMenu();
            popup->close();
        }
    });
    MainGLWidget* view = w->glWidget();
    QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, QPoint(101, 100));
    EXPECT_TRUE(shown);
}

// The restart: processes of this test binary with their own settings folder
// write the settings as a previous run would, build the window from them and
// close it, and read back what the close wrote.
TEST(MainWindowRestart, windowSettingsSurviveARestart) {
    const QString phase = qEnvironmentVariable("VELAR_RESTART_PHASE");
    const QString import = qEnvironmentVariable("VELAR_RESTART_IMPORT");
    if (phase == "write") {
        setGeneralSize(GENERAL_MAIN_WINDOW_SIZE, QSize(700, 500));
        setDialogPosition(DIALOG_POS_MAIN_WINDOW, QPoint(-20000, -20000)); // a monitor that is gone
        setBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, false);
        setPathSetting(PATH_IMPORTED_OBJECT, import);
        setPathList(PATH_RECENT_OBJECTS, {import});
        setGeneralInt(GENERAL_CURRENT_PRINTER, 2); // a custom printer without its build size
        return;
    }
    if (phase == "window") {
        MainWindow* w = MainWindow::instance();
        EXPECT_EQ(w->size(), QSize(700, 500));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_TRUE(screen.intersects(QRect(w->pos(), QSize(100, 50))));
        EXPECT_FALSE(w->isMaximized());
        EXPECT_EQ(w->lastImportPath(), import);
        EXPECT_EQ(w->recentObjects(), QStringList{import});
        double volume[3];
        w->glWidget()->getBuildVolume(volume);
        EXPECT_EQ(std::vector<double>(volume, volume + 3), (std::vector<double>{130, 130, 180}));
        w->resize(640, 480);
        w->close();
        return;
    }
    if (phase == "after") {
        EXPECT_EQ(getGeneralSize(GENERAL_MAIN_WINDOW_SIZE), QSize(640, 480));
        EXPECT_FALSE(getBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, true));
        EXPECT_EQ(getPathSetting(PATH_IMPORTED_OBJECT, ""), import);
        QStringList recent;
        getPathList(PATH_RECENT_OBJECTS, &recent);
        EXPECT_EQ(recent, QStringList{import});
        // The missing build size was written with its defaults.
        EXPECT_TRUE(hasGeneralSetting(GENERAL_CURRENT_BUILD_SIZE_X));
        EXPECT_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, 0), 130.0);
        EXPECT_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Y, 0), 130.0);
        EXPECT_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Z, 0), 180.0);
        return;
    }
    QTemporaryDir config;
    const QString file = config.filePath("last.stl");
    QFile(file).open(QIODevice::WriteOnly);
    for (const char* step : {"write", "window", "after"}) {
        SCOPED_TRACE(step);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("VELAR_RESTART_PHASE", step);
        env.insert("VELAR_RESTART_IMPORT", file);
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=MainWindowRestart.windowSettingsSurviveARestart"});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray out = child.readAllStandardOutput();
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
    }
}

} // namespace

// The main window's project, export and hollowing entries, headless: project
// files through the File menu with stand-in file dialogs, the question to save
// when the window closes, and the panels behind the Hollow and Export buttons.
#include "MeshFixtures.h"
#include "MessageBoxAnswer.h"
#include "SceneFixtures.h"
#include "app/MemoryCheck.h"
#include "export/ExportDlg.h"
#include "export/GcodeExport.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"
#include "src/Features/lcm/HollowDlg.h"
#include "ui/FileDialogProvider.h"
#include "ui/MainWindow.h"
#include "ui/ProgressBar.h"
#include "ui/ProjectManager.h"
#include "view/MainGLWidget.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFrame>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Answers every file dialog with a fixed name and counts the questions.
class FixedAnswerDialogs : public FileDialogProvider {
public:
    QStringList openFileNames(QWidget*, const QString&, const QString&, const QString&) override {
        ++opens;
        return answer.isEmpty() ? QStringList() : QStringList{answer};
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&, QString*) override {
        ++saves;
        return answer;
    }
    QString answer;
    int opens = 0, saves = 0;
};

class MainWindowWiring : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
        w = MainWindow::instance();
        // Another suite in the same process may have left its own host.
        setSceneHost(w);
        w->setFileDialogProvider(&dialogs);
        w->projectManager()->resetProject();
    }
    void TearDown() override {
        w->projectManager()->resetProject();
        w->setFileDialogProvider(nullptr);
    }
    ObjectEx* addObject(const meshfixtures::TriangleSoup& soup, const QString& name) {
        auto* obj = new ObjectEx();
        meshfixtures::fillMesh(*obj, soup);
        obj->setName(name);
        obj->rebuildOctree();
        obj->setLoaded(true);
        ObjectTable::instance()->addObject(obj);
        return obj;
    }
    void trigger(const char* action) {
        QAction* a = w->findChild<QAction*>(action);
        ASSERT_NE(a, nullptr);
        ASSERT_TRUE(a->isEnabled());
        a->trigger();
        QCoreApplication::processEvents();
    }
    // Name, triangle and vertex counts of the scene, in list order.
    static std::vector<std::tuple<QString, uint32_t, uint32_t>> sceneSummary() {
        std::vector<std::tuple<QString, uint32_t, uint32_t>> out;
        for (const ObjectEx* o : ObjectTable::instance()->objects())
            out.emplace_back(o->name(), o->triangleCount(), o->vertexCount());
        return out;
    }

    MainWindow* w = nullptr;
    FixedAnswerDialogs dialogs;
    QTemporaryDir dir;
};

// Save, New and Open through the File menu give back the scene that was saved;
// Undo and Redo follow the project manager's history.
TEST_F(MainWindowWiring, projectMenuRoundTripsTheScene) {
    ObjectTable* table = ObjectTable::instance();
    EXPECT_EQ(w->commandManager(), w->projectManager()->commandManager());
    addObject(meshfixtures::cube(20.0), "cube");
    addObject(meshfixtures::icosphere(8.0, 2, {40.0, 0.0, 10.0}), "ball");
    const auto saved = sceneSummary();
    ASSERT_EQ(saved.size(), 2u);

    // A new project asks for a name (the stand-in gives one without ".vpf").
    const QString path = dir.filePath("scene.vpf");
    dialogs.answer = dir.filePath("scene");
    trigger("_menuFileSaveProj");
    EXPECT_EQ(dialogs.saves, 1);
    ASSERT_TRUE(QFileInfo(path).size() > 0);
    EXPECT_EQ(w->projectManager()->projectPath(), path);
    EXPECT_FALSE(w->projectManager()->isNewProject());
    // Saved and unchanged: Save writes again without a dialog.
    trigger("_menuFileSaveProj");
    EXPECT_EQ(dialogs.saves, 1);

    // The slice preview stays open through New and Open (its worker pauses
    // while the scene is replaced).
    QAbstractButton* slice = w->toolButtons()[7];
    slice->click();
    ASSERT_TRUE(slice->isChecked());

    // A change that can be undone, then New: nothing was changed since the
    // save except by a command, so New asks; No discards.
    for (ObjectEx* o : table->objects())
        o->setSelected(o == table->objects().front());
    ASSERT_TRUE(w->pushCommand(new UnloadObjectCmd(-1), false));
    EXPECT_TRUE(w->findChild<QAction*>("_menuEditUndo")->isEnabled());
    QString asked;
    answerNextMessageBox(QMessageBox::No, nullptr, &asked);
    trigger("_menuFileNew");
    EXPECT_EQ(asked, "Would you like to save the project changes?");
    EXPECT_EQ(table->count(), 0);
    EXPECT_FALSE(w->findChild<QAction*>("_menuEditUndo")->isEnabled());
    EXPECT_FALSE(w->findChild<QAction*>("_menuEditRedo")->isEnabled());
    EXPECT_TRUE(w->projectManager()->isNewProject());

    // Open gives back the saved scene (both objects: the unload came after the save).
    dialogs.answer = path;
    trigger("_menuFileOpenProj");
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return table->count() == 2 && !table->importsRunning(); }));
    EXPECT_EQ(sceneSummary(), saved);
    EXPECT_EQ(w->projectManager()->projectPath(), path);
    EXPECT_FALSE(w->progressBar()->isVisible());
    EXPECT_TRUE(slice->isChecked());
    slice->click();

    // An opened object scales as an imported one: the factors are relative to
    // the size it had when it entered the scene, and an Apply that changes
    // nothing is no step of the history.
    ObjectEx* cube = table->objects().front();
    table->selectAll(false);
    cube->setSelected(true);
    QAbstractButton* scale = w->toolButtons()[2];
    scale->click();
    auto* factorX = w->glFrame()->findChild<QDoubleSpinBox*>("_dsbFactorX");
    auto* sizeX = w->glFrame()->findChild<QDoubleSpinBox*>("_dsbXSize");
    ASSERT_TRUE(factorX && sizeX);
    EXPECT_TRUE(factorX->isEnabled());
    EXPECT_EQ(factorX->value(), 100.0);
    EXPECT_EQ(sizeX->value(), 20.0);
    const std::size_t steps = w->commandManager()->undoCount();
    QPushButton* apply = w->glFrame()->findChild<QPushButton*>("_btnApply");
    apply->click();
    EXPECT_EQ(w->commandManager()->undoCount(), steps);
    factorX->setValue(300.0);
    apply->click();
    EXPECT_EQ(w->commandManager()->undoCount(), steps + 1);
    double lo[3], hi[3];
    ASSERT_TRUE(cube->readBox(lo, hi));
    EXPECT_NEAR(hi[2] - lo[2], 60.0, 1e-9);
    EXPECT_EQ(factorX->value(), 300.0);
    scale->click();

    // Save As writes a second file with the same scene.
    const QString copy = dir.filePath("copy.vpf");
    dialogs.answer = copy;
    trigger("_menuFileSaveAsProj");
    EXPECT_EQ(dialogs.saves, 2);
    EXPECT_TRUE(QFileInfo(copy).size() > 0);
    EXPECT_EQ(w->projectManager()->projectPath(), copy);
}

// Closing the window with unsaved changes asks: Cancel keeps the window and
// the scene, Yes saves into the project's file and closes, No closes without
// saving; an unchanged project closes without a question. New Project asks
// the same. No answer leaves the progress dialog on the screen (it would
// block the window and keep the program from ending), and the dialog named
// the project it saved.
TEST_F(MainWindowWiring, closingWithUnsavedChangesAsks) {
    ObjectTable* table = ObjectTable::instance();
    addObject(meshfixtures::cube(10.0), "first");
    const QString path = dir.filePath("close.vpf");
    dialogs.answer = path;
    trigger("_menuFileSaveProj");
    ASSERT_TRUE(QFileInfo::exists(path));
    const qint64 oneObject = QFileInfo(path).size();

    struct Row {
        QMessageBox::StandardButton answer;
        bool closes;
        bool saved; // the file then holds the second object
    };
    const Row rows[] = {
        {QMessageBox::Cancel, false, false},
        {QMessageBox::No, true, false},
        {QMessageBox::Yes, true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.answer));
        // A second object, as an import brings it (which marks the scene changed).
        if (table->count() < 2)
            addObject(meshfixtures::cube(5.0, {30, 0, 0}), "second");
        table->setModified(true);
        w->show();
        QString asked;
        answerNextMessageBox(r.answer, nullptr, &asked);
        EXPECT_EQ(w->close(), r.closes);
        EXPECT_EQ(asked, "Would you like to save the project changes?");
        EXPECT_EQ(w->isVisible(), !r.closes);
        EXPECT_FALSE(w->progressBar()->isVisible());
        EXPECT_EQ(table->count(), 2);
        EXPECT_EQ(QFileInfo(path).size() > oneObject, r.saved);
    }
    EXPECT_TRUE(w->progressBar()->labelText().contains("[close.vpf]"))
        << w->progressBar()->labelText().toStdString();
    // Saved by Yes: nothing left to ask.
    EXPECT_FALSE(table->isModified());
    w->show();
    EXPECT_TRUE(w->close());

    // New Project answered Yes saves, empties the scene and leaves no dialog.
    w->show();
    addObject(meshfixtures::cube(5.0, {-30, 0, 0}), "third");
    table->setModified(true);
    const qint64 twoObjects = QFileInfo(path).size();
    answerNextMessageBox(QMessageBox::Yes, nullptr, nullptr);
    trigger("_menuFileNew");
    EXPECT_GT(QFileInfo(path).size(), twoObjects);
    EXPECT_EQ(table->count(), 0);
    EXPECT_FALSE(w->progressBar()->isVisible());
}

// The Hollow and Export buttons open their panels over the view; at most one
// panel button is checked; the hollowing panel lets go of its object before
// the object leaves the list.
TEST_F(MainWindowWiring, hollowAndExportButtonsOpenTheirPanels) {
    QAbstractButton* hollow = w->toolButtons()[3];
    QAbstractButton* scale = w->toolButtons()[2];
    QAbstractButton* gcode = w->toolButtons()[6];
    for (QAbstractButton* b : w->toolButtons())
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();

    // Export: the lists come from the application folder's profiles.
    gcode->click();
    auto* exportDlg = w->findChild<ExportDlg*>();
    ASSERT_NE(exportDlg, nullptr);
    EXPECT_EQ(exportDlg->parentWidget(), static_cast<QWidget*>(w->glFrame()));
    EXPECT_FALSE(exportDlg->isHidden());
    EXPECT_TRUE(gcode->isChecked());
    EXPECT_EQ(w->activeToolButton(), gcode);
    EXPECT_GE(exportDlg->profileCombo()->count(), 1);
    EXPECT_GE(exportDlg->calibrationCombo()->count(), 2);
    EXPECT_EQ(exportDlg->calibrationCombo()->itemText(0), "None");
    // Another panel button closes it and unchecks its button.
    scale->click();
    EXPECT_TRUE(exportDlg->isHidden());
    EXPECT_FALSE(gcode->isChecked());
    EXPECT_TRUE(scale->isChecked());
    gcode->click();
    EXPECT_FALSE(scale->isChecked());
    EXPECT_FALSE(exportDlg->isHidden());
    // A run with nothing to export is refused; the progress dialog has lost Cancel all the same.
    ASSERT_EQ(ObjectTable::instance()->count(), 0);
    answerNextMessageBox(QMessageBox::Ok, nullptr, nullptr);
    EXPECT_FALSE(exportDlg->exportTo(dir.filePath("none.gcode")));
    // A run that hangs is stopped by the progress dialog's Cancel; the
    // previous G-code stays.
    addObject(meshfixtures::cube(10.0), "cube");
    const QString slicerPath = dir.filePath("hangingSlicer");
    {
        QFile script(slicerPath);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec sleep 30\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    const QByteArray oldSlicer = qgetenv("VELAR_CURAENGINE");
    qputenv("VELAR_CURAENGINE", QFile::encodeName(slicerPath));
    const QString target = dir.filePath("kept.gcode");
    {
        QFile previous(target);
        ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
        previous.write("previous G-code\n");
    }
    ASSERT_TRUE(exportDlg->exportTo(target));
    ASSERT_TRUE(exportDlg->exporter()->isRunning());
    const QList<QPushButton*> cancel = w->progressBar()->findChildren<QPushButton*>();
    ASSERT_EQ(cancel.size(), 1);
    cancel[0]->click();
    for (int i = 0; i < 200 && exportDlg->exporter()->isRunning(); ++i)
        QTest::qWait(10);
    qputenv("VELAR_CURAENGINE", oldSlicer);
    EXPECT_FALSE(exportDlg->exporter()->isRunning());
    EXPECT_EQ(exportDlg->exporter()->lastResult().message.toStdString(), "The export was cancelled.");
    {
        QFile kept(target);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("previous G-code\n"));
    }
    ObjectTable::instance()->deleteAllObjects();
    // The started run closed the panel and unchecked its button.
    EXPECT_FALSE(gcode->isChecked());
    EXPECT_TRUE(exportDlg->isHidden());
    EXPECT_EQ(w->activeToolButton(), nullptr);

    // Hollow with nothing selected: told, unchecked, no panel shown.
    QString told;
    answerNextMessageBox(QMessageBox::Ok, nullptr, &told);
    hollow->click();
    EXPECT_EQ(told, "There aren't any object were selected! \nPlease select one object to do Hollow!");
    EXPECT_FALSE(hollow->isChecked());
    EXPECT_EQ(HollowDlg::ifShown(w->findChild<HollowDlg*>()), nullptr);

    // With one object: the panel holds it; the view places holes (PlaceHoles) while
    // "Make Holes" is checked (only the panel's first opening), else idles (8).
    ObjectEx* cube = addObject(meshfixtures::cube(20.0), "cube");
    cube->setSelected(true);
    gcode->click();
    hollow->click();
    auto* hollowDlg = w->findChild<HollowDlg*>();
    ASSERT_NE(hollowDlg, nullptr);
    EXPECT_EQ(hollowDlg->parentWidget(), static_cast<QWidget*>(w->glFrame()));
    EXPECT_FALSE(hollowDlg->isHidden());
    EXPECT_TRUE(exportDlg->isHidden());
    EXPECT_FALSE(gcode->isChecked());
    EXPECT_TRUE(hollow->isChecked());
    EXPECT_EQ(w->activeToolButton(), hollow);
    EXPECT_EQ(hollowDlg->object(), cube);
    auto* makeHoles = hollowDlg->findChild<QCheckBox*>("_checkMakeHoles");
    ASSERT_NE(makeHoles, nullptr);
    EXPECT_EQ(w->glWidget()->mode(), makeHoles->isChecked() ? ViewMode::PlaceHoles : ViewMode::Hollowing);
    makeHoles->click();
    EXPECT_EQ(w->glWidget()->mode(), makeHoles->isChecked() ? ViewMode::PlaceHoles : ViewMode::Hollowing);
    // Rotate/Move from the context menu closes the panel as its button would;
    // the Hollow button then opens it again and ends the transform tool.
    w->cmdContextRotateMove();
    EXPECT_FALSE(hollow->isChecked());
    EXPECT_TRUE(hollowDlg->isHidden());
    EXPECT_EQ(w->activeToolButton(), w->toolButtons()[1]);
    hollow->click();
    EXPECT_TRUE(hollow->isChecked());
    EXPECT_FALSE(hollowDlg->isHidden());
    EXPECT_FALSE(w->toolButtons()[1]->isChecked());
    EXPECT_EQ(w->activeToolButton(), hollow);
    EXPECT_EQ(hollowDlg->object(), cube);
    // The button again closes it, view back to selecting.
    hollow->click();
    EXPECT_TRUE(hollowDlg->isHidden());
    EXPECT_EQ(w->glWidget()->mode(), ViewMode::Select);
    EXPECT_EQ(w->activeToolButton(), nullptr);

    // Unloading the panel's object (a command) closes the panel first; so does New.
    struct Leave {
        const char* how;
        std::function<void()> run;
    };
    const Leave leaves[] = {
        {"unload", [&] { ASSERT_TRUE(w->pushCommand(new UnloadObjectCmd(-1), false)); }},
        {"undo import", [&] { w->menuEditUndo(); }},
        {"new project", [&] {
             answerNextMessageBox(QMessageBox::No, nullptr, nullptr);
             trigger("_menuFileNew");
         }},
    };
    for (const Leave& leave : leaves) {
        SCOPED_TRACE(leave.how);
        ObjectEx* obj = addObject(meshfixtures::cube(20.0), "leaving");
        ASSERT_TRUE(w->pushCommand(new ImportObjectCmd({obj}), false));
        for (ObjectEx* o : ObjectTable::instance()->objects())
            o->setSelected(o == obj);
        hollow->click();
        ASSERT_FALSE(hollowDlg->isHidden());
        ASSERT_EQ(hollowDlg->object(), obj);
        leave.run();
        EXPECT_TRUE(hollowDlg->isHidden());
        EXPECT_FALSE(hollow->isChecked());
        EXPECT_EQ(hollowDlg->object(), nullptr);
        EXPECT_EQ(w->activeToolButton(), nullptr);
    }
}

// The hollowing panel's Ok through the window: one undoable command replaces
// the object by a hollowed copy (smaller volume, an inner shell), the panel
// closes and lets go; Undo and Redo swap the two objects.
TEST_F(MainWindowWiring, hollowOkIsOneUndoableReplacement) {
    ObjectTable* table = ObjectTable::instance();
    ObjectEx* cube = addObject(meshfixtures::cube(20.0), "cube");
    ASSERT_TRUE(w->pushCommand(new ImportObjectCmd({cube}), false));
    cube->setSelected(true);
    QAbstractButton* hollow = w->toolButtons()[3];
    hollow->click();
    auto* panel = w->findChild<HollowDlg*>();
    ASSERT_NE(panel, nullptr);
    ASSERT_FALSE(panel->isHidden());
    const std::size_t commands = w->commandManager()->undoCount();
    auto* ok = panel->findChild<QPushButton*>("_btnOk");
    ASSERT_NE(ok, nullptr);
    // Without a drain hole the cavity traps resin: the user is told.
    QString told;
    answerNextMessageBox(QMessageBox::Ok, nullptr, &told);
    ok->click();
    EXPECT_TRUE(told.startsWith("1 cavity has no drain hole and traps resin")) << told.toStdString();
    EXPECT_EQ(w->commandManager()->undoCount(), commands + 1);
    EXPECT_TRUE(panel->isHidden());
    EXPECT_FALSE(hollow->isChecked());
    EXPECT_EQ(w->activeToolButton(), nullptr);
    ASSERT_EQ(table->count(), 1);
    ObjectEx* hollowed = table->objects().front();
    EXPECT_NE(hollowed, cube);
    EXPECT_GT(hollowed->triangleCount(), cube->triangleCount());
    EXPECT_TRUE(table->isModified());

    w->menuEditUndo();
    ASSERT_EQ(table->count(), 1);
    EXPECT_EQ(table->objects().front(), cube);
    EXPECT_EQ(cube->triangleCount(), 12u);
    w->menuEditRedo();
    ASSERT_EQ(table->count(), 1);
    EXPECT_EQ(table->objects().front(), hollowed);
}

} // namespace

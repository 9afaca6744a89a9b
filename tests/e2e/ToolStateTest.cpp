// The tools and panels of the real main window under the virtual X server, as
// a user drives them: whatever closes, switches or covers a tool leaves the
// window in the state the remaining tool implies (one panel, its button alone
// checked, the view's mode and manipulator to match, no preview left on an
// object and no command pushed for an abandoned move); the manipulator
// follows every change of the selection and the object list; the build
// volume of the chosen printer is the one objects are placed on; the file
// dialogs start where their kind was last used.
#include "Road.h"
#include "SceneFixtures.h"

#include "app/Settings.h"
#include "export/ExportDlg.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/OrientateDlg.h"
#include "scene/ScaleDlg.h"
#include "scene/SceneCommands.h"
#include "src/Features/lcm/HollowContext.h"
#include "src/Features/lcm/HollowDlg.h"
#include "topolib/Matrix4D.h"
#include "ui/MainWindow.h"
#include "ui/SupportDlg.h"
#include "view/MainGLWidget.h"
#include "view/Manipulator.h"
#include "view/ZSliceDlg.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>

namespace {

// Tool buttons by their place in the window.
enum Tool {
    Import = 0,
    Orientate = 1,
    Scale = 2,
    Hollow = 3,
    Support = 4,
    Save = 5,
    Gcode = 6,
    SliceView = 7
};

class ToolState : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qApp)
            GTEST_SKIP() << "no display";
        ASSERT_TRUE(dir.isValid());
        road = std::make_unique<road::Road>(dir.path());
        cubePath = dir.filePath("cube.stl");
        ASSERT_TRUE(scenefixtures::writeBinaryStl(cubePath, meshfixtures::cube(20.0)));
    }
    void start() {
        ASSERT_TRUE(road->start());
        w = road->window;
        view = w->glWidget();
    }
    // The Import button with the cube chosen; waits until it is placed.
    ObjectEx* importCube() {
        ObjectTable* table = ObjectTable::instance();
        const int before = table->count();
        road->dialogs.openAnswer = QStringList{cubePath};
        button(Import)->click();
        const bool placed = scenefixtures::runEventsUntil(
            [&] {
                return table->count() == before + 1 && !table->importsRunning() &&
                       table->objects().back()->isReady();
            },
            60000);
        if (!placed)
            return nullptr;
        ObjectEx* obj = table->objects().back();
        obj->waitForJobs();
        QCoreApplication::processEvents();
        return obj;
    }
    QAbstractButton* button(Tool t) const { return w->toolButtons()[t]; }
    TransformHandle* handle() const { return dynamic_cast<TransformHandle*>(view->manipulator()); }
    std::size_t commands() const { return w->commandManager()->undoCount(); }
    QAction* quickAction(const QString& text) const {
        for (QAction* a : w->contextMenu()->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }
    std::array<double, 6> box(const ObjectEx* o) const {
        double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
        o->waitForBoxJobs();
        o->readBox(lo, hi);
        return {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
    }
    static bool isIdentity(const topolib::Matrix4D& m) {
        for (int i = 0; i < 16; ++i)
            if (std::fabs(m[std::size_t(i)] - (i % 5 == 0 ? 1.0 : 0.0)) > 1e-12)
                return false;
        return true;
    }

    // A top view of the cube at a zoom where the manipulator's parts are easy
    // to hit.
    void lookFromAbove(const ObjectEx* o) {
        const auto b = box(o);
        const double c[3] = {(b[0] + b[3]) / 2, (b[1] + b[4]) / 2, (b[2] + b[5]) / 2};
        view->setZoom(3.0);
        view->setRenderCenter(c);
        view->setStandardView(6);
        view->updateGL();
        QCoreApplication::processEvents();
    }
    QPoint screenOf(double x, double y, double z) const {
        const double p[3] = {x, y, z};
        int s[2];
        view->projectToScreen(p, s);
        return QPoint(s[0], s[1]);
    }
    // The middle of the manipulator's + X arrow.
    QPoint xArrow(const ObjectEx* o) const {
        const auto b = box(o);
        return screenOf((b[0] + b[3]) / 2 + 115.0 / view->zoom(), (b[1] + b[4]) / 2, (b[2] + b[5]) / 2);
    }
    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton b, Qt::MouseButtons held,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, pos, b, held, mods);
        QApplication::sendEvent(view, &e);
    }
    // The part of the manipulator under pos, as hovering it finds it.
    int partAt(QPoint pos) {
        view->updateGL();
        mouse(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
        return handle() ? handle()->hoveredPart() : -1;
    }
    // A left drag from a to b, released with mods (Control opens number entry).
    void drag(QPoint a, QPoint b, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        partAt(a);
        mouse(QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
        for (int k = 1; k <= 5; ++k)
            mouse(QEvent::MouseMove, a + (b - a) * k / 5, Qt::NoButton, Qt::LeftButton, mods);
        mouse(QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton, mods);
        QCoreApplication::processEvents();
    }
    void click(QPoint p) { drag(p, p); }
    void typeKey(int key, const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(w, &release);
    }

    // The window shows exactly the tool of `open` (none for -1): its panel
    // alone, its button alone checked and active, the view's mode and
    // manipulator to match, no number entry waiting.
    void expectOnlyTool(int open) {
        const std::pair<Tool, QWidget*> panels[] = {{Orientate, w->findChild<OrientateDlg*>()},
                                                    {Scale, w->findChild<ScaleDlg*>()},
                                                    {Hollow, w->findChild<HollowDlg*>()},
                                                    {Support, w->findChild<SupportDlg*>()},
                                                    {Gcode, w->findChild<ExportDlg*>()}};
        for (const auto& p : panels) {
            SCOPED_TRACE(p.first);
            EXPECT_EQ(button(p.first)->isChecked(), p.first == open);
            if (p.second) {
                EXPECT_EQ(p.second->isVisible(), p.first == open);
            }
        }
        EXPECT_FALSE(button(Save)->isChecked());
        EXPECT_EQ(w->activeToolButton(), open >= 0 ? button(Tool(open)) : nullptr);
        EXPECT_EQ(view->mode() == ViewMode::Transform, open == Orientate);
        // Without a tool of its own the view selects: clicks and rectangles work.
        if (open != Orientate && open != Hollow) {
            EXPECT_EQ(view->mode(), ViewMode::Select);
        }
        EXPECT_EQ(view->manipulatorShown(), open == Orientate);
        if (view->manipulator()) {
            EXPECT_EQ(view->manipulator()->operation, 0);
            EXPECT_FALSE(view->manipulator()->numberEntry);
        }
    }

    QTemporaryDir dir;
    std::unique_ptr<road::Road> road;
    QString cubePath;
    MainWindow* w = nullptr;
    MainGLWidget* view = nullptr;
};

// A move typed after a Control release and then left open goes with the tool:
// closing it, switching to another tool, Save and the Quick Action entries
// leave the cube where it is, drawn there, with no command; a later press
// pushes nothing for it either. Undo then undoes only the move before it.
TEST_F(ToolState, anAbandonedTypedMoveLeavesNoPreviewAndNoCommand) {
    start();
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    lookFromAbove(cube);
    click(screenOf((box(cube)[0] + box(cube)[3]) / 2, (box(cube)[1] + box(cube)[4]) / 2, box(cube)[5]));
    ASSERT_TRUE(cube->isSelected());
    const auto placed = box(cube);

    struct Leave {
        const char* how;
        int openAfter; // the tool open afterwards
        std::function<void()> run;
    };
    const Leave leaves[] = {
        {"Orientate button", -1, [&] { button(Orientate)->click(); }},
        {"Scale button", Scale, [&] { button(Scale)->click(); }},
        {"Save button", -1,
         [&] {
             road->dialogs.saveAnswer.clear();
             button(Save)->click();
         }},
        {"Quick Action Rotate/Move", Orientate, [&] { quickAction("Rotate/Move")->trigger(); }},
        {"Quick Action Save", -1,
         [&] {
             road->dialogs.saveAnswer.clear();
             quickAction("Save")->trigger();
         }},
    };
    for (const Leave& leave : leaves) {
        SCOPED_TRACE(leave.how);
        if (!button(Orientate)->isChecked())
            button(Orientate)->click();
        ASSERT_EQ(view->mode(), ViewMode::Transform);
        ASSERT_EQ(partAt(xArrow(cube)), 1);
        const std::size_t before = commands();
        drag(xArrow(cube), xArrow(cube) + QPoint(25, 0), Qt::ControlModifier);
        ASSERT_TRUE(view->manipulator()->numberEntry);
        typeKey(Qt::Key_2, "2");
        ASSERT_FALSE(isIdentity(cube->transform())); // the cube is drawn moved

        leave.run();
        QCoreApplication::processEvents();
        expectOnlyTool(leave.openAfter);
        EXPECT_TRUE(isIdentity(cube->transform()));
        EXPECT_EQ(commands(), before);
        EXPECT_EQ(box(cube), placed);

        // The next press on the empty platform pushes nothing.
        if (!button(Orientate)->isChecked())
            button(Orientate)->click();
        const std::size_t after = commands();
        click(screenOf(placed[3] + 30, placed[4] + 30, 0));
        EXPECT_EQ(commands(), after);
        EXPECT_EQ(box(cube), placed);
        // The click deselected the cube: select it again.
        click(screenOf((placed[0] + placed[3]) / 2, (placed[1] + placed[4]) / 2, placed[5]));
        ASSERT_TRUE(cube->isSelected());
    }

    // Undo with a typed move open undoes the move before it, and only that.
    if (!button(Orientate)->isChecked())
        button(Orientate)->click();
    const std::size_t before = commands();
    drag(xArrow(cube), xArrow(cube) + QPoint(30, 0));
    ASSERT_EQ(commands(), before + 1);
    const auto moved = box(cube);
    ASSERT_NE(moved, placed);
    drag(xArrow(cube), xArrow(cube) + QPoint(25, 0), Qt::ControlModifier);
    ASSERT_TRUE(view->manipulator()->numberEntry);
    typeKey(Qt::Key_2, "2");
    w->findChild<QAction*>("_menuEditUndo")->trigger();
    EXPECT_EQ(commands(), before);
    EXPECT_EQ(box(cube), placed);
    EXPECT_TRUE(isIdentity(cube->transform()));
    EXPECT_FALSE(view->manipulator()->numberEntry);
    w->findChild<QAction*>("_menuEditRedo")->trigger();
    EXPECT_EQ(commands(), before + 1);
    EXPECT_EQ(box(cube), moved);
    EXPECT_TRUE(road->messages.isEmpty()) << road->messages.join(" | ").toStdString();
}

// One panel at a time: a tool opened by its button or from Quick Action
// closes the open one as that one's button would; Save and a panel's close
// button close every tool. The slice preview is no such tool and stays.
TEST_F(ToolState, openingAToolClosesTheOpenOneAsItsButtonWould) {
    start();
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    cube->setSelected(true);
    w->updateSelectionBox();
    // The slice preview stays open beside every tool.
    w->toolButtons()[7]->click();
    QWidget* slicePanel = w->findChild<ZSliceDlg*>();
    ASSERT_TRUE(slicePanel && slicePanel->isVisible());
    const auto closeButton = [&](QWidget* panel) { return panel->findChild<QPushButton*>("_btnClose"); };
    struct Step {
        const char* how;
        int openAfter;
        std::function<void()> run;
    };
    const Step steps[] = {
        {"Support button", Support, [&] { button(Support)->click(); }},
        {"Quick Action Rotate/Move over Support", Orientate, [&] { quickAction("Rotate/Move")->trigger(); }},
        {"Quick Action Auto Support over Orientate", Support,
         [&] { quickAction("Auto Support")->trigger(); }},
        {"Scale button over Support", Scale, [&] { button(Scale)->click(); }},
        {"Quick Action Rotate/Move over Scale", Orientate, [&] { quickAction("Rotate/Move")->trigger(); }},
        {"G-code button over Orientate", Gcode, [&] { button(Gcode)->click(); }},
        {"Quick Action Auto Support over G-code", Support, [&] { quickAction("Auto Support")->trigger(); }},
        {"Orientate button over Support", Orientate, [&] { button(Orientate)->click(); }},
        {"Hollow button over Orientate", Hollow, [&] { button(Hollow)->click(); }},
        {"Quick Action Rotate/Move over Hollow", Orientate, [&] { quickAction("Rotate/Move")->trigger(); }},
        {"Save over Orientate", -1,
         [&] {
             road->dialogs.saveAnswer.clear();
             button(Save)->click();
         }},
        {"Quick Action Rotate/Move", Orientate, [&] { quickAction("Rotate/Move")->trigger(); }},
        {"Quick Action Save over Orientate", -1,
         [&] {
             road->dialogs.saveAnswer.clear();
             quickAction("Save")->trigger();
         }},
        {"Orientate button", Orientate, [&] { button(Orientate)->click(); }},
        {"the orientation panel's close button", -1,
         [&] { closeButton(w->findChild<OrientateDlg*>())->click(); }},
        {"Scale button", Scale, [&] { button(Scale)->click(); }},
        {"the scale panel's close button", -1, [&] { closeButton(w->findChild<ScaleDlg*>())->click(); }},
        {"Support button", Support, [&] { button(Support)->click(); }},
        {"the support panel's close button", -1, [&] { closeButton(w->findChild<SupportDlg*>())->click(); }},
        {"Hollow button", Hollow, [&] { button(Hollow)->click(); }},
        {"the hollowing panel's Cancel", -1,
         [&] { w->findChild<HollowDlg*>()->findChild<QPushButton*>("_btnCancel")->click(); }},
        {"Hollow button again", Hollow, [&] { button(Hollow)->click(); }},
        {"the hollowing panel's Ok", -1,
         [&] {
             w->findChild<HollowDlg*>()->findChild<QPushButton*>("_btnOk")->click();
             // Hollowed without a drain hole: the window says the cavity traps resin.
             EXPECT_EQ(road->messages.size(), 1);
             road->messages.clear();
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.how);
        const std::size_t before = commands();
        step.run();
        QCoreApplication::processEvents();
        expectOnlyTool(step.openAfter);
        // Only Auto Support and the hollowing's Ok do something to the scene.
        if (!QString(step.how).contains("Auto Support") && !QString(step.how).contains("Ok")) {
            EXPECT_EQ(commands(), before);
        }
    }
    EXPECT_TRUE(w->toolButtons()[7]->isChecked());
    EXPECT_TRUE(slicePanel->isVisible());
    EXPECT_TRUE(road->messages.isEmpty()) << road->messages.join(" | ").toStdString();
}

// The manipulator sits on what is selected after every change of the list:
// after Unload it is gone (a drag where it was pushes nothing), after Undo it
// is back on the restored cube, after undoing and redoing the import too.
TEST_F(ToolState, manipulatorFollowsUnloadUndoAndRedo) {
    start();
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    lookFromAbove(cube);
    cube->setSelected(true);
    button(Orientate)->click();
    ASSERT_EQ(partAt(xArrow(cube)), 1);
    const QPoint arrow = xArrow(cube);
    const auto placed = box(cube);
    ASSERT_EQ(commands(), 1u);

    quickAction("Unload Selected")->trigger();
    ASSERT_EQ(ObjectTable::instance()->count(), 0);
    ASSERT_EQ(commands(), 2u);
    EXPECT_EQ(partAt(arrow), 0);
    drag(arrow, arrow + QPoint(40, 0));
    EXPECT_EQ(commands(), 2u);

    w->findChild<QAction*>("_menuEditUndo")->trigger(); // the cube is back, selected
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    EXPECT_EQ(partAt(arrow), 1);
    w->findChild<QAction*>("_menuEditUndo")->trigger(); // the import undone
    ASSERT_EQ(ObjectTable::instance()->count(), 0);
    EXPECT_EQ(partAt(arrow), 0);
    w->findChild<QAction*>("_menuEditRedo")->trigger(); // imported again
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    EXPECT_EQ(partAt(arrow), 1);

    // Its arrow moves the cube: one command, in whole millimetres along X.
    drag(arrow, arrow + QPoint(30, 0));
    EXPECT_EQ(commands(), 2u);
    const auto moved = box(cube);
    EXPECT_GT(moved[0] - placed[0], 1.0);
    EXPECT_EQ(moved[1], placed[1]);
    // ... and stays on it.
    EXPECT_EQ(partAt(xArrow(cube)), 1);
    EXPECT_TRUE(road->messages.isEmpty()) << road->messages.join(" | ").toStdString();
}

// Save with nothing selected says so, asks for no file and writes nothing.
TEST_F(ToolState, savingWithNothingSelectedSaysSoAndWritesNothing) {
    start();
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    cube->setSelected(false);
    const QString target = dir.filePath("nothing.stl");
    road->dialogs.saveAnswer = target;
    road->dialogs.lastCaption.clear();
    button(Save)->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(road->messages, QStringList{"No object is selected. Select the objects to save first."});
    EXPECT_TRUE(road->dialogs.lastCaption.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(target));
    expectOnlyTool(-1);
    // With the cube selected the same button writes it.
    cube->setSelected(true);
    button(Save)->click();
    EXPECT_EQ(road->dialogs.lastCaption, "Save Object");
    EXPECT_GT(QFileInfo(target).size(), 84);
}

// A settings file that names only the printer (Tarn 200) gives its 200 x 200
// x 250 mm volume to the view, to the placement of an import, to Center and
// to Fit To Platform.
TEST_F(ToolState, thePrinterChosenAloneGivesEveryoneItsBuildVolume) {
    // The road started with no setting at all.
    setGeneralInt(GENERAL_CURRENT_PRINTER, 1);
    start();
    double volume[3];
    view->getBuildVolume(volume);
    EXPECT_EQ(std::vector<double>(volume, volume + 3), (std::vector<double>{200, 200, 250}));

    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    auto centre = [&] {
        const auto b = box(cube);
        return std::array<double, 2>{(b[0] + b[3]) / 2, (b[1] + b[4]) / 2};
    };
    EXPECT_EQ(centre(), (std::array<double, 2>{100, 100}));
    cube->setSelected(true);
    ASSERT_TRUE(w->pushCommand(
        new TranslateCmd(TranslateCmd::ByOffset, std::array<double, 3>{-40, 25, 0}.data()), true));
    button(Orientate)->click();
    w->findChild<OrientateDlg*>()->findChild<QPushButton*>("_btnCenter")->click();
    EXPECT_EQ(centre(), (std::array<double, 2>{100, 100}));
    // Fit: the largest cube that the volume less a margin holds, in its middle.
    button(Scale)->click();
    w->findChild<ScaleDlg*>()->findChild<QPushButton*>("_btnFitPlatform")->click();
    const auto fitted = box(cube);
    EXPECT_GT(fitted[3] - fitted[0], 150.0);
    EXPECT_NEAR(centre()[0], 100.0, 1e-6);
    EXPECT_NEAR(centre()[1], 100.0, 1e-6);
}

// Each file dialog starts in the folder its kind was last used in, the user's
// home folder before; the G-code and project dialogs propose the project's
// name.
TEST_F(ToolState, fileDialogsStartWhereTheirKindWasLastUsed) {
    start();
    road::AnsweringDialogs& dialogs = road->dialogs;
    const QString home = QDir::homePath();
    // Before any use: home, with the name of the scene where one is proposed.
    dialogs.openAnswer.clear();
    button(Import)->click();
    EXPECT_EQ(dialogs.lastStart, home);
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    cube->setSelected(true);
    dialogs.saveAnswer.clear();
    button(Save)->click();
    EXPECT_EQ(QDir::cleanPath(dialogs.lastStart), home);
    button(Gcode)->click();
    auto* exportDlg = w->findChild<ExportDlg*>();
    ASSERT_NE(exportDlg, nullptr);
    exportDlg->findChild<QPushButton*>("_btnExport")->click();
    EXPECT_EQ(dialogs.lastCaption, "Exported file");
    EXPECT_EQ(dialogs.lastStart, home + "/cube.gcode");
    w->findChild<QAction*>("_menuFileSaveProj")->trigger();
    EXPECT_EQ(dialogs.lastStart, home + "/cube.vpf");
    w->findChild<QAction*>("_menuFileSaveAsProj")->trigger();
    EXPECT_EQ(dialogs.lastStart, home + "/cube.vpf");
    dialogs.openAnswer.clear();
    w->findChild<QAction*>("_menuFileOpenProj")->trigger();
    EXPECT_EQ(dialogs.lastStart, home);

    // After use: the folder of the file chosen last for the same kind.
    const QString objects = dir.filePath("objects"), gcode = dir.filePath("gcode"),
                  projects = dir.filePath("projects");
    for (const QString& d : {objects, gcode, projects})
        ASSERT_TRUE(QDir().mkpath(d));
    dialogs.saveAnswer = objects + "/saved.stl";
    button(Save)->click();
    dialogs.saveAnswer = projects + "/scene.vpf";
    w->findChild<QAction*>("_menuFileSaveProj")->trigger();
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return QFileInfo(projects + "/scene.vpf").size() > 0; }));
    dialogs.saveAnswer.clear();

    dialogs.openAnswer.clear();
    button(Import)->click();
    EXPECT_EQ(dialogs.lastStart, QFileInfo(cubePath).absolutePath());
    button(Save)->click();
    EXPECT_EQ(QDir::cleanPath(dialogs.lastStart), objects);
    w->findChild<QAction*>("_menuFileSaveAsProj")->trigger();
    EXPECT_EQ(dialogs.lastStart, projects + "/scene.vpf");
    w->findChild<QAction*>("_menuFileOpenProj")->trigger();
    EXPECT_EQ(dialogs.lastStart, projects);
    if (!button(Gcode)->isChecked())
        button(Gcode)->click();
    setPathSetting(PATH_SAVED_GCODE, gcode);
    exportDlg->findChild<QPushButton*>("_btnExport")->click();
    EXPECT_EQ(dialogs.lastStart, gcode + "/scene.gcode");
    EXPECT_TRUE(road->messages.isEmpty()) << road->messages.join(" | ").toStdString();
}

// Typing in a panel's box is typing there: Ctrl+A in the Scale and the
// hollowing Offset box (with the support panel made and closed) starts no
// support tool, so clicks in the view go on selecting objects and placing
// drain holes. The hole being placed follows the cursor over the model and
// goes when the cursor leaves it.
TEST_F(ToolState, selectingABoxTextLeavesClicksToTheView) {
    start();
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    lookFromAbove(cube);
    button(Support)->click();
    button(Support)->click();
    ASSERT_FALSE(w->findChild<SupportDlg*>()->isVisible());
    const auto b = box(cube);
    const QPoint top = screenOf((b[0] + b[3]) / 2, (b[1] + b[4]) / 2, b[5]);
    const QPoint beside = screenOf(b[3] + 30, b[4] + 30, 0);
    const auto selectAllIn = [&](QWidget* panel, const char* name) {
        auto* field = panel->findChild<QDoubleSpinBox*>(name);
        ASSERT_NE(field, nullptr);
        QApplication::setActiveWindow(w);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_D, Qt::ControlModifier);
        QCoreApplication::processEvents();
    };

    button(Scale)->click();
    selectAllIn(w->findChild<ScaleDlg*>(), "_dsbFactorX");
    EXPECT_EQ(view->mode(), ViewMode::Select);
    cube->setSelected(false);
    click(top);
    EXPECT_TRUE(cube->isSelected());
    button(Scale)->click();

    button(Hollow)->click();
    auto* hollow = w->findChild<HollowDlg*>();
    ASSERT_TRUE(hollow && hollow->isVisible());
    selectAllIn(hollow, "_dsbOffset");
    auto* makeHoles = hollow->findChild<QCheckBox*>("_checkMakeHoles");
    if (!makeHoles->isChecked())
        makeHoles->click();
    ASSERT_EQ(view->mode(), ViewMode::PlaceHoles);
    view->updateGL();
    partAt(top);
    EXPECT_NE(hollow->context()->pendingHole(), nullptr);
    partAt(beside);
    EXPECT_EQ(hollow->context()->pendingHole(), nullptr);
    partAt(top);
    mouse(QEvent::MouseButtonPress, top, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, top, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(hollow->context()->holes().size(), 1u);
    button(Hollow)->click();
    EXPECT_TRUE(road->messages.isEmpty()) << road->messages.join(" | ").toStdString();
}

// A turn keeps a resting object on the platform and a lifted one at its
// height, whatever the angle about X or Y; undo gives the object back. The
// Scale panel reads one factor on every axis of a uniformly scaled object
// after each turn, and shows nothing once the object is unloaded.
TEST_F(ToolState, aTurnKeepsTheObjectOnThePlatformAndItsScale) {
    start();
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    cube->setSelected(true);
    button(Scale)->click();
    auto* panel = w->findChild<ScaleDlg*>();
    ASSERT_NE(panel, nullptr);
    panel->tabs()->setCurrentIndex(1);
    panel->factorBox(0)->setValue(50.0);
    panel->findChild<QPushButton*>("_btnApply")->click();
    const auto scaled = box(cube);
    ASSERT_NEAR(scaled[3] - scaled[0], 10.0, 1e-9);
    const std::size_t first = commands();

    struct Turn {
        double axis[3];
        double degrees;
        double lift; // moved up by this before the turn
    };
    const Turn turns[] = {{{1, 0, 0}, 75, 0},  {{0, 1, 0}, 30, 0},   {{1, 0, 0}, -40, 0},
                          {{0, 1, 0}, 110, 0}, {{1, 0, 0}, 20, 7.5}, {{0, 1, 0}, -65, 0}};
    for (const Turn& t : turns) {
        SCOPED_TRACE(t.degrees);
        if (t.lift != 0.0) {
            ASSERT_TRUE(w->pushCommand(
                new TranslateCmd(TranslateCmd::ByOffset, std::array<double, 3>{0, 0, t.lift}.data()), true));
        }
        const auto before = box(cube);
        const double centre[3] = {(before[0] + before[3]) / 2, (before[1] + before[4]) / 2,
                                  (before[2] + before[5]) / 2};
        const double angle = t.degrees * M_PI / 180.0;
        topolib::Matrix4D m;
        topolib::makeAxisRotationMatrix(&angle, centre, t.axis, m);
        cube->setTransform(m);
        ASSERT_TRUE(w->pushCommand(new RoateCmd(), true));
        EXPECT_NEAR(box(cube)[2], before[2], 0.01);
        panel->refreshFields();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(panel->factorBox(i)->text(), "50") << i;
    }
    while (commands() > first)
        w->findChild<QAction*>("_menuEditUndo")->trigger();
    const auto back = box(cube);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(back[i], scaled[i], 1e-6);

    quickAction("Unload Selected")->trigger();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(panel->factorBox(i)->text().isEmpty()) << i;
        EXPECT_TRUE(panel->sizeBox(i)->text().isEmpty()) << i;
    }
    button(Scale)->click();
}

// After an import, with its file and progress dialogs, the window has the
// keyboard again and no field holds it: its shortcuts get the keys.
TEST_F(ToolState, theWindowHasTheKeysBackAfterEachImport) {
    start();
    button(Hollow)->click(); // no selection: a message box comes and goes
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(importCube(), nullptr);
        EXPECT_TRUE(scenefixtures::runEventsUntil(
            [&] {
                QWidget* focus = QApplication::focusWidget();
                return QGuiApplication::focusWindow() == w->windowHandle() &&
                       !qobject_cast<QAbstractSpinBox*>(focus) && !qobject_cast<QLineEdit*>(focus);
            },
            10000));
    }
}

// The slice preview's panel reaches down to the view's bottom edge however
// the window is resized, and its slider takes the height its buttons leave:
// below the tool buttons while that leaves it room, else at the view's right
// edge, where a short window still gives it a usable height.
TEST_F(ToolState, theSlicePanelFollowsTheWindowsHeight) {
    start();
    button(SliceView)->click();
    auto* panel = w->findChild<ZSliceDlg*>();
    ASSERT_TRUE(panel && panel->isVisible());
    auto* slider = panel->findChild<QSlider*>();
    ASSERT_NE(slider, nullptr);
    int lastSlider = 0;
    for (int height : {600, 760, 1000}) {
        SCOPED_TRACE(height);
        w->resize(1024, height);
        ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return w->height() == height; }, 10000));
        QCoreApplication::processEvents();
        EXPECT_EQ(panel->geometry().bottom(), w->glFrame()->height() - 11);
        EXPECT_GE(slider->height(), 200);
        if (height == 760) {
            // The same place as at 600: all of the 160 pixels more but rounding.
            EXPECT_EQ(panel->geometry().right(), w->glFrame()->width() - 6);
            EXPECT_GE(slider->height() - lastSlider, 150);
        }
        if (height == 1000) {
            EXPECT_EQ(panel->geometry().left(), 5);
        }
        lastSlider = slider->height();
    }
    button(SliceView)->click();
}

} // namespace

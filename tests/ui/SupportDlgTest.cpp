// The support panel without a window: boxes that reach the selected objects
// at once, the type buttons, Generate as one command that also stores the
// parameters, Clear, the Add/Delete modes and the parameter file at opening.
#include "MeshFixtures.h"
#include "SupportDump.h"

#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "scene/SupportCommands.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "ui/MainWindow.h"
#include "ui/SupportDlg.h"
#include "ui/SupportParamFile.h"
#include "view/MainGLWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGLContext>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using P = support::SupportParams;

class RepaintCountingHost : public BasicSceneHost {
public:
    void updateGLView() override { ++repaints; }
    int repaints = 0;
};

class SupportDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        setSceneHost(&host);
        ObjectTable::instance()->deleteAllObjects();
    }
    void TearDown() override {
        host.commandManager()->clear();
        ObjectTable::instance()->deleteAllObjects();
        setSceneHost(nullptr);
        qputenv("XDG_DATA_HOME", m_previousData);
    }
    ObjectEx* addCube(double x, double z) {
        auto* obj = new ObjectEx();
        meshfixtures::fillMesh(*obj, meshfixtures::cube(10.0, {x, 0.0, z}));
        obj->rebuildOctree();
        obj->setLoaded(true);
        ObjectTable::instance()->addObject(obj);
        obj->setSelected(true);
        return obj;
    }
    static double lowestZ(ObjectEx* obj) {
        double min[3], max[3];
        EXPECT_TRUE(obj->readBox(min, max));
        return min[2];
    }
    template <typename T> T* child(const char* name) {
        T* w = dlg.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name) { child<QPushButton>(name)->click(); }

    RepaintCountingHost host;
    SupportDlg dlg;

private:
    QTemporaryDir m_data;
    QByteArray m_previousData;
};

TEST_F(SupportDlgTest, boxesReachTheSelectedContainersAtOnce) {
    ObjectEx* a = addCube(0.0, 0.0);
    ObjectEx* b = addCube(20.0, 0.0);
    ObjectEx* other = addCube(40.0, 0.0);
    other->setSelected(false);
    EXPECT_TRUE(child<QGroupBox>("_groupParameters")->isHidden());
    struct Row {
        const char* box;
        double value;
        double (support::SupportGen::*read)() const;
        double expected;
    };
    // Sizes are diameters; "Trunk Size" feeds the trunk radius and "Bottom
    // Size" the base size whatever their boxes are called.
    const Row rows[] = {
        {"_dsbTipSize", 3.0, &support::SupportGen::getTipRadius, 1.5},
        {"_dsbBottomSize", 4.0, &support::SupportGen::getTrunkRadius, 2.0},
        {"_dsbBeamSize", 2.2, &support::SupportGen::getBranchRadius, 1.1},
        {"_dsbHeadExtend", 3.5, &support::SupportGen::getHeadExtend, 3.5},
        {"_dsbBaseSize", 6.0, &support::SupportGen::getBaseSize, 6.0},
        {"_dsbBaseThickness", 2.0, &support::SupportGen::getBaseThickness, 2.0},
        {"_dsbDensity", 7.0, &support::SupportGen::getDensity, 7.0},
        {"_dsbAngle", 30.0, &support::SupportGen::getMaxAngle, 30.0},
        {"_dsbTipSize", 25.0, &support::SupportGen::getTipRadius, 5.0}, // clamped to 10
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.box);
        child<QDoubleSpinBox>(r.box)->setValue(r.value);
        for (ObjectEx* o : {a, b}) {
            ASSERT_TRUE(o->hasSupport());
            EXPECT_DOUBLE_EQ((o->supportGenIfAny().get()->*r.read)(), r.expected);
        }
        EXPECT_FALSE(other->hasSupport());
    }
    // Preset puts every box back; the check box stays.
    child<QCheckBox>("_removeInternal")->setChecked(true);
    click("_btnPresetParams");
    P expected = support::presetSupportParams();
    expected.removeInternal = true;
    EXPECT_EQ(dlg.params(), expected);
    EXPECT_DOUBLE_EQ(a->supportGenIfAny()->getTipRadius(), 0.5);
    EXPECT_EQ(host.commandManager()->undoCount(), 0u);
}

TEST_F(SupportDlgTest, typeButtonsRebuildAndNameWhatTheNextClickSelects) {
    ObjectEx* obj = addCube(0.0, 0.0);
    auto* base = child<QPushButton>("_btnBaseType");
    EXPECT_EQ(support::storedValue(dlg.baseType()), 1);
    EXPECT_EQ(base->toolTip(), "Circle Base");
    struct Step {
        int type;
        const char* tip;
    };
    for (const Step& s : {Step{2, "No Base"}, Step{0, "Full Base"}, Step{1, "Circle Base"}}) {
        ObjectTable::instance()->setModified(false);
        const int repaints = host.repaints;
        base->click();
        EXPECT_EQ(support::storedValue(dlg.baseType()), s.type);
        EXPECT_EQ(base->toolTip(), s.tip);
        EXPECT_EQ(support::storedValue(obj->supportGenIfAny()->getBaseType()), s.type);
        EXPECT_TRUE(ObjectTable::instance()->isModified());
        EXPECT_EQ(host.repaints, repaints + 1);
    }
    auto* type = child<QPushButton>("_btnSupportType");
    // Every image button shows something, whether or not the images are built in.
    for (const char* name : {"_btnClose", "_btnShowHideParam", "_btnSupportType", "_btnBaseType"}) {
        auto* b = child<QPushButton>(name);
        EXPECT_TRUE(!b->icon().isNull() || !b->text().isEmpty()) << name;
    }
    ObjectTable::instance()->setModified(false);
    type->click();
    EXPECT_EQ(support::storedValue(dlg.supportType()), 0);
    EXPECT_EQ(type->toolTip(), "Cylinder Support");
    EXPECT_EQ(support::storedValue(obj->supportGenIfAny()->getSupportType()), 0);
    EXPECT_TRUE(ObjectTable::instance()->isModified());
    type->click();
    EXPECT_EQ(type->toolTip(), "Cross Support");
    EXPECT_EQ(support::storedValue(obj->supportGenIfAny()->getSupportType()), 1);
}

// The support-type button rebuilds the selected objects' supports with the
// new type at once, every cone included, as one step of the history: undo
// gives back the former supports exactly, the bars the user deleted still
// deleted, and the edits before it undo as they would have.
TEST_F(SupportDlgTest, supportTypeButtonRebuildsExistingSupportsAsOneUndoableStep) {
    ObjectEx* obj = addCube(0.0, 0.0);
    child<QDoubleSpinBox>("_dsbZOffset")->setValue(20.0); // tall enough for bars
    click("_btnGenerate");
    const std::shared_ptr<support::SupportGen> gen = obj->supportGenIfAny();
    ASSERT_TRUE(gen);
    support::AbtShape* bar = supportdump::firstLiveBar(gen);
    ASSERT_NE(bar, nullptr);
    obj->setPointedSupport(bar);
    ASSERT_TRUE(host.pushCommand(new DeleteConeSupportCmd(), false));
    const std::string cylinders = supportdump::dump(gen);
    ASSERT_NE(cylinders.find("bar deleted 1"), std::string::npos);
    const size_t steps = host.commandManager()->undoCount();

    child<QPushButton>("_btnSupportType")->click();
    EXPECT_EQ(support::storedValue(dlg.supportType()), 0);
    ASSERT_EQ(host.commandManager()->undoCount(), steps + 1);
    EXPECT_EQ(obj->supportGenIfAny(), gen);
    EXPECT_EQ(support::storedValue(gen->getSupportType()), 0);
    int cones = 0;
    for (std::size_t a = 0; a < gen->areaCount(); ++a)
        for (support::AbtShape* s : gen->areaAt(a)->shapes)
            if (const support::ConeShape* c = s->asCone()) {
                ++cones;
                EXPECT_EQ(c->ConeSupportType, 0);
            }
    EXPECT_GT(cones, 1);
    const std::string crosses = supportdump::dump(gen);
    EXPECT_EQ(crosses.find("bar deleted"), std::string::npos); // crosses have no bars

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(host.commandManager()->undo());
        EXPECT_EQ(supportdump::firstDifference(cylinders, supportdump::dump(gen)), "");
        ASSERT_TRUE(host.commandManager()->redo());
        EXPECT_EQ(supportdump::firstDifference(crosses, supportdump::dump(gen)), "");
    }
    ASSERT_TRUE(host.commandManager()->undo());
    ASSERT_TRUE(host.commandManager()->undo()); // the deleted bar
    EXPECT_FALSE(bar->isDeleted());
    EXPECT_NE(supportdump::dump(gen).find(" bar deleted 0"), std::string::npos);
}

// The base-type button gives the selected objects' supports the new footing
// at once as one step of the history: the bars stay as they were (those the
// user deleted stay deleted), and undo and redo give back each state bit for
// bit, the raft included.
TEST_F(SupportDlgTest, baseTypeButtonKeepsHandEditsAsOneUndoableStep) {
    ObjectEx* obj = addCube(0.0, 0.0);
    child<QDoubleSpinBox>("_dsbZOffset")->setValue(20.0); // tall enough for bars
    click("_btnGenerate");
    const std::shared_ptr<support::SupportGen> gen = obj->supportGenIfAny();
    ASSERT_TRUE(gen);
    ASSERT_EQ(support::storedValue(gen->getBaseType()), 1);
    ASSERT_FALSE(gen->baseTriangles.empty());
    support::AbtShape* bar = supportdump::firstLiveBar(gen);
    ASSERT_NE(bar, nullptr);
    obj->setPointedSupport(bar);
    ASSERT_TRUE(host.pushCommand(new DeleteConeSupportCmd(), false));
    std::vector<std::string> states{supportdump::dump(gen)};
    ASSERT_NE(states[0].find("bar deleted 1"), std::string::npos);
    const size_t steps = host.commandManager()->undoCount();

    // 1 -> 2 (a base under each cone, no raft) -> 0 (neither).
    for (int type : {2, 0}) {
        SCOPED_TRACE(type);
        click("_btnBaseType");
        ASSERT_EQ(support::storedValue(dlg.baseType()), type);
        ASSERT_EQ(host.commandManager()->undoCount(), steps + states.size());
        EXPECT_EQ(obj->supportGenIfAny(), gen);
        EXPECT_EQ(support::storedValue(gen->getBaseType()), type);
        EXPECT_TRUE(gen->baseTriangles.empty());
        EXPECT_TRUE(bar->isDeleted());
        for (std::size_t a = 0; a < gen->areaCount(); ++a)
            for (support::AbtShape* s : gen->areaAt(a)->shapes) {
                if (const support::ConeShape* c = s->asCone()) {
                    EXPECT_EQ(c->GenerateBase, type == 2 ? 1 : 0);
                }
            }
        states.push_back(supportdump::dump(gen));
        EXPECT_NE(states.back(), states[states.size() - 2]);
    }
    // Undo twice and redo twice, two rounds: each state comes back bit for bit.
    for (int round = 0; round < 2; ++round) {
        for (size_t k : {1, 0}) {
            ASSERT_TRUE(host.commandManager()->undo());
            EXPECT_EQ(supportdump::firstDifference(states[k], supportdump::dump(gen)), "");
        }
        for (size_t k : {1, 2}) {
            ASSERT_TRUE(host.commandManager()->redo());
            EXPECT_EQ(supportdump::firstDifference(states[k], supportdump::dump(gen)), "");
        }
    }
    ASSERT_TRUE(host.commandManager()->undo());
    ASSERT_TRUE(host.commandManager()->undo());
    ASSERT_TRUE(host.commandManager()->undo()); // the deleted bar
    EXPECT_FALSE(bar->isDeleted());
}

TEST_F(SupportDlgTest, generateIsOneCommandStoresTheParametersAndClearIsOneUndoableStep) {
    ObjectEx* a = addCube(0.0, 0.0);
    ObjectEx* b = addCube(20.0, 3.0);
    child<QDoubleSpinBox>("_dsbDensity")->setValue(6.5);
    child<QCheckBox>("_removeInternal")->setChecked(true);
    ObjectTable::instance()->setModified(false);
    click("_btnGenerate");
    ASSERT_EQ(host.commandManager()->undoCount(), 1u);
    EXPECT_NE(dynamic_cast<const SupportGenCmd*>(host.commandManager()->undoTop()), nullptr);
    EXPECT_TRUE(ObjectTable::instance()->isModified());
    for (ObjectEx* o : {a, b}) {
        EXPECT_NEAR(lowestZ(o), 5.0, 1e-9);
        ASSERT_TRUE(o->hasSupport());
        EXPECT_GT(o->supportAreaCount(), 0);
        EXPECT_DOUBLE_EQ(o->supportDensity(), 6.5);
        EXPECT_TRUE(o->supportRemoveInternal());
    }
    // The file holds what the panel showed.
    P stored = support::presetSupportParams();
    ASSERT_TRUE(support::readSupportParamFile(support::supportParamFilePath(), stored));
    EXPECT_EQ(stored, dlg.params());

    ASSERT_TRUE(host.commandManager()->undo());
    EXPECT_NEAR(lowestZ(a), 0.0, 1e-9);
    EXPECT_NEAR(lowestZ(b), 3.0, 1e-9);
    ASSERT_TRUE(host.commandManager()->redo());

    // A hand edit, then Clear: undo gives back the very containers, the
    // edit included, bit for bit; the next undo is the edit's.
    support::AbtShape* cone = a->supportGenIfAny()->areaAt(0)->shapes.front();
    a->setPointedSupport(cone);
    ASSERT_TRUE(host.pushCommand(new DeleteConeSupportCmd(), false));
    const std::shared_ptr<support::SupportGen> genA = a->supportGenIfAny(), genB = b->supportGenIfAny();
    const std::string dumpA = supportdump::dump(genA), dumpB = supportdump::dump(genB);
    ObjectTable::instance()->setModified(false);
    click("_btnClear");
    EXPECT_FALSE(a->hasSupport());
    EXPECT_FALSE(b->hasSupport());
    EXPECT_TRUE(ObjectTable::instance()->isModified());
    EXPECT_EQ(host.commandManager()->undoCount(), 3u);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(host.commandManager()->undo());
        EXPECT_EQ(a->supportGenIfAny(), genA);
        EXPECT_EQ(b->supportGenIfAny(), genB);
        EXPECT_EQ(supportdump::firstDifference(dumpA, supportdump::dump(a->supportGenIfAny())), "");
        EXPECT_EQ(supportdump::firstDifference(dumpB, supportdump::dump(b->supportGenIfAny())), "");
        ASSERT_TRUE(host.commandManager()->redo());
        EXPECT_FALSE(a->hasSupport());
        EXPECT_FALSE(b->hasSupport());
    }
    ASSERT_TRUE(host.commandManager()->undo());
    ASSERT_TRUE(host.commandManager()->undo()); // the deleted cone
    EXPECT_FALSE(cone->isDeleted());
    EXPECT_EQ(host.commandManager()->undoCount(), 1u);
    // Nothing to clear: nothing is recorded.
    a->setSelected(false);
    b->setSelected(false);
    click("_btnClear");
    EXPECT_EQ(host.commandManager()->undoCount(), 1u);
    a->setSelected(true);
    b->setSelected(true);

    // At the next opening the file's values win over the presets.
    dlg.onBtnPresetClicked();
    EXPECT_DOUBLE_EQ(dlg.params()[P::Density], 5.0);
    dlg.loadParams();
    EXPECT_EQ(dlg.params(), stored);
}

TEST_F(SupportDlgTest, addAndDeleteSwitchTheViewModeOnlyWithAView) {
    auto* add = child<QPushButton>("_btnAddItem");
    auto* del = child<QPushButton>("_btnDeleteItem");
    // No view stored: nothing happens but the button's own state.
    dlg.activateAddItem();
    EXPECT_TRUE(add->isChecked());
    add->setChecked(false);

    MainGLWidget view(new QGLContext(QGLFormat()));
    dlg.setGLWidget(&view);
    dlg.activateDeleteItem();
    EXPECT_EQ(view.mode(), ViewMode::DeleteSupport);
    dlg.activateAddItem();
    EXPECT_EQ(view.mode(), ViewMode::AddSupport);
    EXPECT_FALSE(del->isChecked());
    add->click(); // unchecks
    EXPECT_EQ(view.mode(), ViewMode::Select);
    dlg.activateDeleteItem();
    int closed = 0;
    dlg.setCloseHook([&] { ++closed; });
    click("_btnClose");
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(view.mode(), ViewMode::Select);
    EXPECT_FALSE(add->isChecked());
    EXPECT_FALSE(del->isChecked());
    dlg.setGLWidget(nullptr);
}

TEST_F(SupportDlgTest, parameterFileValuesPassThroughTheBoxes) {
    QFile f(support::supportParamFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<Projects><SupportParams TipSize=\"25\" TrunkSize=\"3\" RemoveInternal=\"1\"/></Projects>");
    f.close();
    ObjectEx* obj = addCube(0.0, 0.0);
    dlg.onBtnPresetClicked();
    dlg.loadParams();
    const P p = dlg.params();
    EXPECT_DOUBLE_EQ(p[P::TipSize], 10.0);
    EXPECT_DOUBLE_EQ(p[P::TrunkSize], 3.0);
    EXPECT_DOUBLE_EQ(p[P::Angle], 20.0);
    EXPECT_DOUBLE_EQ(p[P::Density], 1.0);
    EXPECT_DOUBLE_EQ(p[P::ZOffset], 0.0);
    EXPECT_TRUE(p.removeInternal);
    // Each value read reached the selected object as a change of its box would.
    EXPECT_DOUBLE_EQ(obj->supportGenIfAny()->getTipRadius(), 5.0);
    EXPECT_DOUBLE_EQ(obj->supportMaxAngle(), 20.0);
}

// In a window too short for the whole panel with its parameters the panel
// ends above the window's bottom edge with Generate and Clear in sight, and
// the parameters scroll; a tall window gives it back its full height.
TEST(SupportPanelSize, fitsTheWindowItIsInAndScrollsTheParameters) {
    QWidget frame;
    frame.resize(400, 1200);
    auto* panel = new SupportDlg(&frame);
    panel->placeInParent(54, 150, panel->panelWidth, panel->panelHeight - panel->paramGroupHeight());
    frame.show();
    panel->show();
    panel->onBtnShowHideParamClicked();
    auto* scroll = panel->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    for (int height : {1200, 500, 1200}) {
        SCOPED_TRACE(height);
        frame.resize(400, height);
        QCoreApplication::processEvents();
        // The whole panel: its own height, or what its contents ask for.
        const int full = std::max(panel->panelHeight, panel->sizeHint().height());
        const bool whole = 150 + full + VlrBaseWidget::kParentMargin <= height;
        ASSERT_EQ(whole, height == 1200);
        EXPECT_EQ(panel->geometry().bottom() + 1, whole ? 150 + full : height - VlrBaseWidget::kParentMargin);
        for (const char* name : {"_btnGenerate", "_btnClear"}) {
            auto* b = panel->findChild<QPushButton*>(name);
            EXPECT_TRUE(panel->rect().contains(QRect(b->mapTo(panel, QPoint()), b->size()))) << name;
        }
        EXPECT_EQ(scroll->verticalScrollBar()->maximum() > 0, !whole);
    }
}

// The main window's support tool: key G (as "Auto Support") opens the panel
// and generates for the selection as one command, A and D switch the view's
// support modes, the view's requests become the point commands, and the tool
// button closes the panel again.
TEST(MainWindowSupportTool, autoSupportKeysAndPointCommandsThroughTheWindow) {
    QTemporaryDir data;
    const QByteArray previousData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    MainWindow* w = MainWindow::instance();
    // Earlier panel tests install their own host: the window is the host again.
    setSceneHost(w);
    ObjectTable* table = ObjectTable::instance();
    table->deleteAllObjects();
    auto* obj = new ObjectEx();
    meshfixtures::fillMesh(*obj, meshfixtures::cube(20.0));
    obj->rebuildOctree();
    obj->setLoaded(true);
    table->addObject(obj);
    obj->setSelected(true);
    auto release = [w](int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(w, &up);
    };
    QAbstractButton* button = w->toolButtons()[4];
    ASSERT_TRUE(button->isEnabled());
    QAction* autoSupport = nullptr;
    for (QAction* a : w->contextMenu()->actions())
        if (a->text() == "Auto Support")
            autoSupport = a;
    ASSERT_NE(autoSupport, nullptr);
    EXPECT_TRUE(autoSupport->isEnabled());

    const std::size_t commands = w->commandManager()->undoCount();
    release(Qt::Key_G);
    auto* panel = w->findChild<SupportDlg*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isHidden());
    EXPECT_TRUE(button->isChecked());
    EXPECT_EQ(w->activeToolButton(), button);
    EXPECT_EQ(w->commandManager()->undoCount(), commands + 1);
    ASSERT_TRUE(obj->hasSupport());
    EXPECT_GT(obj->supportAreaCount(), 0);
    // The type buttons show what was just built.
    EXPECT_EQ(panel->supportType(), obj->supportGenIfAny()->getSupportType());
    EXPECT_EQ(panel->baseType(), obj->supportGenIfAny()->getBaseType());
    EXPECT_TRUE(QFile::exists(support::supportParamFilePath()));

    release(Qt::Key_A);
    EXPECT_EQ(w->glWidget()->mode(), ViewMode::AddSupport);
    // The view's click in add mode, after its preview on the underside.
    const double origin[3] = {6.0, 13.0, 0.5}, down[3] = {0.0, 0.0, -1.0};
    table->previewConeAt(origin, down);
    w->pushAddConeSupportCmd();
    EXPECT_EQ(w->commandManager()->undoCount(), commands + 2);
    release(Qt::Key_D);
    EXPECT_EQ(w->glWidget()->mode(), ViewMode::DeleteSupport);
    auto* add = dynamic_cast<const AddConeSupportCmd*>(w->commandManager()->undoTop());
    ASSERT_NE(add, nullptr);
    obj->setPointedSupport(add->addedSupport()->shapes.front());
    w->pushDeleteConeSupportCmd();
    EXPECT_EQ(w->commandManager()->undoCount(), commands + 3);
    EXPECT_TRUE(add->addedSupport()->shapes.front()->isDeleted());

    // The tool button closes the panel and puts the view back to selecting.
    button->click();
    EXPECT_TRUE(panel->isHidden());
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(w->activeToolButton(), nullptr);
    EXPECT_EQ(w->glWidget()->mode(), ViewMode::Select);
    // And opens it again with the stored parameters.
    button->click();
    EXPECT_FALSE(panel->isHidden());
    EXPECT_EQ(panel->params()[P::ZOffset], 5.0);

    // The type buttons show what the selected object holds after every undo
    // and redo, and the next Generate builds what they show.
    const support::SupportType type = panel->supportType();
    const support::BaseType base = panel->baseType();
    panel->findChild<QPushButton*>("_btnSupportType")->click();
    panel->findChild<QPushButton*>("_btnBaseType")->click();
    ASSERT_NE(panel->supportType(), type);
    ASSERT_NE(panel->baseType(), base);
    QAction* undo = w->findChild<QAction*>("_menuEditUndo");
    QAction* redo = w->findChild<QAction*>("_menuEditRedo");
    undo->trigger();
    EXPECT_EQ(panel->baseType(), base);
    EXPECT_NE(panel->supportType(), type);
    undo->trigger();
    EXPECT_EQ(panel->supportType(), type);
    redo->trigger();
    EXPECT_NE(panel->supportType(), type);
    EXPECT_EQ(panel->baseType(), base);
    undo->trigger();
    panel->findChild<QPushButton*>("_btnGenerate")->click();
    EXPECT_EQ(obj->supportGenIfAny()->getSupportType(), type);
    EXPECT_EQ(obj->supportGenIfAny()->getBaseType(), base);

    w->commandManager()->clear();
    w->updateUndoRedoActions();
    table->deleteAllObjects();
    qputenv("XDG_DATA_HOME", previousData);
}

} // namespace

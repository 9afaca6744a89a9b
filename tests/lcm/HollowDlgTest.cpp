// The hollowing panel without a view: the update rule, hole placement, Ok as
// one undoable command that replaces the object by its hollowed copy (also of
// a supported object, and again on a hollowed one), closing, and an object
// that leaves the list while the panel is open.

#include "MeshFixtures.h"
#include "MeshStateHash.h"

#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "src/Features/lcm/HollowContext.h"
#include "src/Features/lcm/HollowDlg.h"
#include "support/SupportParams.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlShell.h"
#include "topolib/StlVertex.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QSlider>
#include <array>

#include <gtest/gtest.h>

namespace {

// A window stand-in: records messages.
class PanelHost : public BasicSceneHost {
public:
    HollowDlg* panel = nullptr;
    QStringList messages;
    std::vector<int> previewsAtMessage; // previews computed when each message came
    int showMessage(const QString& text, int, int, int defaultButton) override {
        messages << text;
        previewsAtMessage.push_back(panel ? panel->previewCount() : -1);
        return defaultButton;
    }
};

ObjectEx* addObject(const meshfixtures::TriangleSoup& soup) {
    auto* obj = new ObjectEx();
    meshfixtures::fillMesh(*obj, soup);
    obj->rebuildOctree();
    obj->setLoaded(true);
    ObjectTable::instance()->addObject(obj);
    return obj;
}

struct PanelFixture : ::testing::Test {
    PanelHost host;
    HollowDlg dlg;
    std::vector<ViewMode> modes;
    void SetUp() override {
        setSceneHost(&host);
        host.panel = &dlg;
        dlg.setViewModeHook([this](ViewMode m) { modes.push_back(m); });
    }
    void TearDown() override {
        dlg.close();
        host.commandManager()->clear();
        ObjectTable::instance()->deleteAllObjects();
        setSceneHost(nullptr);
    }
    // The Hollow button with obj the only selected object.
    void open(ObjectEx* obj) {
        for (ObjectEx* o : ObjectTable::instance()->objects())
            o->setSelected(o == obj);
        ASSERT_TRUE(dlg.openTool());
        EXPECT_FLOAT_EQ(obj->transparentValue(), 0.3f);
    }
    template <typename T>
    T* child(const char* name) {
        return dlg.findChild<T*>(name);
    }
};

TEST_F(PanelFixture, updateRecomputesOnlyWhenOffsetOrDensityChanged) {
    ObjectEx* cube = addObject(meshfixtures::cube(20.0));
    open(cube);
    EXPECT_EQ(dlg.previewCount(), 1); // the first update always computes
    ASSERT_TRUE(dlg.context()->previewSurface());
    EXPECT_FALSE(dlg.context()->previewSurface()->triangles.empty());
    dlg.onBtnUpdateClicked();
    EXPECT_EQ(dlg.previewCount(), 1);
    child<QDoubleSpinBox>("_dsbOffset")->setValue(2.01);
    dlg.onBtnUpdateClicked();
    EXPECT_EQ(dlg.previewCount(), 2);
    child<QSlider>("_sliderDensity")->setValue(70);
    dlg.onBtnUpdateClicked();
    EXPECT_EQ(dlg.previewCount(), 3);
    EXPECT_EQ(dlg.lastDensity(), 70);
    dlg.changeDensityValue(70);
    EXPECT_EQ(child<QLabel>("_labelDensity")->text(), QString("Mesh Density: 70"));
    EXPECT_EQ(modes.back(), ViewMode::PlaceHoles); // "Make Holes" is checked in the form
    EXPECT_EQ(dlg.hiddenHoleGroupHeight(), 0);
}

TEST_F(PanelFixture, okReplacesTheObjectByItsHollowedCopyAsOneUndoableCommand) {
    ObjectEx* cube = addObject(meshfixtures::cube(20.0));
    const double volumeBefore = topolib::liveVolume(*cube);
    open(cube);
    child<QDoubleSpinBox>("_dsbHoleSize")->setValue(3.0);
    const double p[3] = {10.0, 10.0, 20.0}, d[3] = {0.0, 0.0, -1.0};
    dlg.placeHole(p, d);
    ASSERT_TRUE(dlg.context()->pendingHole());
    EXPECT_DOUBLE_EQ(dlg.context()->pendingHole()->radius, 1.5);
    EXPECT_DOUBLE_EQ(dlg.context()->pendingHole()->length, 2.0);
    dlg.commitHole();
    ASSERT_EQ(dlg.context()->holes().size(), 1u);

    ObjectTable::instance()->setModified(false);
    dlg.onBtnOKClicked();
    EXPECT_TRUE(dlg.isHidden());
    EXPECT_EQ(modes.back(), ViewMode::Hollowing);
    ASSERT_TRUE(host.commandManager()->canUndo());
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    ObjectEx* hollowed = ObjectTable::instance()->objectAt(0);
    ASSERT_NE(hollowed, cube);
    EXPECT_TRUE(ObjectTable::instance()->isModified());
    EXPECT_EQ(topolib::countUnpairedEdges(*hollowed), 0u);
    const double drop = volumeBefore - topolib::liveVolume(*hollowed);
    EXPECT_NEAR(drop, 4096.0 + M_PI * 1.5 * 1.5 * 2.0, 0.03 * 4096.0);
    EXPECT_FALSE(hollowed->isTransparent());
    EXPECT_TRUE(host.messages.isEmpty());

    // Undo restores the very object, unchanged and opaque again.
    ObjectTable::instance()->setModified(false);
    ASSERT_TRUE(host.commandManager()->undo());
    EXPECT_EQ(ObjectTable::instance()->objectAt(0), cube);
    EXPECT_EQ(cube->triangleCount(), 12u);
    EXPECT_DOUBLE_EQ(topolib::liveVolume(*cube), volumeBefore);
    EXPECT_FALSE(cube->isTransparent());
    EXPECT_TRUE(ObjectTable::instance()->isModified());
    ASSERT_TRUE(host.commandManager()->redo());
    EXPECT_EQ(ObjectTable::instance()->objectAt(0), hollowed);
}

TEST_F(PanelFixture, okWithoutHolesGivesTheCopyAnOctreeOfItsNewShell) {
    ObjectEx* cube = addObject(meshfixtures::cube(20.0));
    open(cube);
    dlg.onBtnOKClicked();
    ASSERT_EQ(ObjectTable::instance()->count(), 1);
    ObjectEx* hollowed = ObjectTable::instance()->objectAt(0);
    ASSERT_NE(hollowed, cube);
    // The tree is built on the copy's worker; the queries see both shells.
    hollowed->waitForJobs();
    ASSERT_NE(hollowed->octree(), nullptr);
    const double wall[3] = {10.0, 10.0, 1.0}, cavity[3] = {10.0, 10.0, 10.0};
    EXPECT_TRUE(hollowed->isInsideByUpwardRay(wall));
    EXPECT_FALSE(hollowed->isInsideByUpwardRay(cavity));
}

TEST_F(PanelFixture, wallThatDoesNotFitTellsTheUserAndOkChangesNothing) {
    ObjectEx* plate = addObject(meshfixtures::box({30.0, 30.0, 3.0}));
    open(plate);
    ASSERT_FALSE(host.messages.isEmpty());
    dlg.onBtnOKClicked();
    EXPECT_FALSE(host.commandManager()->canUndo());
    EXPECT_EQ(ObjectTable::instance()->objectAt(0), plate);
    EXPECT_EQ(host.messages.size(), 2);
}

// Before a preview is computed the user learns that the wall asked is
// thinner than the hollowing can make for the object (with the wall it makes),
// and, once per opening, that the object is not closed; either way the
// preview is computed.
TEST_F(PanelFixture, thinWallAndOpenEdgesAreToldBeforeThePreview) {
    struct Case {
        meshfixtures::TriangleSoup soup;
        const char* text;
    } cases[] = {
        {meshfixtures::box({500.0, 50.0, 50.0}), "the thinnest wall it can make is 5.00 mm"},
        {meshfixtures::openBox(20.0), "This object is not closed: 4 of its edges are open."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        host.messages.clear();
        host.previewsAtMessage.clear();
        ObjectEx* obj = addObject(k.soup);
        const int before = dlg.previewCount();
        child<QDoubleSpinBox>("_dsbOffset")->setValue(2.0);
        open(obj);
        child<QDoubleSpinBox>("_dsbOffset")->setValue(1.5);
        dlg.onBtnUpdateClicked();
        EXPECT_EQ(dlg.previewCount(), before + 2);
        int told = 0;
        for (int i = 0; i < host.messages.size(); ++i)
            if (host.messages[i].contains(k.text)) {
                ++told;
                EXPECT_EQ(host.previewsAtMessage[static_cast<std::size_t>(i)], before + told - 1);
            }
        // The thin wall at each preview, the open edges once.
        EXPECT_EQ(told, k.soup.size() == 12 ? 2 : 1) << host.messages.join("|").toStdString();
        EXPECT_GT(dlg.context()->innerTriangleCount() + dlg.context()->previewSurface()->triangles.size(), 0u);
        dlg.close();
        ObjectTable::instance()->deleteAllObjects();
    }
}

TEST_F(PanelFixture, closingRestoresTheObjectAndForgetsTheHoles) {
    ObjectEx* cube = addObject(meshfixtures::cube(20.0));
    open(cube);
    const double p[3] = {10.0, 10.0, 20.0}, d[3] = {0.0, 0.0, -1.0};
    dlg.placeHole(p, d);
    dlg.commitHole();
    int closes = 0;
    dlg.setCloseHook([&closes] { ++closes; });
    dlg.onBtnCancelClicked();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(cube->isTransparent());
    EXPECT_FLOAT_EQ(cube->transparentValue(), 1.0f);
    EXPECT_EQ(dlg.context(), nullptr);
    EXPECT_EQ(dlg.object(), nullptr);
    EXPECT_EQ(dlg.lastDensity(), -1);
    EXPECT_FALSE(child<QCheckBox>("_checkMakeHoles")->isChecked());
    EXPECT_GT(dlg.hiddenHoleGroupHeight(), 0);
    EXPECT_EQ(modes.back(), ViewMode::Hollowing);
    // Reopening computes again, although the offset did not change.
    open(cube);
    EXPECT_EQ(dlg.previewCount(), 2);
}

TEST_F(PanelFixture, toolOpensOnlyForExactlyOneSelectedObject) {
    ObjectEx* a = addObject(meshfixtures::cube(20.0));
    ObjectEx* b = addObject(meshfixtures::cube(10.0));
    a->setSelected(true);
    b->setSelected(true);
    EXPECT_FALSE(dlg.openTool());
    a->setSelected(false);
    b->setSelected(false);
    EXPECT_FALSE(dlg.openTool());
    ASSERT_EQ(host.messages.size(), 2);
    EXPECT_TRUE(host.messages[0].startsWith("There are more than one object"));
    EXPECT_TRUE(host.messages[1].startsWith("There aren't any object"));
    EXPECT_TRUE(dlg.isHidden());
    EXPECT_FALSE(a->isTransparent());
}

TEST_F(PanelFixture, objectThatLeftTheListIsNeverTouched) {
    ObjectEx* cube = addObject(meshfixtures::cube(20.0));
    open(cube);
    ObjectTable::instance()->removeObject(cube, true); // freed
    EXPECT_EQ(dlg.object(), nullptr);
    ObjectEx* other = addObject(meshfixtures::cube(10.0));
    (void)other;
    EXPECT_EQ(dlg.object(), nullptr); // even should the new one reuse the address
    ObjectEx* source = nullptr;
    ObjectEx* copy = nullptr;
    EXPECT_FALSE(dlg.createHollowedObject(&source, &copy));
    dlg.closeIfObjectGone();
    EXPECT_TRUE(dlg.isHidden());
}

// The hollowing tool opened again on the result of Ok, after each way its
// drain holes can end: all cut, one or all of them not reaching the cavity,
// and a cut that fails together and is retried hole by hole (too few crossing
// steps for the hole through the top, enough for the two through corner and
// side). The second preview walks the rims of a mesh the cut changed, and
// the retried cut runs the boolean more than once on one mesh. A cavity left
// sealed is opened by the second Ok; a drained one leaves the wall as all the
// material there is, which the user is told. Undo goes back step by step.
TEST_F(PanelFixture, hollowingAgainWorksAfterEveryOutcomeOfTheDrainHoles) {
    using Hole = std::array<double, 6>; // the clicked point, the direction into the object
    const Hole top{7, 11, 20, 0, 0, -1}, corner{20, 20, 20, -1, -1, -1}, side{0, 10, 10, 1, 0, 0},
        outward{10, 10, 20, 0, 0, 1}, again{13, 7, 20, 0, 0, -1};
    const struct Case {
        const char* what;
        std::vector<Hole> holes;
        std::size_t crossingSteps; // 0: the cut's own budget
        QStringList told;          // on the first Ok, besides trapped resin
        bool sealed;               // the first Ok left the cavity closed
    } cases[] = {
        {"all cut", {top, corner}, 0, {}, false},
        {"one missing", {top, outward}, 0, {"Drain hole 2 does not reach the hollow inside."}, false},
        {"all missing", {outward}, 0, {"Drain hole 1 does not reach the hollow inside."}, true},
        {"retried alone", {top, corner, side}, 300, {"Drain hole 1 could not be cut."}, false},
    };
    auto linesTold = [this] {
        QStringList lines;
        for (const QString& m : host.messages)
            for (const QString& line : m.split('\n'))
                if (!line.contains("traps resin"))
                    lines << line;
        host.messages.clear();
        return lines;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.messages.clear();
        ObjectEx* cube = addObject(meshfixtures::cube(20.0));
        open(cube);
        dlg.context()->setCutStepBudget(c.crossingSteps);
        for (const Hole& h : c.holes) {
            dlg.placeHole(h.data(), h.data() + 3);
            dlg.commitHole();
        }
        dlg.onBtnOKClicked();
        ObjectEx* once = ObjectTable::instance()->objectAt(0);
        ASSERT_NE(once, cube);
        EXPECT_EQ(linesTold(), c.told);
        EXPECT_TRUE(meshstate::linksSoundAndMarksClear(*once));
        EXPECT_EQ(topolib::countUnpairedEdges(*once), 0u);

        open(once);
        dlg.placeHole(again.data(), again.data() + 3);
        dlg.commitHole();
        dlg.onBtnOKClicked();
        ObjectEx* twice = ObjectTable::instance()->objectAt(0);
        const QStringList told = linesTold();
        EXPECT_EQ(twice != once, c.sealed);
        EXPECT_EQ(told.isEmpty(), c.sealed) << told.join('|').toStdString();
        EXPECT_EQ(told.filter("The wall is too thick").isEmpty(), c.sealed);
        EXPECT_TRUE(meshstate::linksSoundAndMarksClear(*twice));
        EXPECT_EQ(topolib::countUnpairedEdges(*twice), 0u);
        EXPECT_NEAR(topolib::liveVolume(*twice), 8000.0 - 4096.0, 0.05 * 4096.0);

        while (host.commandManager()->canUndo())
            ASSERT_TRUE(host.commandManager()->undo());
        EXPECT_EQ(ObjectTable::instance()->objectAt(0), cube);
        EXPECT_EQ(cube->triangleCount(), 12u);
        host.commandManager()->clear();
        ObjectTable::instance()->deleteAllObjects();
    }
}

// The supports of the source do not come with its hollowed copy: the copy,
// which stood on them 5 mm above the platform, is set down onto it and the
// user is told; undo gives back the source on its supports, redo the copy.
TEST_F(PanelFixture, hollowedCopyOfASupportedObjectRestsOnThePlatform) {
    ObjectEx* cube = addObject(meshfixtures::cube(20.0));
    const double lift[3] = {0.0, 0.0, 5.0};
    cube->translate(lift);
    cube->setSupportParams(support::presetSupportParams());
    ASSERT_TRUE(cube->generateSupport());
    const int areas = cube->supportAreaCount();
    ASSERT_GT(areas, 0);
    host.messages.clear();
    open(cube);
    dlg.onBtnOKClicked();
    ObjectEx* hollowed = ObjectTable::instance()->objectAt(0);
    ASSERT_NE(hollowed, cube);
    EXPECT_FALSE(hollowed->hasSupport());
    EXPECT_NEAR(hollowed->bboxMin()[2], 0.0, 1e-9);
    double lowest = HUGE_VAL;
    for (const topolib::StlVertex* v : hollowed->vertices())
        lowest = std::min(lowest, v->pos.z);
    EXPECT_NEAR(lowest, 0.0, 1e-9);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].contains("it now rests on the platform (it stood 5.00 mm above it"))
        << host.messages[0].toStdString();
    // The copy keeps its inner shell where the outer one went.
    const double cavity[3] = {10.0, 10.0, 10.0}, wall[3] = {10.0, 10.0, 1.0};
    hollowed->waitForJobs();
    ASSERT_NE(hollowed->octree(), nullptr);
    EXPECT_FALSE(hollowed->isInsideByUpwardRay(cavity));
    EXPECT_TRUE(hollowed->isInsideByUpwardRay(wall));

    ASSERT_TRUE(host.commandManager()->undo());
    EXPECT_EQ(ObjectTable::instance()->objectAt(0), cube);
    EXPECT_EQ(cube->supportAreaCount(), areas);
    EXPECT_NEAR(cube->bboxMin()[2], 5.0, 1e-9);
    ASSERT_TRUE(host.commandManager()->redo());
    EXPECT_EQ(ObjectTable::instance()->objectAt(0), hollowed);
    EXPECT_NEAR(hollowed->bboxMin()[2], 0.0, 1e-9);
}

} // namespace

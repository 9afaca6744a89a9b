// Every scene command undone and redone restores the scene; the failure rule
// of the history; hollowing replacement; fit to the platform; STL output.
#include "MeshStateHash.h"
#include "SceneTestHost.h"

#include "topolib/Matrix4D.h"

#include <QFileInfo>

#include <cmath>
#include <functional>
#include <memory>

namespace {

using meshfixtures::box;
using meshfixtures::cube;

// A pending rotation of 90 degrees about the vertical line through the
// object's centre, tilted a little so that every coordinate changes.
void setPendingRotation(ObjectEx* obj) {
    double c[3];
    double min[3], max[3];
    ASSERT_TRUE(obj->readBox(min, max));
    for (int k = 0; k < 3; ++k)
        c[k] = (min[k] + max[k]) / 2;
    const double quarter = M_PI / 2;
    const double axis[3] = {0.0, 0.0, 1.0};
    topolib::Matrix4D m;
    topolib::makeAxisRotationMatrix(&quarter, c, axis, m);
    const double tilt = 0.3;
    const double tiltAxis[3] = {1.0, 0.0, 0.0};
    topolib::Matrix4D t;
    topolib::makeAxisRotationMatrix(&tilt, c, tiltAxis, t);
    obj->setTransform(t * m);
}

void setPendingScale(ObjectEx* obj) {
    topolib::Matrix4D m;
    m.at(0, 0) = 1.5;
    m.at(1, 1) = 0.5;
    m.at(2, 2) = 2.0;
    m.at(0, 3) = 3.0;
    obj->setTransform(m);
}

class CountedObject : public ObjectEx {
public:
    explicit CountedObject(bool* deleted) : m_deleted(deleted) {}
    ~CountedObject() override { *m_deleted = true; }

private:
    bool* m_deleted;
};

} // namespace

TEST_F(SceneTest, undoAndRedoOfEveryCommandRestoreTheVertices) {
    importAndWait({file("a.stl", cube(10.0)), file("b.stl", box({20, 5, 8}, {3, 4, 5})),
                   file("c.stl", meshfixtures::icosphere(6.0, 2))});
    ASSERT_EQ(table()->count(), 3);
    const double offset[3] = {1.25, -7.5, 3.0};
    // {name, preparation (selection, pending transforms), command}
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::function<AbtCommand*()> make;
    };
    const std::vector<Case> cases = {
        {"translate by offset", [] { table()->selectAll(true); },
         [&] { return new TranslateCmd(TranslateCmd::ByOffset, offset); }},
        {"translate to centre",
         [] {
             table()->selectAll(false);
             table()->objectAt(0)->setSelected(true);
             table()->objectAt(2)->setSelected(true);
         },
         [] { return new TranslateCmd(TranslateCmd::ToPlatformCenter, nullptr); }},
        {"translate onto platform",
         [&] {
             table()->selectAll(true);
             const double up[3] = {0, 0, 12.0};
             table()->objectAt(1)->translate(up);
         },
         [] { return new TranslateCmd(TranslateCmd::OntoPlatform, nullptr); }},
        {"rotate",
         [] {
             table()->selectAll(true);
             for (ObjectEx* o : table()->objects())
                 setPendingRotation(o);
         },
         [] { return new RoateCmd(); }},
        {"rescale",
         [] {
             table()->selectAll(false);
             table()->objectAt(1)->setSelected(true);
             setPendingScale(table()->objectAt(1));
         },
         [] { return new RescaleCmd(); }},
        {"unload",
         [] {
             table()->selectAll(false);
             table()->objectAt(0)->setSelected(true);
             table()->objectAt(2)->setSelected(true);
         },
         [] { return new UnloadObjectCmd(-1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        const Snapshot before = snapshot();
        table()->setModified(false);
        ASSERT_TRUE(sceneHost()->pushCommand(c.make(), false));
        EXPECT_TRUE(table()->isModified());
        const Snapshot after = snapshot();
        EXPECT_GT(difference(before, after), 1e-3); // the command changed something
        table()->setModified(false);
        ASSERT_TRUE(commands()->undo());
        EXPECT_TRUE(table()->isModified());
        EXPECT_LE(difference(before, snapshot()), 1e-9);
        ASSERT_TRUE(commands()->redo());
        EXPECT_LE(difference(after, snapshot()), 1e-9);
        ASSERT_TRUE(commands()->undo());
        EXPECT_LE(difference(before, snapshot()), 1e-9);
        for (ObjectEx* o : table()->objects())
            EXPECT_EQ(o->id(), table()->indexOf(o));
    }
    // The import itself: undo takes the batch out of the list, redo puts it back.
    commands()->clear();
    importAndWait({file("d.stl", cube(3.0)), file("e.stl", cube(4.0))});
    const Snapshot before = snapshot();
    ASSERT_TRUE(commands()->undo());
    EXPECT_EQ(table()->count(), 3);
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(table()->count(), 5);
    EXPECT_LE(difference(before, snapshot()), 1e-9);
    EXPECT_EQ(table()->objectAt(4)->name(), QStringLiteral("e"));
}

TEST_F(SceneTest, anExceptionInUndoEmptiesTheHistoryOnceWithoutDoubleDelete) {
    importAndWait({file("a.stl", cube(10.0)), file("b.stl", cube(5.0))});
    table()->selectAll(true);
    ASSERT_TRUE(sceneHost()->pushCommand(new UnloadObjectCmd(1), false));
    ASSERT_TRUE(commands()->undo()); // on the redo stack now
    // A pending transform that flattens the object: its inverse does not exist.
    topolib::Matrix4D flat;
    flat.at(2, 2) = 0.0;
    table()->objectAt(0)->setTransform(flat);
    table()->selectAll(false);
    table()->objectAt(0)->setSelected(true);
    ASSERT_TRUE(sceneHost()->pushCommand(new RoateCmd(), false));
    EXPECT_EQ(commands()->redoCount(), 0u);
    EXPECT_FALSE(commands()->undo());
    EXPECT_EQ(host->messages,
              QStringList({"Error. The Undo/Redo list has to be deleted. You cannot perform Undo/Redo now."}));
    EXPECT_EQ(commands()->undoCount(), 0u);
    EXPECT_EQ(commands()->redoCount(), 0u);
    EXPECT_EQ(table()->count(), 2);
    for (ObjectEx* o : table()->objects()) {
        double min[3], max[3];
        EXPECT_TRUE(o->readBox(min, max));
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(std::isfinite(min[k]) && std::isfinite(max[k]));
    }
}

TEST_F(SceneTest, hollowReplacementKeepsTheSlotAndFreesWhatIsOutOfTheList) {
    ObjectEx* first = addMesh(cube(10.0));
    ObjectEx* source = addMesh(cube(6.0, {20, 0, 0}));
    ObjectEx* last = addMesh(cube(4.0, {40, 0, 0}));
    bool sourceDeleted = false, copyDeleted = false;
    auto* copy = new CountedObject(&copyDeleted);
    meshfixtures::fillMesh(*copy, cube(6.0, {20, 0, 0}));

    EXPECT_FALSE(sceneHost()->pushCommand(new HollowCreationCmd(nullptr, nullptr), false)); // no result
    ASSERT_TRUE(sceneHost()->pushCommand(new HollowCreationCmd(source, copy), false));
    EXPECT_EQ(table()->objects(), std::vector<ObjectEx*>({first, copy, last}));
    EXPECT_TRUE(copy->isLoaded());
    ASSERT_TRUE(commands()->undo());
    EXPECT_EQ(table()->objects(), std::vector<ObjectEx*>({first, source, last}));
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(table()->objects(), std::vector<ObjectEx*>({first, copy, last}));
    ASSERT_TRUE(commands()->undo());
    commands()->clear(); // undone: the copy is out of the list and goes
    EXPECT_TRUE(copyDeleted);
    EXPECT_EQ(table()->objectAt(1), source);

    // A source that is not in the list: refused, the copy is freed.
    auto* stray = new CountedObject(&sourceDeleted);
    copyDeleted = false;
    EXPECT_FALSE(
        sceneHost()->pushCommand(new HollowCreationCmd(stray, new CountedObject(&copyDeleted)), false));
    EXPECT_TRUE(copyDeleted);
    EXPECT_FALSE(sourceDeleted);
    delete stray;
}

TEST_F(SceneTest, aCloneTakesTheMeshWithItsEdgesAndOctreeAsTheyAre) {
    ObjectEx* source = addMesh(meshfixtures::torus(20.0, 5.0, 40, 20));
    source->rebuildOctree();
    const double shift[3] = {30.0, 5.0, 1.0};
    source->translate(shift);
    std::unique_ptr<ObjectEx> copy(source->clone(7, true, true));
    EXPECT_EQ(copy->id(), 7);
    EXPECT_EQ(meshstate::stateHash(*copy), meshstate::stateHash(*source));
    ASSERT_GT(copy->edgeCount(), 0u);
    ASSERT_NE(copy->octree(), nullptr);
    // The tree keeps the cube it was built in (moved with the mesh), so the
    // copy picks the same triangles at the moved place.
    EXPECT_EQ(copy->octreeOrigin()[0], source->octreeOrigin()[0]);
    for (int i = 0; i < 20; ++i) {
        const double q[3] = {10.0 + 2.0 * i, 5.0, 40.0}, d[3] = {0.0, 0.01 * i, -1.0};
        double a[3], b[3];
        const topolib::StlTriangle* hitSource = source->pickTriangle(q, d, a);
        const topolib::StlTriangle* hitCopy = copy->pickTriangle(q, d, b);
        ASSERT_EQ(hitSource == nullptr, hitCopy == nullptr);
        if (hitSource) {
            EXPECT_EQ(hitCopy, copy->triangle(static_cast<uint32_t>(hitSource->id)));
        }
    }
    std::unique_ptr<ObjectEx> withoutTree(source->clone(8, true, false));
    EXPECT_EQ(withoutTree->octree(), nullptr);
    EXPECT_EQ(meshstate::stateHash(*withoutTree), meshstate::stateHash(*source));
}

TEST_F(SceneTest, fitToPlatformNeverProducesNonFiniteOrCollapsedCoordinates) {
    const double margin = 5.0;
    // {soup, volume, expected factor (0: nothing happens), lowest point after}
    struct Case {
        const char* what;
        meshfixtures::TriangleSoup soup;
        double volume[3];
        double factor;
        double lowest;
    };
    const std::vector<Case> cases = {
        {"box 10 x 20 x 40", box({10, 20, 40}, {3, 3, 3}), {130, 130, 180}, 4.25, 5.0},
        {"flat facet on the platform", meshfixtures::singleFacet(10.0), {130, 130, 180}, 12.0, 0.0},
        {"volume no larger than the margins", box({10, 20, 40}), {10, 10, 10}, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        table()->deleteAllObjects();
        ObjectEx* obj = addMesh(c.soup);
        double min0[3], max0[3];
        ASSERT_TRUE(obj->readBox(min0, max0));
        MatrixRecord record;
        table()->fitSelectionToPlatform(c.volume, &margin, record);
        EXPECT_EQ(record.size(), c.factor == 0.0 ? 0u : 1u);
        double min[3], max[3];
        ASSERT_TRUE(obj->readBox(min, max));
        for (const auto& p : scenefixtures::vertexPositions(*obj))
            for (double x : p)
                ASSERT_TRUE(std::isfinite(x));
        if (c.factor == 0.0) {
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(min[k], min0[k]);
            continue;
        }
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(max[k] - min[k], (max0[k] - min0[k]) * c.factor, 1e-9);
        EXPECT_NEAR((min[0] + max[0]) / 2, c.volume[0] / 2, 1e-9);
        EXPECT_NEAR((min[1] + max[1]) / 2, c.volume[1] / 2, 1e-9);
        EXPECT_NEAR(min[2], c.lowest, 1e-9);
    }
}

TEST_F(SceneTest, boundsOfAnEmptyOrUnreadySceneAreWellDefined) {
    double out[3] = {7, 7, 7}, range[2] = {7, 7};
    EXPECT_FALSE(table()->visibleObjectsCenter(out));
    EXPECT_EQ(out[0], 0.0);
    EXPECT_FALSE(table()->selectionBoundingBox(out, out));
    EXPECT_FALSE(table()->minCorner(out, true, false));
    EXPECT_FALSE(table()->axisExtent(2, range, false));
    EXPECT_EQ(range[0], 7.0);
    auto* empty = new ObjectEx(); // no mesh: an empty box
    table()->addObject(empty);
    EXPECT_FALSE(table()->maxCorner(out, false, false));
    EXPECT_EQ(table()->triangleCount(false), 0);
    EXPECT_EQ(out[0], 0.0);
}

TEST_F(SceneTest, savingObjectsReportsWhetherEveryByteWasWritten) {
    addMesh(cube(10.0));
    addMesh(cube(5.0, {20, 0, 0}));
    const QString path = dir.filePath("all.stl");
    EXPECT_TRUE(table()->saveObjectsToStl(path, true, false));
    EXPECT_EQ(QFileInfo(path).size(), 84 + 24 * 50);
    EXPECT_FALSE(table()->saveObjectsToStl(dir.filePath("no/such/folder/x.stl"), true, false));
    EXPECT_FALSE(table()->saveObjectsToStl("/dev/full", true, false));
    // A file the STL readers would refuse (beyond the coordinate limit) is
    // not written.
    addMesh(cube(5.0, {topolib::kMaxImportCoordinate - 4, 0, 0}));
    QString note;
    EXPECT_FALSE(table()->saveObjectsToStl(dir.filePath("far.stl"), true, false, &note));
    EXPECT_TRUE(note.contains("1000000 mm")) << note.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("far.stl")));
}

// No move, turn, scale, fit or placement carries an object beyond the one
// coordinate limit: a change that would is refused whole with a message and
// leaves every vertex as it was; the same change short of the limit is made.
TEST_F(SceneTest, noTransformCarriesAnObjectBeyondTheCoordinateLimit) {
    const double limit = topolib::kMaxImportCoordinate;
    // A 1000 mm cube standing with its far corner 100 mm inside the limit.
    ObjectEx* near = addMesh(box({1000, 1000, 1000}, {limit - 1100, 0, 0}));
    addMesh(cube(10.0));
    const auto scaleBy = [](ObjectEx* obj, double f) {
        topolib::Matrix4D m;
        for (int k = 0; k < 3; ++k)
            m.at(k, k) = f;
        obj->setTransform(m);
    };
    // A quarter turn about a vertical line half the limit behind the origin
    // swings the cube to y = 1.5 times the limit.
    const auto quarterTurn = [&](ObjectEx* obj) {
        const double angle = M_PI / 2, pivot[3] = {-limit / 2, 0, 0}, axis[3] = {0, 0, 1};
        topolib::Matrix4D m;
        topolib::makeAxisRotationMatrix(&angle, pivot, axis, m);
        obj->setTransform(m);
    };
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::function<AbtCommand*()> make;
        bool made;
    };
    const double far[3] = {200, 0, 0}, short_[3] = {50, 0, 0}, deep[3] = {0, 0, -2 * limit};
    const std::vector<Case> cases = {
        {"move past the limit", [] {}, [&] { return new TranslateCmd(TranslateCmd::ByOffset, far); }, false},
        {"move short of it", [] {}, [&] { return new TranslateCmd(TranslateCmd::ByOffset, short_); }, true},
        {"move far down", [] {}, [&] { return new TranslateCmd(TranslateCmd::ByOffset, deep); }, false},
        {"turn far round", [&] { quarterTurn(near); }, [] { return new RoateCmd(); }, false},
        {"scale about the origin", [&] { scaleBy(near, 1.1); }, [] { return new RescaleCmd(); }, false},
        {"scale down", [&] { scaleBy(near, 0.5); }, [] { return new RescaleCmd(); }, true},
        {"fit", [] {}, [] { return new FitToPlatformCmd(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        table()->selectAll(false);
        near->setSelected(true);
        c.prepare();
        const Snapshot before = snapshot();
        host->messages.clear();
        EXPECT_EQ(sceneHost()->pushCommand(c.make(), false), c.made);
        EXPECT_EQ(host->messages.size(), c.made ? 0 : 1);
        if (!c.made) {
            EXPECT_TRUE(host->messages.value(0).contains("1000000 mm")) << host->messages.value(0).toStdString();
            EXPECT_EQ(difference(before, snapshot()), 0.0);
            const topolib::Matrix4D identity;
            EXPECT_TRUE(std::equal(identity.m, identity.m + 16, near->transform().m)) << "the preview is dropped";
        } else {
            ASSERT_TRUE(commands()->undo());
        }
        double min[3], max[3];
        for (ObjectEx* o : table()->objects()) {
            ASSERT_TRUE(o->readBox(min, max));
            for (int k = 0; k < 3; ++k)
                EXPECT_TRUE(std::fabs(min[k]) <= limit && std::fabs(max[k]) <= limit);
        }
    }

    // An import placed beside an object that reaches the limit is shifted
    // back inside it.
    table()->deleteAllObjects();
    addMesh(box({1000, 1000, 1000}, {limit - 1000, 0, 0}));
    importAndWait({file("beside.stl", box({3000, 20, 20}, {0, 0, 0}))});
    ASSERT_EQ(table()->count(), 2);
    double min[3], max[3];
    ASSERT_TRUE(table()->objectAt(1)->readBox(min, max));
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(std::fabs(min[k]) <= limit && std::fabs(max[k]) <= limit) << k << ' ' << min[k] << ' ' << max[k];
}

// The support commands: a generation as one command whose undo and redo
// switch positions and whole containers; support points added and deleted
// through the object list's preview and pointed support; sequences that mix
// them with moves, Clear and rebuilds (run under AddressSanitizer they must
// never touch a freed shape or container).
#include "SceneTestHost.h"
#include "SupportDump.h"

#include "scene/SupportCommands.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "support/SupportParams.h"
#include "topolib/Matrix4D.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {

using support::SupportGen;
using P = support::SupportParams;

double lowestZ(ObjectEx* obj) {
    double min[3], max[3];
    EXPECT_TRUE(obj->readBox(min, max));
    return min[2];
}

// What a container shows: its live pickable shapes and every support
// triangle's corners (raft included), sorted.
struct SupportState {
    std::vector<const support::AbtShape*> live;
    std::vector<std::array<double, 9>> triangles;
    bool operator==(const SupportState& o) const { return live == o.live && triangles == o.triangles; }
};

SupportState stateOf(const std::shared_ptr<SupportGen>& gen) {
    SupportState s;
    if (!gen)
        return s;
    support::ShapeDeque live;
    gen->collectLiveShapes(live);
    s.live.assign(live.begin(), live.end());
    std::vector<topolib::StlTriangle*> all;
    gen->appendAllTriangles(all);
    for (const topolib::StlTriangle* t : all) {
        std::array<double, 9> c;
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                c[3 * k + a] = t->vertices[k]->pos[a];
        s.triangles.push_back(c);
    }
    std::sort(s.live.begin(), s.live.end());
    std::sort(s.triangles.begin(), s.triangles.end());
    return s;
}

int liveCones(const std::shared_ptr<SupportGen>& gen) {
    support::ShapeDeque live;
    gen->collectLiveShapes(live);
    return int(
        std::count_if(live.begin(), live.end(), [](support::AbtShape* s) { return s->asCone() != nullptr; }));
}

class SupportCommandsTest : public SceneTest {
protected:
    ObjectEx* addCube(double size, double x, double z) {
        ObjectEx* obj = addMesh(meshfixtures::cube(size, {x, 0.0, z}));
        obj->rebuildOctree();
        return obj;
    }
    // Generate as the panel does, with the presets and the given Z offset.
    int generate(double z, double density = 5.0) {
        P p = support::presetSupportParams();
        p[P::ZOffset] = z;
        p[P::Density] = density;
        return generateSupportsForSelection(p, support::SupportType::Cylinder, support::BaseType::Raft);
    }
    // The support-point preview where the vertical line through (x, y) meets
    // the selection's underside (picking takes the hit farthest along the
    // direction, as seen by a camera below looking up).
    void previewBelow(double x, double y) {
        const double origin[3] = {x, y, 0.5};
        const double down[3] = {0.0, 0.0, -1.0};
        table()->previewConeAt(origin, down);
    }
    bool modifiedBy(const std::function<void()>& fn) {
        table()->setModified(false);
        fn();
        return table()->isModified();
    }
};

TEST_F(SupportCommandsTest, generateOnTwoObjectsIsOneCommandWhoseUndoAndRedoSwitchWholeContainers) {
    ObjectEx* a = addCube(20.0, 0.0, 0.0);
    ObjectEx* b = addCube(10.0, 40.0, 2.0);
    ObjectEx* hidden = addCube(10.0, 80.0, 0.0);
    hidden->setVisible(false);
    // b already has supports of its own (generated at its old height).
    b->generateSupport();
    const std::shared_ptr<SupportGen> bBefore = b->supportGenIfAny();
    ASSERT_TRUE(bBefore && bBefore->areaCount() > 0);
    for (ObjectEx* o : {a, b, hidden})
        o->setSelected(true);

    table()->setModified(false);
    EXPECT_EQ(generate(5.0), 2);
    EXPECT_TRUE(table()->isModified());
    ASSERT_EQ(commands()->undoCount(), 1u);
    auto* cmd = dynamic_cast<const SupportGenCmd*>(commands()->undoTop());
    ASSERT_NE(cmd, nullptr);
    ASSERT_EQ(cmd->entries().size(), 2u);
    EXPECT_NEAR(lowestZ(a), 5.0, 1e-9);
    EXPECT_NEAR(lowestZ(b), 5.0, 1e-9);
    // The hidden selected object is neither lifted nor given supports.
    EXPECT_NEAR(lowestZ(hidden), 0.0, 1e-9);
    EXPECT_FALSE(hidden->hasSupport());
    const std::shared_ptr<SupportGen> aGen = a->supportGenIfAny(), bGen = b->supportGenIfAny();
    ASSERT_TRUE(aGen && bGen);
    EXPECT_NE(bGen, bBefore);
    EXPECT_GT(liveCones(aGen), 4);
    EXPECT_GT(liveCones(bGen), 0);
    // The panel's sizes are diameters.
    EXPECT_DOUBLE_EQ(aGen->getTipRadius(), 0.5);
    EXPECT_DOUBLE_EQ(aGen->getTrunkRadius(), 1.0);
    EXPECT_DOUBLE_EQ(aGen->getBaseSize(), 4.0);
    const SupportState aState = stateOf(aGen), bState = stateOf(bGen);

    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(commands()->undo()); }));
    EXPECT_NEAR(lowestZ(a), 0.0, 1e-9);
    EXPECT_NEAR(lowestZ(b), 2.0, 1e-9);
    EXPECT_EQ(a->supportGenIfAny(), nullptr);
    EXPECT_EQ(b->supportGenIfAny(), bBefore);

    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(commands()->redo()); }));
    EXPECT_NEAR(lowestZ(a), 5.0, 1e-9);
    EXPECT_NEAR(lowestZ(b), 5.0, 1e-9);
    // The very containers the generation filled, unchanged: nothing was computed.
    EXPECT_EQ(a->supportGenIfAny(), aGen);
    EXPECT_EQ(b->supportGenIfAny(), bGen);
    EXPECT_TRUE(stateOf(aGen) == aState);
    EXPECT_TRUE(stateOf(bGen) == bState);
    EXPECT_TRUE(aGen->changed); // fresh render buffers after coming back

    // A new scene may delete the objects before the history: the containers
    // the commands still hold must not reach back to their deleted owners.
    table()->deleteAllObjects();
}

TEST_F(SupportCommandsTest, containersOutliveMovesClearAndRebuildsAcrossUndoAndRedo) {
    ObjectEx* obj = addCube(20.0, 0.0, 0.0);
    obj->setSelected(true);

    // generate -> move -> undo move -> undo generate -> redo generate
    generate(5.0);
    const std::shared_ptr<SupportGen> first = obj->supportGenIfAny();
    const SupportState firstState = stateOf(first);
    obj->setPointedSupport(first->areaAt(0)->shapes.front());
    const double by[3] = {3.0, 0.0, 0.0};
    ASSERT_TRUE(host->pushCommand(new TranslateCmd(TranslateCmd::ByOffset, by), false));
    EXPECT_FALSE(obj->hasSupport());
    EXPECT_EQ(obj->pointedSupport(), nullptr); // removing supports forgets the pointed one
    ASSERT_TRUE(commands()->undo());
    ASSERT_TRUE(commands()->undo());
    EXPECT_FALSE(obj->hasSupport());
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(obj->supportGenIfAny(), first);
    EXPECT_TRUE(stateOf(first) == firstState);

    // generate again -> undo -> Clear -> undo -> redo -> redo
    generate(20.0); // tall enough for bracing bars
    const std::shared_ptr<SupportGen> second = obj->supportGenIfAny();
    ASSERT_NE(second, first);
    ASSERT_TRUE(commands()->undo());
    EXPECT_EQ(obj->supportGenIfAny(), first);
    table()->deleteSupportOfSelected();
    EXPECT_FALSE(obj->hasSupport());
    ASSERT_TRUE(commands()->undo()); // the first generation
    EXPECT_NEAR(lowestZ(obj), 0.0, 1e-9);
    EXPECT_FALSE(obj->hasSupport());
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(obj->supportGenIfAny(), first);
    EXPECT_TRUE(stateOf(first) == firstState);
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(obj->supportGenIfAny(), second);
    EXPECT_NEAR(lowestZ(obj), 20.0, 1e-9);

    // add point -> change support type -> undo -> redo
    previewBelow(6.0, 13.0);
    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(host->pushCommand(new AddConeSupportCmd(), false)); }));
    auto* addCmd = dynamic_cast<const AddConeSupportCmd*>(commands()->undoTop());
    ASSERT_NE(addCmd, nullptr);
    support::AbtShape* added = addCmd->addedSupport()->shapes.front();
    table()->setSupportType(support::SupportType::Cross, true);
    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(commands()->undo()); }));
    EXPECT_TRUE(added->isDeleted());
    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(commands()->redo()); }));
    EXPECT_FALSE(added->isDeleted());
    table()->setSupportType(support::SupportType::Cylinder, true);

    // delete a bar -> rebuild -> undo
    support::AbtShape* bar = supportdump::firstLiveBar(second);
    ASSERT_NE(bar, nullptr);
    obj->setPointedSupport(bar);
    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(host->pushCommand(new DeleteConeSupportCmd(), false)); }));
    EXPECT_TRUE(bar->isDeleted());
    table()->setSupportType(support::SupportType::Cylinder, true); // rebuilds every mesh, bars included
    EXPECT_TRUE(modifiedBy([&] { ASSERT_TRUE(commands()->undo()); }));
    std::vector<topolib::StlTriangle*> triangles;
    second->appendAllTriangles(triangles);
    EXPECT_FALSE(triangles.empty());

    // The commands go before the objects, as a new scene does it.
    commands()->clear();
    table()->deleteAllObjects();
}

// Moving, turning, scaling or fitting a supported object takes its supports
// away; undo gives back the very supports it had (generated cones, links and
// bars, the point the user added, the cone and bar the user deleted) down to
// the last bit, redo takes them away again, and the edits before the move
// still undo on them afterwards.
TEST_F(SupportCommandsTest, undoOfAMoveTurnScaleOrFitGivesBackExactlyTheSupportsItTook) {
    ObjectEx* obj = addCube(20.0, 0.0, 0.0);
    obj->setSelected(true);
    generate(20.0, 5.0); // tall enough for bars
    const std::shared_ptr<SupportGen> gen = obj->supportGenIfAny();
    previewBelow(6.0, 13.0);
    ASSERT_TRUE(host->pushCommand(new AddConeSupportCmd(), false));
    support::AbtShape* bar = supportdump::firstLiveBar(gen);
    ASSERT_NE(bar, nullptr);
    obj->setPointedSupport(bar);
    ASSERT_TRUE(host->pushCommand(new DeleteConeSupportCmd(), false));
    // A cone away from the deleted bar: its links go with it.
    support::ConeShape* away = nullptr;
    for (size_t a = 0; a < gen->areaCount() && !away; ++a)
        for (support::AbtShape* s : gen->areaAt(a)->shapes)
            if (support::ConeShape* c = s->asCone(); c && !c->isDeleted() && !away) {
                bool nearBar = false;
                for (support::AbtShape* l : c->links)
                    for (support::AbtShape* b : static_cast<support::ColumnLink*>(l)->bars)
                        nearBar = nearBar || b == bar;
                if (!nearBar)
                    away = c;
            }
    ASSERT_NE(away, nullptr);
    obj->setPointedSupport(away);
    ASSERT_TRUE(host->pushCommand(new DeleteConeSupportCmd(), false));
    const std::string supported = supportdump::dump(gen);
    ASSERT_NE(supported.find("bar deleted 1"), std::string::npos);
    ASSERT_NE(supported.find("bar deleted 0"), std::string::npos);
    ASSERT_NE(supported.find(" deleted 1 type"), std::string::npos); // a cone
    const size_t edits = commands()->undoCount();

    const double by[3] = {3.0, -2.0, 1.0};
    struct Case {
        const char* what;
        std::function<void()> run; // pushes one command
    };
    const Case cases[] = {
        {"move",
         [&] { ASSERT_TRUE(host->pushCommand(new TranslateCmd(TranslateCmd::ByOffset, by), false)); }},
        {"to the centre", [&] { ASSERT_TRUE(host->pushCommand(new TranslateCmd(1, nullptr), false)); }},
        {"onto the platform", [&] { ASSERT_TRUE(host->pushCommand(new TranslateCmd(2, nullptr), false)); }},
        {"turn",
         [&] {
             const double angle = 0.7, at[3] = {10, 10, 30}, axis[3] = {0, 1, 0};
             topolib::makeAxisRotationMatrix(&angle, at, axis, obj->transform());
             ASSERT_TRUE(host->pushCommand(new RoateCmd(), false));
         }},
        {"scale",
         [&] {
             double min[3], max[3];
             ASSERT_TRUE(obj->readBox(min, max));
             const double f[3] = {1.5, 1.0, 1.0};
             obj->setTransform(scaleInPlace(min, max, f));
             ASSERT_TRUE(host->pushCommand(new RescaleCmd(), false));
         }},
        {"fit", [&] { ASSERT_TRUE(host->pushCommand(new FitToPlatformCmd(), false)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.run();
        ASSERT_EQ(commands()->undoCount(), edits + 1);
        EXPECT_FALSE(obj->hasSupport());
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(commands()->undo());
            EXPECT_EQ(obj->supportGenIfAny(), gen);
            EXPECT_EQ(supportdump::firstDifference(supported, supportdump::dump(gen)), "");
            if (round == 0) {
                ASSERT_TRUE(commands()->redo());
                EXPECT_FALSE(obj->hasSupport());
            }
        }
    }

    // Supports made after the move are the ones redo gives back.
    cases[0].run();
    previewBelow(6.0, 13.0);
    ASSERT_TRUE(host->pushCommand(new AddConeSupportCmd(), false));
    const auto* add = dynamic_cast<const AddConeSupportCmd*>(commands()->undoTop());
    ASSERT_NE(add, nullptr);
    const std::shared_ptr<SupportGen> after = add->container();
    ASSERT_NE(after, gen);
    const std::string added = supportdump::dump(after);
    ASSERT_TRUE(commands()->undo()); // the point
    ASSERT_TRUE(commands()->undo()); // the move
    EXPECT_EQ(obj->supportGenIfAny(), gen);
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(obj->supportGenIfAny(), after);
    ASSERT_TRUE(commands()->redo());
    EXPECT_EQ(supportdump::firstDifference(added, supportdump::dump(obj->supportGenIfAny())), "");
    ASSERT_TRUE(commands()->undo());
    ASSERT_TRUE(commands()->undo());

    // The user's edits undo on the supports the move gave back.
    const int cones = liveCones(gen);
    ASSERT_TRUE(commands()->undo()); // the deleted cone
    EXPECT_EQ(liveCones(gen), cones + 1);
    ASSERT_TRUE(commands()->undo()); // the deleted bar
    EXPECT_FALSE(bar->isDeleted());
    ASSERT_TRUE(commands()->undo()); // the added point
    EXPECT_EQ(liveCones(gen), cones);
}

TEST_F(SupportCommandsTest, addedAndDeletedPointsUndoAndRedoExactlyOnTheContainerTheyRecorded) {
    ObjectEx* obj = addCube(20.0, 0.0, 0.0);
    obj->setSelected(true);
    generate(5.0, 12.0);
    const std::shared_ptr<SupportGen> gen = obj->supportGenIfAny();
    const int cones = liveCones(gen);
    const SupportState before = stateOf(gen);

    // Without a preview nothing is recorded.
    EXPECT_FALSE(host->pushCommand(new AddConeSupportCmd(), false));
    EXPECT_EQ(commands()->undoCount(), 1u);

    previewBelow(3.0, 17.0);
    ASSERT_NE(gen->pending(), nullptr);
    ASSERT_TRUE(host->pushCommand(new AddConeSupportCmd(), false));
    EXPECT_EQ(commands()->undoCount(), 2u);
    auto* add = dynamic_cast<const AddConeSupportCmd*>(commands()->undoTop());
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->container(), gen);
    ASSERT_EQ(add->addedSupport()->shapes.size(), 1u);
    auto* cone = add->addedSupport()->shapes.front()->asCone();
    ASSERT_NE(cone, nullptr);
    EXPECT_NEAR(cone->HeadEnd.x, 3.0, 0.01);
    EXPECT_NEAR(cone->HeadEnd.y, 17.0, 0.01);
    EXPECT_EQ(liveCones(gen), cones + 1);
    ASSERT_FALSE(cone->links.empty());
    const SupportState added = stateOf(gen);

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(commands()->undo());
        EXPECT_TRUE(cone->isDeleted());
        for (support::AbtShape* l : cone->links)
            EXPECT_TRUE(l->isDeleted());
        EXPECT_TRUE(stateOf(gen) == before);
        ASSERT_TRUE(commands()->redo());
        EXPECT_TRUE(stateOf(gen) == added);
    }

    // Delete the added cone with its links: one command; undo and redo exact.
    obj->setPointedSupport(cone);
    const size_t coneLinks = cone->links.size();
    ASSERT_TRUE(host->pushCommand(new DeleteConeSupportCmd(), false));
    auto* del = dynamic_cast<const DeleteConeSupportCmd*>(commands()->undoTop());
    ASSERT_NE(del, nullptr);
    EXPECT_EQ(del->object(), obj);
    EXPECT_EQ(del->changedShapes().size(), 1u + coneLinks);
    EXPECT_EQ(obj->pointedSupport(), nullptr);
    EXPECT_EQ(liveCones(gen), cones);
    const SupportState deleted = stateOf(gen);
    ASSERT_TRUE(commands()->undo());
    EXPECT_TRUE(stateOf(gen) == added);
    ASSERT_TRUE(commands()->redo());
    EXPECT_TRUE(stateOf(gen) == deleted);
    ASSERT_TRUE(commands()->undo());

    // No pointed support, or one already deleted: nothing is recorded.
    EXPECT_FALSE(host->pushCommand(new DeleteConeSupportCmd(), false));
    obj->setPointedSupport(cone);
    ASSERT_TRUE(commands()->undo()); // the add: the cone is deleted again
    EXPECT_FALSE(host->pushCommand(new DeleteConeSupportCmd(), false));
    ASSERT_TRUE(commands()->redo());

    // A move drops the supports: undo and redo of the add still work on the
    // container they recorded, which the object no longer holds.
    const double by[3] = {0.0, 2.0, 0.0};
    ASSERT_TRUE(host->pushCommand(new TranslateCmd(TranslateCmd::ByOffset, by), false));
    EXPECT_FALSE(obj->hasSupport());
    ASSERT_TRUE(commands()->undo()); // the move
    ASSERT_TRUE(commands()->undo()); // the add
    EXPECT_TRUE(cone->isDeleted());
    EXPECT_TRUE(stateOf(gen) == before);
    ASSERT_TRUE(commands()->redo());
    EXPECT_TRUE(stateOf(gen) == added);
}

} // namespace

namespace {

using LinkLists = std::map<const support::ConeShape*, std::vector<support::AbtShape*>>;

LinkLists linkListsOf(const std::shared_ptr<SupportGen>& gen) {
    LinkLists lists;
    for (const support::SupportAreaAbs* a : gen->areas)
        for (support::AbtShape* s : a->shapes)
            if (const support::ConeShape* c = s->asCone())
                lists[c] = c->links;
    return lists;
}

// Live cylinder pairs whose bars are missing or doubled: every live link of a
// pair is counted, each pair must have at most one link carrying bars.
int pairsWithDoubledBars(const std::shared_ptr<SupportGen>& gen) {
    std::map<std::pair<const void*, const void*>, int> carriers;
    for (const auto& [cone, links] : linkListsOf(gen))
        for (support::AbtShape* l : links) {
            auto* link = static_cast<support::ColumnLink*>(l);
            if (link->isDeleted() || link->first != cone || link->bars.empty())
                continue;
            const void* a = link->first;
            const void* b = link->second;
            ++carriers[{std::min(a, b), std::max(a, b)}];
        }
    return int(std::count_if(carriers.begin(), carriers.end(), [](const auto& e) { return e.second > 1; }));
}

} // namespace

// A point committed next to a cone that already has four links takes that
// cone's longest link away; undo gives it back with its bars, in its place in
// both cones' lists, and redo takes it again. Rebuilds, Clear and the end of
// everything in between stay clean.
TEST_F(SupportCommandsTest, undoOfAPointGivesTheNeighboursBackTheLinksItsTrimsTook) {
    ObjectEx* obj = addCube(30.0, 0.0, 0.0);
    obj->setSelected(true);
    generate(20.0, 5.0); // trunks long enough for bars
    const std::shared_ptr<SupportGen> gen = obj->supportGenIfAny();
    const support::ConeShape* full = nullptr;
    for (const auto& [cone, links] : linkListsOf(gen))
        if (!cone->isDeleted() && links.size() == 4 && cone->FootZ < 0.0)
            full = cone;
    ASSERT_NE(full, nullptr);
    const SupportState before = stateOf(gen);
    const LinkLists listsBefore = linkListsOf(gen);

    previewBelow(full->FootPoint.x + 1.0, full->FootPoint.y + 0.7);
    ASSERT_TRUE(host->pushCommand(new AddConeSupportCmd(), false));
    const SupportState added = stateOf(gen);
    const LinkLists listsAdded = linkListsOf(gen);
    ASSERT_LE(listsAdded.at(full).size(), 4u);
    int taken = 0;
    for (support::AbtShape* l : listsBefore.at(full))
        taken += std::count(listsAdded.at(full).begin(), listsAdded.at(full).end(), l) == 0;
    ASSERT_GE(taken, 1);
    ASSERT_NE(added.triangles.size(), before.triangles.size());

    for (int round = 0; round < 2; ++round) {
        table()->setModified(false);
        ASSERT_TRUE(commands()->undo());
        EXPECT_TRUE(table()->isModified());
        EXPECT_TRUE(stateOf(gen) == before);
        LinkLists undone = linkListsOf(gen);
        undone.erase(dynamic_cast<const AddConeSupportCmd*>(commands()->redoTop())
                         ->addedSupport()
                         ->shapes[0]
                         ->asCone());
        EXPECT_TRUE(undone == listsBefore);
        ASSERT_TRUE(commands()->redo());
        EXPECT_TRUE(stateOf(gen) == added);
        EXPECT_TRUE(linkListsOf(gen) == listsAdded);
    }
    EXPECT_EQ(pairsWithDoubledBars(gen), 0);

    // Rebuilds by type changes on either side of undo and redo; Clear while
    // undone; then the history and the object go (ASan checks the order).
    ASSERT_TRUE(commands()->undo());
    table()->setSupportType(support::SupportType::Cross, true);
    table()->setSupportType(support::SupportType::Cylinder, true);
    EXPECT_EQ(pairsWithDoubledBars(gen), 0);
    ASSERT_TRUE(commands()->redo());
    table()->setSupportBaseType(support::BaseType::Circle, true);
    EXPECT_EQ(pairsWithDoubledBars(gen), 0);
    ASSERT_TRUE(commands()->undo());
    table()->deleteSupportOfSelected();
    ASSERT_TRUE(commands()->redo());
    ASSERT_TRUE(commands()->undo());
    table()->deleteAllObjects();
    commands()->clear();
}

// Random sequences of everything that touches supports, on two objects whose
// selection and visibility change too. After each step: a support change set
// the modified flag, a hidden selected object was neither lifted nor given
// supports, and every container the objects and the history can reach still
// gives its triangles (AddressSanitizer reports any freed shape touched).
TEST_F(SupportCommandsTest, randomEditSequencesKeepEveryReachableContainerSound) {
    std::map<int, int> done; // successful steps by operation
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        auto uniform = [&](double lo, double hi) {
            return std::uniform_real_distribution<double>(lo, hi)(rng);
        };
        std::vector<ObjectEx*> objects = {addCube(16.0, 0.0, 0.0),
                                          addMesh(meshfixtures::icosphere(8.0, 3, {40, 8, 8}))};
        objects[1]->rebuildOctree();
        // Weak: only what an object or the history still holds is looked at.
        std::vector<std::weak_ptr<SupportGen>> seen;
        for (int step = 0; step < 60; ++step) {
            for (ObjectEx* o : objects) {
                if (pick(4) == 0)
                    o->setSelected(!o->isSelected());
                if (pick(6) == 0)
                    o->setVisible(!o->isVisible());
            }
            std::vector<std::pair<double, std::shared_ptr<SupportGen>>> hidden;
            for (ObjectEx* o : objects)
                hidden.emplace_back(lowestZ(o), o->supportGenIfAny());
            table()->setModified(false);
            const int roll = pick(15);
            const int op = roll >= 12 ? 9 + roll % 2 : roll; // undo and redo twice as often
            std::vector<ObjectEx*> selected;
            for (ObjectEx* o : objects)
                if (o->isSelected())
                    selected.push_back(o);
            ObjectEx* target = selected.empty() ? objects[pick(2)] : selected[pick(int(selected.size()))];
            // Points are added and deleted on supports, which moves, turns and
            // Clear take away often: generate first when there are none.
            if ((op == 1 || op == 2) && !target->hasSupport())
                generate(uniform(2.0, 15.0), uniform(2.0, 8.0));
            table()->setModified(false);
            bool changesSupports = true;
            switch (op) {
            case 0:
                changesSupports = generate(uniform(2.0, 15.0), uniform(2.0, 8.0)) > 0;
                break;
            case 1: {
                double min[3], max[3];
                target->readBox(min, max);
                previewBelow(uniform(min[0], max[0]), uniform(min[1], max[1]));
                const std::shared_ptr<SupportGen> gen = target->supportGenIfAny();
                const SupportState before = stateOf(gen);
                const LinkLists listsBefore = gen ? linkListsOf(gen) : LinkLists();
                changesSupports = host->pushCommand(new AddConeSupportCmd(), false);
                if (changesSupports && gen) {
                    // Undone and redone at once, the point leaves no trace and
                    // comes back exactly.
                    const SupportState added = stateOf(gen);
                    const LinkLists listsAdded = linkListsOf(gen);
                    ASSERT_TRUE(commands()->undo());
                    EXPECT_TRUE(stateOf(gen) == before);
                    LinkLists undone = linkListsOf(gen);
                    for (auto it = undone.begin(); it != undone.end();)
                        it = listsBefore.count(it->first) ? std::next(it) : undone.erase(it);
                    EXPECT_TRUE(undone == listsBefore);
                    ASSERT_TRUE(commands()->redo());
                    EXPECT_TRUE(stateOf(gen) == added);
                    EXPECT_TRUE(linkListsOf(gen) == listsAdded);
                }
                break;
            }
            case 2: {
                support::ShapeDeque live;
                if (target->hasSupport())
                    target->supportGenIfAny()->collectLiveShapes(live);
                if (!live.empty())
                    target->setPointedSupport(live[pick(int(live.size()))]);
                changesSupports = host->pushCommand(new DeleteConeSupportCmd(), false);
                break;
            }
            case 3: {
                const double by[3] = {uniform(-3, 3), uniform(-3, 3), uniform(0, 3)};
                host->pushCommand(new TranslateCmd(TranslateCmd::ByOffset, by), false);
                changesSupports = false;
                break;
            }
            case 4:
            case 5:
                for (ObjectEx* o : objects) {
                    if (op == 4) {
                        const double angle = uniform(0.1, 1.0), at[3] = {8, 8, 8}, axis[3] = {0, 1, 0};
                        topolib::makeAxisRotationMatrix(&angle, at, axis, o->transform());
                    } else {
                        o->resetTransform();
                        o->transform()[0] = o->transform()[5] = o->transform()[10] = uniform(0.7, 1.3);
                    }
                }
                host->pushCommand(op == 4 ? static_cast<AbtCommand*>(new RoateCmd()) : new RescaleCmd(),
                                  false);
                for (ObjectEx* o : objects) {
                    o->resetTransform();
                    o->waitForJobs();
                }
                changesSupports = false;
                break;
            case 6:
                ObjectTable::instance()->deleteSupportOfSelected();
                table()->setModified(true); // the panel's Clear sets it (checked in the panel test)
                break;
            case 7:
                table()->setSupportType(support::supportTypeFromFlag(pick(2)), true);
                table()->setModified(true);
                break;
            case 8:
                table()->setSupportBaseType(*support::baseTypeFromStored(pick(3)), true);
                table()->setModified(true);
                break;
            case 9:
            case 10: {
                changesSupports = op == 9 ? commands()->undo() : commands()->redo();
                const AbtCommand* cmd = op == 9 ? commands()->redoTop() : commands()->undoTop();
                changesSupports = changesSupports && (dynamic_cast<const SupportGenCmd*>(cmd) ||
                                                      dynamic_cast<const AddConeSupportCmd*>(cmd) ||
                                                      dynamic_cast<const DeleteConeSupportCmd*>(cmd));
                break;
            }
            default:
                if (target->hasSupport())
                    target->supportGenIfAny()->rebuildShapeMeshes();
                changesSupports = false;
                break;
            }
            done[op] += changesSupports;
            if (changesSupports) {
                EXPECT_TRUE(table()->isModified()) << "step " << step << " op " << op;
            }
            if (op <= 2) {
                for (size_t i = 0; i < objects.size(); ++i) {
                    if (objects[i]->isSelected() && !objects[i]->isVisible()) {
                        EXPECT_EQ(lowestZ(objects[i]), hidden[i].first);
                        EXPECT_EQ(objects[i]->supportGenIfAny(), hidden[i].second);
                    }
                }
            }
            for (ObjectEx* o : objects)
                if (o->hasSupport())
                    seen.push_back(o->supportGenIfAny());
            for (const auto& weak : seen)
                if (std::shared_ptr<SupportGen> gen = weak.lock())
                    stateOf(gen);
        }
        // The history goes first, as a new scene does it; then the objects.
        seen.clear();
        commands()->clear();
        table()->deleteAllObjects();
    }
    // Generations, points added and deleted, and undo and redo of generations
    // really happened.
    for (int op : {0, 1, 2, 9, 10})
        EXPECT_GE(done[op], 3) << "op " << op;
}

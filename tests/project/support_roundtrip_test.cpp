// Supports saved in a project come back exactly as they were: over seeded
// random scenes of one to three objects (the island shapes, organic bodies,
// and machined parts of real size, some 200 mm, with thin lips, rings and
// ceilings), each turned and sized at random, supported with either support
// type, every base type and random settings, then edited as the user does
// (cones and bars deleted, points added, each one command), every object's
// live supports after a save and an open equal those before to the last bit:
// every cone's numbers and mesh, its links in order with the cone that
// carries them, every bar and whether the user deleted it, every triangle
// drawn, the raft, and the container's settings; and so are they after the
// reopened supports are rebuilt as another support and base type and the
// user undoes both.
#include "ProjectTestSupport.h"

#include "IslandShapes.h"

#include "project/VlrProjectFileHandling.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "scene/SupportCommands.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/SupportGen.h"
#include "support/SupportParams.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

namespace mf = meshfixtures;
using support::ConeShape;
using support::SupportGen;

struct Model {
    std::string name;
    mf::TriangleSoup soup;
    bool realSize; // a machined part shown at its own size
};

std::vector<Model> models() {
    std::vector<Model> out;
    for (const islandshapes::Shape& s : islandshapes::all())
        out.push_back({s.name, s.soup, false});
    out.push_back({"blob", mf::irregularIcosphere(9.0, 2, 11), false});
    out.push_back({"head", mf::bumpyHead(20.0, 4), false});
    out.push_back({"ring", mf::torus(10.0, 3.0, 24, 10), false});
    out.push_back({"housing", mf::machinedHousing(), true});
    out.push_back({"bracket", mf::machinedBracket(), true});
    return out;
}

// The live supports of a container as numbers in sections: each live cone
// named by its place among them with its numbers and its own mesh, its links
// to live cones in its order (the other cone, whether it carries the link,
// each bar's state, radius, ends and mesh); then every triangle drawn in the
// order drawn, and the settings. Two are alike only when every number is.
struct Supports {
    std::vector<double> numbers;
    std::vector<std::pair<size_t, std::string>> sections; // where each begins

    void begin(std::string name) { sections.emplace_back(numbers.size(), std::move(name)); }
    void add(double v) { numbers.push_back(v); }
    void add(const topolib::Vector3D& p) { numbers.insert(numbers.end(), p.data(), p.data() + 3); }
    void add(const std::vector<topolib::StlTriangle*>& triangles) {
        add(double(triangles.size()));
        for (const topolib::StlTriangle* t : triangles)
            for (int k = 0; k < 3; ++k)
                add(t->vertices[k]->pos);
    }
};

// "" when alike, else the first section and number where they differ.
std::string firstDifference(const Supports& a, const Supports& b) {
    size_t n = 0;
    while (n < std::min(a.numbers.size(), b.numbers.size()) &&
           std::memcmp(&a.numbers[n], &b.numbers[n], sizeof(double)) == 0)
        ++n;
    if (n == a.numbers.size() && n == b.numbers.size() && a.sections == b.sections)
        return "";
    std::string where = "the sections";
    for (const auto& [at, name] : a.sections)
        if (at <= n)
            where = name;
    char values[96] = "";
    if (n < a.numbers.size() && n < b.numbers.size())
        std::snprintf(values, sizeof values, ": %.17g against %.17g", a.numbers[n], b.numbers[n]);
    return "in " + where + ", number " + std::to_string(n) + values;
}

Supports liveSupports(const SupportGen& gen) {
    std::map<const ConeShape*, size_t> place;
    std::vector<const ConeShape*> live;
    for (const support::SupportAreaAbs* area : gen.areas)
        for (const support::AbtShape* shape : area->shapes)
            if (const ConeShape* c = shape->asCone(); c != nullptr && !c->isDeleted()) {
                place.emplace(c, live.size());
                live.push_back(c);
            }
    Supports s;
    for (size_t k = 0; k < live.size(); ++k) {
        const ConeShape* c = live[k];
        s.begin("cone " + std::to_string(k));
        for (double v : {double(c->ConeSupportType), double(c->GenerateBase), c->ContactRadius, c->HeadRadius,
                         c->HeadExtend, c->NeckRadius, c->BottomRadius, c->CrossRadius, c->FootZ,
                         c->BaseThickness, c->BaseSize, c->BeamRadius})
            s.add(v);
        for (const topolib::Vector3D* p : {&c->ContactPoint, &c->ContactNormal, &c->TipCentre, &c->HeadEnd,
                                           &c->TrunkFoot, &c->FootTipCentre, &c->FootPoint, &c->FootNormal})
            s.add(*p);
        s.add(c->triangles);
        for (const support::AbtShape* l : c->links) {
            const auto* link = static_cast<const support::ColumnLink*>(l);
            const auto other = place.find(link->other(c));
            if (other == place.end())
                continue;
            s.begin("cone " + std::to_string(k) + ", link to " + std::to_string(other->second));
            s.add(double(link->first == c));
            s.add(double(link->deleted));
            for (const support::AbtShape* b : link->bars) {
                const auto* bar = static_cast<const support::CylinderBar*>(b);
                s.add(double(bar->deleted));
                s.add(bar->radius);
                s.add(bar->start);
                s.add(bar->end);
                s.add(bar->triangles);
            }
        }
    }
    std::vector<topolib::StlTriangle*> drawn;
    gen.appendAllTriangles(drawn);
    s.begin("the triangles drawn");
    s.add(drawn);
    s.begin("the settings");
    for (double v :
         {double(support::storedValue(gen.supportType)), double(support::storedValue(gen.baseType)),
          double(gen.RemoveInternal), gen.MaxAngle, gen.Density, gen.tipRadius, gen.trunkRadius,
          gen.branchRadius, gen.HeadExtend, gen.BaseThickness, gen.baseSize})
        s.add(v);
    return s;
}

// Random settings within the panel's ranges (sizes are diameters there).
support::SupportParams randomParams(std::mt19937& random, bool realSize) {
    using P = support::SupportParams;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    P p = support::presetSupportParams();
    p[P::TipSize] = 0.6 + 0.6 * unit(random);
    p[P::TrunkSize] = 1.4 + 1.6 * unit(random);
    p[P::BranchSize] = 0.6 + 1.0 * unit(random);
    p[P::HeadExtend] = 1.5 + 2.0 * unit(random);
    p[P::ZOffset] = 2.0 + 18.0 * unit(random);
    p[P::BottomSize] = 2.0 + 4.0 * unit(random);
    p[P::BaseThickness] = 0.5 + 2.0 * unit(random);
    p[P::Density] = (realSize ? 4.0 : 3.0) + 4.0 * unit(random);
    p[P::Angle] = 35.0 + 20.0 * unit(random);
    p.removeInternal = random() % 4 == 0;
    return p;
}

void selectOnly(ObjectEx* o) {
    for (ObjectEx* other : ObjectTable::instance()->objects())
        other->setSelected(other == o);
}

// Deletes a live shape of the kind as the user does (pointed in the view,
// then the command); false when there is none.
bool deleteOne(ObjectEx* o, support::AbtShape::Kind kind, std::mt19937& random) {
    support::ShapeDeque live;
    o->supportGenIfAny()->collectLiveShapes(live);
    std::vector<support::AbtShape*> candidates;
    for (support::AbtShape* s : live)
        if (s->kind() == kind)
            candidates.push_back(s);
    if (candidates.empty())
        return false;
    selectOnly(o);
    o->setPointedSupport(candidates[random() % candidates.size()]);
    return sceneHost()->pushCommand(new DeleteConeSupportCmd(), false);
}

// Adds a point under a facet facing down, as the user does (the preview
// under the cursor, then the command); false when none was added.
bool addOne(ObjectEx* o, std::mt19937& random) {
    std::vector<const topolib::StlTriangle*> down;
    for (const topolib::StlTriangle* t : o->triangles())
        if (t != nullptr && !t->isDeleted() && t->normal.z < -0.5)
            down.push_back(t);
    if (down.empty())
        return false;
    const topolib::StlTriangle* t = down[random() % down.size()];
    double origin[3] = {0.0, 0.0, 0.5};
    for (int i = 0; i < 2; ++i)
        origin[i] = (t->vertices[0]->pos[i] + t->vertices[1]->pos[i] + t->vertices[2]->pos[i]) / 3.0;
    const double down3[3] = {0.0, 0.0, -1.0};
    selectOnly(o);
    ObjectTable::instance()->previewConeAt(origin, down3);
    return sceneHost()->pushCommand(new AddConeSupportCmd(), false);
}

} // namespace

TEST(ProjectSupports, whatIsSavedComesBackToTheLastBit) {
    const std::vector<Model> all = models();
    std::vector<const Model*> real;
    for (const Model& m : all)
        if (m.realSize)
            real.push_back(&m);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("supports.vpf"));
    ObjectTable* table = ObjectTable::instance();
    VlrProjectFileHandling* files = VlrProjectFileHandling::instance();
    std::mt19937 random(65);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::vector<islandshapes::Rotation> turns = islandshapes::randomRotations(64, 6501);
    const int kScenes = 30;
    int edited = 0, barsDeleted = 0, multi = 0, realScenes = 0;
    for (int scene = 0; scene < kScenes; ++scene) {
        projecttest::clearScene();
        // Every fifth scene holds a machined part at its own size.
        const int objects = 1 + int(random() % 3);
        double x0 = 0.0;
        std::string names;
        for (int k = 0; k < objects; ++k) {
            const bool big = k == 0 && scene % 5 == 0;
            const Model& m = big ? *real[size_t(scene / 5) % real.size()] : all[random() % all.size()];
            // Real parts stand as made, upside down or turned at random.
            const int way = int(random() % 3);
            const islandshapes::Rotation turn = turns[random() % turns.size()];
            const mf::TriangleSoup turned = !big || way == 2
                                                ? islandshapes::turned(m.soup, turn.axis, turn.degrees)
                                            : way == 1 ? islandshapes::turned(m.soup, {1, 0, 0}, 180.0)
                                                       : m.soup;
            const double size = big ? 150.0 + 60.0 * unit(random) : 15.0 + 45.0 * unit(random);
            const mf::TriangleSoup placed = mf::translated(mf::fitted(turned, size), {x0, 0.0, 0.0});
            table->addObject(projecttest::makeObject(placed, QString::fromStdString(m.name)));
            x0 += size + 10.0;
            names += " " + m.name + (big ? " (real size)" : "");
            realScenes += big ? 1 : 0;
        }
        multi += objects > 1 ? 1 : 0;
        SCOPED_TRACE(::testing::Message() << "scene " << scene << ":" << names);
        for (ObjectEx* o : table->objects()) {
            selectOnly(o);
            const auto type = support::supportTypeFromFlag(int(random() % 2));
            const auto base = *support::baseTypeFromStored(int(random() % 3));
            ASSERT_EQ(generateSupportsForSelection(randomParams(random, o->bboxMax()[2] > 100.0), type, base),
                      1);
        }
        // Edits in two scenes of three: cones and bars deleted, points added.
        if (scene % 3 != 2) {
            for (ObjectEx* o : table->objects()) {
                for (int k = 0; k < 3; ++k)
                    deleteOne(o, support::AbtShape::Kind::Cone, random);
                addOne(o, random);
                for (int k = 0; k < 3; ++k)
                    barsDeleted += deleteOne(o, support::AbtShape::Kind::Bar, random) ? 1 : 0;
            }
            ++edited;
        }
        std::vector<Supports> before;
        for (ObjectEx* o : table->objects())
            before.push_back(liveSupports(*o->supportGenIfAny()));

        files->saveGLInfo();
        ASSERT_EQ(files->save(path), 0);
        sceneHost()->commandManager()->clear();
        projecttest::clearScene();
        ASSERT_EQ(files->open(0, path, table), 0);
        ASSERT_EQ(table->objects().size(), before.size());
        for (size_t k = 0; k < before.size(); ++k) {
            const std::shared_ptr<SupportGen>& gen = table->objects()[k]->supportGenIfAny();
            ASSERT_TRUE(gen) << "object " << k;
            EXPECT_EQ(firstDifference(before[k], liveSupports(*gen)), "") << "object " << k;
        }
        // The reopened supports rebuilt as another type and base and back
        // through undo are still those saved.
        for (ObjectEx* o : table->objects())
            o->setSelected(true);
        const int type = int(random() % 2), base = int(random() % 3);
        ASSERT_TRUE(sceneHost()->pushCommand(new SupportTypeCmd(support::supportTypeFromFlag(type)), false));
        ASSERT_TRUE(
            sceneHost()->pushCommand(new SupportBaseTypeCmd(*support::baseTypeFromStored(base)), false));
        ASSERT_TRUE(sceneHost()->commandManager()->undo());
        ASSERT_TRUE(sceneHost()->commandManager()->undo());
        for (size_t k = 0; k < before.size(); ++k)
            EXPECT_EQ(firstDifference(before[k], liveSupports(*table->objects()[k]->supportGenIfAny())), "")
                << "object " << k << " after type " << type << " and base " << base << ", undone";
    }
    sceneHost()->commandManager()->clear();
    projecttest::clearScene();
    // The scenes are what they say: edited, several objects, real parts.
    EXPECT_GE(edited, kScenes / 2);
    EXPECT_GT(barsDeleted, kScenes / 2);
    EXPECT_GE(multi, kScenes / 3);
    EXPECT_EQ(realScenes, kScenes / 5);
}

// The bracing of a set of live cones (which cones are linked, the order of
// each cone's links, the bars) depends on the cones alone: generated supports,
// supports edited by hand (a point added, a cone deleted, bars deleted) and the same
// supports read back from their project entry (as stored now, and as an
// earlier version stored them: contact points only, the cones placed, linked
// and braced again), in the stored order or in the
// reverse one, give the same supports down to the last bit of every support
// triangle, the raft's included, and the container's settings come back.
// Checked over seeded random scenes: a dozen shapes turned and lifted at
// random, both support types, every base type, random settings.
#include "IslandShapes.h"
#include "MeshFixtures.h"
#include "SupportDump.h"

#include "fileIo/VGeoFileHandling.h"
#include "project/SupportBinding.h"
#include "project/SupportEntry.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

namespace mf = meshfixtures;
using support::ConeShape;
using support::SupportGen;

std::vector<islandshapes::Shape> shapes() {
    std::vector<islandshapes::Shape> out = islandshapes::all();
    out.push_back({"cube", mf::cube(12.0)});
    out.push_back({"blob", mf::irregularIcosphere(9.0, 2, 11)});
    out.push_back({"ring", mf::torus(10.0, 3.0, 24, 10)});
    out.push_back({"rod", mf::cylinder(3.0, {0, 0, 0}, {18, 4, 6}, 16)});
    return out;
}

std::string key(const ConeShape* c) {
    std::string s;
    supportdump::appendPoint(s, c->ContactPoint);
    return s;
}

// The live supports, each cone by where it touches the model, in that
// order: its placement and triangles, then its links in list order with the
// other cone, the carrier and every bar; then the raft. Independent of the
// order of regions and shapes in the container.
std::string liveSupports(const SupportGen& gen) {
    std::map<std::string, std::string> cones;
    for (const support::SupportAreaAbs* area : gen.areas)
        for (const support::AbtShape* shape : area->shapes) {
            const ConeShape* c = shape->asCone();
            if (c == nullptr || c->isDeleted())
                continue;
            std::string s =
                "type " + std::to_string(c->ConeSupportType) + " base " + std::to_string(c->GenerateBase);
            supportdump::appendPoint(s, c->HeadEnd);
            supportdump::appendPoint(s, c->TrunkFoot);
            supportdump::appendPoint(s, c->FootPoint);
            supportdump::appendTriangles(s, c->triangles);
            for (const support::AbtShape* l : c->links) {
                const auto* link = static_cast<const support::ColumnLink*>(l);
                s += "\n  link to" + key(link->other(c)) + " carried by" + key(link->first) + " deleted " +
                     std::to_string(link->deleted);
                for (const support::AbtShape* b : link->bars) {
                    std::vector<topolib::StlTriangle*> triangles;
                    b->appendTriangles(triangles, true);
                    s += "\n    bar deleted " + std::to_string(b->deleted);
                    supportdump::appendTriangles(s, triangles);
                }
            }
            cones[key(c)] = s;
        }
    std::string out;
    for (const auto& [where, what] : cones)
        out += "cone" + where + " " + what + "\n";
    out += "raft";
    supportdump::appendTriangles(out, gen.baseTriangles);
    return out;
}

// Every setting that shapes the container's supports and raft.
std::vector<double> settings(const SupportGen& g) {
    return {double(support::storedValue(g.supportType)),
            double(support::storedValue(g.baseType)),
            double(g.RemoveInternal),
            g.MaxAngle,
            g.Density,
            g.tipRadius,
            g.trunkRadius,
            g.branchRadius,
            g.HeadExtend,
            g.BaseThickness,
            g.baseSize};
}

// The geometry writer's numbering of a mesh written as it is.
fileIo::VGeoNumbering identity(const topolib::StlObject& mesh) {
    fileIo::VGeoNumbering n;
    for (const topolib::StlTriangle* t : mesh.triangles())
        if (t != nullptr && t->id >= 0) {
            if (n.triangles.size() <= size_t(t->id))
                n.triangles.resize(size_t(t->id) + 1, -1);
            n.triangles[size_t(t->id)] = t->id;
        }
    n.edges.resize(mesh.edges().size());
    for (size_t k = 0; k < n.edges.size(); ++k)
        n.edges[k] = int32_t(k);
    return n;
}

// The container as a project stores it and reads it back (regions in the
// stored order or reversed) into a new container of the same mesh; as an
// earlier version stored it (no placement, links nor bars), with older.
std::unique_ptr<SupportGen> reopened(const SupportGen& gen, topolib::StlObject& mesh, bool reversed,
                                     bool older) {
    project::SupportRecord written = project::supportRecordFrom(gen, identity(mesh));
    if (older)
        for (project::AreaRecord& area : written.areas)
            for (project::ConeRecord& cone : area.cones) {
                cone.placement.reset();
                cone.links.clear();
            }
    const QByteArray xml = project::writeSupportEntry(written);
    const project::MeshLimits limits{int(mesh.triangles().size()), int(mesh.edges().size()),
                                     int(mesh.vertices().size())};
    project::SupportRecord record = project::readSupportEntry(xml, limits);
    if (reversed)
        std::reverse(record.areas.begin(), record.areas.end());
    // A mesh read from a project carries no region's groups.
    mesh.resetTriangleGroups();
    auto back = std::make_unique<SupportGen>(&mesh);
    project::fillSupportGen(*back, mesh, record);
    return back;
}

// A live cone chosen at random; null when there is none.
ConeShape* someLiveCone(const SupportGen& gen, std::mt19937& random) {
    std::vector<ConeShape*> live;
    for (const support::SupportAreaAbs* area : gen.areas)
        for (support::AbtShape* s : area->shapes)
            if (ConeShape* c = s->asCone(); c != nullptr && !c->isDeleted())
                live.push_back(c);
    return live.empty() ? nullptr : live[random() % live.size()];
}

// A point added by hand under a facet facing down, chosen at random.
void addPointByHand(SupportGen& gen, topolib::StlObject& mesh, std::mt19937& random) {
    std::vector<topolib::StlTriangle*> down;
    for (topolib::StlTriangle* t : mesh.triangles())
        if (t != nullptr && !t->isDeleted() && t->normal.z < -0.5)
            down.push_back(t);
    if (down.empty())
        return;
    topolib::StlTriangle* t = down[random() % down.size()];
    double p[3];
    for (int i = 0; i < 3; ++i)
        p[i] = (t->vertices[0]->pos[i] + t->vertices[1]->pos[i] + t->vertices[2]->pos[i]) / 3.0;
    gen.previewAddedPoint(t, p);
    gen.linkCone();
}

// Up to three live bars chosen at random and deleted as the user does;
// how many were deleted.
int deleteBarsByHand(SupportGen& gen, std::mt19937& random) {
    int deleted = 0;
    for (int k = 0; k < 3; ++k) {
        support::ShapeDeque live, bars, changes;
        gen.collectLiveShapes(live);
        std::copy_if(live.begin(), live.end(), std::back_inserter(bars),
                     [](const support::AbtShape* s) { return s->kind() == support::AbtShape::Kind::Bar; });
        if (bars.empty())
            break;
        bars[random() % bars.size()]->setDeleted(true, &changes);
        ++deleted;
    }
    return deleted;
}

} // namespace

TEST(SupportBracing, liveConesGetTheSameBracingWhicheverWayTheyCameAbout) {
    const std::vector<islandshapes::Shape> all = shapes();
    std::mt19937 random(57);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int kScenes = 216;
    int linked = 0, barred = 0, edited = 0, barsDeleted = 0;
    for (int scene = 0; scene < kScenes; ++scene) {
        const islandshapes::Shape& shape = all[size_t(scene) % all.size()];
        const islandshapes::Rotation turn = islandshapes::randomRotations(1, random())[0];
        const double lift = 2.0 + 18.0 * unit(random);
        SCOPED_TRACE(::testing::Message() << "scene " << scene << " " << shape.name << " turned "
                                          << turn.degrees << " lifted " << lift);
        auto mesh = mf::buildMeshWithOctree(
            mf::translated(islandshapes::turned(shape.soup, turn.axis, turn.degrees), {0, 0, lift}));
        SupportGen gen(mesh.get());
        gen.setSupportType(support::supportTypeFromFlag(scene % 2), false);
        gen.setBaseType(*support::baseTypeFromStored(int(random() % 3)), false);
        gen.setRemoveInternal(random() % 4 == 0);
        gen.setMaxAngle(35.0 + 20.0 * unit(random));
        gen.setDensity(3.0 + 4.0 * unit(random));
        gen.setTipRadius(0.3 + 0.3 * unit(random));
        gen.setTrunkRadius(0.7 + 0.8 * unit(random));
        gen.setBranchRadius(0.3 + 0.5 * unit(random));
        gen.setHeadExtend(1.5 + 2.0 * unit(random));
        gen.setBaseThickness(0.5 + 2.0 * unit(random));
        gen.setBaseSize(2.0 + 4.0 * unit(random));
        mesh->resetTriangleGroups();
        ASSERT_TRUE(gen.generate());
        // Hand edits in every other scene: a point added, a cone deleted.
        if (scene % 4 >= 2) {
            addPointByHand(gen, *mesh, random);
            if (ConeShape* c = someLiveCone(gen, random)) {
                support::ShapeDeque changes;
                c->setDeleted(true, &changes);
                gen.relinkAfterEdit(c);
                gen.buildBase();
            }
            ++edited;
        }
        // Bars deleted by hand in two scenes of five, after any other edit.
        if (scene % 5 < 2)
            barsDeleted += deleteBarsByHand(gen, random);
        const std::string made = liveSupports(gen);
        linked += made.find("link to") != std::string::npos ? 1 : 0;
        barred += made.find("bar deleted") != std::string::npos ? 1 : 0;
        for (bool older : {false, true})
            for (bool reversed : {false, true}) {
                const std::unique_ptr<SupportGen> back = reopened(gen, *mesh, reversed, older);
                EXPECT_EQ(supportdump::firstDifference(made, liveSupports(*back)), "")
                    << "reversed " << reversed << " older " << older;
                EXPECT_EQ(settings(gen), settings(*back));
            }
    }
    // The scenes brace: most have links, many have bars.
    EXPECT_GT(linked, kScenes * 3 / 4);
    EXPECT_GT(barred, kScenes / 4);
    EXPECT_GT(edited, kScenes / 3);
    EXPECT_GT(barsDeleted, kScenes / 10);
}

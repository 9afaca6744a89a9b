// Supports hold every island: the models with known minima, lifted and turned,
// sliced layer by layer with their supports, have no model region that rests
// on nothing; an inside-out copy gets the same supports.
#include "IslandCheck.h"
#include "IslandShapes.h"
#include "SupportTestUtil.h"
#include "support/ConeShape.h"
#include "support/RegionGrid.h"
#include "support/SupportGen.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace mf = meshfixtures;

namespace {

using supporttest::Generated;

// The model lifted 5 mm with supports from the support panel's preset, of
// the support type given by its stored flag.
Generated supported(const mf::TriangleSoup& soup, uint8_t type = 1) {
    Generated s;
    s.mesh = mf::buildMeshWithOctree(mf::translated(soup, {0.0, 0.0, 5.0}));
    s.mesh->resetTriangleGroups();
    s.gen = supporttest::presetSupports(s.mesh.get());
    s.gen->setSupportType(support::supportTypeFromFlag(type), false);
    EXPECT_TRUE(s.gen->generate());
    EXPECT_TRUE(supporttest::marksClear(*s.mesh));
    return s;
}

std::vector<std::array<double, 6>> liveCones(const support::SupportGen& gen) {
    std::vector<std::array<double, 6>> out;
    for (const support::SupportAreaAbs* a : gen.areas)
        for (const support::AbtShape* s : a->shapes)
            if (const support::ConeShape* c = s->asCone(); c != nullptr && !c->isDeleted())
                out.push_back({c->ContactPoint.x, c->ContactPoint.y, c->ContactPoint.z, c->FootPoint.x,
                               c->FootPoint.y, c->FootPoint.z});
    return out;
}

std::vector<std::array<double, 3>> liveContacts(const support::SupportGen& gen) {
    std::vector<std::array<double, 3>> out;
    for (const auto& c : liveCones(gen))
        out.push_back({c[0], c[1], c[2]});
    return out;
}

} // namespace

TEST(IslandSupport, everyIslandOfTurnedModelsIsHeldAndInsideOutCopiesGetTheSameSupports) {
    std::vector<islandshapes::Rotation> rotations{{{1, 0, 0}, 0.0}};
    for (const islandshapes::Rotation& r : islandshapes::randomRotations(3, islandshapes::kRotationSeed))
        rotations.push_back(r);
    for (const islandshapes::Shape& shape : islandshapes::all()) {
        for (std::size_t k = 0; k < rotations.size(); ++k) {
            SCOPED_TRACE(shape.name + " turned " + std::to_string(rotations[k].degrees));
            const mf::TriangleSoup soup =
                islandshapes::turned(shape.soup, rotations[k].axis, rotations[k].degrees);
            Generated model = supported(soup);
            EXPECT_EQ(model.gen->turnedShellCount(), 0);
            std::vector<topolib::StlTriangle*> triangles;
            model.gen->appendAllTriangles(triangles);
            const islandcheck::Result found = islandcheck::findIslands(*model.mesh, triangles);
            EXPECT_GE(found.islands, 1);
            EXPECT_EQ(found.unsupported, 0);
            for (const islandcheck::Island& i : found.list)
                EXPECT_TRUE(i.supported) << "island at " << i.x << " " << i.y << " " << i.z;

            Generated insideOut = supported(mf::flipped(soup));
            EXPECT_EQ(insideOut.gen->turnedShellCount(), 1);
            EXPECT_FALSE(insideOut.gen->turnedShellText().empty());
            // The same cones, up to the rounding of normals summed in another order.
            const auto turnedCones = liveCones(*insideOut.gen), cones = liveCones(*model.gen);
            ASSERT_EQ(turnedCones.size(), cones.size());
            for (std::size_t i = 0; i < cones.size(); ++i)
                for (std::size_t k = 0; k < 6; ++k)
                    EXPECT_NEAR(turnedCones[i][k], cones[i][k], 1e-9);
        }
    }
}

TEST(IslandSupport, shallowPitInASlopingUndersideGetsItsOwnCone) {
    // The underside falls 0.297 per cell towards x = 0; at (8, 8), away from
    // the overhang grid's points, it dips 0.015 below its lowest neighbour.
    // Lifted 5 mm, the pit's bottom lies at 7.064 and its rim at 7.079, so the
    // layer cut at 7.075 holds the pit apart from the rest of the slope: an
    // island of its own.
    const auto bottom = [](int i, int j) { return i == 8 && j == 8 ? 2.064 : 0.297 * i; };
    Generated model = supported(islandshapes::slab(12, bottom, 8.0));
    std::vector<topolib::StlTriangle*> triangles;
    model.gen->appendAllTriangles(triangles);
    const islandcheck::Result found = islandcheck::findIslands(*model.mesh, triangles);
    EXPECT_EQ(found.islands, 2);
    EXPECT_EQ(found.unsupported, 0);
    bool pit = false;
    for (const islandcheck::Island& i : found.list)
        pit = pit || std::fabs(i.z - 7.075) < 1e-9;
    EXPECT_TRUE(pit);
}

TEST(IslandSupport, overhangCheckMeasuresWhatHangsPastTheLayerBelowAndWhatNoContactReaches) {
    // A 10 x 10 x 1 plate on a 4 x 4 column 10 high: the plate's underside hangs
    // past the column wherever it lies more than 1 mm outside it, 100 - (36 - 4 +
    // pi) = 64.86 mm² (the rasterised figure is within a cell's rim of it).
    const mf::TriangleSoup model =
        mf::concatenated(mf::box({4, 4, 10}, {3, 3, 0}), mf::box({10, 10, 1}, {0, 0, 10}));
    auto mesh = mf::buildMeshWithOctree(model);
    const double expected = 100.0 - (36.0 - 4.0 + M_PI);
    const islandcheck::Overhangs none = islandcheck::findUnreachedOverhangs(*mesh, {});
    EXPECT_NEAR(none.hangingArea, expected, 1.5);
    EXPECT_EQ(none.unreachedArea, none.hangingArea);
    // Contacts every 4 mm under the plate reach all of it; one at a corner
    // reaches the cells within 5 mm of it only.
    std::vector<std::array<double, 3>> grid;
    for (double x = 1.0; x < 10.0; x += 4.0)
        for (double y = 1.0; y < 10.0; y += 4.0)
            grid.push_back({x, y, 10.0});
    const islandcheck::Overhangs held = islandcheck::findUnreachedOverhangs(*mesh, grid);
    EXPECT_EQ(held.hangingArea, none.hangingArea);
    EXPECT_EQ(held.unreachedArea, 0.0);
    const islandcheck::Overhangs corner = islandcheck::findUnreachedOverhangs(*mesh, {{0.0, 0.0, 10.0}});
    EXPECT_GT(corner.unreachedArea, 0.0);
    EXPECT_LT(corner.unreachedArea, none.hangingArea - 15.0);
}

TEST(IslandSupport, everyOverhangOfAScrewHangingFromItsHeadHasAContactNearby) {
    // Sliced independently of the generator: every part of a layer that hangs
    // more than 1 mm past the layer below has a cone's contact within 5 mm, for
    // the screw hanging from its head (the ledge under the head shares its region
    // with the thread's flanks below it, and cones under it meet the thread) and
    // for the screw turned 45 degrees about x and y; no island is left.
    const mf::TriangleSoup screw = mf::screw();
    const mf::TriangleSoup tilted =
        islandshapes::turned(islandshapes::turned(screw, {1, 0, 0}, 45.0), {0, 1, 0}, 45.0);
    // The same for a metric screw hanging from its head (its flanks leave bands
    // between the grid's points) and standing on its head, tilted (a thread's
    // tip is an island with little room below it).
    const mf::TriangleSoup metric = islandshapes::metricScrew();
    const mf::TriangleSoup standing =
        islandshapes::turned(islandshapes::turned(metric, {1, 0, 0}, 225.0), {0, 1, 0}, 45.0);
    for (const auto& [name, soup] : {std::pair{"hanging", &screw},
                                     {"tilted", &tilted},
                                     {"metric hanging", &metric},
                                     {"metric standing tilted", &standing}}) {
        for (const uint8_t type : {uint8_t(1), uint8_t(0)}) {
            SCOPED_TRACE(std::string(name) + " type " + std::to_string(type));
            Generated model = supported(*soup, type);
            const islandcheck::Overhangs found =
                islandcheck::findUnreachedOverhangs(*model.mesh, liveContacts(*model.gen));
            EXPECT_GT(found.hangingArea, 0.0);
            EXPECT_EQ(found.unreachedArea, 0.0) << "e.g. at " << found.x << " " << found.y << " " << found.z;
            std::vector<topolib::StlTriangle*> triangles;
            model.gen->appendAllTriangles(triangles);
            EXPECT_EQ(islandcheck::findIslands(*model.mesh, triangles).unsupported, 0);
        }
    }
}

TEST(IslandSupport, noSupportOfEitherTypeEntersTheModel) {
    // Points of every support triangle (a grid of 45 over each), away from the
    // contacts and feet where a support meets the model on purpose, lie outside
    // the model: for the test shapes in twelve turns, the screw hanging and
    // tilted, an animal lying on its side with its legs beside its body, and
    // both support types.
    std::vector<mf::TriangleSoup> models;
    for (const double degrees : {0.0, 7.0, 45.0, 80.0}) {
        // Trunks from the head's underside pass a fifth of a millimetre beside
        // the body's end; legs a little below and above the body, apart from it.
        mf::TriangleSoup lying = mf::box({30, 10, 6}, {0, 0, 10});
        for (const double x : {2.0, 22.0}) {
            lying = mf::concatenated(lying, mf::box({3, 12, 3}, {x, 10.2, 4}));
            lying = mf::concatenated(lying, mf::box({3, 12, 3}, {x + 2, -12.2, 12}));
            lying = mf::concatenated(lying, mf::box({3, 3, 3}, {x + 5, 3, 5}));
        }
        lying = mf::concatenated(lying, mf::box({8, 4, 4}, {30.2, 3, 17}));
        models.push_back(islandshapes::turned(lying, {0, 0, 1}, degrees));
    }
    for (const islandshapes::Rotation& r : islandshapes::randomRotations(12, 77))
        for (const islandshapes::Shape& shape : islandshapes::all())
            models.push_back(islandshapes::turned(shape.soup, r.axis, r.degrees));
    models.push_back(mf::screw());
    models.push_back(
        islandshapes::turned(islandshapes::turned(mf::screw(), {1, 0, 0}, 90.0), {0, 1, 0}, 45.0));
    int inside = 0, tested = 0;
    for (std::size_t m = 0; m < models.size(); ++m) {
        for (const uint8_t type : {uint8_t(1), uint8_t(0)}) {
            Generated model;
            model.mesh = mf::buildMeshWithOctree(mf::translated(models[m], {0.0, 0.0, 5.0}));
            model.mesh->resetTriangleGroups();
            model.gen = supporttest::presetSupports(model.mesh.get());
            model.gen->setSupportType(support::supportTypeFromFlag(type), false);
            ASSERT_TRUE(model.gen->generate());
            std::vector<topolib::Vector3D> ends;
            for (const support::SupportAreaAbs* a : model.gen->areas)
                for (const support::AbtShape* s : a->shapes)
                    if (const support::ConeShape* c = s->asCone(); c != nullptr && !c->isDeleted()) {
                        ends.push_back(c->ContactPoint);
                        if (c->FootZ > 0.0)
                            ends.push_back(c->FootPoint);
                    }
            std::vector<topolib::StlTriangle*> triangles;
            model.gen->appendAllTriangles(triangles);
            for (const topolib::StlTriangle* t : triangles) {
                const topolib::Vector3D& a = t->vertices[0]->pos;
                const topolib::Vector3D& b = t->vertices[1]->pos;
                const topolib::Vector3D& c = t->vertices[2]->pos;
                for (int u = 0; u <= 8; ++u)
                    for (int v = 0; u + v <= 8; ++v) {
                        const topolib::Vector3D p = a + (b - a) * (u / 8.0) + (c - a) * (v / 8.0);
                        bool nearEnd = false;
                        for (const topolib::Vector3D& e : ends)
                            nearEnd = nearEnd || (p - e).lengthSquared() < 2.0 * 2.0;
                        if (nearEnd)
                            continue;
                        ++tested;
                        if (model.mesh->isInsideByDownwardCount(p.data())) {
                            ++inside;
                            ADD_FAILURE() << "model " << m << " type " << int(type) << " point " << p.x << " "
                                          << p.y << " " << p.z;
                        }
                    }
            }
        }
    }
    EXPECT_GT(tested, 10000);
    EXPECT_EQ(inside, 0);
}

TEST(IslandSupport, everyLipRingFlangeAndCeilingOfMachinedPartsIsReachedInEveryPose) {
    // The bearing housing and the bracket, turned five ways, with both support
    // types: every part of a layer that hangs more than 1 mm past the layer
    // below has a contact within the spacing (5 mm), the 2 mm lips and rings
    // and the margins of the wide ceilings included, and every island rests
    // on a support. The pass that adds these cones adds few where the grid
    // already reaches: at most a third more cones than the parts' grids make.
    for (const islandshapes::Shape& part : islandshapes::machinedParts())
        for (const islandshapes::Pose& pose : islandshapes::machinedPoses())
            for (const uint8_t type : {uint8_t(1), uint8_t(0)}) {
                SCOPED_TRACE(part.name + " " + pose.name + " type " + std::to_string(type));
                mf::TriangleSoup soup = islandshapes::turned(part.soup, {1, 0, 0}, 0.0);
                for (const islandshapes::Rotation& r : pose.turns)
                    soup = islandshapes::turned(soup, r.axis, r.degrees);
                Generated model = supported(soup, type);
                const std::vector<std::array<double, 3>> contacts = liveContacts(*model.gen);
                islandcheck::OverhangSettings coarse;
                coarse.cell = 0.2;
                const islandcheck::Overhangs found =
                    islandcheck::findUnreachedOverhangs(*model.mesh, contacts, coarse);
                EXPECT_LE(found.unreachedArea, 0.2)
                    << "e.g. at " << found.x << " " << found.y << " " << found.z;
                std::vector<topolib::StlTriangle*> triangles;
                model.gen->appendAllTriangles(triangles);
                const islandcheck::Result islands = islandcheck::findIslands(*model.mesh, triangles);
                for (const islandcheck::Island& i : islands.list)
                    EXPECT_TRUE(i.supported) << "island at " << i.x << " " << i.y << " " << i.z;
                std::size_t grid = 0;
                for (const support::SupportAreaAbs* a : model.gen->areas)
                    if (a->kind == support::kAreaSupport) {
                        support::GridAxis xs, ys;
                        if (static_cast<const support::AreaSupport*>(a)->coneGrid(
                                model.gen->placementParams(), &xs, &ys))
                            grid += static_cast<std::size_t>((xs.last + 1) * (ys.last + 1));
                    }
                EXPECT_LE(contacts.size(), grid + grid / 3);
            }
}

TEST(IslandSupport, noTrunkRunsThroughAnOpenPartWhereItsSurfaceClosesRoundIt) {
    // The bracket without the faces it stands on, as made and wound inside
    // out (an open shell is not turned): the trunks of both support types,
    // sampled every tenth of a millimetre away from their ends, never lie in
    // the bracket's material (its boxes) where the open surface still closes
    // round them above and below. The open one is told so; a closed one not.
    const mf::TriangleSoup bracket = islandshapes::machinedParts()[1].soup;
    mf::TriangleSoup open;
    for (const mf::Facet& f : bracket)
        if (std::max({f.v[0][2], f.v[1][2], f.v[2][2]}) > 1e-9)
            open.push_back(f);
    auto inMaterial = [](const topolib::Vector3D& p) {
        for (const islandshapes::Block& b : islandshapes::bracketBlocks())
            if (p.x > b[0][0] && p.x < b[1][0] && p.y > b[0][1] && p.y < b[1][1] && p.z - 5.0 > b[0][2] &&
                p.z - 5.0 < b[1][2])
                return true;
        return false;
    };
    int sampled = 0;
    for (const bool insideOut : {false, true})
        for (const uint8_t type : {uint8_t(1), uint8_t(0)}) {
            SCOPED_TRACE(std::string(insideOut ? "inside out" : "outward") + " type " + std::to_string(type));
            Generated model = supported(insideOut ? mf::flipped(open) : open, type);
            EXPECT_NE(model.gen->openSurfaceText().find("96 of its edges are open"), std::string::npos)
                << model.gen->openSurfaceText();
            int through = 0;
            for (const support::SupportAreaAbs* a : model.gen->areas)
                for (const support::AbtShape* s : a->shapes) {
                    const support::ConeShape* c = s->asCone();
                    if (c == nullptr || c->isDeleted())
                        continue;
                    const topolib::Vector3D foot = c->FootZ > 0.0 ? c->TrunkFoot : c->FootPoint;
                    const topolib::Vector3D axis = foot - c->HeadEnd;
                    const double length = std::sqrt(axis.lengthSquared());
                    for (double t = 1.5; t < length - 1.5; t += 0.1, ++sampled) {
                        const topolib::Vector3D p = c->HeadEnd + axis * (t / length);
                        through += inMaterial(p) && model.mesh->isEnclosedUpAndDown(p.data()) ? 1 : 0;
                    }
                }
            EXPECT_EQ(through, 0);
        }
    EXPECT_GT(sampled, 10000);
    Generated closed = supported(bracket);
    EXPECT_TRUE(closed.gen->openSurfaceText().empty());
}

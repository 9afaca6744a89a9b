// Cone meshes: the counts of every builder, closed and outward for vertical and
// tilted contact normals, on the platform and on the model; bars; the raft.
#include "SupportTestUtil.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/SupportGen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

using namespace supporttest;
using support::ConeShape;
using topolib::Vector3D;

namespace {

// What a lone cone is built with: the container's defaults.
const support::PlacementParams kParams;

// A container over a model: a slab at z 14..19 over a ground block whose top is
// flat (z = 1) or a wedge slanted 20 degrees about y.
struct ModelScene {
    explicit ModelScene(bool slantedGround) {
        meshfixtures::TriangleSoup soup = meshfixtures::box({30, 30, 5}, {-5, -5, 14});
        if (!slantedGround) {
            soup = meshfixtures::concatenated(soup, meshfixtures::box({30, 30, 1}, {-5, -5, 0}));
        } else {
            // A wedge: bottom at 0, top rising from z 1 at x = 5 with slope tan 20.
            const double k = std::tan(20.0 * 3.14159265358979 / 180.0);
            auto top = [&](double x) { return 1.0 + k * (x - 5.0); };
            using P = meshfixtures::Point;
            const P b0{5, -5, 0}, b1{25, -5, 0}, b2{25, 25, 0}, b3{5, 25, 0};
            const P t0{5, -5, top(5)}, t1{25, -5, top(25)}, t2{25, 25, top(25)}, t3{5, 25, top(5)};
            meshfixtures::TriangleSoup w = {
                {{b0, b2, b1}}, {{b0, b3, b2}}, {{t0, t1, t2}}, {{t0, t2, t3}}, {{b0, b1, t1}}, {{b0, t1, t0}},
                {{b1, b2, t2}}, {{b1, t2, t1}}, {{b2, b3, t3}}, {{b2, t3, t2}}, {{b3, b0, t0}}, {{b3, t0, t3}},
            };
            soup = meshfixtures::concatenated(soup, w);
        }
        mesh = meshfixtures::buildMeshWithOctree(soup);
        gen = std::make_unique<support::SupportGen>(mesh.get());
        area = new support::AddedPointSupport(gen.get());
        gen->addArea(area);
    }
    std::unique_ptr<topolib::StlObject> mesh;
    std::unique_ptr<support::SupportGen> gen;
    support::AddedPointSupport* area = nullptr;
};

std::unique_ptr<ConeShape> platformCone(const Vector3D& normal, uint8_t type, bool base, double z = 12.0) {
    const double p[3] = {3.0, -2.0, z};
    auto cone = std::make_unique<ConeShape>(nullptr, p, normal.data());
    cone->ConeSupportType = type;
    cone->setCircleBase(base);
    cone->place();
    return cone;
}

} // namespace

TEST(ConeMesh, everyBuilderGivesItsCountsAndAClosedOutwardMesh) {
    const Vector3D vertical(0, 0, -1), tilted(0.3, 0.15, -0.94);
    struct Case {
        const char* name;
        uint8_t type;
        bool base;
        bool onModel;
        bool slantedGround;
        Vector3D normal;
        size_t vertices, triangles;
        double contactZ = 12.0;  // on the model: 14 (the slab's underside) when left at 12
        double headExtend = 0.0; // 0: the container's
    };
    const Case cases[] = {
        {"cylinder on platform, vertical", 1, false, false, false, vertical, 42, 80},
        {"cylinder on platform, tilted", 1, false, false, false, tilted, 42, 80},
        {"cylinder with base, vertical", 1, true, false, false, vertical, 92, 180},
        {"cylinder with base, tilted", 1, true, false, false, tilted, 92, 180},
        {"cylinder on model, vertical", 1, false, true, false, vertical, 62, 120},
        {"cylinder on model, tilted", 1, false, true, false, tilted, 62, 120},
        {"cylinder on slanted model, tilted", 1, false, true, true, tilted, 62, 120},
        {"cross on platform, vertical", 0, false, false, false, vertical, 32, 56},
        {"cross on platform, tilted", 0, false, false, false, tilted, 32, 56},
        {"cross with disc, vertical", 0, true, false, false, vertical, 32 + 22, 56 + 40},
        {"cross with disc, tilted", 0, true, false, false, tilted, 32 + 22, 56 + 40},
        {"cross on model, vertical", 0, false, true, false, vertical, 48, 88},
        {"cross on model, tilted", 0, false, true, true, tilted, 48, 88},
        // Head end at z 1, below 2.1 base thicknesses: no base.
        {"cylinder with base, too low for it", 1, true, false, false, vertical, 42, 80, 3.0},
        // A short head 2 mm over the ground: its end comes within 2.5 tip
        // radii of the foot and is drawn lifted.
        {"cylinder on model, head end lifted", 1, false, true, false, vertical, 62, 120, 3.0, 1.2},
        {"cross on model, head end lifted", 0, false, true, false, vertical, 48, 88, 3.0, 1.2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ModelScene> scene;
        std::unique_ptr<ConeShape> own;
        ConeShape* cone = nullptr;
        if (c.onModel) {
            scene = std::make_unique<ModelScene>(c.slantedGround);
            scene->gen->supportType = support::supportTypeFromFlag(c.type);
            if (c.headExtend > 0.0)
                scene->gen->HeadExtend = c.headExtend;
            const double p[3] = {10.0, 10.0, c.contactZ == 12.0 ? 14.0 : c.contactZ};
            cone = scene->area->addCone(p, c.normal.data(), scene->gen->placementParams().cone, false);
            ASSERT_GT(cone->FootZ, 0.0);
            EXPECT_EQ(c.slantedGround, std::fabs(cone->FootNormal.x) > 1e-3);
        } else {
            own = platformCone(c.normal, c.type, c.base, c.contactZ);
            cone = own.get();
            ASSERT_LT(cone->FootZ, 0.0);
        }
        ASSERT_FALSE(cone->isDeleted());
        ASSERT_TRUE(cone->buildMesh(kParams));
        ASSERT_FALSE(cone->isDeleted());
        EXPECT_EQ(c.vertices, cone->vertices.size());
        EXPECT_EQ(c.triangles, cone->triangles.size());
        EXPECT_TRUE(closedAndConsistent(cone->triangles));
        EXPECT_GT(signedVolume(cone->triangles), 0.0);
        // Rebuilds give the same mesh again, to the last bit: placement
        // happens once, and building leaves it as it was.
        std::vector<Vector3D> first;
        for (const topolib::StlVertex* v : cone->vertices)
            first.push_back(v->pos);
        for (int again = 0; again < 2; ++again) {
            cone->buildMesh(kParams);
            ASSERT_EQ(c.triangles, cone->triangles.size());
            for (size_t k = 0; k < first.size(); ++k)
                EXPECT_TRUE(cone->vertices[k]->pos == first[k]) << "vertex " << k << " rebuild " << again;
        }
    }
}

TEST(ConeMesh, lowBaseUsesTheShortFillet) {
    // A head of 2.5 from a contact at 5 ends at 2.5: above 2.1 base thicknesses
    // (a base is built) but below 3 trunk radii (3.6), so the fillet radius is
    // (2.5 - 1.0) / 2.
    const double p[3] = {0.0, 0.0, 5.0}, n[3] = {0, 0, -1};
    ConeShape cone(nullptr, p, n);
    cone.HeadExtend = 2.5;
    cone.place();
    ASSERT_NEAR(2.5, cone.HeadEnd.z, 1e-12);
    cone.buildMesh(kParams);
    ASSERT_EQ(92u, cone.vertices.size());
    // Ring B (fourth ring) sits at zc = f + thickness; ring P0 at zc - f sin 30
    // with radius f (1 - cos 30) + trunk radius.
    const double f = 0.75, zc = 1.75;
    EXPECT_NEAR(zc, cone.vertices[30]->pos.z, 1e-12);
    EXPECT_NEAR(zc - f * 0.5, cone.vertices[40]->pos.z, 1e-9);
    EXPECT_NEAR(f * (1 - std::cos(M_PI / 6)) + 1.2, std::hypot(cone.vertices[40]->pos.x, cone.vertices[40]->pos.y),
                1e-9);
    EXPECT_TRUE(closedAndConsistent(cone.triangles));
}

TEST(ConeMesh, tiltedNeckRingLiesOnTheMitrePlaneAndOnTheLineFromItsBottomPartner) {
    const Vector3D n(0.6, 0.0, -0.8);
    auto cone = platformCone(n, 1, false);
    cone->buildMesh(kParams);
    const Vector3D m = -cone->ContactNormal;
    Vector3D a(-m.y, m.x, 0.0);
    a.unitize();
    Vector3D w = m - Vector3D(0, 0, 1);
    w.unitize();
    const Vector3D nu = w.cross(a);
    for (int k = 0; k < 10; ++k) {
        const Vector3D& b = cone->vertices[k]->pos;       // bottom ring
        const Vector3D& x = cone->vertices[10 + k]->pos;  // neck ring
        EXPECT_NEAR(0.0, (x - cone->HeadEnd).dot(nu), 1e-9);
        // On the vertical line through the bottom partner's horizontal ring point.
        const Vector3D dir = x - b;
        const Vector3D unmitred = cone->HeadEnd + (b - Vector3D(cone->FootPoint.x, cone->FootPoint.y, 0.0)) *
                                                      (cone->NeckRadius / cone->BottomRadius);
        EXPECT_NEAR(0.0, dir.cross(unmitred - b).lengthSquared(), 1e-9);
    }
    // Vertical: the neck ring stays horizontal at the head end.
    auto straight = platformCone(Vector3D(0, 0, -1), 1, false);
    straight->buildMesh(kParams);
    for (int k = 0; k < 10; ++k)
        EXPECT_DOUBLE_EQ(straight->HeadEnd.z, straight->vertices[10 + k]->pos.z);
}

TEST(ConeMesh, placementLimitsTheHeadAndShortensItNearThePlatform) {
    // A sideways normal leans 45 degrees at most; a contact lower than the head
    // gets the straight-down head; a zero normal counts as straight down.
    const double p[3] = {0.0, 0.0, 10.0};
    const double side[3] = {1.0, 0.0, 0.0};
    ConeShape sideways(nullptr, p, side);
    sideways.place();
    EXPECT_NEAR(-0.70710678, sideways.ContactNormal.z, 1e-12);
    EXPECT_NEAR(0.70710678, sideways.ContactNormal.x, 1e-8);

    const double low[3] = {0.0, 0.0, 3.0};
    ConeShape lowCone(nullptr, low, side);
    lowCone.place();
    EXPECT_TRUE(lowCone.ContactNormal == Vector3D(0, 0, -1));
    // HeadExtend 5 would reach below the platform: the head is 2/3 of the height.
    EXPECT_NEAR(1.0, lowCone.HeadEnd.z, 1e-12);
    EXPECT_NEAR(3.0 - 0.25, lowCone.TipCentre.z, 1e-12);

    const double zero[3] = {0.0, 0.0, 0.0};
    ConeShape zeroCone(nullptr, p, zero);
    zeroCone.place();
    EXPECT_TRUE(zeroCone.ContactNormal == Vector3D(0, 0, -1));
    EXPECT_FALSE(zeroCone.isDeleted());
}

TEST(ConeMesh, barPrismHasTwelveVerticesTwentyTrianglesAndIsClosed) {
    const Vector3D ends[][2] = {{{0, 0, 0}, {0, 0, 5}}, {{1, 2, 3}, {4, -2, 7}}, {{0, 0, 0}, {6, 0, 0}}};
    for (const auto& e : ends) {
        support::CylinderBar bar(0.3, e[0], e[1]);
        bar.buildPrism();
        EXPECT_EQ(12u, bar.vertices.size());
        EXPECT_EQ(20u, bar.triangles.size());
        EXPECT_TRUE(closedAndConsistent(bar.triangles));
        EXPECT_GT(signedVolume(bar.triangles), 0.0);
        for (size_t i = 0; i < 12; ++i) {
            const Vector3D& c = i < 6 ? e[1] : e[0];
            EXPECT_NEAR(0.3, std::sqrt((bar.vertices[i]->pos - c).lengthSquared()), 1e-12);
        }
    }
}

TEST(ConeMesh, raftIsClosedUnderOneConeAndUnderMany) {
    // Cones committed as user points on a facet facing down, without a model:
    // each stands on the platform below its point.
    topolib::StlVertex a(0, 0, 0), b(0, 1, 0), c(1, 0, 0);
    topolib::StlTriangle facet;
    facet.init(&a, &b, &c);
    ASSERT_LT(facet.normal.z, -0.99);
    for (int count : {1, 2, 10}) {
        SCOPED_TRACE(count);
        support::SupportGen gen;
        gen.baseType = support::BaseType::Raft;
        for (int i = 0; i < count; ++i) {
            const double p[3] = {count == 2 ? 10.0 * i : 3.0 * (i % 4), count == 2 ? 4.0 * i : 3.0 * (i / 4), 10.0};
            gen.previewAddedPoint(&facet, p);
            ASSERT_NE(nullptr, gen.linkCone());
        }
        EXPECT_EQ(24u, gen.baseVertices.size());
        EXPECT_EQ(44u, gen.baseTriangles.size());
        EXPECT_TRUE(closedAndConsistent(gen.baseTriangles));
        EXPECT_GT(signedVolume(gen.baseTriangles), 0.0);
        if (count == 2) {
            // Feet at (0, 0) and (10, 4), trunk radius 1: the plate spans
            // -1.5 .. 11.5 by -1.5 .. 5.5.
            EXPECT_TRUE(gen.baseVertices[2]->pos == Vector3D(1.0, -1.5, 0.0));
            EXPECT_TRUE(gen.baseVertices[7]->pos == Vector3D(11.5, -1.5, 2.0));
        }
        gen.setBaseType(support::BaseType::None, true);
        EXPECT_TRUE(gen.baseTriangles.empty());
    }
}

TEST(ConeMesh, surfaceAtPlatformHeightCountsAsThePlatform) {
    // An up-facing sheet lying exactly on the platform under a lifted slab.
    using P = meshfixtures::Point;
    meshfixtures::TriangleSoup soup = meshfixtures::box({20, 20, 5}, {0, 0, 10});
    soup.push_back({{P{-5, -5, 0}, P{25, -5, 0}, P{25, 25, 0}}});
    soup.push_back({{P{-5, -5, 0}, P{25, 25, 0}, P{-5, 25, 0}}});
    auto mesh = meshfixtures::buildMeshWithOctree(soup);
    support::SupportGen gen(mesh.get());
    auto* area = new support::AddedPointSupport(&gen);
    gen.addArea(area);
    const double p[3] = {10, 10, 10}, n[3] = {0, 0, -1};
    ConeShape* cone = area->addCone(p, n, gen.placementParams().cone, true);
    EXPECT_LT(cone->FootZ, 0.0);
    EXPECT_FALSE(cone->isDeleted()); // RemoveInternal keeps platform cones
    ASSERT_TRUE(cone->buildMesh(kParams));
    EXPECT_EQ(42u, cone->vertices.size());
    EXPECT_TRUE(closedAndConsistent(cone->triangles));
    EXPECT_NEAR(0.0, cone->FootPoint.z, 1e-12);
}

TEST(ConeMesh, conesFromAHostileProjectStaySoundWhateverTheirNumbers) {
    // Cones as the project reader makes them (unplaced, fields straight from the
    // file), with numbers no panel would give: each either builds a closed mesh
    // or ends deleted; nothing reads outside its records.
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const double values[] = {nan, inf, -inf, -1.0, 0.0, 1e-12, 1e9, 0.5};
    ModelScene scene(true);
    scene.gen->Density = nan;
    scene.gen->tipRadius = -inf;
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> pick(0, 7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < 300; ++i) {
        auto* cone = new ConeShape();
        cone->area = scene.area;
        cone->ConeSupportType = static_cast<uint8_t>(i % 2);
        cone->setCircleBase(i % 3 == 0);
        double* fields[] = {&cone->ContactRadius, &cone->HeadRadius, &cone->HeadExtend, &cone->NeckRadius,
                            &cone->BottomRadius,  &cone->CrossRadius, &cone->BaseThickness, &cone->BaseSize,
                            &cone->BeamRadius};
        for (double* f : fields) {
            if (pick(rng) < 3)
                *f = values[pick(rng)];
        }
        const double p[3] = {10 + 5 * u(rng), 10 + 5 * u(rng), i % 10 == 0 ? values[pick(rng)] : 14.0};
        cone->setContactPoint(p);
        cone->ContactNormal = Vector3D(u(rng), u(rng), i % 7 == 0 ? values[pick(rng)] : u(rng));
        scene.area->shapes.push_back(cone);
    }
    scene.gen->rebuildShapeMeshes();
    scene.gen->buildGrid();
    scene.gen->insertConesIntoGrid();
    scene.gen->linkNeighbourCones();
    scene.gen->rebuildConeBars();
    scene.gen->setBaseType(support::BaseType::Raft, true);
    int live = 0;
    for (auto* s : scene.area->shapes) {
        ConeShape* c = s->asCone();
        if (c->isDeleted())
            continue;
        ++live;
        EXPECT_TRUE(closedAndConsistent(c->triangles));
        for (auto* v : c->vertices)
            EXPECT_TRUE(topolib::isFiniteVector(v->pos.data()));
    }
    EXPECT_GT(live, 50);
    std::vector<topolib::StlTriangle*> all;
    scene.gen->appendAllTriangles(all);
    for (auto* t : all)
        EXPECT_TRUE(std::isfinite(t->normal.x) && std::isfinite(t->normal.z));
}

// The container's parameters, user points, the shape grid and the lowest-curve
// spacing.
#include "SupportTestUtil.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/ShapeGrid.h"
#include "support/SupportGen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <set>

using namespace supporttest;
using support::BaseType;
using support::ConeShape;
using support::SupportGen;
using support::SupportType;
using topolib::Vector3D;

namespace {

// A free-standing facet with the given normal z (the user points only read the
// facet's normal).
struct Facet {
    explicit Facet(double nz) : a(0, 0, 0), b(1, 0, 0), c(0, 0, 0) {
        // Tilt the facet about x so that its normal's z is nz.
        const double s = std::sqrt(1.0 - nz * nz);
        c.pos = Vector3D(0, -nz, -s);
        t.init(&a, &c, &b);
        if (std::fabs(t.normal.z - nz) > 1e-9)
            t.init(&a, &b, &c);
    }
    topolib::StlVertex a, b, c;
    topolib::StlTriangle t;
};

support::SupportAreaAbs* commitAt(SupportGen& gen, topolib::StlTriangle* facet, double x, double y) {
    const double p[3] = {x, y, 10.0};
    gen.previewAddedPoint(facet, p);
    return gen.linkCone();
}

} // namespace

// Projects store both types as numbers: each known number comes back as its
// type and goes out as the same number; a base type number no type has is
// refused, and a support type is a flag.
TEST(SupportContainer, storedTypeNumbersRoundTripAndUnknownBaseTypesAreRefused) {
    const struct {
        int stored;
        std::optional<BaseType> base;
        SupportType support;
    } cases[] = {
        {0, BaseType::None, SupportType::Cross},      {1, BaseType::Raft, SupportType::Cylinder},
        {2, BaseType::Circle, SupportType::Cylinder}, {3, std::nullopt, SupportType::Cylinder},
        {-1, std::nullopt, SupportType::Cylinder},    {77, std::nullopt, SupportType::Cylinder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::optional<BaseType> base = support::baseTypeFromStored(c.stored);
        EXPECT_EQ(c.base, base);
        if (base) {
            EXPECT_EQ(c.stored, support::storedValue(*base));
        }
        EXPECT_EQ(c.support, support::supportTypeFromFlag(c.stored));
    }
    EXPECT_EQ(0, support::storedValue(SupportType::Cross));
    EXPECT_EQ(1, support::storedValue(SupportType::Cylinder));
}

TEST(SupportContainer, defaultsOfBothConstructors) {
    topolib::StlObject mesh;
    SupportGen object(&mesh);
    SupportGen reader;
    EXPECT_EQ(&mesh, object.owner);
    EXPECT_EQ(nullptr, reader.owner);
    for (SupportGen* g : {&object, &reader}) {
        EXPECT_EQ(1, g->changed);
        EXPECT_EQ(0u, g->areaCount());
        EXPECT_EQ(BaseType::None, g->baseType);
        EXPECT_EQ(SupportType::Cylinder, g->supportType);
        EXPECT_EQ(0, g->RemoveInternal);
        EXPECT_EQ(5.0, g->Density);
        EXPECT_EQ(0.35, g->minTolerance);
        EXPECT_EQ(0.5, g->tipRadius);
        EXPECT_EQ(1.0, g->trunkRadius);
        EXPECT_EQ(0.6, g->branchRadius);
        EXPECT_EQ(5.0, g->HeadExtend);
        EXPECT_EQ(1.0, g->BaseThickness);
        EXPECT_EQ(4.0, g->baseSize);
    }
    EXPECT_EQ(46.0, object.MaxAngle);
    EXPECT_EQ(5.0, object.minArea);
    EXPECT_EQ(40.0, reader.MaxAngle);
    EXPECT_EQ(8.0, reader.minArea);
    // A new container asks the drawing for an upload.
    EXPECT_EQ(1, object.changed);
    EXPECT_EQ(1, reader.changed);
}

TEST(SupportContainer, userPointsPreviewCommitAndLinkWithinRange) {
    Facet steep(-0.25), down(-0.26), flat(-1.0);
    SupportGen gen;
    const double p[3] = {0, 0, 10};
    gen.previewAddedPoint(&down.t, p);
    ASSERT_NE(nullptr, gen.pending());
    std::vector<topolib::StlTriangle*> preview;
    gen.appendPendingTriangles(preview);
    EXPECT_EQ(80u, preview.size());
    gen.previewAddedPoint(&steep.t, p);
    EXPECT_EQ(nullptr, gen.pending());
    EXPECT_EQ(nullptr, gen.linkCone());

    // Planar foot distances 3 (linked), 0.5 and 10.5 (not linked) from the first.
    support::SupportAreaAbs* first = commitAt(gen, &flat.t, 0, 0);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(1u, gen.areaCount());
    for (auto [x, linked] : {std::pair{3.0, true}, {0.5, false}, {10.5, false}}) {
        SCOPED_TRACE(x);
        support::SupportAreaAbs* area = commitAt(gen, &flat.t, x, 0);
        ASSERT_NE(nullptr, area);
        ConeShape* cone = area->shapeAt(0)->asCone();
        bool found = false;
        for (auto* l : cone->links)
            found = found || static_cast<support::ColumnLink*>(l)->other(cone) == first->shapeAt(0);
        EXPECT_EQ(linked, found);
        EXPECT_EQ(area, gen.areas.back());
        EXPECT_EQ(1, gen.changed);
    }
    // A point at the platform gets no cone: nothing is committed.
    const double low[3] = {5, 5, 0.00005};
    gen.previewAddedPoint(&flat.t, low);
    EXPECT_EQ(nullptr, gen.linkCone());
    EXPECT_EQ(4u, gen.areaCount());

    // Base type 2 with regeneration marks every cone's circular base; support
    // type 0 without regeneration leaves existing cones alone.
    gen.changed = 0;
    gen.setBaseType(BaseType::Circle, true);
    EXPECT_EQ(1, gen.changed);
    for (auto* a : gen.areas)
        EXPECT_EQ(1, a->shapeAt(0)->asCone()->GenerateBase);
    gen.setSupportType(SupportType::Cross, false);
    for (auto* a : gen.areas)
        EXPECT_EQ(1, a->shapeAt(0)->asCone()->ConeSupportType);
    support::SupportAreaAbs* later = commitAt(gen, &flat.t, 20, 20);
    EXPECT_EQ(0, later->shapeAt(0)->asCone()->ConeSupportType);
}

TEST(SupportContainer, trimmingKeepsTheFourNearestLinksOnBothSides) {
    Facet flat(-1.0);
    SupportGen gen;
    // Six neighbours at growing distances around a centre committed last.
    const double xs[6] = {2, -2.5, 3, -3.5, 4, -4.5};
    std::vector<ConeShape*> ring;
    for (double x : xs)
        ring.push_back(commitAt(gen, &flat.t, x, 20.0)->shapeAt(0)->asCone());
    ConeShape* centre = commitAt(gen, &flat.t, 0.0, 20.0)->shapeAt(0)->asCone();
    ASSERT_EQ(4u, centre->links.size());
    for (size_t i = 0; i < ring.size(); ++i) {
        bool linked = false;
        for (auto* l : ring[i]->links)
            linked = linked || static_cast<support::ColumnLink*>(l)->other(ring[i]) == centre;
        EXPECT_EQ(i < 4, linked) << i;
    }
    for (const ConeShape* c : ring)
        EXPECT_LE(c->links.size(), ConeShape::kKeptLinks);
}

TEST(SupportContainer, shapeGridCellsFollowTheBoxAndNeverLeaveIt) {
    support::ShapeGrid grid;
    const double lo[3] = {0, 0, 0}, hi[3] = {10, 4, 0};
    grid.setUp(lo, hi, 7.5);
    EXPECT_EQ(3, grid.nx);
    EXPECT_EQ(3, grid.ny);
    EXPECT_NEAR(25.0 / 3.0, grid.cellSize, 1e-12);
    EXPECT_EQ(-7.5, grid.origin[0]);

    ConeShape a, b;
    const double left[2] = {-100, 2}, inside[2] = {5, 2};
    grid.insert(&a, left);
    grid.insert(&b, inside);
    std::vector<support::AbtShape*> out;
    grid.queryNeighbourhood(inside, out);
    EXPECT_EQ(2u, out.size());
    for (double far : {1e9, -1e9, std::numeric_limits<double>::infinity(), std::nan("")}) {
        out.clear();
        const double p[2] = {far, far};
        grid.queryNeighbourhood(p, out); // border cells at most, never out of range
        EXPECT_LE(out.size(), 2u);
    }
    support::ShapeGrid point;
    point.setUp(lo, lo, 7.5);
    EXPECT_EQ(2, point.nx);
    EXPECT_EQ(2, point.ny);
    // A huge box or a tiny cell from a hostile project stays under the cell cap.
    support::ShapeGrid huge;
    const double big[3] = {1e7, 1e7, 0};
    huge.setUp(lo, big, 0.01);
    EXPECT_LE(static_cast<int64_t>(huge.nx) * huge.ny, support::ShapeGrid::kMaxCells);
    const double lowest[3] = {-1.7e308, 0, 0}, highest[3] = {1.7e308, 1, 0};
    huge.setUp(lowest, highest, 7.5);
    EXPECT_LE(static_cast<int64_t>(huge.nx) * huge.ny, support::ShapeGrid::kMaxCells);
    huge.insert(&a, inside);
}

TEST(SupportContainer, lowestCurveConesFollowTheArcLength) {
    struct Case {
        std::vector<double> segments;
        std::vector<double> expected; // arc lengths of the cones
    };
    const Case cases[] = {
        {std::vector<double>(20, 1.0), {0, 5, 10, 15, 20}},
        {{6.8}, {0, 5, 6.8}},
        {{12.0}, {0, 5, 10, 12}},
        {{4.0}, {0, 4}},
        {{1.0}, {0}},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<topolib::StlVertex>> store;
        std::vector<topolib::StlVertex*> chain;
        double x = 0.0;
        store.push_back(std::make_unique<topolib::StlVertex>(x, 0.0, 10.0));
        for (double s : c.segments) {
            x += s;
            store.push_back(std::make_unique<topolib::StlVertex>(x, 0.0, 10.0));
        }
        for (auto& v : store)
            chain.push_back(v.get());
        SupportGen gen;
        auto* curve = new support::LowestCurveSupport(&gen);
        curve->setVertices(chain);
        gen.addArea(curve);
        curve->placeContacts(gen.placementParams());
        std::vector<double> arcs;
        for (auto* s : curve->shapes)
            arcs.push_back(s->asCone()->ContactPoint.x);
        ASSERT_EQ(c.expected.size(), arcs.size());
        for (size_t i = 0; i < arcs.size(); ++i)
            EXPECT_NEAR(c.expected[i], arcs[i], 1e-9);
        EXPECT_EQ(x, curve->boxMax.x);
    }
}

TEST(SupportContainer, regionGridAndPointPlacementFollowTheirSpacing) {
    // The underside of a lifted box is one overhang region; the grid samples its
    // box from the margins (2.2 tip radii, at most half the extent).
    struct Case {
        double w, h;
        std::vector<double> xs, ys; // sample offsets from the box minimum
    };
    const Case cases[] = {
        {12.0, 3.0, {1.1, 6.0, 10.9}, {1.1, 1.9}},
        {2.0, 10.0, {1.0}, {1.1, 5.0, 8.9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w);
        auto mesh = meshfixtures::buildMeshWithOctree(meshfixtures::box({c.w, c.h, 2.0}, {3.0, 4.0, 10.0}));
        mesh->resetTriangleGroups();
        SupportGen gen(mesh.get());
        ASSERT_TRUE(gen.generate());
        ASSERT_EQ(1u, gen.areaCount());
        std::set<std::pair<long, long>> expected, found;
        for (double x : c.xs)
            for (double y : c.ys)
                expected.emplace(std::lround((3.0 + x) * 1000), std::lround((4.0 + y) * 1000));
        for (auto* s : gen.areas[0]->shapes)
            found.emplace(std::lround(s->asCone()->ContactPoint.x * 1000),
                          std::lround(s->asCone()->ContactPoint.y * 1000));
        EXPECT_EQ(expected, found);
        EXPECT_TRUE(marksClear(*mesh));
    }
    // A lowest point needs some height above the platform.
    for (auto [z, made] : {std::pair{0.00005, 0u}, {0.0002, 1u}}) {
        topolib::StlVertex v(1.0, 2.0, z);
        SupportGen gen;
        auto* point = new support::LowestPointSupport(&gen);
        point->setVertex(&v);
        gen.addArea(point);
        point->placeContacts(gen.placementParams());
        EXPECT_EQ(made, point->shapes.size()) << z;
        EXPECT_TRUE(point->boxMin == v.pos);
    }
}

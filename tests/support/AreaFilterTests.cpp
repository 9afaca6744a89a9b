// The overhang filter's decisions on hand-made regions, and the marks it leaves.
#include "IslandShapes.h"
#include "SupportTestUtil.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

using namespace supporttest;
using support::AreaSupport;
using topolib::StlEdge;
using topolib::StlTriangle;
using topolib::Vector3D;
using P = meshfixtures::Point;

namespace {

// A height field z = f(x, y) over an n x n grid of unit cells centred on the
// origin, wound to face down (its underside is what the region supports).
meshfixtures::TriangleSoup heightField(int n, const std::function<double(double, double)>& f) {
    meshfixtures::TriangleSoup s;
    const double h = n / 2.0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double x0 = i - h, x1 = i + 1 - h, y0 = j - h, y1 = j + 1 - h;
            const P a{x0, y0, f(x0, y0)}, b{x1, y0, f(x1, y0)}, c{x1, y1, f(x1, y1)}, d{x0, y1, f(x0, y1)};
            s.push_back({{a, c, b}});
            s.push_back({{a, d, c}});
        }
    }
    return s;
}

// The region made of the triangles around the vertex nearest to (0, 0): their
// group is the region's id, the outline their edges not shared inside the region.
std::unique_ptr<AreaSupport> regionAroundCentre(topolib::StlObject& mesh, uint32_t id, double area) {
    auto region = std::make_unique<AreaSupport>(nullptr);
    std::vector<StlTriangle*> tris;
    for (StlTriangle* t : mesh.triangles()) {
        for (topolib::StlVertex* v : t->vertices) {
            if (std::fabs(v->x()) < 1e-9 && std::fabs(v->y()) < 1e-9)
                tris.push_back(t);
        }
    }
    region->assignTriangles(tris);
    region->setAreaId(id);
    region->area = area;
    std::deque<StlEdge*> outline;
    for (StlTriangle* t : tris) {
        for (StlEdge* e : t->edges) {
            int inside = 0;
            for (StlTriangle* u : *e)
                inside += u->group() == static_cast<int32_t>(id) ? 1 : 0;
            if (inside == 1)
                outline.push_back(e);
        }
    }
    region->setBoundary(outline);
    return region;
}

} // namespace

TEST(AreaFilter, largeRegionsStayWhenFlatOrRichInFlatFacetsElseByTheirRim) {
    const double minArea = 5.0, tol = 0.35;
    struct Case {
        const char* name;
        double area;
        Vector3D boxSize;
        bool drop;
    };
    // No outline and no facets: only the flat test and the facet-area test can
    // keep a large region.
    const Case cases[] = {
        {"flat 10 x 8 x 2 (ratio 5)", 20.0, {10, 8, 2}, false},
        {"compact 10 x 8 x 3 without outline", 20.0, {10, 8, 3}, true},
        {"no height", 20.0, {10, 8, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AreaSupport region;
        region.area = c.area;
        region.boxMax = c.boxSize;
        EXPECT_EQ(c.drop, region.isNegligible(&minArea, &tol));
    }
    // The facet-area test's angle grows with the region: one facet of area 8
    // tilted 6 degrees from facing straight down counts at 8 and 15 degrees.
    topolib::StlVertex a(0, 0, 0), b(0, 4, 4 * std::tan(6 * M_PI / 180)), cc(4, 0, 0);
    StlTriangle facet;
    facet.init(&a, &b, &cc);
    ASSERT_NEAR(-std::cos(6 * M_PI / 180), facet.normal.z, 1e-9);
    for (auto [area, drop] : {std::pair{40.0, true}, {60.0, false}, {300.0, false}}) {
        SCOPED_TRACE(area);
        AreaSupport region;
        region.area = area;
        region.boxMax = Vector3D(10, 8, 3);
        region.assignTriangles({&facet});
        EXPECT_EQ(drop, region.isNegligible(&minArea, &tol));
    }
}

TEST(AreaFilter, largeSteepRegionIsDroppedWhenTheSurfaceGoesOnDownwards) {
    // A steep quad (z 0 .. 3 over y 0 .. 2.25) whose lowest edge y = 0 it shares
    // with a strip that falls 0.1 below it (drop) or rises 0.5 above it (keep).
    for (auto [next, drop] : {std::pair{-0.1, true}, {0.5, false}}) {
        SCOPED_TRACE(next);
        const P q0{0, 0, 0}, q1{4, 0, 0}, q2{4, 2.25, 3}, q3{0, 2.25, 3}, s0{0, -1, next}, s1{4, -1, next};
        meshfixtures::TriangleSoup soup = {{{q0, q2, q1}}, {{q0, q3, q2}}, {{s0, q0, q1}}, {{s0, q1, s1}}};
        auto mesh = meshfixtures::buildMesh(soup);
        AreaSupport region;
        region.area = 20.0;
        region.assignTriangles({mesh->triangle(0), mesh->triangle(1)});
        region.setAreaId(0);
        std::deque<StlEdge*> outline;
        for (StlTriangle* t : region.triangles) {
            for (StlEdge* e : t->edges) {
                if (e->triangleCount() == 1 || e->triangle(0)->group() != e->triangle(1)->group())
                    outline.push_back(e);
            }
        }
        region.setBoundary(outline);
        ASSERT_EQ(4u, outline.size());
        const double minArea = 5.0, tol = 0.35;
        EXPECT_EQ(drop, region.isNegligible(&minArea, &tol));
        EXPECT_TRUE(marksClear(*mesh));
    }
}

TEST(AreaFilter, smallRegionStaysInAPocketAndIsDroppedOnASlope) {
    const double minArea = 5.0, tol = 0.35;
    struct Case {
        const char* name;
        std::function<double(double, double)> f;
        bool drop;
    };
    const Case cases[] = {
        // The rim around the lowest vertex lies 0.5 higher: a pocket.
        {"pocket", [](double x, double y) { return std::max(std::fabs(x), std::fabs(y)) * 0.5; }, false},
        // A plane falling 0.2 per cell: the rim reaches lower places within the band.
        {"slope", [](double x, double) { return 10.0 + 0.2 * x; }, true},
        // A rim 0.3 higher is still within the band, and the walk finds a lower
        // place beyond it.
        {"shallow pocket on a slope",
         [](double x, double y) { return std::max(std::fabs(x), std::fabs(y)) <= 1 ? std::max(std::fabs(x), std::fabs(y)) * 0.3 : 0.3 - 0.5 * (std::fabs(x) - 1); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = meshfixtures::buildMesh(heightField(6, c.f));
        auto region = regionAroundCentre(*mesh, 3, 1.0);
        ASSERT_FALSE(region->outline->edges.empty());
        EXPECT_EQ(c.drop, region->isNegligible(&minArea, &tol));
        EXPECT_TRUE(marksClear(*mesh));
        // The same answer from the walks answered together.
        support::SupportGen gen(mesh.get());
        region->owner = &gen;
        EXPECT_EQ(std::vector<int8_t>{c.drop ? int8_t(0) : int8_t(1)},
                  AreaSupport::rimWalksTogether({region.get()}, &minArea, &tol));
        EXPECT_TRUE(marksClear(*mesh));
    }
    // Without outline a small region stays.
    AreaSupport bare;
    bare.area = 1.0;
    EXPECT_FALSE(bare.isNegligible(&minArea, &tol));
}

TEST(AreaFilter, toleranceOfTheFilterGrowsWithTheModelHeightWithinItsBounds) {
    // A small pocket region whose rim is ringed by a bump `bump` high, with
    // lower places beyond it: the region is dropped exactly when the rim walk
    // passes over the bump, that is when the bump is lower than the filter's
    // tolerance: 1% of the model's height, at least the container's
    // minTolerance and at most 0.7. A column beside it sets the model's height.
    for (double height : {10.0, 35.0, 50.0, 69.0, 80.0, 400.0}) {
        for (double minTolerance : {0.35, 0.5}) {
            for (double below : {-0.05, 0.05}) {
                const auto pocket = [&](double bump) {
                    return [bump](double x, double y) {
                        const double r = std::max(std::fabs(x), std::fabs(y));
                        return r <= 1 ? 0.5 * r : r <= 2 ? 0.5 + bump : bump - 1.5;
                    };
                };
                // The tolerance the filter must use, from the model as built.
                const auto build = [&](double bump) {
                    using meshfixtures::concatenated;
                    const auto column = meshfixtures::box({2, 2, height}, {20, 0, bump - 1.5});
                    return meshfixtures::buildMesh(concatenated(heightField(6, pocket(bump)), column));
                };
                const auto probe = build(0.0);
                const double zExtent = probe->bboxMax()[2] - probe->bboxMin()[2];
                const double expected = std::min(0.7, std::max(minTolerance, 0.01 * zExtent));
                const double bump = expected + below;
                SCOPED_TRACE(::testing::Message()
                             << "height " << height << " minTolerance " << minTolerance << " bump " << bump);
                auto mesh = build(bump);
                support::SupportGen gen(mesh.get());
                gen.minTolerance = minTolerance;
                auto region = regionAroundCentre(*mesh, 0, 1.0);
                region->owner = &gen;
                gen.areas.push_back(region.release());
                gen.filterAreas();
                EXPECT_EQ(bump < expected ? 0u : 1u, gen.areaCount());
                EXPECT_TRUE(marksClear(*mesh));
            }
        }
    }
}

TEST(AreaFilter, rimWalksTogetherAnswerAsEachSmallRegionsOwnWalk) {
    // The overhang regions of rough plates (many small steep patches, pits whose
    // bottom lies inside their region, some facets deleted): every small region's
    // rim walk answered together is the region's own walk.
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int answered = 0, stays = 0, drops = 0, ownWalk = 0;
    for (int round = 0; round < 12; ++round) {
        const int n = 30 + round % 4;
        const double noise = round % 3 == 0 ? 1.5 : (round % 3 == 1 ? 2.5 : 4.0);
        // Noise, and dimples whose gently curved bottoms (regions lower inside
        // than on their rim) are ringed by steep walls.
        std::vector<double> heights((n + 1) * (n + 1));
        for (double& h : heights)
            h = noise * unit(rng);
        for (int k = 0; k < 6; ++k) {
            const double ci = n * unit(rng), cj = n * unit(rng), r = 2.0 + 2.0 * unit(rng);
            for (int i = 0; i <= n; ++i)
                for (int j = 0; j <= n; ++j) {
                    const double d2 = ((i - ci) * (i - ci) + (j - cj) * (j - cj)) / (r * r);
                    heights[static_cast<std::size_t>(i * (n + 1) + j)] -= d2 < 1.0 ? 6.0 * (1.0 - d2) : 0.0;
                }
        }
        auto bottom = [&](int i, int j) { return heights[static_cast<std::size_t>(i * (n + 1) + j)]; };
        auto mesh = meshfixtures::buildMesh(islandshapes::slab(n, bottom, 3.0 + noise));
        if (round % 2 == 1)
            for (StlTriangle* t : mesh->triangles())
                t->setDeleted(unit(rng) < 0.03);
        support::SupportGen gen(mesh.get());
        const double limit = -std::cos(46.0 * 3.141592653 / 180.0);
        for (StlTriangle* t : mesh->triangles())
            if (!t->isDeleted() && t->walkMark() == 0 && t->normal.z < limit)
                gen.growOverhangRegion(t, limit);
        mesh->clearTriangleMarks();
        for (topolib::StlEdge* e : mesh->edges())
            if (e->edgeClass != topolib::kEdgeDetached)
                e->clearMarks();
        for (const double minArea : {5.0, 60.0}) {
            for (const double tol : {0.35, 1.5, 3.0}) {
                const std::vector<int8_t> together = AreaSupport::rimWalksTogether(gen.areas, &minArea, &tol);
                ASSERT_EQ(together.size(), gen.areas.size());
                for (std::size_t i = 0; i < gen.areas.size(); ++i) {
                    auto* region = static_cast<AreaSupport*>(gen.areas[i]);
                    if (!region->walksRim(&minArea)) {
                        EXPECT_EQ(together[i], -1);
                        continue;
                    }
                    if (together[i] == -1) {
                        ++ownWalk; // left to its own walk
                        continue;
                    }
                    const bool own = region->staysLowWithinTolerance(&tol);
                    EXPECT_EQ(together[i] == 1, own)
                        << "round " << round << " region " << i << " tol " << tol;
                    ++answered;
                    (own ? stays : drops) += 1;
                }
                EXPECT_TRUE(marksClear(*mesh));
            }
        }
    }
    EXPECT_GT(stays, 100);
    EXPECT_GT(drops, 100);
    EXPECT_GT(answered, 1000);
    EXPECT_LT(20 * ownWalk, answered);
}

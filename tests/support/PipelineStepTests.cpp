// The limits of single pipeline steps: seeding, abandoning tiny regions,
// non-manifold edges between regions, thinning and linking distances.
#include "IslandShapes.h"
#include "SupportTestUtil.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

using namespace supporttest;
using P = meshfixtures::Point;

namespace {

const double kLimit46 = -std::cos(46.0 * 3.141592653 / 180.0);

// Cells of a flat grid at z = 0 facing down, `cells` quads of 0.5 along x.
meshfixtures::TriangleSoup downStrip(int cells) {
    meshfixtures::TriangleSoup s;
    for (int i = 0; i < cells; ++i) {
        const double x0 = 0.5 * i, x1 = x0 + 0.5;
        const P a{x0, 0, 0}, b{x1, 0, 0}, c{x1, 0.5, 0}, d{x0, 0.5, 0};
        s.push_back({{a, c, b}});
        s.push_back({{a, d, c}});
    }
    return s;
}

size_t growAll(support::SupportGen& gen, topolib::StlObject& mesh, double limit) {
    for (topolib::StlTriangle* t : mesh.triangles()) {
        if (t->walkMark() == 0 && t->normal.z < limit)
            gen.growOverhangRegion(t, limit);
    }
    mesh.clearTriangleMarks();
    for (topolib::StlEdge* e : mesh.edges())
        e->clearMarks();
    return gen.areaCount();
}

// A keel: the V profile (-8, 10), (0, 0), (8, 10) swept along y over `length`
// in one piece, its bottom edge (one segment) at z = 5.
meshfixtures::TriangleSoup keel(double length) {
    const P b0{0, 0, 5}, b1{0, length, 5}, l0{-8, 0, 15}, l1{-8, length, 15}, r0{8, 0, 15}, r1{8, length, 15};
    return {{{b0, l1, b1}}, {{b0, l0, l1}}, {{b0, b1, r1}}, {{b0, r1, r0}}, {{l0, r0, r1}},
            {{l0, r1, l1}}, {{b0, r0, l0}}, {{b1, l1, r1}}};
}

std::set<const topolib::StlVertex*> pointVertices(const support::SupportGen& gen) {
    std::set<const topolib::StlVertex*> out;
    for (const support::SupportAreaAbs* a : gen.areas)
        if (a->kind == support::kLowestPointSupport)
            out.insert(static_cast<const support::LowestPointSupport*>(a)->vertex);
    return out;
}

} // namespace

TEST(PipelineSteps, seedingFollowsTheAngleAndTinyRegionsOverADropAreAbandoned) {
    // One facet tilted about x so that its normal z is -0.70 or -0.69.
    for (auto [nz, regions] : {std::pair{-0.70, 1u}, {-0.69, 0u}}) {
        const double s = std::sqrt(1 - nz * nz);
        meshfixtures::TriangleSoup soup = {{{P{0, 0, 0}, P{0, -nz, -s}, P{1, 0, 0}}}};
        auto mesh = meshfixtures::buildMesh(soup);
        ASSERT_NEAR(nz, mesh->triangle(0)->normal.z, 1e-6); // float corners
        support::SupportGen gen(mesh.get());
        EXPECT_EQ(regions, growAll(gen, *mesh, kLimit46)) << nz;
    }
    // Small flat regions (area below 5) whose rim has a facet hanging down from
    // it: with 4 facets the region is abandoned and its facets lose their id;
    // with 6 it is made.
    for (auto [cells, regions] : {std::pair{2, 0u}, {3, 1u}}) {
        meshfixtures::TriangleSoup soup = downStrip(cells);
        const double x = 0.5 * cells;
        soup.push_back({{P{x, 0, 0}, P{x, 0.5, 0}, P{x, 0.25, -1}}});
        auto mesh = meshfixtures::buildMesh(soup);
        support::SupportGen gen(mesh.get());
        EXPECT_EQ(regions, growAll(gen, *mesh, kLimit46)) << cells;
        for (topolib::StlTriangle* t : mesh->triangles())
            EXPECT_EQ(regions == 0 || t->normal.z > kLimit46 ? -1 : 0, t->group());
        EXPECT_TRUE(marksClear(*mesh));
    }
    // Two flat cells whose only joint, x = 0.5, also carries a third facet: the
    // non-manifold edge keeps them apart.
    meshfixtures::TriangleSoup soup = downStrip(2);
    soup.push_back({{P{0.5, 0, 0}, P{0.5, 0.5, 0}, P{0.5, 0.25, 1}}});
    auto mesh = meshfixtures::buildMesh(soup);
    support::SupportGen gen(mesh.get());
    EXPECT_EQ(2u, growAll(gen, *mesh, kLimit46));
}

TEST(PipelineSteps, thinningAndLinkingUseTheirDistances) {
    topolib::StlVertex a(0, 0, 0), b(0, 1, 0), c(1, 0, 0);
    topolib::StlTriangle down;
    down.init(&a, &b, &c);
    struct Case {
        double dx;
        bool secondLive;
        bool linked;
    };
    // Contacts 1.4 apart crowd (3 tip radii = 1.5); 1.6 do not. Feet closer than
    // 0.525 are never linked; 10.4 apart (limit 10.5) are.
    const Case cases[] = {{1.4, false, false}, {1.6, true, true}, {0.5, false, false}, {10.4, true, true},
                          {10.6, true, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.dx);
        support::SupportGen gen;
        for (double x : {0.0, k.dx}) {
            auto* area = new support::AddedPointSupport(&gen);
            area->setFacet(&down);
            const double p[3] = {x, 0, 10};
            area->setPoint(p);
            gen.addArea(area);
            area->placeContacts(gen.placementParams());
        }
        gen.buildGrid();
        gen.insertConesIntoGrid();
        gen.thinCrowdedCones();
        gen.linkNeighbourCones();
        support::ConeShape* first = gen.areas[0]->shapeAt(0)->asCone();
        support::ConeShape* second = gen.areas[1]->shapeAt(0)->asCone();
        EXPECT_FALSE(first->isDeleted());
        EXPECT_EQ(k.secondLive, !second->isDeleted());
        EXPECT_EQ(k.linked, !first->links.empty());
        // A pair within range is linked once, listed by both cones.
        EXPECT_EQ(k.linked ? 1u : 0u, first->links.size());
        EXPECT_EQ(k.linked ? 1u : 0u, second->links.size());
    }
}

TEST(PipelineSteps, lowestChainsByLengthAndLowestPointsThinnedInVertexOrder) {
    // A lowest chain longer than 10 becomes a curve whatever the density; one
    // longer than 0.9 x Density gives its vertices to the lowest points; a
    // shorter one gives nothing.
    enum Expect { Nothing, Points, Curve };
    struct Case {
        double length;
        double density;
        Expect expect;
    };
    const Case cases[] = {{4.4, 5, Nothing}, {4.6, 5, Points},  {7.0, 8, Nothing}, {7.3, 8, Points},
                          {9.9, 5, Points},  {10.1, 5, Curve}, {10.5, 12, Curve}, {3.0, 2, Points}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "length " << c.length << " density " << c.density);
        auto mesh = meshfixtures::buildMeshWithOctree(keel(c.length));
        ASSERT_GT(mesh->volume(), 0.0);
        std::set<const topolib::StlVertex*> bottom;
        for (const topolib::StlVertex* v : mesh->vertices())
            if (v->z() < 5.5)
                bottom.insert(v);
        ASSERT_EQ(2u, bottom.size());
        support::SupportGen gen(mesh.get());
        gen.setDensity(c.density);
        gen.detectOverhangs();
        EXPECT_TRUE(marksClear(*mesh));
        std::vector<const support::LowestCurveSupport*> curves;
        for (const support::SupportAreaAbs* a : gen.areas)
            if (a->kind == support::kLowestCurveSupport)
                curves.push_back(static_cast<const support::LowestCurveSupport*>(a));
        EXPECT_EQ(c.expect == Curve ? 1u : 0u, curves.size());
        if (!curves.empty()) {
            const auto& chain = curves[0]->chain;
            EXPECT_EQ(bottom, std::set<const topolib::StlVertex*>(chain.begin(), chain.end()));
        }
        EXPECT_EQ(c.expect == Points ? bottom : std::set<const topolib::StlVertex*>(), pointVertices(gen));
    }

    // The tips of a plate's stalactites are lowest points; a tip closer than
    // 2.2 tip radii to one kept earlier in vertex order is dropped. The oracle
    // finds the tips from the mesh (every neighbour higher) and keeps them
    // greedily by brute force.
    const meshfixtures::TriangleSoup plate = islandshapes::all().back().soup;
    auto mesh = meshfixtures::buildMeshWithOctree(meshfixtures::translated(plate, {0, 0, 5}));
    std::vector<const topolib::StlVertex*> tips;
    for (const topolib::StlVertex* v : mesh->vertices()) {
        bool lowest = true;
        for (const topolib::StlTriangle* t : *v)
            for (const topolib::StlVertex* w : t->vertices)
                lowest = lowest && (w == v || w->z() > v->z() + 1e-3);
        if (lowest)
            tips.push_back(v);
    }
    ASSERT_GT(tips.size(), 20u);
    std::sort(tips.begin(), tips.end(), [](auto* a, auto* b) { return a->index < b->index; });
    for (double tipRadius : {0.5, 1.0, 1.5}) {
        SCOPED_TRACE(::testing::Message() << "tip radius " << tipRadius);
        const double limit = 2.2 * tipRadius;
        std::set<const topolib::StlVertex*> kept;
        for (const topolib::StlVertex* v : tips) {
            bool crowded = false;
            for (const topolib::StlVertex* k : kept)
                crowded = crowded || (k->pos - v->pos).lengthSquared() < limit * limit;
            if (!crowded)
                kept.insert(v);
        }
        support::SupportGen gen(mesh.get());
        gen.setTipRadius(tipRadius);
        gen.findLowestPoints();
        EXPECT_EQ(kept, pointVertices(gen));
        EXPECT_TRUE(marksClear(*mesh));
    }
}

// The plateaus of mesh's vertices that no lower vertex borders: each vertex
// joined with its neighbours at the same height, by brute force.
std::set<std::set<const topolib::StlVertex*>> plateauMinima(const topolib::StlObject& mesh) {
    auto neighbours = [](const topolib::StlVertex* v) {
        std::set<const topolib::StlVertex*> out;
        for (const topolib::StlTriangle* t : *v)
            for (const topolib::StlVertex* w : t->vertices)
                if (w != v)
                    out.insert(w);
        return out;
    };
    std::set<std::set<const topolib::StlVertex*>> minima;
    for (const topolib::StlVertex* v : mesh.vertices()) {
        std::set<const topolib::StlVertex*> plateau{v};
        for (bool grew = true; grew;) {
            grew = false;
            for (const topolib::StlVertex* p : std::set<const topolib::StlVertex*>(plateau))
                for (const topolib::StlVertex* w : neighbours(p))
                    if (w->z() == v->z())
                        grew = plateau.insert(w).second || grew;
        }
        bool lowest = true;
        for (const topolib::StlVertex* p : plateau)
            for (const topolib::StlVertex* w : neighbours(p))
                lowest = lowest && w->z() >= v->z();
        if (lowest)
            minima.insert(plateau);
    }
    return minima;
}

// Whether a live cone touches the plateau: its contact within 0.1 mm of the
// plateau's height and within r of one of its vertices or over one of the
// triangles lying in it (planar).
bool touched(const support::SupportGen& gen, const std::set<const topolib::StlVertex*>& plateau, double r) {
    const double z = (*plateau.begin())->z();
    auto inside = [](const topolib::StlTriangle* t, double x, double y) {
        double sign[3];
        for (int k = 0; k < 3; ++k) {
            const topolib::Vector3D& a = t->vertices[k]->pos;
            const topolib::Vector3D& b = t->vertices[(k + 1) % 3]->pos;
            sign[k] = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        }
        return (sign[0] >= 0 && sign[1] >= 0 && sign[2] >= 0) || (sign[0] <= 0 && sign[1] <= 0 && sign[2] <= 0);
    };
    for (const support::SupportAreaAbs* a : gen.areas)
        for (const support::AbtShape* s : a->shapes) {
            const support::ConeShape* c = s->asCone();
            if (c == nullptr || c->isDeleted() || std::fabs(c->ContactPoint.z - z) > 0.1)
                continue;
            for (const topolib::StlVertex* p : plateau) {
                const double dx = p->x() - c->ContactPoint.x, dy = p->y() - c->ContactPoint.y;
                if (dx * dx + dy * dy <= r * r)
                    return true;
                for (const topolib::StlTriangle* t : *p)
                    if (plateau.count(t->vertices[0]) && plateau.count(t->vertices[1]) &&
                        plateau.count(t->vertices[2]) && inside(t, c->ContactPoint.x, c->ContactPoint.y))
                        return true;
            }
        }
    return false;
}

TEST(PipelineSteps, surfaceMinimaAreThePlateausWithNoLowerNeighbour) {
    // Random terraced undersides: heights 0, 1 or 2 per grid point give flat
    // patches of every shape. The oracle settles each plateau by brute force.
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const int n = 8;
        std::vector<double> height((n + 1) * (n + 1));
        for (double& h : height)
            h = 5.0 + static_cast<double>(random() % 3);
        meshfixtures::TriangleSoup soup;
        auto at = [&](int i, int j) { return P{double(i), double(j), height[std::size_t(i * (n + 1) + j)]}; };
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                soup.push_back({{at(i, j), at(i + 1, j + 1), at(i + 1, j)}});
                soup.push_back({{at(i, j), at(i, j + 1), at(i + 1, j + 1)}});
            }
        auto mesh = meshfixtures::buildMeshWithOctree(soup);
        const std::set<std::set<const topolib::StlVertex*>> expected = plateauMinima(*mesh);
        support::SupportGen gen(mesh.get());
        std::set<std::set<const topolib::StlVertex*>> found;
        for (const support::SupportGen::SurfaceMinimum& m : gen.findSurfaceMinima()) {
            EXPECT_EQ(1, std::count(m.plateau.begin(), m.plateau.end(), m.vertex));
            found.insert(std::set<const topolib::StlVertex*>(m.plateau.begin(), m.plateau.end()));
        }
        EXPECT_EQ(expected, found);
        EXPECT_TRUE(marksClear(*mesh));
    }

    // Every such minimum of a closed slab's terraced underside (an island a
    // print grows into from nothing) gets a live cone that touches it,
    // however the other passes placed theirs.
    int minima = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(::testing::Message() << "slab " << round);
        const int n = 8;
        std::vector<double> height((n + 1) * (n + 1));
        for (double& h : height)
            h = 5.0 + 0.5 * static_cast<double>(random() % 4);
        auto mesh = meshfixtures::buildMeshWithOctree(islandshapes::slab(
            n, [&](int i, int j) { return height[std::size_t(i * (n + 1) + j)]; }, 9.0));
        support::SupportGen gen(mesh.get());
        mesh->resetTriangleGroups();
        ASSERT_TRUE(gen.generate());
        for (const auto& plateau : plateauMinima(*mesh)) {
            ++minima;
            EXPECT_TRUE(touched(gen, plateau, gen.tipRadius)) << "minimum at " << (*plateau.begin())->x() << " "
                                                              << (*plateau.begin())->y() << " "
                                                              << (*plateau.begin())->z();
        }
    }
    EXPECT_GT(minima, 40);
}

// Linking against every pair: cones packed far closer than any grid cell (a
// lattice, whose links tie in length, and a random scatter) get exactly the
// links that the rule, applied by brute force over every pair, gives, each
// cone's list in rank order.
TEST(PipelineSteps, packedConesLinkAsEveryPairWouldBeLinked) {
    topolib::StlVertex a(0, 0, 0), b(0, 1, 0), c(1, 0, 0);
    topolib::StlTriangle down;
    down.init(&a, &b, &c);
    std::vector<std::array<double, 2>> lattice, scatter;
    for (int i = 0; i < 11; ++i)
        for (int j = 0; j < 11; ++j)
            lattice.push_back({0.6 * i + 0.013, 0.6 * j + 0.027});
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / double(1 << 24);
    };
    for (int n = 0; n < 400; ++n)
        scatter.push_back({7.0 * next(), 7.0 * next()});
    for (const auto* points : {&lattice, &scatter}) {
        support::SupportGen gen;
        for (const auto& p : *points) {
            auto* area = new support::AddedPointSupport(&gen);
            area->setFacet(&down);
            const double at[3] = {p[0], p[1], 10};
            area->setPoint(at);
            gen.addArea(area);
            area->placeContacts(gen.placementParams());
        }
        gen.buildGrid();
        gen.insertConesIntoGrid();
        gen.linkNeighbourCones();

        // The oracle by brute force over every pair: cones in the order of
        // where they stand; each proposes its four first-ranked cones in
        // reach; proposals are taken shortest first while both cones hold
        // fewer than four.
        std::vector<support::ConeShape*> cones;
        for (support::SupportAreaAbs* area : gen.areas)
            cones.push_back(area->shapeAt(0)->asCone());
        std::sort(cones.begin(), cones.end(), [](const support::ConeShape* x, const support::ConeShape* y) {
            return std::make_tuple(x->FootPoint.x, x->FootPoint.y, x->FootPoint.z) <
                   std::make_tuple(y->FootPoint.x, y->FootPoint.y, y->FootPoint.z);
        });
        const size_t n = cones.size();
        const double tip = gen.tipRadius, D = gen.placementParams().spacing;
        const double lo = (1.05 * tip) * (1.05 * tip), hi = (2.1 * D) * (2.1 * D);
        auto microns = [&](size_t i, size_t j) {
            const double dx = cones[i]->FootPoint.x - cones[j]->FootPoint.x;
            const double dy = cones[i]->FootPoint.y - cones[j]->FootPoint.y;
            const double dz = cones[i]->FootPoint.z - cones[j]->FootPoint.z;
            return std::llround(std::sqrt(dx * dx + dy * dy + dz * dz) * 1000.0);
        };
        std::set<std::tuple<long long, size_t, size_t>> proposals;
        for (size_t i = 0; i < n; ++i) {
            std::vector<std::pair<long long, size_t>> reach;
            for (size_t j = 0; j < n; ++j) {
                const double dx = cones[i]->FootPoint.x - cones[j]->FootPoint.x;
                const double dy = cones[i]->FootPoint.y - cones[j]->FootPoint.y;
                const double s2 = dx * dx + dy * dy;
                if (j != i && lo < s2 && s2 < hi)
                    reach.push_back({microns(i, j), j});
            }
            std::sort(reach.begin(), reach.end());
            for (size_t k = 0; k < reach.size() && k < 4; ++k)
                proposals.insert({reach[k].first, std::min(i, reach[k].second), std::max(i, reach[k].second)});
        }
        std::vector<std::vector<std::pair<long long, size_t>>> lists(n);
        for (const auto& [length, i, j] : proposals)
            if (lists[i].size() < 4 && lists[j].size() < 4) {
                lists[i].push_back({length, j});
                lists[j].push_back({length, i});
            }
        std::map<const support::ConeShape*, size_t> index;
        for (size_t i = 0; i < n; ++i)
            index[cones[i]] = i;
        size_t compared = 0;
        for (size_t i = 0; i < n; ++i) {
            std::vector<size_t> expected, got;
            std::sort(lists[i].begin(), lists[i].end());
            for (const auto& l : lists[i])
                expected.push_back(l.second);
            for (const support::AbtShape* l : cones[i]->links)
                got.push_back(index.at(static_cast<const support::ColumnLink*>(l)->other(cones[i])));
            EXPECT_EQ(got, expected) << "cone " << i;
            compared += got.size();
        }
        EXPECT_GT(compared, 2 * n);
    }
}

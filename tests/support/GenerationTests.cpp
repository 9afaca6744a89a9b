// The generation pipeline end to end on generated models: a bridge, a sphere and
// a cube lifted off the platform.
#include "SupportTestUtil.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/SupportGen.h"
#include "topolib/MeshOctree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using namespace supporttest;
using support::ColumnLink;
using support::ConeShape;
using topolib::Vector3D;

namespace {

Generated generate(const meshfixtures::TriangleSoup& soup) {
    Generated g;
    g.mesh = meshfixtures::buildMeshWithOctree(soup);
    g.mesh->resetTriangleGroups();
    g.gen = presetSupports(g.mesh.get());
    EXPECT_TRUE(g.gen->generate());
    EXPECT_TRUE(marksClear(*g.mesh));
    // The group ids left on the mesh name exactly the facets of the surviving
    // overhang regions: facets of dropped or abandoned regions carry none.
    std::map<const topolib::StlTriangle*, int32_t> owner;
    for (auto* a : g.gen->areas) {
        if (auto* over = dynamic_cast<support::AreaSupport*>(a)) {
            for (auto* t : over->triangles)
                owner[t] = static_cast<int32_t>(over->AreaID);
        }
    }
    for (const topolib::StlTriangle* t : g.mesh->triangles()) {
        auto it = owner.find(t);
        EXPECT_EQ(it == owner.end() ? -1 : it->second, t->group());
    }
    return g;
}

std::vector<ConeShape*> cones(const support::SupportGen& gen, bool liveOnly) {
    std::vector<ConeShape*> out;
    for (auto* a : gen.areas) {
        for (auto* s : a->shapes) {
            if (ConeShape* c = s->asCone(); c && (!liveOnly || !c->isDeleted()))
                out.push_back(c);
        }
    }
    return out;
}

using BarKey = std::tuple<double, double, double, double, double, double>;

// Every bar of every link, by its end points, with the pair it belongs to.
std::multiset<BarKey> bars(const support::SupportGen& gen) {
    std::multiset<BarKey> out;
    std::set<const support::AbtShape*> seen;
    for (ConeShape* c : cones(gen, false)) {
        for (auto* l : c->links) {
            if (!seen.insert(l).second)
                continue;
            for (auto* b : static_cast<ColumnLink*>(l)->bars) {
                auto* bar = static_cast<support::CylinderBar*>(b);
                out.emplace(bar->start.x, bar->start.y, bar->start.z, bar->end.x, bar->end.y, bar->end.z);
            }
        }
    }
    return out;
}

// Checks the link and bar rules on the current state: a cone made at most four
// links of its own (it trimmed to four when it linked; later cones may add
// theirs), links join live cones in range and are registered on both, and every
// linked pair carries at most one set of bars: exactly one when the rules allow
// bars for the pair's first-made link (trunks longer than 1.5 D and 1.5 s, s
// growing with the building cone's link count, feet at least 2.1 trunk radii
// apart). Nothing blocks a bar under the flat bridge span.
void expectLinkAndBarRules(const support::SupportGen& gen) {
    const double D = gen.Density;
    using Pair = std::pair<const ConeShape*, const ConeShape*>;
    std::map<Pair, int> sets;
    std::map<Pair, const ColumnLink*> firstMade;
    for (ConeShape* c : cones(gen, false)) {
        EXPECT_LE(std::count_if(c->links.begin(), c->links.end(),
                                [&](const support::AbtShape* l) {
                                    return static_cast<const ColumnLink*>(l)->first == c;
                                }),
                  4);
        for (auto* l : c->links) {
            auto* link = static_cast<ColumnLink*>(l);
            ASSERT_TRUE(link->first == c || link->second == c);
            const ConeShape* o = link->other(c);
            EXPECT_FALSE(o->isDeleted());
            const double dx = o->FootPoint.x - c->FootPoint.x, dy = o->FootPoint.y - c->FootPoint.y;
            const double s2 = dx * dx + dy * dy;
            EXPECT_GT(s2, 0.525 * 0.525);
            EXPECT_LT(s2, (2.1 * D) * (2.1 * D));
            EXPECT_NE(o->links.end(), std::find(o->links.begin(), o->links.end(), l));
            if (link->first != c)
                continue;
            const Pair key = std::minmax(static_cast<const ConeShape*>(c), o);
            if (!link->bars.empty())
                ++sets[key];
            if (!firstMade.count(key) || link->serial < firstMade[key]->serial)
                firstMade[key] = link;
        }
    }
    for (const auto& [key, link] : firstMade) {
        const ConeShape* f = link->first;
        const ConeShape* o = link->second;
        const double s = std::max(D, static_cast<double>(f->links.size()) * D / 2.0);
        const double trunk = std::sqrt((f->HeadEnd - f->TrunkFoot).lengthSquared());
        const double other = std::sqrt((o->HeadEnd - o->TrunkFoot).lengthSquared());
        const double dx = o->TrunkFoot.x - f->TrunkFoot.x, dy = o->TrunkFoot.y - f->TrunkFoot.y;
        const bool allowed = trunk > 1.5 * D && other > 1.5 * s &&
                             dx * dx + dy * dy >= (2.1 * f->BottomRadius) * (2.1 * f->BottomRadius);
        const int n = sets.count(key) ? sets.at(key) : 0;
        EXPECT_EQ(allowed ? 1 : 0, n) << "pair from " << f->FootPoint.x << "," << f->FootPoint.y << " to "
                                      << o->FootPoint.x << "," << o->FootPoint.y;
    }
}

} // namespace

TEST(Generation, bridgeGetsConesUnderTheSpanWithLinksAndOneSetOfBarsPerPair) {
    Generated g = generate(bridge(5.0));
    const auto all = cones(*g.gen, false);
    const auto live = cones(*g.gen, true);
    ASSERT_FALSE(live.empty());
    int underSpan = 0;
    for (const ConeShape* c : live) {
        EXPECT_GT(c->ContactPoint.z, 0.0001);
        if (c->ContactPoint.x > 5.0 && c->ContactPoint.x < 35.0) {
            EXPECT_NEAR(25.0, c->ContactPoint.z, 1e-9);
            EXPECT_NEAR(0.0, c->FootPoint.z, 1e-12); // on the platform
            ++underSpan;
        }
    }
    // The span's underside (30 x 10, density 5): 7 columns of 3 rows.
    EXPECT_EQ(21, underSpan);
    // No two live contacts closer than three tip radii.
    for (size_t i = 0; i < live.size(); ++i) {
        for (size_t j = i + 1; j < live.size(); ++j)
            EXPECT_GE((live[i]->ContactPoint - live[j]->ContactPoint).lengthSquared(), 9 * 0.25 - 1e-12);
    }
    expectLinkAndBarRules(*g.gen);
    const auto original = bars(*g.gen);
    EXPECT_FALSE(original.empty());

    // Rebuilding the meshes, all together or cone by cone in any order, keeps
    // exactly the same bars.
    g.gen->rebuildShapeMeshes();
    EXPECT_EQ(original, bars(*g.gen));
    std::vector<ConeShape*> order = all;
    std::reverse(order.begin(), order.end());
    for (ConeShape* c : order)
        c->buildMesh(g.gen->placementParams());
    EXPECT_EQ(original, bars(*g.gen));
    std::mt19937 rng(7);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(order.begin(), order.end(), rng);
        for (size_t i = 0; i < order.size() / 2; ++i)
            order[i]->buildMesh(g.gen->placementParams());
        EXPECT_EQ(original, bars(*g.gen));
    }
    expectLinkAndBarRules(*g.gen);
    g.gen->setSupportType(support::SupportType::Cylinder, true);
    EXPECT_EQ(original, bars(*g.gen));

    // A second run on a fresh copy gives the same cones.
    Generated h = generate(bridge(5.0));
    const auto again = cones(*h.gen, false);
    ASSERT_EQ(all.size(), again.size());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(all[i]->ContactPoint == again[i]->ContactPoint);
        EXPECT_TRUE(all[i]->FootPoint == again[i]->FootPoint);
        EXPECT_EQ(all[i]->deleted, again[i]->deleted);
        EXPECT_EQ(all[i]->links.size(), again[i]->links.size());
    }
    EXPECT_EQ(original, bars(*h.gen));
}

TEST(Generation, sphereAbovePlatformGetsAConeAtItsSouthPole) {
    Generated g = generate(meshfixtures::uvSphere(10.0, 48, 24, {0, 0, 15}));
    bool pole = false;
    for (const ConeShape* c : cones(*g.gen, true)) {
        EXPECT_GT(c->ContactPoint.z, 5.0 - 1e-9);
        if ((c->ContactPoint - Vector3D(0, 0, 5)).lengthSquared() < 1e-12) {
            pole = true;
            EXPECT_TRUE(c->ContactNormal == Vector3D(0, 0, -1));
            EXPECT_NEAR(0.0, c->FootPoint.z, 1e-12);
        }
    }
    EXPECT_TRUE(pole);
}

TEST(Generation, liftedCubeGetsTheGridOfConesWithFeetOnThePlatform) {
    Generated g = generate(meshfixtures::cube(20.0, {0, 0, 5}));
    const auto live = cones(*g.gen, true);
    // Box 20 x 20, density 5: trunc(22.5 / 5) = 4 steps of (20 - 2.2) / 4 from the
    // margin 1.1, five columns and five rows.
    ASSERT_EQ(25u, live.size());
    std::set<std::pair<long, long>> expected, found;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j)
            expected.emplace(std::lround((1.1 + i * 4.45) * 1000), std::lround((1.1 + j * 4.45) * 1000));
    }
    for (const ConeShape* c : live) {
        EXPECT_NEAR(5.0, c->ContactPoint.z, 1e-9);
        EXPECT_LE(c->FootZ, 0.0);
        EXPECT_NEAR(0.0, c->FootPoint.z, 1e-12);
        found.emplace(std::lround(c->ContactPoint.x * 1000), std::lround(c->ContactPoint.y * 1000));
        EXPECT_TRUE(closedAndConsistent(c->triangles));
    }
    EXPECT_EQ(expected, found);
    // Regenerating re-places the same regions with the same result.
    EXPECT_TRUE(g.gen->generate());
    EXPECT_EQ(25u, cones(*g.gen, true).size());
    EXPECT_TRUE(marksClear(*g.mesh));
}

TEST(Generation, deletingAConeRecordsItAndItsLinksAndUndoRestoresThem) {
    Generated g = generate(bridge(5.0));
    ConeShape* target = nullptr;
    for (ConeShape* c : cones(*g.gen, true)) {
        if (c->links.size() >= 2) {
            target = c;
            break;
        }
    }
    ASSERT_NE(nullptr, target);
    std::vector<topolib::StlTriangle*> before;
    g.gen->appendAllTriangles(before);
    support::ShapeDeque changes;
    target->setDeleted(true, &changes);
    EXPECT_EQ(1 + target->links.size(), changes.size());
    EXPECT_EQ(target, changes.front());
    std::vector<topolib::StlTriangle*> hidden;
    g.gen->appendAllTriangles(hidden);
    EXPECT_LT(hidden.size(), before.size());
    support::ShapeDeque live;
    g.gen->collectLiveShapes(live);
    EXPECT_EQ(live.end(), std::find(live.begin(), live.end(), target));
    // Rebuilding while the cone is deleted, then undoing, keeps the bars.
    g.gen->rebuildShapeMeshes();
    for (auto* s : changes)
        s->setDeleted(false, nullptr);
    std::vector<topolib::StlTriangle*> after;
    g.gen->appendAllTriangles(after);
    EXPECT_EQ(before.size(), after.size());
}

TEST(Generation, refusesWithoutAnOwnerOrWhileNothingIsThere) {
    support::SupportGen orphan;
    EXPECT_FALSE(orphan.generate());
    // A model standing on the platform with no overhang gets no supports.
    Generated g = generate(meshfixtures::cube(10.0));
    for (const ConeShape* c : cones(*g.gen, true))
        ADD_FAILURE() << "cone at " << c->ContactPoint.x << "," << c->ContactPoint.y << ","
                      << c->ContactPoint.z;
    EXPECT_TRUE(g.gen->baseTriangles.empty());
}

TEST(Generation, dirtyBumpyModelGivesClosedConesAboveThePlatformEveryRun) {
    // A bumpy sphere with holes, flipped and duplicated facets, a box pushed
    // through it and a few slivers: every live cone still gets a closed mesh.
    meshfixtures::TriangleSoup soup = meshfixtures::uvSphere(20.0, 72, 36, {0, 0, 25});
    for (auto& f : soup) {
        for (auto& p : f.v) {
            const double k = 1.0 + 0.1 * std::sin(0.5 * p[0]) * std::cos(0.4 * p[1]);
            p = {p[0] * k, p[1] * k, 25 + (p[2] - 25) * k};
        }
    }
    meshfixtures::TriangleSoup dirty;
    for (size_t i = 0; i < soup.size(); ++i) {
        if (i % 97 == 5)
            continue; // hole
        meshfixtures::Facet f = soup[i];
        if (i % 89 == 3)
            std::swap(f.v[1], f.v[2]); // flipped
        dirty.push_back(f);
        if (i % 151 == 7)
            dirty.push_back(f); // duplicate
        if (i % 173 == 11)
            dirty.push_back({{f.v[0],
                              f.v[1],
                              {(f.v[0][0] + f.v[1][0]) / 2, (f.v[0][1] + f.v[1][1]) / 2,
                               (f.v[0][2] + f.v[1][2]) / 2}}}); // collinear
    }
    dirty = meshfixtures::concatenated(dirty, meshfixtures::box({50, 6, 4}, {-25, -3, 6}));
    Generated g = generate(dirty);
    Generated h = generate(dirty);
    const auto first = cones(*g.gen, false), second = cones(*h.gen, false);
    ASSERT_EQ(first.size(), second.size());
    size_t live = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_TRUE(first[i]->ContactPoint == second[i]->ContactPoint);
        EXPECT_EQ(first[i]->deleted, second[i]->deleted);
        if (first[i]->isDeleted())
            continue;
        ++live;
        EXPECT_GT(first[i]->ContactPoint.z, 0.0001);
        EXPECT_GE(first[i]->FootPoint.z, -1e-9);
        EXPECT_TRUE(closedAndConsistent(first[i]->triangles));
    }
    EXPECT_GT(live, 10u);
    EXPECT_EQ(bars(*g.gen), bars(*h.gen));
    for (support::BaseType base :
         {support::BaseType::Raft, support::BaseType::Circle, support::BaseType::None})
        g.gen->setBaseType(base, true);
    g.gen->setSupportType(support::SupportType::Cross, true);
    EXPECT_TRUE(marksClear(*g.mesh));
}

TEST(Generation, modelWithFarAwayFacetsFinishesAndStaysFinite) {
    // A broken file: a sphere plus facets near the float range's end.
    using P = meshfixtures::Point;
    meshfixtures::TriangleSoup soup = meshfixtures::uvSphere(10.0, 24, 12, {0, 0, 20});
    soup.push_back({{P{0, 0, -3e37}, P{0, 1e37, -3.1e37}, P{1e37, 0, -3e37}}});
    soup.push_back({{P{5, 5, 1e30}, P{5, 6, 1e30}, P{6, 5, 1e30}}});
    Generated g = generate(soup);
    for (const ConeShape* c : cones(*g.gen, true)) {
        EXPECT_TRUE(closedAndConsistent(c->triangles));
        for (const auto* v : c->vertices)
            EXPECT_TRUE(topolib::isFiniteVector(v->pos.data()));
    }
}

namespace {

// Turns every point about the x axis through `centre` by `angle` (radians).
meshfixtures::TriangleSoup turnedAboutX(meshfixtures::TriangleSoup soup, double angle,
                                        const meshfixtures::Point& c) {
    const double ca = std::cos(angle), sa = std::sin(angle);
    for (auto& f : soup) {
        for (auto& p : f.v) {
            const double y = p[1] - c[1], z = p[2] - c[2];
            p = {p[0], c[1] + y * ca - z * sa, c[2] + y * sa + z * ca};
        }
    }
    return soup;
}

} // namespace

// Models with curved, tilted and hanging undersides, some standing on others:
// every live cone touches the model above the platform and is closed and
// outward, every linked pair has at most one set of bars (none where the rules
// forbid them), and rebuilding in any order keeps exactly those bars.
TEST(Generation, variedModelsKeepTheConeAndBarRulesThroughRebuilds) {
    using meshfixtures::concatenated;
    const std::pair<const char*, meshfixtures::TriangleSoup> models[] = {
        {"standing ring",
         turnedAboutX(meshfixtures::torus(18.0, 5.0, 96, 24, {0, 0, 28}), 1.5707963, {0, 0, 28})},
        {"tilted box", turnedAboutX(meshfixtures::box({20, 14, 8}, {0, 0, 16}), 0.6, {10, 7, 20})},
        {"box over a box",
         concatenated(meshfixtures::box({30, 20, 4}, {0, 0, 18}), meshfixtures::box({8, 8, 6}, {11, 6, 2}))},
    };
    size_t totalBars = 0;
    for (const auto& [name, soup] : models) {
        SCOPED_TRACE(name);
        Generated g = generate(soup);
        const auto all = cones(*g.gen, false);
        size_t live = 0, onModel = 0;
        for (const ConeShape* c : all) {
            if (c->isDeleted())
                continue;
            ++live;
            onModel += c->FootZ > 0.0;
            EXPECT_GT(c->ContactPoint.z, 0.0001);
            EXPECT_GE(c->FootPoint.z, -1e-9);
            EXPECT_TRUE(closedAndConsistent(c->triangles));
            EXPECT_GT(signedVolume(c->triangles), 0.0);
        }
        EXPECT_GT(live, 5u);
        if (std::string(name) == "box over a box") {
            EXPECT_GT(onModel, 0u);
        }
        // At most one set of bars per pair, none where the rules forbid them.
        const double D = g.gen->Density;
        std::map<std::pair<const ConeShape*, const ConeShape*>, int> sets;
        for (ConeShape* c : all) {
            for (auto* l : c->links) {
                auto* link = static_cast<ColumnLink*>(l);
                if (link->first != c || link->bars.empty())
                    continue;
                ++sets[std::minmax<const ConeShape*>(c, link->second)];
                const double s = std::max(D, static_cast<double>(c->links.size()) * D / 2.0);
                EXPECT_GT((c->HeadEnd - c->TrunkFoot).lengthSquared(), 2.25 * D * D);
                EXPECT_GT((link->second->HeadEnd - link->second->TrunkFoot).lengthSquared(), 2.25 * s * s);
            }
        }
        for (const auto& [pair, n] : sets)
            EXPECT_EQ(1, n);
        const auto original = bars(*g.gen);
        totalBars += original.size();
        std::vector<ConeShape*> order = all;
        std::mt19937 rng(3);
        for (int round = 0; round < 4; ++round) {
            std::shuffle(order.begin(), order.end(), rng);
            for (size_t i = 0; i < order.size() / (round + 1); ++i)
                order[i]->buildMesh(g.gen->placementParams());
            EXPECT_EQ(original, bars(*g.gen));
        }
        Generated h = generate(soup);
        EXPECT_EQ(original, bars(*h.gen));
        EXPECT_EQ(all.size(), cones(*h.gen, false).size());
    }
    EXPECT_GT(totalBars, 0u);
}

// A soup of large random facets (every vertical line crosses hundreds of them)
// and a stack of plates (every cone has hundreds of others within linking
// reach, on the plates above and below): the grid search of the placement
// tests each facet only at the grid points of its own box, asks the octree
// only to break exact ties, and still answers as the octree does point by
// point; linking makes no link that the trim drops at once, so the retired
// links stay within four per cone instead of growing with the stack.
TEST(Generation, soupAndStackedPlatesKeepPlacementAndLinkingWorkInProportion) {
    meshfixtures::TriangleSoup soup;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 100.0);
    for (int i = 0; i < 3000; ++i) {
        meshfixtures::Facet f;
        for (auto& p : f.v)
            p = {u(rng), u(rng), 5.0 + u(rng)};
        soup.push_back(f);
    }
    meshfixtures::TriangleSoup plates;
    for (int k = 0; k < 30; ++k)
        plates = meshfixtures::concatenated(plates, meshfixtures::box({40, 40, 1}, {0, 0, 5.0 + 12.0 * k}));
    const std::pair<const char*, const meshfixtures::TriangleSoup*> models[] = {{"soup", &soup},
                                                                                {"plates", &plates}};
    for (const auto& [name, model] : models) {
        SCOPED_TRACE(name);
        Generated g = generate(*model);
        const support::GridSearchWork& work = g.gen->gridSearchWork;
        const size_t all = cones(*g.gen, false).size();
        EXPECT_GT(cones(*g.gen, true).size(), 100u);
        EXPECT_GT(work.gridPoints, all / 2);
        EXPECT_LE(work.facetTests, 2 * work.gridPoints + g.mesh->triangleCount());
        EXPECT_LE(100 * work.columnSearches, work.gridPoints);
        EXPECT_LE(g.gen->retiredCount(), 4 * all);
        if (model != &soup) {
            expectLinkAndBarRules(*g.gen);
            continue;
        }
        // The octree, point by point, on a finer grid over every region.
        const topolib::StlObject& m = *g.mesh;
        size_t hits = 0;
        for (auto* a : g.gen->areas) {
            auto* over = dynamic_cast<support::AreaSupport*>(a);
            if (over == nullptr)
                continue;
            const int group = support::groupValue(over->AreaID);
            auto octreeAt = [&](const double p[3], double* z, topolib::StlTriangle** hit) {
                m.octree()->lowestTriangleAtXY(m.octreeOrigin(), m.octreeEdge(), p, group, z, hit);
            };
            auto steps = [](double lo, double hi) { return static_cast<long>((hi - lo) / 2.5); };
            const support::GridAxis xs{over->boxMin.x, 2.5, steps(over->boxMin.x, over->boxMax.x)};
            const support::GridAxis ys{over->boxMin.y, 2.5, steps(over->boxMin.y, over->boxMax.y)};
            const auto found = support::lowestFacetsOnGrid(over->triangles, group, xs, ys, octreeAt);
            size_t next = 0;
            for (long i = 0; i <= xs.last; ++i) {
                for (long j = 0; j <= ys.last; ++j) {
                    const double p[3] = {xs.at(i), ys.at(j), 0.0};
                    double z = 999999999999.0;
                    topolib::StlTriangle* hit = nullptr;
                    octreeAt(p, &z, &hit);
                    if (hit == nullptr)
                        continue;
                    ++hits;
                    ASSERT_LT(next, found.size());
                    EXPECT_EQ(i, found[next].i);
                    EXPECT_EQ(j, found[next].j);
                    EXPECT_EQ(z, found[next].z);
                    EXPECT_EQ(hit, found[next].facet); // random facets never tie
                    ++next;
                }
            }
            EXPECT_EQ(found.size(), next);
        }
        EXPECT_GT(hits, 1000u);
    }
}

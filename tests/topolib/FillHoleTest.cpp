// Hole filling from open rims and the caps of shell rims.
#include "MeshFixtures.h"

#include "topolib/FillPolygon.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>
#include <deque>
#include <map>
#include <memory>

using topolib::FillPolygon;
using topolib::StlEdge;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct EdgeCounts {
    int boundary = 0;
    int unpaired = 0; // live edges without exactly two live triangles
};

EdgeCounts countEdges(const StlObject& mesh) {
    EdgeCounts c;
    for (const StlEdge* e : mesh.edges()) {
        if (e->edgeClass == topolib::kEdgeDetached)
            continue;
        int live = 0;
        for (const StlTriangle* t : *e)
            live += t->isDeleted() ? 0 : 1;
        c.boundary += live == 1 ? 1 : 0;
        c.unpaired += live != 2 ? 1 : 0;
    }
    return c;
}

StlEdge* firstBoundaryEdge(const StlObject& mesh) {
    for (StlEdge* e : mesh.edges())
        if (e->edgeClass == topolib::kEdgeBoundary)
            return e;
    return nullptr;
}

// A point as the mesh stores it after import (single precision corners).
Vector3D asImported(double x, double y, double z) {
    return Vector3D(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}

// Signed volume of a triangle list against the origin.
double soupVolume(const meshfixtures::TriangleSoup& soup) {
    double v = 0.0;
    for (const auto& f : soup) {
        const Vector3D a = asImported(f.v[0][0], f.v[0][1], f.v[0][2]);
        const Vector3D b = asImported(f.v[1][0], f.v[1][1], f.v[1][2]);
        const Vector3D c = asImported(f.v[2][0], f.v[2][1], f.v[2][2]);
        v += a.dot(b.cross(c));
    }
    return v / 6.0;
}

bool noTriangleMarks(const StlObject& mesh) {
    for (const StlTriangle* t : mesh.triangles())
        if (t->walkMark() != 0)
            return false;
    return true;
}

} // namespace

TEST(FillHole, openBoxBecomesClosedCubeOfTheRightVolume) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::openBox(10.0));
    ASSERT_EQ(countEdges(*mesh).boundary, 4);
    FillPolygon* polygon = mesh->fillHole(firstBoundaryEdge(*mesh));
    ASSERT_NE(polygon, nullptr);
    EXPECT_EQ(polygon->nodeCount(), 4u);
    EXPECT_EQ(polygon->state, 0u);
    EXPECT_EQ(polygon->planar, 1);
    EXPECT_EQ(polygon->shells.size(), 1u);
    // The rim's normal points out of the box, through the missing top.
    EXPECT_NEAR(polygon->normal.z, 1.0, 1e-12);
    std::deque<StlTriangle*> made;
    ASSERT_TRUE(mesh->triangulateHolePolygon(polygon, &made));
    EXPECT_EQ(made.size(), 2u);
    const EdgeCounts counts = countEdges(*mesh);
    EXPECT_EQ(counts.boundary, 0);
    EXPECT_EQ(counts.unpaired, 0);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->volume(), 1000.0, 1e-9);
    EXPECT_NEAR(mesh->area(), 600.0, 1e-9);
}

TEST(FillHole, sphereWithPolarCapRemovedIsClosedByAFlatCap) {
    const double r = 10.0;
    const int slices = 448, stacks = 224, capRings = 20;
    const meshfixtures::TriangleSoup sphere = meshfixtures::uvSphere(r, slices, stacks);
    ASSERT_GT(sphere.size(), 190000u);
    // The ring of the cut lies at polar angle capRings · pi / stacks.
    const double zRing = r * std::cos(capRings * kPi / stacks);
    meshfixtures::TriangleSoup kept, cap;
    for (const auto& f : sphere) {
        const bool above = f.v[0][2] > zRing - 1e-9 && f.v[1][2] > zRing - 1e-9 && f.v[2][2] > zRing - 1e-9;
        (above ? cap : kept).push_back(f);
    }
    auto mesh = meshfixtures::buildMesh(kept);
    ASSERT_EQ(countEdges(*mesh).boundary, slices);

    FillPolygon* polygon = mesh->fillHole(firstBoundaryEdge(*mesh));
    ASSERT_NE(polygon, nullptr);
    EXPECT_EQ(polygon->nodeCount(), static_cast<std::size_t>(slices));
    std::deque<StlTriangle*> made;
    ASSERT_TRUE(mesh->triangulateHolePolygon(polygon, &made));
    EXPECT_EQ(made.size(), static_cast<std::size_t>(slices - 2));
    const EdgeCounts counts = countEdges(*mesh);
    EXPECT_EQ(counts.boundary, 0);
    EXPECT_EQ(counts.unpaired, 0);

    // The analytic sphere less its cap, within the faceting error...
    mesh->computeAreaAndVolume();
    const double h = r - zRing;
    const double analytic = 4.0 / 3.0 * kPi * r * r * r - kPi * h * h * (3.0 * r - h) / 3.0;
    EXPECT_NEAR(mesh->volume(), analytic, 1e-4 * analytic);
    // ... and exactly the faceted sphere less the faceted cap closed by any flat
    // cover of the same ring (its volume does not depend on the triangulation).
    // The ring as the mesh has it: the corners of the cap facets on the ring.
    std::vector<Vector3D> ring;
    for (const auto& f : cap)
        for (const auto& p : f.v)
            if (std::fabs(p[2] - zRing) < 1e-9) {
                const Vector3D q = asImported(p[0], p[1], p[2]);
                bool known = false;
                for (const Vector3D& k : ring)
                    known = known || k == q;
                if (!known)
                    ring.push_back(q);
            }
    ASSERT_EQ(ring.size(), static_cast<std::size_t>(slices));
    std::sort(ring.begin(), ring.end(),
              [](const Vector3D& a, const Vector3D& b) { return std::atan2(a.y, a.x) < std::atan2(b.y, b.x); });
    double capClosed = soupVolume(cap);
    const Vector3D centre(0, 0, ring[0].z);
    for (int i = 0; i < slices; ++i) {
        // The disc below the cap, wound to face down (out of the cap).
        const Vector3D& p = ring[i];
        const Vector3D& q = ring[(i + 1) % slices];
        capClosed += centre.dot(q.cross(p)) / 6.0;
    }
    const double faceted = soupVolume(sphere) - capClosed;
    EXPECT_NEAR(mesh->volume(), faceted, 1e-9 * faceted);
}

TEST(FillHole, finelyDividedRimIsClosedCompletelyOrReportedOpen) {
    // An open cone whose rim is a circle of 3000 corners in single precision:
    // neighbouring corners turn by less than their rounding, so the rim has
    // reflex corners and the clipping meets ears far thinner than the area
    // tolerance. Every one is still a triangle of the cover.
    const int n = 3000;
    meshfixtures::TriangleSoup soup;
    auto rim = [n](int i) {
        const double a = 2.0 * kPi * (i % n) / n;
        return std::array<double, 3>{10.0 * std::cos(a), 10.0 * std::sin(a), 0.0};
    };
    for (int i = 0; i < n; ++i)
        soup.push_back({{{0.0, 0.0, 10.0}, rim(i), rim(i + 1)}});
    auto mesh = meshfixtures::buildMesh(soup);
    ASSERT_EQ(countEdges(*mesh).boundary, n);
    FillPolygon* polygon = mesh->fillHole(firstBoundaryEdge(*mesh));
    ASSERT_NE(polygon, nullptr);
    ASSERT_EQ(polygon->nodeCount(), static_cast<std::size_t>(n));
    std::deque<StlTriangle*> made;
    EXPECT_TRUE(mesh->triangulateHolePolygon(polygon, &made));
    EXPECT_EQ(made.size(), static_cast<std::size_t>(n - 2));
    const EdgeCounts counts = countEdges(*mesh);
    EXPECT_EQ(counts.boundary, 0);
    EXPECT_EQ(counts.unpaired, 0);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->volume(), kPi * 1000.0 / 3.0, 1e-3);

    // A rim through two vertices at one point cannot be closed: the triangle
    // between them is refused, and the filling says so.
    auto box = meshfixtures::buildMesh(meshfixtures::openBox(10.0));
    std::deque<StlVertex*> loop;
    for (StlVertex* v : box->vertices())
        if (v->pos.z > 5.0)
            loop.push_back(v);
    ASSERT_EQ(loop.size(), 4u);
    std::sort(loop.begin(), loop.end(), [](const StlVertex* a, const StlVertex* b) {
        return std::atan2(a->pos.y - 5.0, a->pos.x - 5.0) < std::atan2(b->pos.y - 5.0, b->pos.x - 5.0);
    });
    StlVertex* twin = box->newVertex(loop.front()->pos.data());
    box->appendVertex(twin);
    loop.push_back(twin);
    auto* twinned = new FillPolygon(box.get());
    twinned->buildFromVertices(loop);
    twinned->fitPlane();
    EXPECT_FALSE(box->triangulateHolePolygon(twinned));
}

TEST(FillHole, threeCornerHoleGetsItsTriangle) {
    // A tetrahedron without one face.
    meshfixtures::TriangleSoup soup{{{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}},
                                    {{{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}},
                                    {{{0, 0, 0}, {0, 0, 1}, {0, 1, 0}}}};
    auto mesh = meshfixtures::buildMesh(soup);
    FillPolygon* polygon = mesh->fillHole(firstBoundaryEdge(*mesh));
    ASSERT_NE(polygon, nullptr);
    ASSERT_EQ(polygon->nodeCount(), 3u);
    std::deque<StlTriangle*> made;
    ASSERT_TRUE(mesh->triangulateHolePolygon(polygon, &made));
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(countEdges(*mesh).unpaired, 0);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->volume(), 1.0 / 6.0, 1e-12);
}

TEST(FillHole, startEdgesThatAreNoRimGiveNoPolygon) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::openBox(10.0));
    EXPECT_EQ(mesh->fillHole(nullptr), nullptr);
    StlEdge loose(mesh->vertices()[0], mesh->vertices()[1]); // listed in no triangle
    EXPECT_EQ(mesh->fillHole(&loose), nullptr);
    EXPECT_FALSE(mesh->triangulateHolePolygon(nullptr));
}

TEST(FillHole, squareHoleInASheetIsCoveredAndOnlyTheBorderStaysOpen) {
    meshfixtures::TriangleSoup soup;
    auto square = [&soup](double x, double y) {
        soup.push_back({{{x, y, 0}, {x + 1, y, 0}, {x + 1, y + 1, 0}}});
        soup.push_back({{{x, y, 0}, {x + 1, y + 1, 0}, {x, y + 1, 0}}});
    };
    // A 4 × 4 sheet with the middle 2 × 2 missing: a square hole with a closed rim.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (!(i >= 1 && i <= 2 && j >= 1 && j <= 2))
                square(i, j);
    auto mesh = meshfixtures::buildMesh(soup);
    // Pick an edge of the inner rim (both ends inside the sheet's border).
    StlEdge* inner = nullptr;
    for (StlEdge* e : mesh->edges()) {
        if (e->edgeClass != topolib::kEdgeBoundary)
            continue;
        const Vector3D& a = e->vertex(0)->pos;
        const Vector3D& b = e->vertex(1)->pos;
        if (a.x > 0.5 && a.x < 3.5 && a.y > 0.5 && a.y < 3.5 && b.x > 0.5 && b.x < 3.5 && b.y > 0.5 && b.y < 3.5)
            inner = e;
    }
    ASSERT_NE(inner, nullptr);
    FillPolygon* polygon = mesh->fillHole(inner);
    ASSERT_NE(polygon, nullptr);
    EXPECT_EQ(polygon->nodeCount(), 8u);
    EXPECT_NEAR(std::fabs(polygon->normal.z), 1.0, 1e-12);
    ASSERT_TRUE(mesh->triangulateHolePolygon(polygon));
    // Only the sheet's outer border stays open: 16 edges.
    EXPECT_EQ(countEdges(*mesh).boundary, 16);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->area(), 16.0, 1e-12);
}

TEST(FillHole, shortestSurfaceChainAvoidsMarkedTrianglesAndCleansUp) {
    // A 5 × 1 strip of unit squares: from one end to the other along the bottom.
    meshfixtures::TriangleSoup soup;
    for (int i = 0; i < 5; ++i) {
        soup.push_back({{{double(i), 0, 0}, {i + 1.0, 0, 0}, {i + 1.0, 1, 0}}});
        soup.push_back({{{double(i), 0, 0}, {i + 1.0, 1, 0}, {double(i), 1, 0}}});
    }
    auto mesh = meshfixtures::buildMesh(soup);
    auto at = [&](double x, double y) -> StlVertex* {
        for (StlVertex* v : mesh->vertices())
            if (v->pos == Vector3D(x, y, 0))
                return v;
        return nullptr;
    };
    std::deque<StlVertex*> path;
    EXPECT_EQ(mesh->findGeodesicPath(at(0, 0), at(5, 0), path), 0);
    ASSERT_EQ(path.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(path[i], at(i + 1, 0));
    for (const StlVertex* v : mesh->vertices())
        EXPECT_EQ(v->mark(), 0u);
    EXPECT_TRUE(noTriangleMarks(*mesh));

    // With the middle square's triangles marked the goal cannot be reached: the
    // path stays as it was.
    for (StlTriangle* t : mesh->triangles())
        if (t->vertices[0]->pos.x == 2.0)
            t->setWalkMark(1);
    std::deque<StlVertex*> blocked{at(0, 1)};
    mesh->findGeodesicPath(at(0, 0), at(5, 0), blocked);
    EXPECT_EQ(blocked.size(), 1u);
}

TEST(FillHole, surfaceChainOnAnUnevenGridGoesAroundMarkedTrianglesAlongEdges) {
    // A 9 × 9 grid of unevenly placed points on a wavy surface, its squares split
    // along alternating diagonals, so that distances differ everywhere and the
    // chain's choices follow from the relaxation order. The triangles of columns
    // 4 and 5 below row 6 are marked: the chain has to go round their end.
    constexpr int n = 9;
    auto point = [](int i, int j) -> meshfixtures::Point {
        return {i + 0.3 * std::sin(1.7 * i + 2.3 * j), j + 0.3 * std::cos(2.9 * i - 1.1 * j),
                0.5 * std::sin(0.8 * i) * std::cos(0.6 * j)};
    };
    meshfixtures::TriangleSoup soup;
    for (int i = 0; i + 1 < n; ++i)
        for (int j = 0; j + 1 < n; ++j) {
            const auto a = point(i, j), b = point(i + 1, j), c = point(i + 1, j + 1), d = point(i, j + 1);
            if ((i + j) % 2 == 0) {
                soup.push_back({{a, b, c}});
                soup.push_back({{a, c, d}});
            } else {
                soup.push_back({{a, b, d}});
                soup.push_back({{b, c, d}});
            }
        }
    auto mesh = meshfixtures::buildMesh(soup);
    std::map<const StlVertex*, std::pair<int, int>> cell;
    std::vector<StlVertex*> grid(n * n, nullptr);
    for (StlVertex* v : mesh->vertices())
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const auto p = point(i, j);
                if (v->pos == asImported(p[0], p[1], p[2])) {
                    grid[i * n + j] = v;
                    cell[v] = {i, j};
                }
            }
    ASSERT_EQ(cell.size(), std::size_t(n * n));
    std::size_t marked = 0;
    for (StlTriangle* t : mesh->triangles()) {
        int lo = n, hi = -1, top = -1;
        for (const StlVertex* v : t->vertices) {
            lo = std::min(lo, cell[v].first);
            hi = std::max(hi, cell[v].first);
            top = std::max(top, cell[v].second);
        }
        if (lo == 4 && hi == 5 && top <= 6) {
            t->setWalkMark(1);
            ++marked;
        }
    }
    ASSERT_EQ(marked, 12u);

    StlVertex* source = grid[0 * n + 1];
    StlVertex* goal = grid[8 * n + 2];
    std::deque<StlVertex*> path;
    mesh->findGeodesicPath(source, goal, path);
    std::vector<std::pair<int, int>> cells;
    for (const StlVertex* v : path)
        cells.push_back(cell[v]);
    // Up the diagonal, over the marked block's top corners and down again.
    const std::vector<std::pair<int, int>> expected = {{0, 2}, {1, 3}, {2, 4}, {3, 5}, {4, 6},
                                                       {5, 6}, {5, 5}, {6, 4}, {7, 3}};
    EXPECT_EQ(cells, expected);
    // Every step is an edge of the mesh.
    path.push_front(source);
    path.push_back(goal);
    for (std::size_t k = 0; k + 1 < path.size(); ++k)
        EXPECT_NE(StlVertex::findEdgeTo(path[k], path[k + 1]), nullptr) << k;
    // The marks set by the caller stay; the search's own are gone.
    std::size_t stillMarked = 0;
    for (const StlTriangle* t : mesh->triangles())
        stillMarked += t->walkMark() != 0 ? 1 : 0;
    EXPECT_EQ(stillMarked, marked);
    for (const StlVertex* v : mesh->vertices())
        EXPECT_EQ(v->mark(), 0u);
}

TEST(ShellRimCaps, capsCoverEveryRimWithFreeStandingTriangles) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::openBox(10.0));
    mesh->traceHoleRims();
    ASSERT_EQ(mesh->shells().size(), 1u);
    topolib::StlShell* shell = mesh->shells().front();
    ASSERT_EQ(shell->rimPolygons.size(), 1u);
    const std::size_t before = mesh->triangleCount();
    std::deque<StlTriangle*> caps;
    ASSERT_TRUE(shell->triangulateRimPolygons(caps));
    EXPECT_TRUE(shell->rimPolygons.empty());
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_EQ(mesh->triangleCount(), before); // the mesh itself is unchanged
    double area = 0.0;
    for (StlTriangle* t : caps) {
        EXPECT_NEAR(t->normal.z, 1.0, 1e-12);
        for (const StlVertex* v : t->vertices)
            for (const StlTriangle* u : *v)
                EXPECT_NE(u, t); // not registered with its corners
        area += topolib::triangleArea(t);
        delete t;
    }
    EXPECT_NEAR(area, 100.0, 1e-9);
    for (const StlEdge* e : mesh->edges())
        EXPECT_EQ(e->marks(), 0u);
}

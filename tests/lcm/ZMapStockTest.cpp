// The Z-map core: dexel segments from meshes (tie rule, thin slabs), the
// marching-cubes surface on arbitrary inside patterns, the offset of a cube and
// a sphere against their exact offsets, and thread-count independence.

#include "MeshFixtures.h"

#include "src/Features/lcm/ZMapStock.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <utility>

namespace {

using lcm::ZMapStock;
using lcm::ZMapSurface;

// Edges of a triangle surface: closed when every undirected edge has two
// triangles, consistently oriented when each directed edge occurs once.
struct SurfaceCheck {
    std::size_t openOrOverfull = 0;
    std::size_t misoriented = 0;
    double volume = 0.0;
};

SurfaceCheck checkSurface(const ZMapSurface& s) {
    std::map<std::pair<uint32_t, uint32_t>, int> directed;
    SurfaceCheck out;
    for (const auto& t : s.triangles) {
        for (int k = 0; k < 3; ++k)
            ++directed[{t[static_cast<std::size_t>(k)], t[static_cast<std::size_t>((k + 1) % 3)]}];
        const auto& a = s.points[t[0]];
        const auto& b = s.points[t[1]];
        const auto& c = s.points[t[2]];
        out.volume += a.dot(b.cross(c)) / 6.0;
    }
    for (const auto& [e, n] : directed) {
        const auto back = directed.find({e.second, e.first});
        const int m = back == directed.end() ? 0 : back->second;
        if (n != 1 || m != 1) {
            out.openOrOverfull += 1;
            out.misoriented += n > 1 ? 1 : 0;
        }
    }
    return out;
}

// A stock over the box [lo, hi]^3 built from the soup's single shell.
void buildStock(ZMapStock& stock, const meshfixtures::TriangleSoup& soup, double cell, double thickness,
                const double lo[3], const double hi[3]) {
    stock.setCellSize(cell);
    stock.setThickness(thickness);
    stock.setBox(lo, hi);
    ASSERT_TRUE(stock.setUp());
    std::vector<std::array<double, 9>> tris;
    for (const auto& f : soup)
        tris.push_back({f.v[0][0], f.v[0][1], f.v[0][2], f.v[1][0], f.v[1][1], f.v[1][2], f.v[2][0], f.v[2][1],
                        f.v[2][2]});
    stock.addShell(tris);
    stock.mergeSegments();
}

TEST(ZMapStock, cubeOnGridLinesGivesOneSegmentPerInsideDexel) {
    // Cell 0.5 and thickness 0.4 put the widened box origin at -1.0: the cube's
    // faces, edges and corners all lie exactly on grid lines, and so do the
    // diagonals of its facets for the dexels through them.
    ZMapStock stock;
    const double lo[3] = {0, 0, 0}, hi[3] = {10, 10, 10};
    buildStock(stock, meshfixtures::cube(10.0), 0.5, 0.4, lo, hi);
    for (int d = 0; d < 3; ++d) {
        const int a = (d + 1) % 3, b = (d + 2) % 3;
        std::size_t inside = 0;
        for (uint32_t ia = 0; ia < stock.count(a); ++ia)
            for (uint32_t ib = 0; ib < stock.count(b); ++ib) {
                const auto& segs = stock.element(d, ia, ib).segments;
                const double xa = stock.gridCoord(a, ia), xb = stock.gridCoord(b, ib);
                const bool strictlyIn = xa > 0 && xa < 10 && xb > 0 && xb < 10;
                const bool strictlyOut = xa < 0 || xa > 10 || xb < 0 || xb > 10;
                if (strictlyIn) {
                    ASSERT_EQ(segs.size(), 1u) << d << " " << ia << " " << ib;
                    EXPECT_DOUBLE_EQ(segs[0].bottom, 0.0);
                    EXPECT_DOUBLE_EQ(segs[0].top, 10.0);
                }
                if (strictlyOut) {
                    EXPECT_TRUE(segs.empty());
                }
                EXPECT_LE(segs.size(), 1u);
                inside += segs.size();
            }
        // Half-open: of the 21 lines from 0 to 10 one boundary line per
        // direction belongs to the cube, the other does not.
        EXPECT_EQ(inside, 20u * 20u) << "axis " << d;
    }
}

TEST(ZMapStock, threeHundredThinSlabsGiveThreeHundredSegments) {
    meshfixtures::TriangleSoup soup;
    for (int s = 0; s < 300; ++s)
        soup = meshfixtures::concatenated(soup, meshfixtures::box({4.0, 4.0, 0.05}, {0.0, 0.0, 0.1 * s}));
    ZMapStock stock;
    const double lo[3] = {0, 0, 0}, hi[3] = {4, 4, 30};
    buildStock(stock, soup, 0.37, 0.1, lo, hi);
    const auto& z = stock.element(2, 5, 5).segments; // x = y = 1.6 - 0.25
    ASSERT_EQ(z.size(), 300u);
    for (std::size_t s = 0; s < z.size(); ++s) {
        EXPECT_NEAR(z[s].bottom, 0.1 * s, 1e-9);
        EXPECT_NEAR(z[s].top, 0.1 * s + 0.05, 1e-9);
    }
}

// Random inside patterns written straight into the X dexels: the marching
// cubes surface must be closed and consistently oriented whatever the pattern
// (every face ambiguity included), and enclose the inside points.
TEST(ZMapStock, triangulationOfRandomPatternsIsClosedAndOriented) {
    std::mt19937 rng(7);
    for (int round = 0; round < 6; ++round) {
        ZMapStock stock;
        stock.setCellSize(1.0);
        stock.setThickness(0.0);
        const double lo[3] = {0, 0, 0}, hi[3] = {11, 11, 11};
        stock.setBox(lo, hi);
        ASSERT_TRUE(stock.setUp());
        const double fill = 0.3 + 0.1 * round;
        std::bernoulli_distribution on(fill);
        for (uint32_t k = 1; k + 2 < stock.count(2); ++k)
            for (uint32_t j = 1; j + 3 < stock.count(1); ++j) {
                auto& segs = stock.element(0, j, k).segments;
                for (uint32_t i = 1; i + 3 < stock.count(0); ++i) {
                    if (!on(rng))
                        continue;
                    const double x = stock.gridCoord(0, i);
                    if (!segs.empty() && segs.back().top > x - 0.6)
                        segs.back().top = x + 0.5;
                    else
                        segs.push_back({x - 0.5, x + 0.5, 0});
                }
            }
        stock.generateTriangles(0, 0);
        const ZMapSurface& s = stock.surface();
        ASSERT_FALSE(s.triangles.empty());
        const SurfaceCheck c = checkSurface(s);
        EXPECT_EQ(c.openOrOverfull, 0u) << "round " << round;
        EXPECT_EQ(c.misoriented, 0u);
        // The surface faces away from the inside points: negative volume.
        EXPECT_LT(c.volume, 0.0);
    }
}

TEST(ZMapStock, erodedCubeMatchesItsExactOffset) {
    ZMapStock stock;
    const double lo[3] = {0, 0, 0}, hi[3] = {20, 20, 20};
    const double cell = 0.2 + 0.0001, t = 2.0;
    buildStock(stock, meshfixtures::cube(20.0), cell, t, lo, hi);
    stock.buildOffsetSurface();
    // The centre Z dexel runs from 2 to 18 within half a cell.
    const uint32_t ci = static_cast<uint32_t>((10.0 - stock.minCoord()[0]) / cell);
    const uint32_t cj = static_cast<uint32_t>((10.0 - stock.minCoord()[1]) / cell);
    const auto& z = stock.element(2, ci, cj).segments;
    ASSERT_EQ(z.size(), 1u);
    EXPECT_NEAR(z[0].bottom, 2.0, cell / 2);
    EXPECT_NEAR(z[0].top, 18.0, cell / 2);
    const SurfaceCheck c = checkSurface(stock.surface());
    EXPECT_EQ(c.openOrOverfull, 0u);
    EXPECT_NEAR(-c.volume, 16.0 * 16.0 * 16.0, 0.03 * 4096.0);
    for (const auto& p : stock.surface().points) {
        // Every vertex lies on the inner cube's boundary within a cell.
        const double dx = std::max({2.0 - p.x, p.x - 18.0, 2.0 - p.y, p.y - 18.0, 2.0 - p.z, p.z - 18.0});
        EXPECT_LT(std::fabs(dx), cell);
    }
}

TEST(ZMapStock, erodedSphereMatchesItsExactOffsetWithAnyThreadCount) {
    const auto soup = meshfixtures::icosphere(20.0, 5);
    const double lo[3] = {-20, -20, -20}, hi[3] = {20, 20, 20};
    const double cell = 0.3;
    ZMapStock one, many;
    one.setThreadCount(1);
    many.setThreadCount(7);
    buildStock(one, soup, cell, 2.0, lo, hi);
    buildStock(many, soup, cell, 2.0, lo, hi);
    one.buildOffsetSurface();
    many.buildOffsetSurface();
    const ZMapSurface& s = one.surface();
    const SurfaceCheck c = checkSurface(s);
    EXPECT_EQ(c.openOrOverfull, 0u);
    const double exact = 4.0 / 3.0 * M_PI * 18.0 * 18.0 * 18.0;
    EXPECT_NEAR(-c.volume, exact, 0.02 * exact);
    for (const auto& p : s.points)
        EXPECT_NEAR(std::sqrt(p.dot(p)), 18.0, cell);
    // Identical, not just close.
    ASSERT_EQ(s.points.size(), many.surface().points.size());
    ASSERT_EQ(s.triangles, many.surface().triangles);
    for (std::size_t k = 0; k < s.points.size(); ++k) {
        ASSERT_EQ(s.points[k].x, many.surface().points[k].x);
        ASSERT_EQ(s.points[k].y, many.surface().points[k].y);
        ASSERT_EQ(s.points[k].z, many.surface().points[k].z);
    }
}

TEST(ZMapStock, exactOrientationDecidesCollinearPoints) {
    // Collinear in exact arithmetic though not representable exactly along the line.
    EXPECT_EQ(lcm::orient2dSign(0.1, 0.1, 0.3, 0.3, 0.7, 0.7), 0);
    EXPECT_EQ(lcm::orient2dSign(0, 0, 1, 0, 0.5, 1e-300), 1);
    EXPECT_EQ(lcm::orient2dSign(0, 0, 1, 0, 0.5, -1e-300), -1);
    EXPECT_EQ(lcm::orient2dSign(1e15, 1e15, 1e15 + 2, 1e15 + 2, 1e15 + 1, 1e15 + 1), 0);
}

} // namespace

// Ear clipping of planar polygons checked against Boost.Geometry: the triangles
// tile the polygon (areas sum to its area, none overlaps another, each lies inside).
#include "topolib/FillPolygon.h"
#include "topolib/Matrix4D.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

// Boost.Geometry's envelope and rescale code trips GCC's maybe-uninitialized
// analysis once inlined here, depending on the build folder's path; the warning
// is not about this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>
#pragma GCC diagnostic pop
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

namespace bg = boost::geometry;
using topolib::FillPolygon;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

using Point2 = bg::model::d2::point_xy<double>;
using Polygon2 = bg::model::polygon<Point2, false, true>; // counter-clockwise, closed
using Loop = std::vector<std::array<double, 2>>;

constexpr double kPi = 3.14159265358979323846;

Polygon2 toBoost(const Loop& loop) {
    Polygon2 p;
    for (const auto& q : loop)
        bg::append(p.outer(), Point2(q[0], q[1]));
    bg::append(p.outer(), Point2(loop[0][0], loop[0][1]));
    return p;
}

double signedArea(const Loop& loop) {
    double a = 0.0;
    for (std::size_t i = 0; i < loop.size(); ++i) {
        const auto& p = loop[i];
        const auto& q = loop[(i + 1) % loop.size()];
        a += p[0] * q[1] - q[0] * p[1];
    }
    return 0.5 * a;
}

Loop regularPolygon(int n, double r) {
    Loop l;
    for (int i = 0; i < n; ++i)
        l.push_back({r * std::cos(2 * kPi * i / n), r * std::sin(2 * kPi * i / n)});
    return l;
}

Loop star(int points, double outer, double inner) {
    Loop l;
    for (int i = 0; i < 2 * points; ++i) {
        const double r = i % 2 ? inner : outer;
        const double a = kPi * i / points;
        l.push_back({r * std::cos(a), r * std::sin(a)});
    }
    return l;
}

// 50 teeth of width 1 and height 10 on a base of height 2: tooth tops and gap
// bottoms are collinear far apart along the loop.
Loop comb(int teeth) {
    const double w = 2.0 * teeth - 1.0;
    Loop l{{0.0, 0.0}, {w, 0.0}};
    for (int i = teeth - 1; i >= 0; --i) {
        const double x0 = 2.0 * i, x1 = x0 + 1.0;
        l.push_back({x1, 10.0});
        l.push_back({x0, 10.0});
        if (i > 0) {
            l.push_back({x0, 2.0});
            l.push_back({x0 - 1.0, 2.0});
        }
    }
    return l;
}

// Two turns of an arm 0.6 wide winding outwards.
Loop spiral(int samples) {
    Loop outer, inner;
    for (int i = 0; i < samples; ++i) {
        const double t = 4.0 * kPi * i / (samples - 1);
        const double r = 2.0 + t;
        outer.push_back({r * std::cos(t), r * std::sin(t)});
        inner.push_back({(r - 0.6) * std::cos(t), (r - 0.6) * std::sin(t)});
    }
    Loop l = outer;
    l.insert(l.end(), inner.rbegin(), inner.rend());
    if (signedArea(l) < 0)
        std::reverse(l.begin(), l.end());
    return l;
}

// A mesh holding the polygon's corners (placed by a rigid motion into 3D) and
// nothing else.
struct PlacedPolygon {
    StlObject mesh;
    std::deque<StlVertex*> loop;
    std::vector<std::array<double, 2>> flat; // 2D corner by vertex index

    PlacedPolygon(const Loop& corners, const std::vector<int>& order, const double motion[16]) {
        flat = corners;
        for (const auto& c : corners) {
            double p[3] = {c[0], c[1], 0.0};
            StlVertex* v = mesh.newVertex(p);
            v->transform(motion);
            mesh.appendVertex(v);
        }
        for (int i : order)
            loop.push_back(mesh.vertices()[i]);
    }
};

Polygon2 triangle2(const PlacedPolygon& pp, const StlTriangle* t) {
    Loop l;
    for (const StlVertex* v : t->vertices)
        l.push_back(pp.flat[v->index]);
    return toBoost(l);
}

double overlapArea(const Polygon2& a, const Polygon2& b) {
    std::vector<Polygon2> parts;
    bg::intersection(a, b, parts);
    double s = 0.0;
    for (const auto& p : parts)
        s += bg::area(p);
    return s;
}

struct Case {
    std::string name;
    Loop corners;
    std::vector<int> order;      // loop order over the corners (a vertex may repeat)
    std::vector<Loop> lobes;     // simple pieces whose union the loop bounds
    std::size_t expectedTriangles;
};

std::vector<int> iota(std::size_t n) {
    std::vector<int> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<int>(i);
    return v;
}

Case simpleCase(const std::string& name, const Loop& l) { return Case{name, l, iota(l.size()), {l}, l.size() - 2}; }

Case figureEight() {
    // Two pentagons touching at the origin; the loop passes through it twice.
    const Loop corners{{0, 0}, {3, -2}, {6, -1}, {6, 2}, {3, 2}, {-3, 2}, {-6, 1}, {-6, -2}, {-3, -2}};
    const Loop right{{0, 0}, {3, -2}, {6, -1}, {6, 2}, {3, 2}};
    const Loop left{{0, 0}, {-3, 2}, {-6, 1}, {-6, -2}, {-3, -2}};
    // 10 loop nodes, two simple loops of 5: 3 + 3 triangles.
    return Case{"figure-eight", corners, {0, 1, 2, 3, 4, 0, 5, 6, 7, 8}, {right, left}, 6};
}

} // namespace

TEST(PolygonTriangulationOracle, planarPolygonsAreTiledByTheirTriangles) {
    std::vector<Case> cases{simpleCase("convex 100-gon", regularPolygon(100, 10.0)),
                            simpleCase("star", star(12, 10.0, 3.0)), simpleCase("comb", comb(50)),
                            simpleCase("spiral", spiral(120)), figureEight()};
    // In the x/y plane, and tilted and moved so that no axis is special.
    topolib::Matrix4D identity;
    topolib::Matrix4D tilted;
    const double angle = 1.1, axisPoint[3] = {1.0, -2.0, 0.5}, axisDir[3] = {0.48, 0.6, 0.64};
    topolib::makeAxisRotationMatrix(&angle, axisPoint, axisDir, tilted);
    const double shift[3] = {5.0, -3.0, 7.0};
    tilted.multiplyByTranslation(shift);
    for (const Case& c : cases) {
        for (const topolib::Matrix4D* motion : {&identity, &tilted}) {
            SCOPED_TRACE(c.name + (motion == &identity ? " flat" : " tilted"));
            PlacedPolygon pp(c.corners, c.order, motion->data());
            auto* polygon = new FillPolygon(&pp.mesh);
            polygon->buildFromVertices(pp.loop);
            polygon->fitPlane();
            EXPECT_EQ(polygon->planar, 1);
            std::deque<StlTriangle*> made;
            ASSERT_TRUE(pp.mesh.triangulateHolePolygon(polygon, &made));
            EXPECT_EQ(made.size(), c.expectedTriangles);

            double expected = 0.0;
            std::vector<Polygon2> lobes;
            for (const Loop& l : c.lobes) {
                expected += bg::area(toBoost(l));
                lobes.push_back(toBoost(l));
            }
            std::vector<Polygon2> tris;
            double sum = 0.0;
            for (const StlTriangle* t : made) {
                tris.push_back(triangle2(pp, t));
                // Same winding as the polygon: positive area in its own plane.
                EXPECT_GT(bg::area(tris.back()), 0.0);
                sum += topolib::triangleArea(t);
                double inside = 0.0;
                for (const Polygon2& lobe : lobes)
                    inside += overlapArea(tris.back(), lobe);
                EXPECT_NEAR(inside, bg::area(tris.back()), 1e-9 * expected);
            }
            EXPECT_NEAR(sum, expected, 1e-9 * expected);
            for (std::size_t i = 0; i < tris.size(); ++i) {
                bg::model::box<Point2> bi;
                bg::envelope(tris[i], bi);
                for (std::size_t j = i + 1; j < tris.size(); ++j) {
                    bg::model::box<Point2> bj;
                    bg::envelope(tris[j], bj);
                    if (!bg::intersects(bi, bj))
                        continue;
                    EXPECT_LT(overlapArea(tris[i], tris[j]), 1e-9 * expected) << "triangles " << i << " and " << j;
                }
            }
        }
    }
}

#include "topolib/GeometricPredicates.h"
#include "topolib/Vector3D.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

using namespace topolib;

TEST(PlaneProjection, snapsNearPlanePointAndKeepsPointsAlreadyOnThePlane) {
    const double q[3] = {1, 1, 1}, n[3] = {0, 0, 2};
    struct Case {
        Vector3D p, expected;
    };
    const Case cases[] = {
        {{3, 4, 1.0000004}, {3, 4, 1.0000004}}, // within 1e-6 of the plane: kept as it is
        {{1 + 2e-6, 1, 1 + 2e-6}, {1, 1, 1}},   // within 1e-5 of the plane point: the plane point
        {{3, 4, 6}, {3, 4, 1}},
    };
    for (const Case& c : cases) {
        double out[3];
        EXPECT_EQ(projectPointOnPlane(c.p.data(), q, n, out), 0);
        EXPECT_EQ(Vector3D(out), c.expected);
    }
    double inPlace[3] = {0, 0, -9};
    projectPointOnPlane(inPlace, q, n, inPlace);
    EXPECT_EQ(Vector3D(inPlace), Vector3D(0, 0, 1));

    double v[3] = {1, 2, 3};
    projectVectorOnPlane(v, n);
    EXPECT_EQ(Vector3D(v), Vector3D(1, 2, 0));
    EXPECT_DOUBLE_EQ(pointPlaneDistSq(Vector3D(7, 7, 4).data(), q, n), 9.0);
}

TEST(SegmentDistance, closedSegmentDistancesIncludingEqualEnds) {
    const double a[3] = {0, 0, 0}, b[3] = {10, 0, 0};
    struct Case {
        Vector3D p;
        double expected;
    };
    const Case cases[] = {
        {{5, 3, 4}, 25.0}, {{-3, 4, 0}, 25.0}, {{13, 0, 4}, 25.0}, {{0, 0, 0}, 0.0}, {{7, 0, 0}, 0.0}};
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(pointSegmentDistSq(c.p.data(), a, b), c.expected);
        EXPECT_DOUBLE_EQ(pointSegmentDistSq2D(c.p.data(), a, b), c.expected - c.p.z * c.p.z);
    }
    // A segment whose ends coincide is a point: its distance, never NaN.
    const double p[3] = {1, 2, 2}, s[3] = {0, 0, 0};
    EXPECT_DOUBLE_EQ(pointSegmentDistSq(p, s, s), 9.0);
    EXPECT_DOUBLE_EQ(pointSegmentDistSq2D(p, s, s), 5.0);
    EXPECT_DOUBLE_EQ(pointSegmentDistSq(s, s, s), 0.0);
}

TEST(SegmentDistance, interiorDistanceIsInfiniteOutsideTheOpenSegment) {
    const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, tiny[3] = {1e-6, 0, 0};
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_NEAR(pointSegmentInteriorDistSq(Vector3D(1, 3, 0).data(), a, b), 9.0, 1e-12);
    EXPECT_EQ(pointSegmentInteriorDistSq(Vector3D(0, 3, 0).data(), a, b), inf); // foot at an end
    EXPECT_EQ(pointSegmentInteriorDistSq(Vector3D(2.5, 0, 0).data(), a, b), inf);
    EXPECT_EQ(pointSegmentInteriorDistSq(Vector3D(0, 0, 0).data(), a, tiny), inf); // shorter than 1e-5
}

TEST(LinePlane, rayReportsOnlyPointsInFrontAndLeavesOutputOtherwise) {
    const double o[3] = {0, 0, 5}, down[3] = {0, 0, -1}, up[3] = {0, 0, 1};
    const double q[3] = {0, 0, 1}, n[3] = {0, 0, 1};
    double out[3] = {7, 7, 7};
    EXPECT_EQ(intersectRayPlane(o, up, q, n, out), 0);
    EXPECT_EQ(Vector3D(out), Vector3D(7, 7, 7));
    EXPECT_EQ(intersectRayPlane(o, down, q, n, out), 1);
    EXPECT_EQ(Vector3D(out), Vector3D(0, 0, 1));
    EXPECT_EQ(intersectLinePlane(o, up, q, n, out), 1); // a line goes both ways
    EXPECT_EQ(Vector3D(out), Vector3D(0, 0, 1));
    const double side[3] = {1, 0, 0};
    EXPECT_EQ(intersectRayPlane(o, side, q, n, out), 0); // parallel
    out[0] = out[1] = out[2] = 7;
    EXPECT_EQ(intersectLinePlane(o, side, q, n, out), 0); // parallel: no point, nothing written
    EXPECT_EQ(Vector3D(out), Vector3D(7, 7, 7));
}

TEST(SegmentsInPlane, endsCountForIntersectButNotForCross) {
    // Segments in the plane z = 0 compared with the z axis dropped (k = 2).
    const double a1[3] = {0, 0, 0}, a2[3] = {2, 0, 4};
    const double b1[3] = {2, 0, 0}, b2[3] = {2, 2, 0};  // meets a at its end
    const double c1[3] = {1, -1, 0}, c2[3] = {1, 1, 0}; // crosses a's middle
    double out[3];
    EXPECT_FALSE(segmentsCrossInPlane(a1, a2, b1, b2, 2, out));
    EXPECT_TRUE(segmentsIntersectInPlane(a1, a2, b1, b2, 2, out));
    EXPECT_EQ(Vector3D(out), Vector3D(2, 0, 4));
    EXPECT_TRUE(segmentsCrossInPlane(a1, a2, c1, c2, 2, out));
    EXPECT_EQ(Vector3D(out), Vector3D(1, 0, 2)); // dropped axis interpolated along a
    const double d1[3] = {0, 1, 0}, d2[3] = {2, 1, 0};
    EXPECT_FALSE(segmentsIntersectInPlane(a1, a2, d1, d2, 2, out)); // parallel
}

TEST(Segments2D, crossingTouchingCollinearAndSeparate) {
    struct Case {
        double p1[2], p2[2], q1[2], q2[2];
        bool meet;
    };
    const Case cases[] = {
        {{0, 0}, {2, 2}, {0, 2}, {2, 0}, true},    // cross
        {{0, 0}, {2, 0}, {1, 0}, {1, 5}, true},    // T touch
        {{0, 0}, {2, 0}, {1, 0}, {3, 0}, true},    // collinear overlap
        {{0, 0}, {2, 0}, {3, 0}, {4, 0}, false},   // collinear apart
        {{0, 0}, {2, 0}, {0, 1}, {2, 1}, false},   // parallel
        {{0, 0}, {2, 2}, {3, 0}, {2, 1.5}, false}, // would cross beyond q2
    };
    for (const Case& c : cases)
        EXPECT_EQ(segmentsIntersect2D(c.p1, c.p2, c.q1, c.q2), c.meet);
}

TEST(Quadratic, rootCountsAndOrder) {
    double r[2];
    ASSERT_EQ(solveQuadratic(1, -2, 1, r), 1);
    EXPECT_DOUBLE_EQ(r[0], 1.0);
    ASSERT_EQ(solveQuadratic(1, 0, -1, r), 2);
    EXPECT_DOUBLE_EQ(r[0], 1.0);
    EXPECT_DOUBLE_EQ(r[1], -1.0);
    ASSERT_EQ(solveQuadratic(0, 2, -4, r), 1);
    EXPECT_DOUBLE_EQ(r[0], 2.0);
    EXPECT_EQ(solveQuadratic(1, 0, 1, r), 0);
    EXPECT_EQ(solveQuadratic(0, 0, 1, r), 0);
}

TEST(PointOnSegment, classifiesEndsInteriorAndOffPoints) {
    const double a[3] = {0, 0, 0}, b[3] = {10, 5, 0};
    struct Case {
        Vector3D p;
        int tight, loose;
    };
    const Case cases[] = {
        {{5, 2.5, 0}, 3, 3},
        {{-1e-7, -0.5e-7, 0}, 1, 1}, // just before a
        {{10, 5, 0}, 2, 2},
        {{5, 2.5, 5e-6}, 0, 3},    // off the line by 5e-6: only the wide test accepts it
        {{5e-4, 2.5e-4, 0}, 3, 1}, // t = 5e-5: an end for the wide test
        {{11, 5.5, 0}, 0, 0},
        {{5, 3, 0}, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classifyPointOnSegment(a, b, c.p.data()), c.tight) << c.p.x << " " << c.p.z;
        EXPECT_EQ(locatePointOnSegment(a, b, c.p.data()), c.loose) << c.p.x << " " << c.p.z;
    }
    double t = -1;
    EXPECT_EQ(locatePointOnSegment(a, b, Vector3D(2, 1, 0).data(), &t), 3);
    EXPECT_DOUBLE_EQ(t, 0.2);
    // A zero-length segment holds only its own point.
    EXPECT_EQ(classifyPointOnSegment(a, a, a), 1);
    EXPECT_EQ(classifyPointOnSegment(a, a, b), 0);
}

TEST(PointInTriangle2D, cornersEdgesInsideAndOutside) {
    const double a[2] = {0, 0}, b[2] = {4, 0}, c[2] = {0, 4};
    const double ccw = 1.0, cw = -1.0;
    struct Case {
        double p[2];
        bool inside;
    };
    const Case cases[] = {{{1, 1}, true}, {{0, 0}, true},  {{4, 0}, true},   {{2, 0}, true},
                          {{2, 2}, true}, {{3, 3}, false}, {{-1, 1}, false}, {{5, 0}, false}};
    for (const Case& k : cases) {
        EXPECT_EQ(pointInTriangle2D(k.p, a, b, c, &ccw), k.inside) << k.p[0] << "," << k.p[1];
        EXPECT_EQ(pointInTriangle2D(k.p, a, c, b, &cw), k.inside) << k.p[0] << "," << k.p[1];
    }
}

TEST(PointInPolygon2D, closedSquareInsideOnEdgeOutsideAndTooShort) {
    const std::vector<Point2D> square = {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}};
    struct Case {
        double p[2];
        bool inside;
    };
    const Case cases[] = {{{2, 2}, true},  {{4, 2}, true},   {{2, 0}, true},   {{0, 0}, true},
                          {{5, 2}, false}, {{-1, 2}, false}, {{2, 4.5}, false}};
    for (const Case& c : cases) {
        std::vector<Point2D> polygon = square;
        EXPECT_EQ(pointInPolygon2D(std::move(polygon), c.p), c.inside) << c.p[0] << "," << c.p[1];
    }
    std::vector<Point2D> taken = square;
    const double centre[2] = {2, 2};
    pointInPolygon2D(std::move(taken), centre);
    EXPECT_TRUE(taken.empty()); // NOLINT(bugprone-use-after-move): the list is taken over
    std::vector<Point2D> three = {{0, 0}, {4, 0}, {0, 0}};
    EXPECT_FALSE(pointInPolygon2D(std::move(three), centre));
}

TEST(PointInPolygon2D, rayThroughTheSeamVertexCountsLikeAnyOtherVertex) {
    // The ray from p towards +x passes exactly through vertex 0 (which the closed
    // list repeats at its end), where the outline crosses the ray or only touches it.
    const double centre[2] = {0, 0};
    std::vector<Point2D> diamondFromRight = {{2, 0}, {0, 2}, {-2, 0}, {0, -2}, {2, 0}};
    EXPECT_TRUE(pointInPolygon2D(std::move(diamondFromRight), centre));
    std::vector<Point2D> diamondFromTop = {{0, 2}, {-2, 0}, {0, -2}, {2, 0}, {0, 2}};
    EXPECT_TRUE(pointInPolygon2D(std::move(diamondFromTop), centre));
    // A V whose tip (vertex 0) touches the ray of a point left of it: outside.
    const std::vector<Point2D> vee = {{2, 0}, {4, 3}, {0, 3}, {2, 0}};
    const double left[2] = {-1, 0}, inV[2] = {2, 1};
    EXPECT_FALSE(pointInPolygon2D(std::vector<Point2D>(vee), left));
    EXPECT_TRUE(pointInPolygon2D(std::vector<Point2D>(vee), inV));
}

TEST(PointInPolygon3D, countsCrossingVerticesOnceAndTouchingVerticesNotAtAll) {
    const double n[3] = {0, 0, 1}; // works on x (u) and y (w)
    // Diamond: the ray from the centre along +x passes through the vertex (2, 0),
    // whose neighbours lie on both sides: one crossing, inside.
    const double d0[3] = {0, -2, 0}, d1[3] = {2, 0, 0}, d2[3] = {0, 2, 0}, d3[3] = {-2, 0, 0};
    const std::vector<const double*> diamond = {d0, d1, d2, d3, d0};
    EXPECT_TRUE(pointInPolygon3D(Vector3D(0, 0, 0).data(), diamond, n));
    EXPECT_FALSE(pointInPolygon3D(Vector3D(3, 0, 0).data(), diamond, n));
    EXPECT_TRUE(pointInPolygon3D(Vector3D(1, 1, 0).data(), diamond, n)); // on an edge
    EXPECT_TRUE(pointInPolygon3D(Vector3D(2, 0, 0).data(), diamond, n)); // at a vertex
    // Arrow with a notch: the vertex (2, 0) is a reflex tip touching the ray from
    // p = (-1, 0) from above; p lies outside, the touch must not count.
    const double w0[3] = {-2, 2, 0}, w1[3] = {0, 0.5, 0}, w2[3] = {2, 0, 0}, w3[3] = {4, 2, 0};
    const std::vector<const double*> vee = {w0, w1, w2, w3};
    EXPECT_FALSE(pointInPolygon3D(Vector3D(-3, 0, 0).data(), vee, n));
    EXPECT_TRUE(pointInPolygon3D(Vector3D(2, 1, 0).data(), vee, n));
    EXPECT_FALSE(pointInPolygon3D(Vector3D(2, 1, 0).data(), std::vector<const double*>{}, n));
}

TEST(PointInPolygon, runsOfCornersLevelWithThePointCountOnce) {
    // Outlines with a horizontal run (0,0)-(1,0)-(2,0) at the height of the ray of
    // each point: the outline touches the ray there (M) or crosses it (Z).
    const std::vector<Point2D> m = {{-3, -2}, {3, -2}, {3, 2}, {2, 0}, {1, 0}, {0, 0}, {-3, 2}, {-3, -2}};
    const std::vector<Point2D> z = {{-3, -2}, {3, -2}, {3, 0}, {2, 0}, {1, 0}, {0, 0}, {-3, 2}, {-3, -2}};
    struct Case {
        const std::vector<Point2D>* outline;
        double p[2];
        bool inside;
    };
    const Case cases[] = {{&m, {-2.5, 0}, true},  {&m, {-4, 0}, false},    {&m, {2.5, 1}, true},
                          {&m, {1.5, 0.5}, false}, {&z, {-2.5, 0}, true},  {&z, {-4, 0}, false},
                          {&z, {2.5, 1}, false},   {&z, {1.5, 0}, true},   {&z, {1.5, 1e-7}, true}};
    const double n[3] = {0, 0, 1};
    for (const Case& c : cases) {
        std::vector<std::array<double, 3>> corners;
        for (const Point2D& q : *c.outline)
            corners.push_back({q[0], q[1], 0.0});
        std::vector<const double*> points;
        for (const auto& q : corners)
            points.push_back(q.data());
        const double p3[3] = {c.p[0], c.p[1], 0.0};
        EXPECT_EQ(pointInPolygon2D(std::vector<Point2D>(*c.outline), c.p), c.inside) << c.p[0] << "," << c.p[1];
        EXPECT_EQ(pointInPolygon3D(p3, points, n), c.inside) << c.p[0] << "," << c.p[1];
    }
}

TEST(PointInPolygon3D, dropsTheDominantNormalAxis) {
    // A square in the plane x = 5, normal along x: works on y and z.
    const double s0[3] = {5, 0, 0}, s1[3] = {5, 2, 0}, s2[3] = {5, 2, 2}, s3[3] = {5, 0, 2};
    const std::vector<const double*> square = {s0, s1, s2, s3};
    const double n[3] = {-3, 0.1, 0.2};
    EXPECT_TRUE(pointInPolygon3D(Vector3D(5, 1, 1).data(), square, n));
    EXPECT_FALSE(pointInPolygon3D(Vector3D(5, 3, 1).data(), square, n));
}

TEST(CubeTests, rectanglesPointsLinesAndRays) {
    const double a0[2] = {0, 0}, a1[2] = {1, 1}, b0[2] = {1, 0}, b1[2] = {2, 1}, c0[2] = {0.5, 0.5};
    EXPECT_FALSE(rectsOverlap2D(a0, a1, b0, b1)); // touching
    EXPECT_TRUE(rectsOverlap2D(a0, a1, c0, b1));

    const double corner[3] = {0, 0, 0}, edge = 2.0;
    EXPECT_EQ(classifyPointInCell(Vector3D(1, 1, 1).data(), corner, &edge), 0);
    EXPECT_EQ(classifyPointInCell(Vector3D(2 + 5e-7, 0, -5e-7).data(), corner, &edge), 0);
    EXPECT_EQ(classifyPointInCell(Vector3D(1, -2e-6, 1).data(), corner, &edge), -1);
    EXPECT_EQ(classifyPointInCell(Vector3D(1, 1, 2 + 2e-6).data(), corner, &edge), -1);

    struct Case {
        Vector3D o, d;
        bool line, ray;
    };
    const Case cases[] = {
        {{-5, 1, 1}, {1, 0, 0}, true, true},      {{5, 1, 1}, {1, 0, 0}, true, false}, // cube behind the ray
        {{-5, 3, 1}, {1, 0, 0}, false, false},                                         // passes above
        {{-1, -1, 1}, {1, 1, 0}, true, true},     // through an edge region diagonally
        {{1.9, 1.9, 1.9}, {1, 1, 1}, true, true}, // starts inside near a corner, heads out
        {{3, 3, 3}, {1, 1, 1}, true, false},      // beyond that corner, heading away
        {{-1, 2.5, 1}, {1, -1, 0}, true, true},   // enters through a side face
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lineMeetsCube(c.o.data(), c.d.data(), corner, &edge), c.line) << c.o.x << "," << c.o.y;
        EXPECT_EQ(rayMeetsCube(c.o.data(), c.d.data(), corner, &edge), c.ray) << c.o.x << "," << c.o.y;
    }
}

TEST(CubeTests, cylinderTestUsesTheCubesSphereAndNeverMissesATouchingCube) {
    // Radius 1, length 4, centred at the origin along z.
    const double cyl[8] = {1, 4, 0, 0, 0, 0, 0, 1};
    const double edge = 1.0;
    const double inside[3] = {-0.5, -0.5, -0.5}, far[3] = {5, 5, 0}, beyondEnd[3] = {0, 0, 4};
    const double diagonalGap[3] = {0.75, 0.75, 0}; // cube corner 1.06 from the axis: misses
    EXPECT_TRUE(cylinderMayTouchCube(cyl, inside, &edge));
    EXPECT_FALSE(cylinderMayTouchCube(cyl, far, &edge));
    EXPECT_FALSE(cylinderMayTouchCube(cyl, beyondEnd, &edge));
    EXPECT_TRUE(cylinderMayTouchCube(cyl, diagonalGap, &edge)); // the sphere test cannot tell
}

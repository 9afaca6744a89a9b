// Incidence lists, limits, edge classes, flag fields and the support edge tests
// of the mesh records.
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using namespace topolib;

namespace {

// Three vertices and a triangle on them, owned by the fixture.
struct Tri {
    StlVertex a, b, c;
    StlTriangle t;
    Tri(const Vector3D& pa, const Vector3D& pb, const Vector3D& pc)
        : a(pa.x, pa.y, pa.z), b(pb.x, pb.y, pb.z), c(pc.x, pc.y, pc.z) {
        t.init(&a, &b, &c);
    }
};

} // namespace

TEST(MeshRecords, vertexKeepsEachTriangleOnceAndRefusesPastItsLimit) {
    StlVertex v(0, 0, 0);
    std::vector<StlTriangle> tris(StlVertex::kMaxTriangles + 1);
    EXPECT_EQ(v.addTriangle(&tris[0]), 1);
    EXPECT_EQ(v.addTriangle(&tris[0]), 0);
    EXPECT_EQ(v.triangleCount(), 1u);
    EXPECT_EQ(v.triangleCapacity(), 5u);
    for (std::size_t i = 1; i < StlVertex::kMaxTriangles; ++i)
        ASSERT_EQ(v.addTriangle(&tris[i]), 1) << i;
    EXPECT_EQ(v.triangleCount(), 32765u);
    EXPECT_EQ(v.triangleCapacity(), 32765u);
    EXPECT_EQ(v.addTriangle(&tris[StlVertex::kMaxTriangles]), 0);
    EXPECT_EQ(v.triangleCount(), 32765u);
}

TEST(MeshRecords, vertexListGrowsFromExternalBlockWithoutLosingEntries) {
    StlVertex v(0, 0, 0);
    std::vector<Ref<StlTriangle>> block(2);
    StlTriangle t[4];
    v.useExternalList(block.data(), 2);
    for (StlTriangle& x : t)
        EXPECT_EQ(v.addTriangle(&x), 1);
    ASSERT_EQ(v.triangleCount(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(v.triangle(static_cast<uint32_t>(i)), &t[i]);
    EXPECT_TRUE(v.removeTriangle(&t[0]));
    EXPECT_EQ(v.triangle(0), &t[3]); // last entry moved into the gap
    EXPECT_EQ(v.triangleCount(), 3u);
}

TEST(MeshRecords, edgeStoresRepeatedTriangleAndClassFollowsCount) {
    StlVertex a(0, 0, 0), b(1, 0, 0);
    StlEdge e(&a, &b);
    StlTriangle t;
    EXPECT_EQ(e.addTriangle(&t), 1u);
    EXPECT_EQ(e.edgeClass, kEdgeBoundary);
    EXPECT_EQ(e.addTriangle(&t), 2u);
    EXPECT_EQ(e.edgeClass, kEdgeSmooth);
    EXPECT_EQ(e.triangle(0), &t);
    EXPECT_EQ(e.triangle(1), &t);
}

TEST(MeshRecords, edgeRefusesThe127thTriangleAndStaysNonManifold) {
    StlVertex a(0, 0, 0), b(1, 0, 0);
    StlEdge e(&a, &b);
    std::vector<StlTriangle> tris(127);
    for (std::size_t i = 0; i < 126; ++i)
        ASSERT_EQ(e.addTriangle(&tris[i]), i + 1);
    EXPECT_EQ(e.triangleCapacity(), 126u);
    EXPECT_EQ(e.addTriangle(&tris[126]), 0u);
    EXPECT_EQ(e.triangleCount(), 126u);
    EXPECT_EQ(e.edgeClass, kEdgeNonManifold);
    for (std::size_t i = 0; i < 126; ++i)
        EXPECT_EQ(e.triangle(static_cast<uint32_t>(i)), &tris[i]);
}

TEST(MeshRecords, edgeHoldsThirtyDistinctVertices) {
    std::vector<std::unique_ptr<StlVertex>> v;
    for (int i = 0; i < 31; ++i)
        v.push_back(std::make_unique<StlVertex>(i, 0, 0));
    StlEdge e(v[0].get(), v[1].get());
    EXPECT_EQ(e.addVertex(v[1].get()), 0); // already an end point
    for (int i = 2; i < 30; ++i)
        ASSERT_EQ(e.addVertex(v[static_cast<std::size_t>(i)].get()), 1) << i;
    EXPECT_EQ(e.vertexCount(), 30u);
    EXPECT_EQ(e.addVertex(v[30].get()), 0);
    EXPECT_EQ(e.vertex(0), v[0].get());
    EXPECT_EQ(e.vertex(29), v[29].get());
}

TEST(MeshRecords, detachingTrianglesReclassifiesEdges) {
    struct Case {
        int triangles;
        int detach;
        uint32_t expectedClass;
    };
    const Case cases[] = {{1, 1, kEdgeDetached}, {3, 1, kEdgeSmooth}, {2, 1, kEdgeBoundary}, {4, 1, kEdgeNonManifold}};
    for (const Case& c : cases) {
        StlVertex a(0, 0, 0), b(1, 0, 0);
        StlEdge e(&a, &b);
        std::vector<StlTriangle> tris(static_cast<std::size_t>(c.triangles));
        for (StlTriangle& t : tris) {
            e.addTriangle(&t);
            t.edges[0] = &e;
        }
        for (int i = 0; i < c.detach; ++i)
            tris[static_cast<std::size_t>(i)].detachFromEdges();
        EXPECT_EQ(e.edgeClass, c.expectedClass) << c.triangles;
        EXPECT_EQ(e.triangleCount(), static_cast<uint32_t>(c.triangles - c.detach));
        EXPECT_EQ(tris[0].edges[0], &e); // the triangle keeps its link
    }
}

TEST(MeshRecords, triangleInitRegistersWithVerticesAndComputesNormal) {
    Tri t({0, 0, 0}, {2, 0, 0}, {0, 2, 0});
    EXPECT_EQ(t.a.triangleCount(), 1u);
    EXPECT_EQ(t.c.triangle(0), &t.t);
    EXPECT_EQ(t.t.normal, Vector3D(0, 0, 1));
    EXPECT_EQ(t.t.group(), -1);
    EXPECT_FALSE(t.t.isDeleted());
    EXPECT_DOUBLE_EQ(triangleArea(&t.t), 2.0);
    EXPECT_DOUBLE_EQ(t.t.computeNormal(), 4.0);
    t.t.detachFromVertices();
    EXPECT_EQ(t.a.triangleCount(), 0u);
}

TEST(MeshRecords, degenerateTriangleGetsZeroNormal) {
    for (const Vector3D& c : {Vector3D(2, 0, 0), Vector3D(0, 0, 0)}) {
        Tri t({0, 0, 0}, {1, 0, 0}, c);
        EXPECT_EQ(t.t.computeNormal(), 0.0);
        EXPECT_EQ(t.t.normal.x, 0.0);
        EXPECT_EQ(t.t.normal.y, 0.0);
        EXPECT_EQ(t.t.normal.z, 0.0);
    }
}

TEST(MeshRecords, flagFieldsKeepTheirNeighboursIntact) {
    StlTriangle t;
    for (int32_t g : {-1, 0, 1, 524287, -524288, -2, 12345}) {
        t.flags = StlTriangle::kInitialFlags | StlTriangle::kDeleted | StlTriangle::kReversed;
        t.setWalkMark(5);
        t.setGroup(g);
        EXPECT_EQ(t.group(), g);
        EXPECT_EQ(t.walkMark(), 5u);
        EXPECT_TRUE(t.isDeleted());
        EXPECT_TRUE(t.isReversed());
        EXPECT_EQ(t.flags >> 27, 0u) << g;
    }
    t.setWalkMark(0);
    t.setDeleted(false);
    EXPECT_EQ(t.flags & 0x71u, 0u);
    StlVertex v;
    v.flags = 0xF0;
    v.setMark(3);
    EXPECT_EQ(v.mark(), 3u);
    EXPECT_EQ(v.flags, 0xF3u);
}

TEST(MeshRecords, floatPointsEqualUsesBoxAndDistance) {
    struct Case {
        float b[3];
        bool equal;
    };
    const Case cases[] = {
        {{0.0f, 0.0f, 0.0f}, true},
        {{5e-7f, 0.0f, 0.0f}, true},
        {{2e-6f, 0.0f, 0.0f}, false},
        {{9e-7f, 9e-7f, 9e-7f}, false}, // each within 1e-6, squared distance ~2.43e-12
        {{7e-7f, 7e-7f, 0.0f}, true},   // squared distance ~9.8e-13
    };
    const float a[3] = {0.0f, 0.0f, 0.0f};
    for (const Case& c : cases)
        EXPECT_EQ(floatPointsEqual(a, c.b), c.equal) << c.b[0] << " " << c.b[1] << " " << c.b[2];
    const double finite[3] = {1, 2, 3};
    const double nan[3] = {1, std::numeric_limits<double>::quiet_NaN(), 3};
    const double inf[3] = {1, 2, std::numeric_limits<double>::infinity()};
    EXPECT_TRUE(isFiniteVector(finite));
    EXPECT_FALSE(isFiniteVector(nan));
    EXPECT_FALSE(isFiniteVector(inf));
}

TEST(MeshRecords, vertexTransformAndNormal) {
    StlVertex v(1, 2, 3);
    const double m[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1}; // rotate z by 90°, then move
    v.transform(m);
    EXPECT_DOUBLE_EQ(v.x(), 8.0);
    EXPECT_DOUBLE_EQ(v.y(), 21.0);
    EXPECT_DOUBLE_EQ(v.z(), 33.0);

    double n[3] = {9, 9, 9};
    StlVertex lonely(0, 0, 0);
    lonely.computeNormal(n);
    EXPECT_EQ(n[0], 0.0);
    EXPECT_EQ(n[2], 0.0);

    // Two faces of a cube corner: normals +z and +x sum to the diagonal.
    StlVertex o(0, 0, 0), px(1, 0, 0), py(0, 1, 0), pz(0, 0, 1);
    StlTriangle top, side, gone;
    top.init(&o, &px, &py);
    side.init(&o, &py, &pz);
    gone.init(&o, &pz, &px);
    gone.setDeleted(true); // deleted triangles do not count
    o.computeNormal(n);
    EXPECT_NEAR(n[0], std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(n[1], 0.0, 1e-12);
    EXPECT_NEAR(n[2], std::sqrt(0.5), 1e-12);
}

TEST(MeshRecords, findEdgeToSkipsDeletedTrianglesAndDetachedEdges) {
    Tri t({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    StlEdge ab(&t.a, &t.b), bc(&t.b, &t.c), ca(&t.c, &t.a);
    t.t.edges[0] = &ab;
    t.t.edges[1] = &bc;
    t.t.edges[2] = &ca;
    EXPECT_EQ(StlVertex::findEdgeTo(&t.a, &t.b), &ab);
    EXPECT_EQ(StlVertex::findEdgeTo(&t.b, &t.a), &ab);
    EXPECT_EQ(StlVertex::findEdgeTo(&t.a, &t.c), &ca);
    ca.edgeClass = kEdgeDetached;
    EXPECT_EQ(StlVertex::findEdgeTo(&t.a, &t.c), nullptr);
    t.t.setDeleted(true);
    EXPECT_EQ(StlVertex::findEdgeTo(&t.a, &t.b), nullptr);
}

namespace {

// An edge along x at height 0 with two triangles rising from it to the opposite
// vertices (0.5, -w, h) and (0.5, w, h2), wound so that the normals face down
// and out (the lower rim of a body).
struct Ridge {
    StlVertex a, b, left, right;
    StlTriangle t1, t2;
    StlEdge e;
    Ridge(double endZ, double h, double h2, double w = 1.0)
        : a(0, 0, 0), b(1, 0, endZ), left(0.5, -w, h), right(0.5, w, h2) {
        t1.init(&a, &b, &left);
        t2.init(&b, &a, &right);
        e.init(&a, &b);
        e.addTriangle(&t1);
        e.addTriangle(&t2);
        t1.edges[0] = &e;
        t2.edges[0] = &e;
        e.edgeClass = kEdgeSharp;
    }
};

} // namespace

TEST(MeshRecords, lowestHorizontalEdgeNeedsACreaseBelowRisingTriangles) {
    {
        Ridge r(0.0, 1.0, 1.0);
        EXPECT_LT(r.t1.normal.z, 0.0);
        EXPECT_TRUE(r.e.isLowestHorizontalEdge());
        EXPECT_FALSE(r.e.hasLowerOppositeVertex());
        for (uint32_t cls : {uint32_t(kEdgeSmooth), uint32_t(kEdgeBoundary)}) {
            r.e.edgeClass = cls;
            EXPECT_FALSE(r.e.isLowestHorizontalEdge()) << cls;
        }
    }
    {
        Ridge rising(0.1, 1.0, 1.0); // about 5.7 degrees
        EXPECT_FALSE(rising.e.isLowestHorizontalEdge());
    }
    {
        Ridge flat(0.0, 1.0, 0.01); // one wing within 1 degree of horizontal
        EXPECT_FALSE(flat.e.isLowestHorizontalEdge());
    }
    {
        Ridge hanging(0.0, 1.0, -1.0); // the second opposite vertex lies below the edge
        EXPECT_TRUE(hanging.e.hasLowerOppositeVertex());
        EXPECT_FALSE(hanging.e.isLowestHorizontalEdge());
        hanging.t2.setGroup(4); // grouped triangles are not looked at
        EXPECT_FALSE(hanging.e.hasLowerOppositeVertex());
    }
}

// Growing and pruning a built mesh: adding triangles with their edges, copying a
// mesh in with topology, appending an indexed mesh, replacing cut triangles, and
// the whole-mesh tests answered through the octree.
#include "MeshFixtures.h"

#include "topolib/RayHitCollector.h"
#include "topolib/ShortPair.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <vector>

using namespace topolib;
using meshfixtures::buildMesh;
using meshfixtures::buildMeshWithOctree;

namespace {

int edgesOfClass(const StlObject& mesh, uint32_t cls) {
    int n = 0;
    for (const StlEdge* e : mesh.edges())
        n += e->edgeClass == cls ? 1 : 0;
    return n;
}

int liveTriangles(const StlObject& mesh) {
    int n = 0;
    for (const StlTriangle* t : mesh.triangles())
        n += t->isDeleted() ? 0 : 1;
    return n;
}

// Every live triangle is listed by its three vertices and its three edges, and
// every edge's triangles have that edge as one of their sides.
void expectConsistentTopology(const StlObject& mesh) {
    for (const StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            const StlVertex* v = t->vertices[k];
            bool listed = false;
            for (const StlTriangle* u : *v)
                listed = listed || u == t;
            EXPECT_TRUE(listed) << "triangle " << t->id << " missing at vertex " << v->index;
            const StlEdge* e = t->edges[k];
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->sideIn(t), k);
            const StlVertex* p = t->vertices[(k + 1) % 3];
            EXPECT_TRUE((e->vertex(0) == v && e->vertex(1) == p) || (e->vertex(0) == p && e->vertex(1) == v));
        }
    }
    for (const StlEdge* e : mesh.edges())
        for (const StlTriangle* t : *e)
            EXPECT_GE(e->sideIn(t), 0) << "edge " << e->index;
}

StlVertex* vertexAt(StlObject& mesh, double x, double y, double z) {
    const double p[3] = {x, y, z};
    for (StlVertex* v : mesh.vertices())
        if (v->pos == Vector3D(p))
            return v;
    return nullptr;
}

} // namespace

TEST(MeshEditing, addingReversedCubeInsideCubeGivesClosedHollowOfRightVolume) {
    auto outer = buildMeshWithOctree(meshfixtures::cube(20.0));
    auto inner = buildMesh(meshfixtures::cube(10.0, {5.0, 5.0, 5.0}));
    outer->setSlabState(0);

    outer->addTrianglesWithTopology({inner->triangles().begin(), inner->triangles().end()});
    outer->computeAreaAndVolume();

    EXPECT_EQ(outer->triangleCount(), 24u);
    EXPECT_EQ(outer->vertexCount(), 16u);
    EXPECT_EQ(outer->edgeCount(), 36u);
    EXPECT_EQ(edgesOfClass(*outer, kEdgeBoundary), 0);
    EXPECT_EQ(edgesOfClass(*outer, kEdgeNonManifold), 0);
    // The copy is wound inward: the cavity takes its volume away.
    EXPECT_NEAR(outer->volume(), 8000.0 - 1000.0, 1e-6);
    EXPECT_NEAR(outer->area(), 2400.0 + 600.0, 1e-6);
    EXPECT_EQ(outer->facetCount(), 24u);
    EXPECT_EQ(outer->slabState(), 2);
    expectConsistentTopology(*outer);
    for (uint32_t i = 12; i < 24; ++i) {
        const StlTriangle* t = outer->triangle(i);
        const StlTriangle* src = inner->triangle(i - 12);
        EXPECT_EQ(t->id, static_cast<int>(i));
        EXPECT_NEAR((t->normal + src->normal).lengthSquared(), 0.0, 1e-24) << "normal not negated";
        EXPECT_EQ(t->vertices[1]->pos, src->vertices[2]->pos);
        EXPECT_EQ(t->vertices[2]->pos, src->vertices[1]->pos);
    }
}

TEST(MeshEditing, addTriangleClosesOpenBoxAndRefusesDegenerateInput) {
    auto mesh = buildMeshWithOctree(meshfixtures::openBox(10.0));
    ASSERT_EQ(edgesOfClass(*mesh, kEdgeBoundary), 4);
    StlVertex* a = vertexAt(*mesh, 0, 0, 10);
    StlVertex* b = vertexAt(*mesh, 10, 0, 10);
    StlVertex* c = vertexAt(*mesh, 10, 10, 10);
    StlVertex* d = vertexAt(*mesh, 0, 10, 10);
    ASSERT_TRUE(a && b && c && d);

    // Coincident corners (the same record or the same point) and a sliver are refused.
    const double p[3] = {0.0, 0.0, 10.0};
    StlVertex* twin = mesh->newVertex(p);
    mesh->appendVertex(twin);
    const double q[3] = {5.0, 0.0, 10.0};
    StlVertex* mid = mesh->newVertex(q);
    mesh->appendVertex(mid);
    struct Case {
        StlVertex *a, *b, *c;
    };
    for (const Case& k : {Case{a, a, c}, Case{a, twin, c}, Case{a, mid, b}}) {
        EXPECT_EQ(mesh->addTriangle(k.a, k.b, k.c), nullptr);
    }
    EXPECT_EQ(mesh->triangleCount(), 10u);

    mesh->setSlabState(0);
    std::deque<StlTriangle*> out;
    StlTriangle* t1 = mesh->addTriangle(a, b, c, &out);
    StlTriangle* t2 = mesh->addTriangle(a, c, d, &out);
    ASSERT_TRUE(t1 && t2);
    EXPECT_EQ(out.size(), 2u);
    EXPECT_EQ(out.back(), t2);
    EXPECT_EQ(t2->id, 11);
    EXPECT_EQ(mesh->facetCount(), 12u);
    EXPECT_NEAR(t1->normal.z, 1.0, 1e-12);
    EXPECT_EQ(mesh->slabState(), 2);
    EXPECT_EQ(mesh->edgeCount(), 18u);
    EXPECT_EQ(edgesOfClass(*mesh, kEdgeBoundary), 0);
    expectConsistentTopology(*mesh);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->volume(), 1000.0, 1e-9);
}

namespace {

// Stands in for the cut retriangulation: replaces the triangle by three pieces
// around its centroid.
void splitAtCentroid(StlObject& mesh, StlTriangle* t) {
    const Vector3D c = (t->vertices[0]->pos + t->vertices[1]->pos + t->vertices[2]->pos) / 3.0;
    StlVertex* m = mesh.findOrAddVertex(c.data());
    for (int k = 0; k < 3; ++k)
        mesh.addCutTriangle(t->vertices[k], t->vertices[(k + 1) % 3], m, t);
}

} // namespace

TEST(MeshEditing, deletingCutTrianglesKeepsTopologyClosed) {
    auto mesh = buildMeshWithOctree(meshfixtures::cube(10.0));
    ASSERT_EQ(mesh->shells().size(), 1u);
    // The contexts are empty here; a filed one marks a triangle as cut.
    TriangleCutter cut;
    StlTriangle* cut0 = mesh->triangle(0);
    StlTriangle* cut1 = mesh->triangle(5);
    StlTriangle* plain = mesh->triangle(7);
    cut.ensureContext(cut0);
    cut.ensureContext(cut1);
    mesh->setSlabState(0);

    std::vector<StlTriangle*> added;
    std::vector<StlShell*> pieces;
    mesh->deleteTriangles({cut0, cut1, plain}, added, pieces, [&cut](StlObject& m, StlTriangle* t) {
        splitAtCentroid(m, t);
        cut.takeContext(t);
    });

    EXPECT_TRUE(cut0->isDeleted());
    EXPECT_TRUE(cut1->isDeleted());
    EXPECT_FALSE(plain->isDeleted()) << "a triangle without a cut context is left alone";
    EXPECT_EQ(cut.contextOf(cut0), nullptr);
    EXPECT_EQ(added.size(), 6u);
    EXPECT_EQ(liveTriangles(*mesh), 16);
    EXPECT_EQ(edgesOfClass(*mesh, kEdgeBoundary), 0);
    EXPECT_EQ(edgesOfClass(*mesh, kEdgeNonManifold), 0);
    EXPECT_EQ(mesh->slabState(), 2);
    expectConsistentTopology(*mesh);
    for (const StlTriangle* t : added) {
        EXPECT_EQ(t->shell, cut0->shell);
        EXPECT_EQ(t->normal, cut0->normal.dot(t->normal) > 0.5 ? cut0->normal : cut1->normal);
    }
    // Pieces of one face meet flat (smooth), pieces and the neighbouring faces at
    // 90 degrees (crease).
    for (const StlTriangle* t : added)
        for (const StlEdge* e : t->edges) {
            const StlTriangle* u = e->triangle(0) == t ? e->triangle(1) : e->triangle(0);
            EXPECT_EQ(e->edgeClass, u->normal.dot(t->normal) > 0.99 ? kEdgeSmooth : kEdgeSharp);
        }
    // The cube still hangs together: one piece with every live triangle.
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0]->triangleCount, 16u);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->volume(), 1000.0, 1e-9);
    for (StlShell* s : pieces)
        delete s;
}

TEST(MeshEditing, cutPiecesCreaseByTheirModelsNormals) {
    struct Case {
        double degrees;
        uint32_t expected;
    };
    for (const Case& c : {Case{30.0, kEdgeSharp}, Case{10.0, kEdgeSmooth}}) {
        StlObject mesh;
        const double pa[3] = {0, 0, 0}, pb[3] = {1, 0, 0}, pc[3] = {0, 1, 0}, pd[3] = {1, -1, 0};
        StlVertex* a = mesh.newVertex(pa);
        StlVertex* b = mesh.newVertex(pb);
        StlVertex* cc = mesh.newVertex(pc);
        StlVertex* d = mesh.newVertex(pd);
        for (StlVertex* v : {a, b, cc, d})
            mesh.appendVertex(v);
        // Free-standing models: only their normals, marks and shells are read.
        StlTriangle m1, m2;
        const double rad = c.degrees * 3.141592653 / 180.0;
        const double n1[3] = {0, 0, 1};
        const double n2[3] = {0, std::sin(rad), std::cos(rad)};
        m1.setNormal(n1);
        m2.setNormal(n2);
        m2.setWalkMark(3);
        m2.setReversed(true);
        StlTriangle* t1 = mesh.addCutTriangle(a, b, cc, &m1);
        StlTriangle* t2 = mesh.addCutTriangle(b, a, d, &m2);
        ASSERT_TRUE(t1 && t2);
        EXPECT_EQ(t1->edges[0], t2->edges[0]);
        EXPECT_EQ(t1->edges[0]->edgeClass, c.expected) << c.degrees;
        EXPECT_EQ(t2->normal.y, n2[1]) << "the model's normal is copied, not recomputed";
        EXPECT_EQ(t2->walkMark(), 3u);
        EXPECT_TRUE(t2->isReversed());
        EXPECT_EQ(t1->edges[1]->edgeClass, kEdgeBoundary);
    }
    // Corners within 1e-9 and slivers below 1e-12 of area give no piece.
    StlObject mesh;
    const double p0[3] = {0, 0, 0}, p1[3] = {1e-10, 0, 0}, p2[3] = {0, 1, 0}, p3[3] = {1e-6, 1e-6, 0};
    StlVertex* v0 = mesh.newVertex(p0);
    StlVertex* v1 = mesh.newVertex(p1);
    StlVertex* v2 = mesh.newVertex(p2);
    StlVertex* v3 = mesh.newVertex(p3);
    StlTriangle model;
    EXPECT_EQ(mesh.addCutTriangle(v0, v1, v2, &model), nullptr);
    EXPECT_NE(mesh.addCutTriangle(v0, v3, v2, &model), nullptr) << "area 5e-7 is kept";
    const double p4[3] = {2e-6, 0, 0}, p5[3] = {0, 5e-7, 0}; // area 5e-13
    EXPECT_EQ(mesh.addCutTriangle(v0, mesh.newVertex(p4), mesh.newVertex(p5), &model), nullptr);
}

TEST(MeshEditing, appendedIndexedMeshBecomesOneShellAndBadIndicesChangeNothing) {
    auto mesh = buildMeshWithOctree(meshfixtures::cube(10.0));
    const std::size_t shells = mesh->shells().size();
    const double xyz[] = {20, 0, 0, 21, 0, 0, 20, 1, 0, 20, 0, 1};
    const int tetra[] = {0, 2, 1, 0, 1, 3, 1, 2, 3, 0, 3, 2};
    const int bad[] = {0, 2, 1, 0, 1, 4, 1, 2, 3, 0, 3, 2};

    EXPECT_FALSE(mesh->appendMesh(4, 4, xyz, bad));
    EXPECT_FALSE(mesh->appendMesh(-1, 0, xyz, tetra));
    EXPECT_EQ(mesh->vertexCount(), 8u);
    EXPECT_EQ(mesh->triangleCount(), 12u);

    ASSERT_TRUE(mesh->appendMesh(4, 4, xyz, tetra));
    EXPECT_EQ(mesh->vertexCount(), 12u);
    EXPECT_EQ(mesh->triangleCount(), 16u);
    EXPECT_EQ(mesh->facetCount(), 16u);
    ASSERT_EQ(mesh->shells().size(), shells + 1);
    StlShell* shell = mesh->shells().back();
    EXPECT_EQ(shell->triangleCount, 4u);
    EXPECT_EQ(shell->owner, mesh.get());
    for (uint32_t j = 0; j < 4; ++j) {
        const StlTriangle* t = mesh->triangle(12 + j);
        EXPECT_EQ(shell->primaryTriangles[j], t);
        EXPECT_EQ(t->shell, shell);
        EXPECT_EQ(t->vertices[0]->index, 8 + tetra[3 * j]);
        EXPECT_EQ(t->edges[0], nullptr) << "no edges are built";
    }
    EXPECT_EQ(mesh->vertices()[11]->index, 11);
    mesh->computeAreaAndVolume();
    EXPECT_NEAR(mesh->volume(), 1000.0 + 1.0 / 6.0, 1e-9);
}

TEST(MeshEditing, meanEdgeLengthSkipsDetachedEdges) {
    auto mesh = buildMesh(meshfixtures::cube(10.0));
    const double expected = (12 * 10.0 + 6 * 10.0 * std::sqrt(2.0)) / 18.0;
    EXPECT_NEAR(mesh->averageEdgeLength(), expected, 1e-9);
    for (StlEdge* e : mesh->edges())
        if (e->edgeClass == kEdgeSmooth)
            e->edgeClass = kEdgeDetached; // the six face diagonals
    EXPECT_NEAR(mesh->averageEdgeLength(), 10.0, 1e-9);
    for (StlEdge* e : mesh->edges())
        e->edgeClass = kEdgeDetached;
    EXPECT_EQ(mesh->averageEdgeLength(), 0.0);

    StlObject single;
    const double p[3] = {0, 0, 0}, q[3] = {3, 4, 0};
    single.addEdge(single.newVertex(p), single.newVertex(q));
    EXPECT_EQ(single.averageEdgeLength(), 0.0);
    single.addEdge(single.newVertex(p), single.newVertex(q));
    EXPECT_EQ(single.averageEdgeLength(), 5.0);
}

TEST(MeshEditing, shortPairNeedsTwoDistinctVertices) {
    auto mesh = buildMeshWithOctree(meshfixtures::cube(10.0));
    ShortPair pair;
    const double same[6] = {0, 0, 0, 0, 0, 5e-7};
    EXPECT_FALSE(mesh->makeShortPair(same, &pair));
    EXPECT_EQ(pair.a, nullptr);
    const double corner[6] = {0, 0, 0, 5, 5, 0};
    ASSERT_TRUE(mesh->makeShortPair(corner, &pair));
    EXPECT_EQ(pair.a->index, vertexAt(*mesh, 0, 0, 0)->index) << "the existing corner is found";
    EXPECT_EQ(pair.b->index, 8);
    EXPECT_EQ(pair.flags, 0u);
}

TEST(MeshEditing, octreeTestsOfWholeMesh) {
    auto mesh = buildMeshWithOctree(meshfixtures::cube(10.0, {0.0, 0.0, 5.0}));
    struct Case {
        Vector3D p;
        bool inside;
    };
    // The ray from (5, 5, z) passes through the diagonal of the top face: the two
    // triangles meet it at one point.
    for (const Case& c : {Case{{3, 4, 8}, true}, Case{{5, 5, 8}, true}, Case{{3, 4, 2}, false},
                          Case{{3, 4, 20}, false}, Case{{13, 4, 8}, false}}) {
        EXPECT_EQ(mesh->isInsideByUpwardRay(c.p.data()), c.inside) << c.p.x << " " << c.p.z;
        EXPECT_EQ(mesh->isInsideByDownwardCount(c.p.data()), c.inside) << c.p.x << " " << c.p.z;
    }
    for (const StlTriangle* t : mesh->triangles())
        EXPECT_EQ(t->walkMark(), 0u) << "the downward count leaves no mark";
    // Bottoms on the platform (z = 0) and below it are crossed like any other.
    for (const double base : {0.0, -4.0}) {
        auto resting = buildMeshWithOctree(meshfixtures::cube(10.0, {0.0, 0.0, base}));
        for (const Case& c :
             {Case{{3, 4, base + 5}, true}, Case{{5, 5, base + 2}, true}, Case{{3, 4, base + 12}, false}})
            EXPECT_EQ(resting->isInsideByDownwardCount(c.p.data()), c.inside) << base << " " << c.p.z;
    }

    // Support cones: one standing under the cube misses it, one reaching into it hits.
    const double foot[3] = {5, 5, 0}, below[3] = {5, 5, 4}, into[3] = {5, 5, 6};
    EXPECT_FALSE(mesh->truncatedConeHitsMesh(foot, 0.5, below, 1.0));
    EXPECT_TRUE(mesh->truncatedConeHitsMesh(foot, 0.5, into, 1.0));
    const double tip[3] = {5, 5, 4.9999};
    EXPECT_TRUE(mesh->hasTriangleUnderPoint(tip, 1e-3));

    StlObject empty;
    const double p[3] = {0, 0, 0};
    EXPECT_FALSE(empty.isInsideByUpwardRay(p));
    EXPECT_FALSE(empty.isInsideByDownwardCount(p));
    EXPECT_FALSE(empty.truncatedConeHitsMesh(foot, 0.5, into, 1.0));
    EXPECT_FALSE(empty.hasTriangleUnderPoint(p, 1.0));
}

TEST(MeshEditing, rayHitsOnSharedEdgesAndVerticesCountOnce) {
    // Four triangles of a pyramid roof meeting at the apex above the origin, and a
    // fifth far above; the vertical ray from below passes through the apex.
    StlVertex apex(0, 0, 1), a(1, 0, 0), b(0, 1, 0), c(-1, 0, 0), d(0, -1, 0);
    StlVertex p(-1, -1, 5), q(1, -1, 5), r(0, 1, 5);
    StlTriangle roof[4], lid;
    StlVertex* ring[4] = {&a, &b, &c, &d};
    for (int k = 0; k < 4; ++k)
        roof[k].init(ring[k], ring[(k + 1) % 4], &apex);
    lid.init(&p, &q, &r);
    const double origin[3] = {0, 0, -1}, up[3] = {0, 0, 1};
    RayHitCollector hits(origin, up);
    for (const StlTriangle& t : roof)
        hits.add(&t);
    hits.add(&lid);
    EXPECT_EQ(hits.distinctHits(), 2u);
    EXPECT_EQ(hits.lowestHeight(), 1.0);
    EXPECT_EQ(hits.highestHeight(), 5.0);
    EXPECT_TRUE(hits.isInside()) << "both hits face up: the origin lies under two exits";

    // Hits within 1e-6 of each other on either side of a 5-decimal rounding
    // boundary (z = 0.000005) are one point.
    StlVertex e(-1, -1, 0.0000049999), f(1, -1, 0.0000049999), g(0, 1, 0.0000049999);
    StlVertex h(-1, -1, 0.0000050001), i(1, -1, 0.0000050001), j(0, 1, 0.0000050001);
    StlTriangle left, right;
    left.init(&e, &f, &g);
    right.init(&h, &i, &j);
    RayHitCollector edge(origin, up);
    edge.add(&left);
    edge.add(&right);
    EXPECT_EQ(edge.distinctHits(), 1u);
    EXPECT_TRUE(edge.isInside());
}

// Facets into topology: dropping degenerate and repeated facets, welding,
// edge building and classes, the geometry-format repairs, validity counts and
// the file entry point.
#include "MeshFixtures.h"

#include "app/ProgressReport.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <vector>

using namespace topolib;
using namespace meshfixtures;

namespace {

std::map<uint32_t, int> classCounts(const StlObject& mesh) {
    std::map<uint32_t, int> counts;
    for (const StlEdge* e : mesh.edges())
        ++counts[e->edgeClass];
    return counts;
}

// Feeds raw float facets (corners only) to a mesh as a reader does.
struct FacetFeeder {
    StlObject mesh;
    std::vector<FacetCorner> corners;
    uint32_t counter = 0;
    double reference[3] = {0, 0, 0};

    void add(std::array<float, 9> c) {
        float facet[12] = {0, 0, 1};
        std::copy(c.begin(), c.end(), facet + 3);
        mesh.addFacet(&counter, reference, facet, corners, true);
    }
    void finish(bool edges = true) {
        mesh.weldFacetCorners(corners);
        if (edges)
            mesh.buildEdges(false, 60, 25);
    }
};

} // namespace

TEST(MeshImport, closedMeshesWeldIntoTheExpectedTopology) {
    struct Case {
        const char* name;
        TriangleSoup soup;
        uint32_t vertices;
        uint32_t edges;
    };
    const Case cases[] = {
        {"cube", cube(10.0), 8, 18},
        {"uv sphere", uvSphere(3.0, 16, 8), 16 * 7 + 2, 3 * 16 * 7},
        {"icosphere", icosphere(3.0, 4), 10 * 256 + 2, 30 * 256},
        {"torus", torus(30.0, 10.0, 120, 60), 7200, 21600}, // large enough for the bucketed sort
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = buildMesh(c.soup);
        EXPECT_EQ(mesh->triangleCount(), c.soup.size());
        EXPECT_EQ(mesh->facetCount(), c.soup.size());
        EXPECT_EQ(mesh->vertexCount(), c.vertices);
        EXPECT_EQ(mesh->vertices().size(), c.vertices);
        EXPECT_EQ(mesh->edgeCount(), c.edges);
        const auto counts = classCounts(*mesh);
        EXPECT_EQ(counts.count(kEdgeBoundary), 0u);
        EXPECT_EQ(counts.count(kEdgeNonManifold), 0u);
        for (uint32_t i = 0; i < mesh->vertices().size(); ++i)
            ASSERT_EQ(mesh->vertices()[i]->index, static_cast<int32_t>(i));
        for (uint32_t i = 0; i < mesh->edgeCount(); ++i) {
            const StlEdge* e = mesh->edge(i);
            ASSERT_EQ(e->index, i);
            ASSERT_EQ(e->triangleCount(), 2u);
            // Both triangles link the edge on the side that joins its end points.
            for (const StlTriangle* t : *e) {
                const int k = e->sideIn(t);
                ASSERT_GE(k, 0);
                const StlVertex* a = t->vertices[k];
                const StlVertex* b = t->vertices[(k + 1) % 3];
                EXPECT_TRUE((a == e->vertex(0) && b == e->vertex(1)) || (a == e->vertex(1) && b == e->vertex(0)));
            }
        }
        uint64_t incidences = 0;
        for (const StlVertex* v : mesh->vertices())
            incidences += v->triangleCount();
        EXPECT_EQ(incidences, 3u * c.soup.size());
    }
}

TEST(MeshImport, cubeEdgesAreSharpAndDiagonalsSmooth) {
    auto mesh = buildMesh(cube(10.0));
    ASSERT_EQ(mesh->vertexCount(), 8u);
    ASSERT_EQ(mesh->edgeCount(), 18u);
    const auto counts = classCounts(*mesh);
    EXPECT_EQ(counts.at(kEdgeSharp), 12);
    EXPECT_EQ(counts.at(kEdgeSmooth), 6);
}

TEST(MeshImport, creaseClassFollowsTheDihedralAngle) {
    // Two triangles sharing the edge (0,0,0)-(0,10,0): the second is tilted by
    // `angle` degrees about that edge.
    for (const auto& c : {std::make_pair(20.0, kEdgeSmooth), std::make_pair(30.0, kEdgeSharp),
                          std::make_pair(0.0, kEdgeSmooth), std::make_pair(90.0, kEdgeSharp)}) {
        const double a = c.first * 3.14159265358979 / 180.0;
        TriangleSoup soup = {{{{0, 0, 0}, {-10, 5, 0}, {0, 10, 0}}},
                             {{{0, 0, 0}, {0, 10, 0}, {10 * std::cos(a), 5, 10 * std::sin(a)}}}};
        auto mesh = buildMesh(soup);
        const StlEdge* shared = nullptr;
        for (const StlEdge* e : mesh->edges())
            if (e->triangleCount() == 2)
                shared = e;
        ASSERT_NE(shared, nullptr);
        EXPECT_EQ(shared->edgeClass, c.second) << c.first;
        EXPECT_EQ(classCounts(*mesh).at(kEdgeBoundary), 4);
    }
}

TEST(MeshImport, openSurfacesHaveBoundaryRims) {
    struct Case {
        const char* name;
        TriangleSoup soup;
        int boundary;
        uint32_t vertices;
    };
    const Case cases[] = {
        {"open box", openBox(10.0), 4, 8},
        {"single facet", singleFacet(), 3, 3},
        {"fan", fan(6), 8, 8},
        {"closed fan", fan(6, 10.0, 360.0), 6, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = buildMesh(c.soup);
        EXPECT_EQ(mesh->vertexCount(), c.vertices);
        EXPECT_EQ(classCounts(*mesh)[kEdgeBoundary], c.boundary);
        // Every record of these small open meshes is fit for the geometry format.
        EXPECT_EQ(mesh->countValidEdges(), mesh->edgeCount());
        for (const StlTriangle* t : mesh->triangles())
            EXPECT_TRUE(mesh->isValidTriangle(t));
    }
}

TEST(MeshImport, degenerateAndRepeatedFacetsAreDroppedOrFlagged) {
    FacetFeeder f;
    f.add({0, 0, 0, 1, 0, 0, 0, 1, 0});           // kept
    f.add({0, 0, 0, 1, 0, 0, 0, 1, 0});           // repeats the previous one: dropped
    f.add({5, 5, 5, 5, 5, 5, 6, 5, 5});           // two identical corners: dropped
    f.add({0, 0, 0, 2, 0, 0, 4, 0, 0});           // collinear: deleted triangle
    f.add({0, 0, 0, 1, 0, 0, 0, 1, 0});           // same facet again, one in between: kept
    f.finish(false);
    ASSERT_EQ(f.mesh.triangleCount(), 3u);
    EXPECT_EQ(f.mesh.facetCount(), 2u);
    EXPECT_EQ(f.corners.size(), 9u);
    const StlTriangle* collinear = f.mesh.triangle(1);
    EXPECT_TRUE(collinear->isDeleted());
    EXPECT_EQ(collinear->normal.lengthSquared(), 0.0);
    EXPECT_NE(collinear->vertices[2], nullptr); // takes part in welding
    EXPECT_EQ(f.mesh.triangle(0)->vertices[0], f.mesh.triangle(2)->vertices[0]);
    EXPECT_EQ(f.mesh.triangle(0)->vertices[2], f.mesh.triangle(2)->vertices[2]);
    EXPECT_EQ(f.mesh.vertexCount(), 5u);
    EXPECT_DOUBLE_EQ(f.mesh.area(), 2.0); // running sum: twice the area of the two kept facets
    EXPECT_EQ(f.mesh.triangle(0)->vertices[0]->triangleCount(), 3u);
}

TEST(MeshImport, facetWithoutRoomInThePresizedCornersIsDropped) {
    StlObject mesh;
    std::vector<FacetCorner> corners(3);
    uint32_t counter = 0;
    const double ref[3] = {0, 0, 0};
    const float a[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    const float b[12] = {0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1};
    mesh.addFacet(&counter, ref, a, corners, false);
    mesh.addFacet(&counter, ref, b, corners, false);
    EXPECT_EQ(mesh.triangleCount(), 1u);
    EXPECT_EQ(counter, 3u);
    EXPECT_EQ(corners[2].corner, 2);
    EXPECT_EQ(corners[1].x, 1.0f);
}

TEST(MeshImport, weldingComparesWithTheRunsFirstCorner) {
    // Three facets meet near the origin at x = 0, 9e-7 and 1.8e-6: the first two
    // are within the tolerance of the run's first corner, the third is not,
    // although it is within the tolerance of its neighbour.
    FacetFeeder f;
    // The other corners lie at x >= 10 so that they sort after the cluster.
    f.add({0, 0, 0, 10, 0, 5, 10, 10, 5});
    f.add({9e-7f, 0, 0, 10, 0, -5, 10, 10, -5});
    f.add({1.8e-6f, 0, 0, 20, -10, 5, 20, 0, 5});
    f.finish(false);
    const StlVertex* v0 = f.mesh.triangle(0)->vertices[0];
    EXPECT_EQ(f.mesh.triangle(1)->vertices[0], v0);
    EXPECT_NE(f.mesh.triangle(2)->vertices[0], v0);
    EXPECT_EQ(v0->triangleCount(), 2u);
    EXPECT_EQ(v0->x(), 0.0); // the vertex sits at the run's first corner
    EXPECT_EQ(f.mesh.vertexCount(), 8u);
}

TEST(MeshImport, triangleWhoseSideWeldsToOnePointIsDeletedWithItsEdges) {
    // Corners a and b are not within the tolerance of each other (squared
    // distance 1.62e-12) but both are within it of r, so all three weld into r.
    FacetFeeder f;
    f.add({0, 0, 0, 10, 0, 5, 10, 10, 5});        // r = origin
    f.add({0, 9e-7f, 0, 9e-7f, 0, 0, 10, 10, 0}); // a, b, c
    f.finish(true);
    const StlTriangle* t = f.mesh.triangle(1);
    EXPECT_EQ(t->vertices[0], t->vertices[1]);
    EXPECT_TRUE(t->isDeleted());
    EXPECT_EQ(t->edges[0], nullptr);
    EXPECT_EQ(f.mesh.edgeCount(), 3u); // only the first triangle's edges
    EXPECT_EQ(f.mesh.facetCount(), 2u); // counted when taken, never uncounted
}

TEST(MeshImport, nonManifoldEdgesAndTheEdgeLimit) {
    // 130 blades around the edge (0,0,0)-(0,0,10): the edge keeps 126 triangles.
    TriangleSoup soup;
    for (int i = 0; i < 130; ++i) {
        const double a = 2.0 * 3.14159265358979 * i / 130;
        soup.push_back({{{0, 0, 0}, {0, 0, 10}, {5 * std::cos(a), 5 * std::sin(a), 5}}});
    }
    auto mesh = buildMesh(soup);
    const StlEdge* spine = StlVertex::findEdgeTo(mesh->triangle(0)->vertices[0], mesh->triangle(0)->vertices[1]);
    ASSERT_NE(spine, nullptr);
    EXPECT_EQ(spine->triangleCount(), 126u);
    EXPECT_EQ(spine->edgeClass, kEdgeNonManifold);
    EXPECT_EQ(mesh->triangle(129)->edges[0], spine); // refused, but still points to the edge
    EXPECT_EQ(classCounts(*mesh)[kEdgeNonManifold], 1);
    EXPECT_EQ(classCounts(*mesh)[kEdgeBoundary], 260);
}

TEST(MeshImport, geometryFormatRepairsRelinkEdgesAndMeasure) {
    // Rebuild a cube as the geometry reader does: vertices, triangles on them,
    // edges as bare vertex pairs, then relink and measure.
    auto ref = buildMesh(cube(10.0));
    StlObject mesh;
    for (const StlVertex* v : ref->vertices())
        mesh.appendVertex(mesh.newVertex(v->pos.data()));
    for (const StlTriangle* t : ref->triangles()) {
        StlTriangle* n = mesh.newTriangle();
        n->init(mesh.vertices()[t->vertices[0]->index], mesh.vertices()[t->vertices[1]->index],
                mesh.vertices()[t->vertices[2]->index]);
        n->id = static_cast<int32_t>(mesh.triangles().size());
        mesh.triangles().push_back(n);
    }
    for (const StlEdge* e : ref->edges()) {
        StlEdge* n = mesh.newEdge(mesh.vertices()[e->vertex(0)->index], mesh.vertices()[e->vertex(1)->index]);
        n->index = static_cast<uint32_t>(mesh.edges().size());
        mesh.edges().push_back(n);
    }
    mesh.relinkEdges();
    mesh.computeAreaAndVolume();
    EXPECT_NEAR(mesh.area(), 600.0, 1e-9);
    EXPECT_NEAR(mesh.volume(), 1000.0, 1e-9);
    EXPECT_EQ(mesh.volumeReference()[0], mesh.vertices()[0]->x());
    for (const StlEdge* e : mesh.edges()) {
        EXPECT_EQ(e->triangleCount(), 2u);
        EXPECT_EQ(e->edgeClass, kEdgeSmooth); // crease classes are not computed here
    }
    for (const StlTriangle* t : mesh.triangles())
        for (int k = 0; k < 3; ++k)
            EXPECT_NE(t->edges[k], nullptr);
}

TEST(MeshImport, validityRulesOfTheGeometryWriter) {
    auto mesh = buildMesh(cube(10.0));
    EXPECT_EQ(mesh->countValidEdges(), 18u);
    mesh->edge(0)->edgeClass = kEdgeDetached;
    mesh->edge(1)->vertex(1)->pos.z = std::numeric_limits<double>::infinity();
    // Edge 1 and every edge touching that vertex now fail.
    uint32_t touching = 0;
    const StlVertex* bad = mesh->edge(1)->vertex(1);
    for (const StlEdge* e : mesh->edges())
        if (e != mesh->edge(0) && (e->vertex(0) == bad || e->vertex(1) == bad))
            ++touching;
    EXPECT_EQ(mesh->countValidEdges(), 18u - 1u - touching);

    auto facet = buildMesh(singleFacet());
    StlTriangle* t = facet->triangle(0);
    EXPECT_TRUE(facet->isValidTriangle(t));
    t->setDeleted(true);
    EXPECT_FALSE(facet->isValidTriangle(t));
    t->setDeleted(false);
    t->normal = Vector3D(0, 0, 1e-7);
    EXPECT_FALSE(facet->isValidTriangle(t));
    facet->setVertexCount(2); // vertex 2 out of range
    t->normal = Vector3D(0, 0, 1);
    EXPECT_FALSE(facet->isValidTriangle(t));
}

TEST(MeshImport, projectLookups) {
    auto mesh = buildMesh(cube(10.0));
    EXPECT_EQ(mesh->findTriangleById(7), mesh->triangle(7));
    EXPECT_EQ(mesh->findTriangleById(12), nullptr);
    const int indices[] = {3, 0, 17, 18, -1};
    std::deque<StlEdge*> out;
    mesh->collectEdgesByIndex(indices, 5, out);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0], mesh->edge(3));
    EXPECT_EQ(out[2], mesh->edge(17));
    EXPECT_EQ(out[3], nullptr); // out of range: no edge instead of a wild read
    EXPECT_EQ(out[4], nullptr);
}

TEST(MeshImport, buildEdgesReportsProgressWithinItsSpan) {
    std::vector<int> values;
    setProgressCallback([&](int v, unsigned code, const std::wstring&, const std::wstring&, const std::wstring&) {
        values.push_back(v);
        EXPECT_EQ(code, 0u);
    });
    auto mesh = buildMesh(torus(20, 5, 100, 50), BuildSteps{false, false});
    mesh->buildEdges(true, 60, 25);
    setProgressCallback(nullptr);
    ASSERT_FALSE(values.empty());
    EXPECT_LE(values.size(), 26u);
    for (int v : values) {
        EXPECT_GE(v, 60);
        EXPECT_LE(v, 84);
    }
}

TEST(MeshImport, loadWithoutAHandlerFailsAndClosesTheProgress) {
    std::vector<int> values;
    setProgressCallback([&](int v, unsigned, const std::wstring&, const std::wstring&, const std::wstring&) {
        values.push_back(v);
    });
    struct Failing : MeshFileReader {
        LoadResult read(StlObject&, const std::wstring&, const ProgressMonitor*) override {
            return LoadResult::Failure;
        }
    } failing;
    StlObject mesh;
    EXPECT_EQ(mesh.loadFromFile(L"/nowhere/model.xyz", failing), topolib::LoadResult::Failure);
    EXPECT_EQ(mesh.edgeCount(), 0u);
    EXPECT_EQ(mesh.loadFromFile(L"/nowhere/model.stl", failing), topolib::LoadResult::Failure);
    setProgressCallback(nullptr);
    EXPECT_EQ(values, (std::vector<int>{-1, -1}));
}

TEST(MeshImport, loadBuildsEdgesAfterASuccessfulRead) {
    struct Ring : MeshFileReader {
        LoadResult read(StlObject& target, const std::wstring&, const ProgressMonitor*) override {
            fillMesh(target, torus(20, 5, 30, 12), BuildSteps{false, false});
            return LoadResult::Success;
        }
    } ring;
    StlObject mesh;
    EXPECT_EQ(mesh.loadFromFile(L"ring.stl", ring), topolib::LoadResult::Success);
    EXPECT_EQ(mesh.edgeCount(), 3u * 30u * 12u);
}

TEST(MeshImport, triangleArrayIsRebuiltShellByShell) {
    auto mesh = buildMesh(concatenated(cube(10.0), cube(5.0, {20, 0, 0})));
    ASSERT_EQ(mesh->shells().size(), 2u);
    mesh->rebuildTriangleArrayFromShells();
    ASSERT_EQ(mesh->triangleCount(), 24u);
    EXPECT_EQ(mesh->facetCount(), 24u);
    EXPECT_GE(mesh->triangleCapacity(), 124u);
    // Each shell's triangles are consecutive, ids equal positions.
    for (uint32_t i = 0; i < 24; ++i) {
        EXPECT_EQ(mesh->triangle(i)->id, static_cast<int32_t>(i));
        EXPECT_EQ(mesh->triangle(i)->shell, mesh->shells()[i / 12]);
    }
    EXPECT_EQ(mesh->countValidShellTriangles(), 24u);
}

// Bounding box, area, volume, transforms, copies and render arrays of the mesh
// object on the generated meshes.
#include "MeshFixtures.h"
#include "MeshStateHash.h"

#include "topolib/MeshOctree.h"
#include "topolib/ParallelRuns.h"
#include "topolib/RecordIndex.h"
#include "topolib/RenderArrays.h"
#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace topolib;
using namespace meshfixtures;

namespace {

// Independent measures of a soup: area and divergence-theorem volume in double.
struct SoupMeasures {
    double area = 0.0;
    double volume = 0.0;
    Point lo{1e300, 1e300, 1e300};
    Point hi{-1e300, -1e300, -1e300};
};

SoupMeasures measure(const TriangleSoup& soup) {
    SoupMeasures m;
    for (const Facet& f : soup) {
        const Point& a = f.v[0];
        const Point n = facetCross(f);
        m.area += 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        m.volume += (a[0] * n[0] + a[1] * n[1] + a[2] * n[2]) / 6.0;
        for (const Point& p : f.v)
            for (int k = 0; k < 3; ++k) {
                m.lo[k] = std::min(m.lo[k], p[k]);
                m.hi[k] = std::max(m.hi[k], p[k]);
            }
    }
    return m;
}

} // namespace

TEST(StlObject, newObjectHasTheEmptyBox) {
    StlObject mesh;
    mesh.computeBoundingBox();
    double lo[3], hi[3];
    mesh.getBBox(lo, hi);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(lo[k], 1e29);
        EXPECT_EQ(hi[k], -1e29);
    }
    EXPECT_EQ(mesh.id(), -1);
    EXPECT_TRUE(mesh.vertexRenderStale());
    EXPECT_TRUE(mesh.triangleRenderStale());
    EXPECT_EQ(mesh.slabState(), 2);
    EXPECT_EQ(mesh.octreeMinCell(), 3.0);
    EXPECT_EQ(mesh.findTriangleById(0), nullptr);
}

TEST(StlObject, areaVolumeAndBoxMatchTheGeneratedMeshes) {
    struct Case {
        const char* name;
        TriangleSoup soup;
        double exactVolume; // 0: only compared with the soup's own sum
    };
    const Case cases[] = {
        {"cube", cube(10.0), 1000.0},
        {"moved box", box({10, 20, 30}, {-5, 7, 100}), 6000.0},
        {"inside-out cube", flipped(cube(10.0)), -1000.0},
        {"uv sphere", uvSphere(5.0, 48, 24, {1, 2, 3}), 0.0},
        {"icosphere", icosphere(5.0, 3), 0.0},
        {"torus", torus(20.0, 5.0, 64, 32), 0.0},
        {"overlapping cubes", overlappingCubes(10.0), 2000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SoupMeasures m = measure(c.soup);
        auto mesh = buildMesh(c.soup);
        // Corners pass through float as in a file, hence the relative tolerance.
        EXPECT_NEAR(mesh->area(), m.area, 1e-5 * m.area);
        EXPECT_NEAR(mesh->volume(), m.volume, 1e-5 * std::fabs(m.volume));
        if (c.exactVolume != 0.0) {
            EXPECT_NEAR(mesh->volume(), c.exactVolume, 1e-9 * std::fabs(c.exactVolume));
        }
        mesh->computeBoundingBox();
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(mesh->bboxMin()[k], m.lo[k], 1e-5);
            EXPECT_NEAR(mesh->bboxMax()[k], m.hi[k], 1e-5);
            EXPECT_NEAR(mesh->center()[k], (m.lo[k] + m.hi[k]) / 2, 1e-5);
        }
        // The repair sum over the welded mesh gives the same measures.
        const double area = mesh->area(), volume = mesh->volume();
        mesh->computeAreaAndVolume();
        EXPECT_NEAR(mesh->area(), area, 1e-9 * area);
        EXPECT_NEAR(mesh->volume(), volume, 1e-9 * std::fabs(volume));
    }
    auto sphere = buildMesh(icosphere(10.0, 5));
    EXPECT_NEAR(sphere->volume(), 4.0 / 3.0 * 3.14159265358979 * 1000.0, 4.0); // within 0.1 %
    EXPECT_NEAR(sphere->area(), 4.0 * 3.14159265358979 * 100.0, 1.3);
}

TEST(StlObject, setBoundingBoxDerivesCentreDiagonalAndOctreeCube) {
    StlObject mesh;
    const double lo[3] = {0, 0, 0}, hi[3] = {3, 4, 12};
    mesh.setBoundingBox(lo, hi);
    EXPECT_DOUBLE_EQ(mesh.diagonal(), 13.0);
    EXPECT_DOUBLE_EQ(mesh.center()[2], 6.0);
    EXPECT_DOUBLE_EQ(mesh.octreeOrigin()[0], 1.5 - 6.5);
    EXPECT_DOUBLE_EQ(mesh.octreeOrigin()[2], 6.0 - 6.5);
    mesh.setBoundingBox(mesh.bboxMin(), mesh.bboxMax()); // aliasing the stored corners
    EXPECT_DOUBLE_EQ(mesh.diagonal(), 13.0);
    EXPECT_DOUBLE_EQ(mesh.bboxMax()[1], 4.0);
}

TEST(StlObject, translationMovesEverythingButNormals) {
    auto mesh = buildMesh(cube(10.0));
    RenderArrays drawn;
    mesh->buildSmoothRenderArrays(drawn);
    ASSERT_FALSE(mesh->vertexRenderStale());
    ASSERT_FALSE(mesh->triangleRenderStale());
    const Vector3D normal0 = mesh->triangle(0)->normal;
    const Vector3D origin0(mesh->octreeOrigin());
    const double d[3] = {1.5, -2.0, 30.0};
    mesh->setSlabState(0);
    mesh->translate(d);
    for (int k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ(mesh->bboxMin()[k], d[k]);
        EXPECT_DOUBLE_EQ(mesh->bboxMax()[k], 10.0 + d[k]);
        EXPECT_DOUBLE_EQ(mesh->center()[k], 5.0 + d[k]);
        EXPECT_DOUBLE_EQ(mesh->octreeOrigin()[k], origin0[k] + d[k]);
    }
    EXPECT_EQ(mesh->triangle(0)->normal.x, normal0.x);
    EXPECT_EQ(mesh->triangle(0)->normal.z, normal0.z);
    double lo = 1e9;
    for (const StlVertex* v : mesh->vertices())
        lo = std::min(lo, v->z());
    EXPECT_DOUBLE_EQ(lo, 30.0);
    EXPECT_FALSE(mesh->vertexRenderStale());
    EXPECT_TRUE(mesh->triangleRenderStale());
    EXPECT_EQ(mesh->slabState(), 1);
    EXPECT_DOUBLE_EQ(mesh->volume(), 1000.0);
}

TEST(StlObject, scalingScalesMeasuresAndRecomputesNormalsWhenNotUniform) {
    {
        auto mesh = buildMesh(cube(10.0));
        const Vector3D n0 = mesh->triangle(3)->normal;
        const double s[3] = {2, 2, 2};
        mesh->setSlabState(0);
        mesh->scale(s);
        EXPECT_DOUBLE_EQ(mesh->volume(), 8000.0);
        EXPECT_DOUBLE_EQ(mesh->area(), 2400.0);
        EXPECT_EQ(mesh->triangle(3)->normal.x, n0.x);
        EXPECT_DOUBLE_EQ(mesh->bboxMax()[0], 20.0);
        EXPECT_DOUBLE_EQ(mesh->diagonal(), std::sqrt(3.0) * 20.0);
        EXPECT_DOUBLE_EQ(mesh->octreeMinCell(), 6.0);
        EXPECT_EQ(mesh->slabState(), 1);
    }
    {
        // A sphere stretched along x: the normals must follow the new shape.
        auto mesh = buildMesh(icosphere(5.0, 2));
        const double s[3] = {2, 1, 1};
        mesh->scale(s);
        EXPECT_NEAR(mesh->volume(), 2.0 * measure(icosphere(5.0, 2)).volume, 1e-3);
        for (const StlTriangle* t : mesh->triangles()) {
            const Vector3D& p0 = t->vertices[0]->pos;
            Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
            n.normalize();
            EXPECT_NEAR(n.dot(t->normal), 1.0, 1e-12);
        }
        const double box[3] = {2, 1, 1};
        auto cubeMesh = buildMesh(cube(10.0));
        cubeMesh->scale(box);
        EXPECT_NEAR(cubeMesh->volume(), 2000.0, 1e-9);
        EXPECT_NEAR(cubeMesh->area(), 1000.0, 1e-9);
        // Mirroring keeps the box ordered; the mesh is then inside out.
        const double mirror[3] = {-1, 1, 1};
        cubeMesh->scale(mirror);
        EXPECT_DOUBLE_EQ(cubeMesh->bboxMin()[0], -20.0);
        EXPECT_DOUBLE_EQ(cubeMesh->bboxMax()[0], 0.0);
        EXPECT_NEAR(cubeMesh->volume(), -2000.0, 1e-9);
    }
    {
        StlObject empty;
        const double s[3] = {2, 3, 4};
        empty.scale(s); // no triangle array: nothing happens
        EXPECT_EQ(empty.bboxMin()[0], 1e29);
    }
}

namespace {

// Every leaf of a mesh's octree: cube, vertex indices and triangle ids in order.
std::vector<std::vector<double>> octreeLeaves(const StlObject& mesh) {
    std::vector<std::vector<double>> leaves;
    mesh.octree()->forEachLeaf(mesh.octreeOrigin(), mesh.octreeEdge(),
                               [&](const double* o, double e, const std::vector<StlVertex*>& vs,
                                   const std::vector<StlTriangle*>& ts) {
                                   std::vector<double> leaf{o[0], o[1], o[2], e, double(vs.size())};
                                   for (const StlVertex* v : vs)
                                       leaf.push_back(v->index);
                                   for (const StlTriangle* t : ts)
                                       leaf.push_back(t->id);
                                   leaves.push_back(std::move(leaf));
                               });
    return leaves;
}

} // namespace

// A mesh's vertices in a few runs: two swapped records make four, a null entry
// three. Every record's position is its place in the array, and null and a
// record of another mesh have none.
TEST(StlObject, recordPositionsAreTheArraysAndNoneForNullOrAStranger) {
    auto mesh = buildMesh(torus(20.0, 5.0, 16, 8));
    auto other = buildMesh(cube(1.0));
    RefArray<StlVertex>& vs = mesh->vertices();
    auto check = [&](const char* label) {
        for (const unsigned threads : {1u, 3u}) {
            const RecordIndex<StlVertex> index(vs, threads);
            for (std::size_t i = 0; i < vs.size(); ++i) {
                if (!vs[i])
                    continue;
                EXPECT_EQ(index.of(vs[i]), i) << label;
                EXPECT_EQ(index.of(vs[i].get()), i) << label;
            }
            EXPECT_EQ(index.of(Ref<StlVertex>()), RecordIndex<StlVertex>::npos) << label;
            EXPECT_EQ(index.of(static_cast<const StlVertex*>(nullptr)), RecordIndex<StlVertex>::npos) << label;
            EXPECT_EQ(index.of(other->vertices()[0]), RecordIndex<StlVertex>::npos) << label;
            EXPECT_EQ(index.of(other->vertices()[0].get()), RecordIndex<StlVertex>::npos) << label;
        }
    };
    auto swapFirstAndSeventh = [&] {
        std::swap(vs[0], vs[7]);
        vs[0]->index = 0;
        vs[7]->index = 7;
    };
    swapFirstAndSeventh();
    check("swapped");
    swapFirstAndSeventh();
    const Ref<StlVertex> fifth = vs[5];
    vs[5] = nullptr;
    check("null");
    vs[5] = fifth;
}

TEST(StlObject, copyHasTheOriginalsStateEdgesAndOctree) {
    // Records in array order (as a file gives them), in a few runs of it (two
    // swapped records make four) and out of it (reversed, the copy then finds
    // positions through the records' own indices), on one thread and on
    // several.
    for (const int permuted : {0, 1, 2}) {
        for (const unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(testing::Message() << "permuted " << permuted << " threads " << threads);
            auto src = buildMeshWithOctree(concatenated(torus(20.0, 5.0, 48, 24), flipped(cube(2.0, {40, 0, 0}), 0)));
            src->setName("part");
            src->triangle(5)->setDeleted(true);
            src->vertices()[3]->setMark(2);
            src->edge(4)->flags = 1;
            RefArray<StlVertex>& vs = src->vertices();
            if (permuted == 1)
                std::swap(vs[0], vs[7]);
            if (permuted == 2)
                std::reverse(vs.begin(), vs.begin() + 40);
            for (std::size_t i = 0; i < 40; ++i)
                vs[i]->index = static_cast<int>(i);
            src->rebuildOctree();
            forceImportThreads(threads);
            StlObject copy(*src);
            EXPECT_EQ(copy.triangleCount(), 0u);
            src->copyMeshTo(&copy);
            forceImportThreads(0);
            EXPECT_EQ(copy.getName(), "part");
            // (The copy numbers the original's shells by position, as it does
            // the copy's.)
            EXPECT_EQ(meshstate::stateHash(copy), meshstate::stateHash(*src));
            ASSERT_GT(copy.edgeCount(), 0u);
            // The copy's records are its own, and name only each other.
            for (uint32_t i = 0; i < copy.triangleCount(); ++i) {
                const StlTriangle* t = copy.triangle(i);
                EXPECT_NE(t, src->triangle(i));
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(t->vertices[k], copy.vertices()[static_cast<std::size_t>(t->vertices[k]->index)]);
                    EXPECT_EQ(t->edges[k], copy.edge(t->edges[k]->index));
                }
                if (!t->isDeleted()) {
                    EXPECT_EQ(t->shell->owner, &copy);
                }
            }
            ASSERT_EQ(copy.shells().size(), src->shells().size());
            for (std::size_t i = 0; i < copy.shells().size(); ++i) {
                EXPECT_EQ(copy.shells()[i]->owner, &copy);
                EXPECT_EQ(copy.shells()[i]->boxMax.x, src->shells()[i]->boxMax.x);
            }

            // The octree: the original's leaves at the copy's records, which is
            // the tree a build on the copy makes, and it answers alike.
            ASSERT_NE(copy.octree(), nullptr);
            EXPECT_EQ(copy.octreeEdge(), src->octreeEdge());
            EXPECT_EQ(copy.octreeMinCell(), src->octreeMinCell());
            EXPECT_EQ(copy.octree()->nodeCount(), src->octree()->nodeCount());
            const auto leaves = octreeLeaves(copy);
            EXPECT_EQ(leaves, octreeLeaves(*src));
            StlObject rebuilt(*src);
            src->copyMeshTo(&rebuilt);
            rebuilt.rebuildOctree();
            EXPECT_EQ(leaves, octreeLeaves(rebuilt));
            for (int i = 0; i < 40; ++i) {
                const double q[3] = {-30.0 + 2.0 * i, 0.5 * i - 8.0, 30.0}, d[3] = {0.01 * i, 0.02, -1.0};
                double hitA[3], hitB[3];
                const StlTriangle* a = src->pickTriangle(q, d, hitA);
                const StlTriangle* b = copy.pickTriangle(q, d, hitB);
                ASSERT_EQ(a == nullptr, b == nullptr);
                if (a) {
                    EXPECT_EQ(b, copy.triangle(static_cast<uint32_t>(a->id)));
                    EXPECT_EQ(hitA[2], hitB[2]);
                }
            }
        }
    }
    auto src = buildMesh(concatenated(cube(10.0), flipped(cube(2.0, {20, 0, 0}), 0)));

    // A triangle in the middle of a cut: its clone gets a context of its own
    // with the same cutters and segments, taken in the copy.
    StlTriangle* cutTriangle = src->triangle(2);
    TriangleCutter cut;
    cut.recordCutter(cutTriangle, src->triangle(7));
    cut.recordCutter(cutTriangle, src->triangle(9));
    ASSERT_EQ(cut.contextOf(cutTriangle)->cutters.size(), 2u);
    CutSegment segment;
    segment.a = cutTriangle->vertices[0];
    segment.b = cutTriangle->vertices[1];
    segment.aOnOutline = 1;
    cut.contextOf(cutTriangle)->segments.push_back(segment);
    StlObject withoutCut(*src);
    src->copyMeshTo(&withoutCut);
    EXPECT_FALSE(withoutCut.triangle(2)->hasCutContext()) << "a copy made outside the cut";
    StlObject withCut(*src);
    src->copyMeshTo(&withCut, AppendRoom(), &cut);
    const TriangleCutContext* context = cut.contextOf(withCut.triangle(2));
    ASSERT_NE(context, nullptr);
    EXPECT_NE(context, cut.contextOf(cutTriangle));
    EXPECT_EQ(context->triangle, withCut.triangle(2));
    ASSERT_EQ(context->cutters.size(), 2u);
    EXPECT_EQ(context->cutters[0], withCut.triangle(7));
    EXPECT_EQ(context->cutters[1], withCut.triangle(9));
    ASSERT_EQ(context->segments.size(), 1u);
    EXPECT_EQ(context->segments[0].a, withCut.triangle(2)->vertices[0]);
    EXPECT_EQ(context->segments[0].b, withCut.triangle(2)->vertices[1]);
    EXPECT_EQ(context->segments[0].aOnOutline, 1);
    for (StlObject* m : {src.get(), &withCut})
        cut.releaseContexts(*m);

    StlObject empty, target;
    empty.setName("nothing");
    empty.copyMeshTo(&target);
    EXPECT_EQ(target.getName(), "nothing");
    EXPECT_FALSE(target.hasTriangleArray());
}

namespace {

// What each state unit of a mesh holds, as its public accessors show it: the
// values a copy takes, the marks of what is made again when drawn or sliced
// (the slab index's state, the render arrays' stale marks), and the storage
// (records, tree, index) by address, which an exchange hands over and a copy
// does not share.
struct UnitState {
    std::vector<double> meshValues;
    std::vector<double> drawnValues;
    std::vector<const void*> storage;
    bool operator==(const UnitState& o) const {
        return meshValues == o.meshValues && drawnValues == o.drawnValues && storage == o.storage;
    }
};

UnitState unitState(StlObject& mesh) {
    UnitState u;
    std::vector<double>& v = u.meshValues;
    v.push_back(static_cast<double>(meshstate::stateHash(mesh) % (uint64_t(1) << 52)));
    v.insert(v.end(), {double(mesh.vertexCount()), double(mesh.facetCount()), double(mesh.triangleCount()),
                       double(mesh.edgeCount()), double(mesh.shells().size()), mesh.area(), mesh.volume(),
                       mesh.diagonal(), mesh.octreeEdge(), mesh.octreeMinCell()});
    for (const double* p : {mesh.bboxMin(), mesh.bboxMax(), mesh.center().data(), mesh.loadedBoxMin(),
                            mesh.loadedBoxMax(), mesh.volumeReference(), mesh.octreeOrigin()})
        v.insert(v.end(), p, p + 3);
    for (const auto& o : mesh.calibrationOffsets())
        v.insert(v.end(), {o.first, o.second});
    u.drawnValues = {double(mesh.slabState()), double(mesh.vertexRenderStale()),
                     double(mesh.triangleRenderStale())};
    u.storage = {mesh.vertices().data(),
                 mesh.triangles().data(),
                 mesh.edges().data(),
                 mesh.shells().empty() ? nullptr : mesh.shells().front(),
                 mesh.octree(),
                 mesh.zSlabIndex()};
    return u;
}

// A mesh with every unit set: records with shells, box and loaded box,
// measures, octree (with its own smallest cell), drawn once (its triangle
// render mark clear), a built slab index and applied calibration offsets.
std::unique_ptr<StlObject> meshWithEveryUnit(const TriangleSoup& soup, double minCell, double shift) {
    auto mesh = buildMesh(soup);
    const double lo[3] = {-shift, -2 * shift, -3 * shift}, hi[3] = {shift, 2 * shift, 3 * shift};
    mesh->setLoadedBox(lo, hi);
    mesh->setOctreeMinCell(minCell);
    mesh->rebuildOctree();
    RenderArrays drawn;
    mesh->buildFlatRenderArrays(drawn);
    mesh->sliceAt(0.5);
    const std::vector<std::pair<double, double>> table = {{0.0, 0.0}, {100.0, 100.0 + shift}};
    const double origin[2] = {0.0, 0.0};
    EXPECT_TRUE(mesh->applyXyCalibration(table, table, origin));
    mesh->setSlabState(1);
    return mesh;
}

} // namespace

// swapMeshWith exchanges every state unit and the copies take theirs whole;
// a field that an exchange or a copy missed would leave one side's value or
// storage behind.
TEST(StlObject, exchangeMovesEveryUnitAndTheCopyTakesTheMeshState) {
    auto a = meshWithEveryUnit(cube(10.0), 2.0, 0.25);
    auto b = meshWithEveryUnit(concatenated(icosphere(6.0, 2), cube(2.0, {20, 0, 0})), 0.5, 0.5);
    a->setName("a");
    a->setId(1);
    b->setName("b");
    b->setId(2);
    b->setVertexRenderStale(false);
    const UnitState before[2] = {unitState(*a), unitState(*b)};
    ASSERT_NE(before[0].meshValues, before[1].meshValues);
    ASSERT_NE(before[0].drawnValues, before[1].drawnValues);
    for (std::size_t i = 0; i < before[0].storage.size(); ++i)
        EXPECT_NE(before[0].storage[i], before[1].storage[i]) << "storage " << i;

    a->swapMeshWith(*b);
    EXPECT_EQ(unitState(*a), before[1]);
    EXPECT_EQ(unitState(*b), before[0]);
    EXPECT_EQ(a->getName(), "a");
    EXPECT_EQ(b->id(), 2);
    for (const StlObject* m : {a.get(), b.get()}) {
        for (const StlShell* s : m->shells())
            EXPECT_EQ(s->owner, m);
        for (const StlTriangle* t : m->triangles())
            if (!t->isDeleted()) {
                EXPECT_EQ(t->shell->owner, m);
            }
    }
    // Each exchanged tree answers with the records it came with.
    for (StlObject* m : {a.get(), b.get()}) {
        const double q[3] = {0.1, 0.2, 50.0}, d[3] = {0.0, 0.0, -1.0};
        double hit[3];
        const StlTriangle* picked = m->pickTriangle(q, d, hit);
        ASSERT_NE(picked, nullptr);
        EXPECT_EQ(picked, m->triangle(static_cast<uint32_t>(picked->id)));
    }
    a->swapMeshWith(*b);
    EXPECT_EQ(unitState(*a), before[0]);

    // A copy has the state of every unit but the slab index and the stale
    // marks (made again when drawn or sliced), in storage of its own.
    StlObject copy(*b);
    b->copyMeshTo(&copy);
    const UnitState copied = unitState(copy);
    // (The copy numbers the original's shells by position, as it does the
    // copy's: the original is looked at after the copy.)
    const UnitState original = unitState(*b);
    EXPECT_EQ(original.storage, before[1].storage);
    StlObject fresh;
    EXPECT_EQ(copied.meshValues, original.meshValues);
    EXPECT_EQ(copied.drawnValues, unitState(fresh).drawnValues);
    for (std::size_t i = 0; i < copied.storage.size(); ++i)
        EXPECT_NE(copied.storage[i], before[1].storage[i]) << "storage " << i;
}

TEST(StlObject, flatRenderArraysDrawEachEdgeOnce) {
    auto mesh = buildMesh(torus(20.0, 5.0, 24, 12));
    const uint32_t t = mesh->triangleCount();
    RenderArrays arrays;
    mesh->buildFlatRenderArrays(arrays);
    EXPECT_EQ(arrays.positions.size(), 9u * t);
    EXPECT_EQ(arrays.normals.size(), 9u * t);
    EXPECT_EQ(arrays.lineIndexCount, 3u * t); // 1.5 T edges, two indices each
    EXPECT_EQ(arrays.triangleCount, t);
    EXPECT_EQ(arrays.vertexCount, 3u * t);
    EXPECT_FALSE(mesh->triangleRenderStale());
    for (const StlEdge* e : mesh->edges())
        EXPECT_EQ(e->marks(), 0u);
    const StlTriangle* t7 = mesh->triangle(7);
    EXPECT_FLOAT_EQ(arrays.positions[9 * 7 + 3 + 1], static_cast<float>(t7->vertices[1]->y()));
    EXPECT_FLOAT_EQ(arrays.normals[9 * 7 + 6 + 2], static_cast<float>(t7->normal.z));

    // Open box: rim edges are not drawn, deleted triangles are not indexed.
    auto open = buildMesh(openBox(10.0));
    open->triangle(0)->setDeleted(true);
    RenderArrays openArrays;
    open->buildFlatRenderArrays(openArrays);
    EXPECT_EQ(openArrays.triangleCount, 9u);
    EXPECT_EQ(openArrays.positions.size(), 90u);
    EXPECT_LT(openArrays.lineIndexCount, 2u * open->edgeCount());
}

TEST(StlObject, smoothRenderArraysHoldOneEntryPerVertex) {
    auto mesh = buildMesh(icosphere(1.0, 2));
    RenderArrays arrays;
    const uint32_t n = mesh->buildSmoothRenderArrays(arrays);
    EXPECT_EQ(n, 162u);
    ASSERT_EQ(arrays.positions.size(), 3u * 162u);
    ASSERT_EQ(arrays.triangleIndices.size(), 3u * mesh->triangleCount());
    for (uint32_t i = 0; i < n; ++i) {
        // On a unit sphere the vertex normal points along the position.
        const float* p = &arrays.positions[3 * i];
        const float* q = &arrays.normals[3 * i];
        EXPECT_NEAR(p[0] * q[0] + p[1] * q[1] + p[2] * q[2], 1.0, 1e-3);
    }
    EXPECT_EQ(arrays.triangleIndices[5], static_cast<uint32_t>(mesh->triangle(1)->vertices[2]->index));
    EXPECT_FALSE(mesh->buildTriangleIndexArray(arrays)); // fresh
    mesh->setModified();
    EXPECT_EQ(mesh->buildSmoothRenderArrays(arrays), n);
    EXPECT_EQ(arrays.triangleIndices.size(), 3u * mesh->triangleCount());
    StlObject::freeRenderArrays(arrays);
    EXPECT_TRUE(arrays.positions.empty());
}

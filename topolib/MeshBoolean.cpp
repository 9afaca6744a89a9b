// The drain-hole boolean: the octree pair walk records the crossing triangle
// pairs, the cutter files and resolves their segments, both meshes replace their
// crossed triangles by pieces that follow the cut, and the pieces of each mesh are
// kept or dropped by whether they lie inside the other mesh.
//
// The cut changes both meshes in place (snapped vertices, new vertices, pieces).
// Since a failure can only be seen once a triangle is being replaced, the model
// and the tool are first copied; a failed run exchanges the copies back in.

#include "topolib/MeshBoolean.h"

#include "topolib/MeshOctree.h"
#include "topolib/ShortPair.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutter.h"
#include "topolib/TriangleIntersection.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace topolib {

// ---- Exchanging the contents of two meshes ------------------------------------------

void StlObject::swapMeshWith(StlObject& other) {
    if (&other == this)
        return;
    {
        std::lock(m_octreeMutex, other.m_octreeMutex);
        std::lock_guard<std::mutex> mine(m_octreeMutex, std::adopt_lock);
        std::lock_guard<std::mutex> theirs(other.m_octreeMutex, std::adopt_lock);
        m_octreeRoot.swap(other.m_octreeRoot);
        std::swap(m_octreeOrigin, other.m_octreeOrigin);
        std::swap(m_diagonal, other.m_diagonal);
        std::swap(m_octreeMinCell, other.m_octreeMinCell);
    }
    std::swap(m_vertexRenderStale, other.m_vertexRenderStale);
    std::swap(m_triangleRenderStale, other.m_triangleRenderStale);
    std::swap(m_center, other.m_center);
    std::swap(m_bboxMin, other.m_bboxMin);
    std::swap(m_bboxMax, other.m_bboxMax);
    std::swap(m_loadedMin, other.m_loadedMin);
    std::swap(m_loadedMax, other.m_loadedMax);
    std::swap(m_facetCount, other.m_facetCount);
    std::swap(m_vertexCount, other.m_vertexCount);
    m_renderPositions.swap(other.m_renderPositions);
    m_renderNormals.swap(other.m_renderNormals);
    m_renderTriangleIndices.swap(other.m_renderTriangleIndices);
    m_renderLineIndices.swap(other.m_renderLineIndices);
    std::swap(m_renderVertexCount, other.m_renderVertexCount);
    std::swap(m_renderTriangleCount, other.m_renderTriangleCount);
    std::swap(m_lineIndexCount, other.m_lineIndexCount);
    std::swap(m_volume, other.m_volume);
    std::swap(m_area, other.m_area);
    std::swap(m_volumeReference, other.m_volumeReference);
    m_slabIndex.swap(other.m_slabIndex);
    std::swap(m_slabState, other.m_slabState);
    m_vertices.swap(other.m_vertices);
    m_calibrationOffsets.swap(other.m_calibrationOffsets);
    m_triangles.swap(other.m_triangles);
    m_edges.swap(other.m_edges);
    m_shells.swap(other.m_shells);
    m_vertexPool.swap(other.m_vertexPool);
    m_trianglePool.swap(other.m_trianglePool);
    m_edgePool.swap(other.m_edgePool);
    m_incidentBlocks.swap(other.m_incidentBlocks);
    for (StlShell* s : m_shells)
        s->owner = this;
    for (StlShell* s : other.m_shells)
        s->owner = &other;
}

namespace {

// A full copy of a mesh that swapMeshWith can bring back: records with the same
// indices and flags, edges with their classes and triangle lists, shells and the
// octree.
std::unique_ptr<StlObject> snapshotOf(StlObject& mesh) {
    auto copy = std::make_unique<StlObject>(mesh);
    mesh.copyMeshTo(copy.get());
    const std::vector<StlVertex*>& vs = mesh.vertices();
    const std::vector<StlVertex*>& cvs = copy->vertices();
    for (std::size_t i = 0; i < vs.size() && i < cvs.size(); ++i)
        cvs[i]->flags = vs[i]->flags;
    const std::vector<StlTriangle*>& ts = mesh.triangles();
    const std::vector<StlTriangle*>& cts = copy->triangles();
    for (std::size_t i = 0; i < ts.size() && i < cts.size(); ++i)
        cts[i]->flags = ts[i]->flags;

    std::deque<StlEdge*> edges;
    for (const StlEdge* e : mesh.edges()) {
        StlEdge* c = copy->newEdge(cvs[static_cast<std::size_t>(e->vertex(0)->index)],
                                   cvs[static_cast<std::size_t>(e->vertex(1)->index)]);
        for (const StlTriangle* t : *e)
            c->addTriangle(cts[static_cast<std::size_t>(t->id)]);
        c->edgeClass = e->edgeClass;
        c->flags = e->flags;
        edges.push_back(c);
    }
    copy->appendEdges(edges);
    const std::vector<StlEdge*>& ces = copy->edges();
    for (std::size_t i = 0; i < ts.size() && i < cts.size(); ++i)
        for (int k = 0; k < 3; ++k)
            cts[i]->edges[k] = ts[i]->edges[k] ? ces[ts[i]->edges[k]->index] : nullptr;
    copy->calibrationOffsets() = mesh.calibrationOffsets();
    copy->setVolumeReference(mesh.volumeReference());
    copy->setFacetCount(mesh.facetCount());
    mesh.copyOctreeTo(copy.get());
    return copy;
}

// The cutter's record of the pairs the walk has sent already.
class CutterRecorder : public MeshOctree::CutterSink {
public:
    bool alreadyRecorded(StlTriangle* s, StlTriangle* t) override {
        if (!s->cut)
            return false;
        for (const StlTriangle* c : s->cut->cutters)
            if (c == t)
                return true;
        return false;
    }
    void record(StlTriangle* s, StlTriangle* t) override { TriangleCutter::recordCutter(s, t); }
};

// Whether a piece lies inside `other`, judged at the centroid of its first live
// triangle by the upward-ray test; a piece without a live triangle is not.
// (A wrong answer cannot pass silently: a piece kept or dropped wrongly leaves
// cut edges with one or three live triangles, and the result check rolls back.)
bool pieceInside(const StlShell* piece, const StlObject& other) {
    const StlTriangle* t = piece->firstLiveTriangle();
    if (!t)
        return false;
    const Vector3D c = (t->vertices[0]->pos + t->vertices[1]->pos + t->vertices[2]->pos) / 3.0;
    return other.isInsideByUpwardRay(c.data());
}

bool boxesOverlap(const StlShell* a, const StlShell* b) {
    for (int k = 0; k < 3; ++k)
        if (a->boxMin[k] > b->boxMax[k] + 1e-6 || b->boxMin[k] > a->boxMax[k] + 1e-6)
            return false;
    return true;
}

// The tool's shells sorted into layers in which no two shells have overlapping
// boxes, each layer as a mesh of its own with edges, shells and octree. Empty
// when one layer takes every shell (the usual case: separate holes).
std::vector<std::unique_ptr<StlObject>> overlapFreeLayers(const StlObject& tool) {
    const std::deque<StlShell*>& shells = tool.shells();
    std::vector<std::size_t> layerOf(shells.size(), 0);
    std::size_t layerCount = shells.empty() ? 0 : 1;
    for (std::size_t i = 0; i < shells.size(); ++i) {
        auto clashes = [&](std::size_t layer) {
            for (std::size_t j = 0; j < i; ++j)
                if (layerOf[j] == layer && boxesOverlap(shells[i], shells[j]))
                    return true;
            return false;
        };
        while (clashes(layerOf[i]))
            ++layerOf[i];
        layerCount = std::max(layerCount, layerOf[i] + 1);
    }
    std::vector<std::unique_ptr<StlObject>> layers;
    if (layerCount < 2)
        return layers;
    for (std::size_t layer = 0; layer < layerCount; ++layer) {
        std::vector<int> slot(tool.vertices().size(), -1);
        std::vector<double> xyz;
        std::vector<int> indices;
        for (std::size_t i = 0; i < shells.size(); ++i) {
            if (layerOf[i] != layer)
                continue;
            for (const std::deque<StlTriangle*>* list : {&shells[i]->primaryTriangles, &shells[i]->reversedTriangles}) {
                for (const StlTriangle* t : *list) {
                    if (t->isDeleted())
                        continue;
                    for (const StlVertex* v : t->vertices) {
                        int& s = slot[static_cast<std::size_t>(v->index)];
                        if (s < 0) {
                            s = static_cast<int>(xyz.size() / 3);
                            xyz.insert(xyz.end(), {v->pos.x, v->pos.y, v->pos.z});
                        }
                        indices.push_back(s);
                    }
                }
            }
        }
        auto mesh = std::make_unique<StlObject>();
        mesh->appendMesh(static_cast<int>(xyz.size() / 3), static_cast<uint32_t>(indices.size() / 3), xyz.data(),
                         indices.data());
        mesh->computeBoundingBox();
        mesh->setBoundingBox(mesh->bboxMin(), mesh->bboxMax());
        mesh->buildEdges(false, 0, 0);
        mesh->findShells(false, 0);
        mesh->rebuildOctree();
        layers.push_back(std::move(mesh));
    }
    return layers;
}

// Scales a mesh by a power of two, which is exact for every coordinate: the
// vertices, box, octree frame, measures, volume reference and shell records.
void scaleByPowerOfTwo(StlObject& mesh, double f) {
    const double s[3] = {f, f, f};
    mesh.scale(s);
    for (StlShell* shell : mesh.shells()) {
        shell->boxMin *= f;
        shell->boxMax *= f;
        shell->area *= f * f;
        shell->volume *= f * f * f;
    }
    Vector3D reference(mesh.volumeReference());
    reference *= f;
    mesh.setVolumeReference(reference.data());
}

// The power of two that brings a model of the given box diagonal to at least
// the tolerance reference size; 1 for models that size or larger.
double normalisingFactor(double diagonal) {
    if (!(diagonal > 0.0) || !std::isfinite(diagonal) || diagonal >= StlObject::kToleranceReferenceSize)
        return 1.0;
    const int k = static_cast<int>(std::ceil(std::log2(StlObject::kToleranceReferenceSize / diagonal)));
    return std::ldexp(1.0, std::min(k, 200));
}

void freeContexts(StlObject& mesh) {
    for (StlTriangle* t : mesh.triangles()) {
        if (t->cut) {
            delete t->cut;
            t->cut = nullptr;
        }
    }
}

} // namespace

std::size_t countUnpairedEdges(const StlObject& mesh) {
    std::size_t n = 0;
    for (const StlEdge* e : mesh.edges()) {
        int live = 0;
        for (const StlTriangle* t : *e)
            if (!t->isDeleted())
                ++live;
        if (live != 0 && live != 2)
            ++n;
    }
    return n;
}

double liveVolume(const StlObject& mesh) {
    double v = 0.0;
    for (const StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted())
            continue;
        const Vector3D& a = t->vertices[0]->pos;
        const Vector3D& b = t->vertices[1]->pos;
        const Vector3D& c = t->vertices[2]->pos;
        v += a.dot(b.cross(c));
    }
    return v / 6.0;
}

bool MeshBoolean::subtract() {
    // The cutter, the retriangulation and the inside tests decide with length
    // tolerances meant for models of at least the reference size. A smaller
    // model is cut at a size scaled up by a power of two (exact both ways), so
    // that it meets the same decisions as the same model at that size.
    const double f = target && tool ? normalisingFactor(target->diagonal()) : 1.0;
    if (f == 1.0)
        return subtractHere();
    scaleByPowerOfTwo(*target, f);
    scaleByPowerOfTwo(*tool, f);
    const bool ok = subtractHere();
    scaleByPowerOfTwo(*target, 1.0 / f);
    scaleByPowerOfTwo(*tool, 1.0 / f);
    return ok;
}

bool MeshBoolean::subtractHere() {
    m_failure = Failure::None;
    m_cutTarget = m_cutTool = m_keptTool = 0;
    if (!target || !tool || !target->octree() || !tool->octree()) {
        m_failure = Failure::NoOctree;
        return false;
    }
    const std::size_t openBefore = countUnpairedEdges(*target);
    std::unique_ptr<StlObject> targetCopy = snapshotOf(*target);
    std::unique_ptr<StlObject> toolCopy = snapshotOf(*tool);

    // Tools that overlap each other are cut one layer after the other: cut
    // together, neither wall would be cut by the other, and the part of one wall
    // that runs inside the other hole would stay as a wall across the channel.
    std::vector<std::unique_ptr<StlObject>> layers = overlapFreeLayers(*tool);
    bool ok = true;
    if (layers.empty()) {
        ok = run(*tool);
    } else {
        for (std::size_t i = 0; i < layers.size() && ok; ++i) {
            ok = run(*layers[i]);
            freeContexts(*layers[i]);
        }
    }
    if (ok && countUnpairedEdges(*target) > openBefore) {
        m_failure = Failure::OpenResult;
        ok = false;
    }
    freeContexts(*target);
    freeContexts(*tool);
    if (!ok) {
        target->swapMeshWith(*targetCopy);
        tool->swapMeshWith(*toolCopy);
        return false;
    }
    return true;
}

bool MeshBoolean::run(StlObject& B) {
    StlObject& A = *target;

    // 1. Pairs of crossing triangles.
    std::deque<SnapRecord> snaps;
    std::vector<StlTriangle*> coplanar;
    bool found = false;
    CutterRecorder recorder;
    MeshOctree::collectIntersectionSegments(*A.octree(), A.octreeOrigin(), A.octreeEdge(), *B.octree(),
                                            B.octreeOrigin(), B.octreeEdge(), &snaps, &coplanar, &found, recorder);
    for (StlTriangle* t : coplanar)
        t->setWalkMark(0);
    if (!found) {
        A.clearVertexMarks();
        B.clearVertexMarks();
        return true;
    }

    // 2. Segments of every pair, filed with both triangles.
    std::vector<ShortPair> shortPairs;
    std::vector<StlTriangle*> cutA, cutB;
    const std::size_t countA = A.triangles().size();
    for (std::size_t i = 0; i < countA; ++i) {
        StlTriangle* t = A.triangles()[i];
        if (t->isDeleted() || !t->cut || t->cut->cutters.empty())
            continue;
        if (TriangleCutter::intersectTrianglePairs(t->cut, shortPairs, &cutB) == 1)
            cutA.push_back(t);
    }
    for (StlTriangle* t : B.triangles())
        t->setWalkMark(0);
    m_cutTarget += cutA.size();
    m_cutTool += cutB.size();

    if ((cutA.empty() || cutB.empty()) && coplanar.empty()) {
        A.clearVertexMarks();
        B.clearVertexMarks();
        // Nothing was cut; the surfaces only touch. A snapped vertex has moved by
        // less than the tolerance, which the caller cannot tell from before.
        return true;
    }

    // 3. Resolve the crossings of every cut triangle, then replace them.
    TriangleCutter::setCrossingStepBudget(m_crossingBudget);
    for (std::vector<StlTriangle*>* list : {&cutA, &cutB}) {
        for (StlTriangle* t : *list) {
            if (t->isDeleted() || !t->cut)
                continue;
            if (TriangleCutter::splitCrossingSegments(t->cut, m_crossingBudget) != 0) {
                TriangleCutter::setCrossingStepBudget(0);
                m_failure = Failure::UnresolvedCrossing;
                return false;
            }
        }
    }
    TriangleCutter::resetFailureCount();
    std::vector<StlTriangle*> addedA, addedB;
    std::vector<StlShell*> piecesA, piecesB;
    A.deleteTriangles(cutA, addedA, piecesA, &TriangleCutter::retriangulateForMesh);
    B.deleteTriangles(cutB, addedB, piecesB, &TriangleCutter::retriangulateForMesh);
    TriangleCutter::setCrossingStepBudget(0);
    auto freePieces = [&]() {
        for (StlShell* s : piecesA)
            delete s;
        for (StlShell* s : piecesB)
            delete s;
    };
    if (TriangleCutter::failureCount() != 0) {
        freePieces();
        m_failure = Failure::Retriangulation;
        return false;
    }
    for (StlTriangle* t : coplanar)
        t->setDeleted(false);

    // 4. Tool pieces inside the model are kept; model pieces inside the tool go.
    std::vector<StlTriangle*> keep;
    for (StlShell* piece : piecesB) {
        if (pieceInside(piece, A))
            piece->appendTrianglesTo(keep);
    }
    std::vector<StlShell*> dropA;
    for (StlShell* piece : piecesA) {
        if (pieceInside(piece, B))
            dropA.push_back(piece);
    }
    for (StlShell* piece : dropA)
        piece->markTrianglesDeleted();

    // The walls of the hole face into it: addTrianglesWithTopology reverses them.
    m_keptTool += keep.size();
    A.addTrianglesWithTopology(keep);
    freePieces();
    A.clearVertexMarks();
    B.clearVertexMarks();
    A.findShells(false, 0);
    A.setModified();
    return true;
}

} // namespace topolib

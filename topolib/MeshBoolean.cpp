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
#include <set>
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

// Inside test by the parity of the crossings of a ray. Rays that pass within a
// small margin of an edge or vertex, or graze a triangle, are ambiguous and give
// way to the next direction. Returns 1 inside, 0 outside, -1 when every direction
// was ambiguous (or p lies on the surface).
int insideByRay(const StlObject& mesh, const Vector3D& p) {
    const MeshOctree* tree = mesh.octree();
    if (!tree)
        return -1;
    static const double kDirections[][3] = {
        {0.2140, 0.3316, 0.9188},  {-0.5411, 0.1203, 0.8323}, {0.7071, -0.6124, 0.3536},
        {-0.1310, -0.8722, 0.4713}, {0.9013, 0.3187, -0.2934}, {0.0432, 0.2817, -0.9585},
        {-0.6633, -0.5011, -0.5558}, {0.4012, -0.9115, 0.0911},
    };
    std::set<StlTriangle*> hits;
    for (const auto& dir : kDirections) {
        Vector3D d(dir);
        d.unitize();
        hits.clear();
        tree->collectRayHits(mesh.octreeOrigin(), mesh.octreeEdge(), p.data(), d.data(), &hits);
        bool ambiguous = false;
        int count = 0;
        for (const StlTriangle* t : hits) {
            const Vector3D& a = t->vertices[0]->pos;
            const Vector3D e1 = t->vertices[1]->pos - a;
            const Vector3D e2 = t->vertices[2]->pos - a;
            const Vector3D h = d.cross(e2);
            const double det = e1.dot(h);
            const double scale = std::sqrt(e1.cross(e2).lengthSquared());
            if (std::fabs(det) < 1e-9 * scale) {
                ambiguous = true;
                break;
            }
            const Vector3D s = p - a;
            const double u = s.dot(h) / det;
            const Vector3D q = s.cross(e1);
            const double v = d.dot(q) / det;
            const double w = 1.0 - u - v;
            const double along = e2.dot(q) / det;
            const double margin = 1e-7;
            if (along < -1e-7)
                continue;
            if (along < 1e-7 || u < margin || v < margin || w < margin) {
                if (u > -margin && v > -margin && w > -margin) {
                    ambiguous = true;
                    break;
                }
                continue;
            }
            ++count;
        }
        if (!ambiguous)
            return count % 2;
    }
    return -1;
}

// Whether a piece lies inside `other`: its triangles are tried largest first until
// one centroid gives an unambiguous answer. -1 when none does.
int pieceInside(const StlShell* piece, const StlObject& other) {
    std::vector<std::pair<double, const StlTriangle*>> order;
    for (const std::deque<StlTriangle*>* list : {&piece->primaryTriangles, &piece->reversedTriangles})
        for (const StlTriangle* t : *list)
            if (!t->isDeleted())
                order.emplace_back(-triangleArea(t), t);
    if (order.empty())
        return -2; // no live triangle: nothing to decide
    std::sort(order.begin(), order.end(),
              [](const auto& x, const auto& y) { return x.first < y.first || (x.first == y.first && x.second->id < y.second->id); });
    const std::size_t tries = order.size() < 16 ? order.size() : 16;
    for (std::size_t i = 0; i < tries; ++i) {
        const StlTriangle* t = order[i].second;
        const Vector3D c = (t->vertices[0]->pos + t->vertices[1]->pos + t->vertices[2]->pos) / 3.0;
        const int r = insideByRay(other, c);
        if (r >= 0)
            return r;
    }
    return -1;
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
    m_failure = Failure::None;
    m_cutTarget = m_cutTool = m_keptTool = 0;
    if (!target || !tool || !target->octree() || !tool->octree()) {
        m_failure = Failure::NoOctree;
        return false;
    }
    const std::size_t openBefore = countUnpairedEdges(*target);
    std::unique_ptr<StlObject> targetCopy = snapshotOf(*target);
    std::unique_ptr<StlObject> toolCopy = snapshotOf(*tool);

    bool ok = run();
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

bool MeshBoolean::run() {
    StlObject& A = *target;
    StlObject& B = *tool;

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
    m_cutTarget = cutA.size();
    m_cutTool = cutB.size();

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
        const int inside = pieceInside(piece, A);
        if (inside == -2)
            continue;
        if (inside < 0) {
            freePieces();
            m_failure = Failure::Unclassified;
            return false;
        }
        if (inside == 1)
            piece->appendTrianglesTo(keep);
    }
    std::vector<StlShell*> dropA;
    for (StlShell* piece : piecesA) {
        const int inside = pieceInside(piece, B);
        if (inside == -2)
            continue;
        if (inside < 0) {
            freePieces();
            m_failure = Failure::Unclassified;
            return false;
        }
        if (inside == 1)
            dropA.push_back(piece);
    }
    for (StlShell* piece : dropA)
        piece->markTrianglesDeleted();

    // The walls of the hole face into it: addTrianglesWithTopology reverses them.
    m_keptTool = keep.size();
    A.addTrianglesWithTopology(keep);
    freePieces();
    A.clearVertexMarks();
    B.clearVertexMarks();
    A.findShells(false, 0);
    A.setModified();
    return true;
}

} // namespace topolib

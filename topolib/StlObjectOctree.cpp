// The octree entry points of the mesh object: building, picking and filing
// appended records (copying is StlObjectCopy.cpp). The tree itself is MeshOctree.
//
// Threads: a build runs on a worker while the GUI thread may pick. A build works
// on a tree of its own (the previous tree, if any, is taken out first) and
// publishes it under the octree mutex when complete; pickTriangle try-locks the
// mutex and answers nothing while a build runs, so no reader ever sees a tree
// that is being changed. A large mesh's tree is built on several threads
// (MeshOctree::build), which have all ended before it is published.

#include "app/Platform.h"
#include "topolib/MeshOctree.h"
#include "topolib/OctreeBeside.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <system_error>
#include <thread>

namespace topolib {

namespace {

// Smallest cell edge for a mesh of n triangles and box diagonal d: d/15 for small
// meshes, then d / trunc(sqrt(n / 60)) so that leaves keep a bounded number of
// triangles as the mesh grows. A surface crosses some k * k cells of edge d / k;
// below kTrianglesPerCell * 15 * 15 triangles the cells would mostly be empty
// nodes (a 12-triangle cube made 705 nodes, 94 KB), so k shrinks with sqrt(n)
// until the root is the only cell.
double minimumCellFor(double d, std::uint32_t n) {
    constexpr std::uint32_t kTrianglesPerCell = 8;
    if (n < kTrianglesPerCell * 15 * 15)
        return d / std::max(1.0, std::floor(std::sqrt(double(n) / kTrianglesPerCell)));
    if (n <= 10000)
        return d / 15.0;
    const int k = static_cast<int>(std::sqrt(static_cast<float>(n / 60)));
    return d / k;
}

// Clears the building flag on every way out.
struct BuildingFlag {
    std::atomic<bool>& flag;
    explicit BuildingFlag(std::atomic<bool>& f) : flag(f) { flag.store(true); }
    ~BuildingFlag() { flag.store(false); }
};

} // namespace

void StlObject::releaseOctree() {
    std::shared_ptr<MeshOctree> old;
    {
        std::lock_guard<std::mutex> lock(m_octreeMutex);
        old.swap(m_octree.root);
    }
    // The tree is freed outside the lock.
}

// The root cube of a box: its diagonal d as the edge, centred on the box. False
// when the box is too small for a tree.
static bool rootCube(const Vector3D& bmin, const Vector3D& bmax, double& d, Vector3D& c, Vector3D& o) {
    d = std::sqrt((bmax - bmin).lengthSquared());
    if (d < 1e-6)
        return false;
    c = (bmin + bmax) * 0.5;
    o = c - d / 2.0;
    return true;
}

// Recomputes the root cube from the bounding box and takes the current tree out
// for a build (a fresh one, with a new minimum cell, when there is none). Returns
// null when the box is too small for a tree.
static std::shared_ptr<MeshOctree> takeTreeForBuild(std::shared_ptr<MeshOctree>& published, std::mutex& mutex,
                                                    const Vector3D& bmin, const Vector3D& bmax, Vector3D& origin,
                                                    double& diagonal, Vector3D& centre, double& minCell,
                                                    std::uint32_t triangleCount, bool& ok) {
    ok = true;
    double d;
    Vector3D c, o;
    if (!rootCube(bmin, bmax, d, c, o))
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    // Readers take these under the mutex too; write only real changes.
    if (diagonal != d)
        diagonal = d;
    if (centre.x != c.x || centre.y != c.y || centre.z != c.z)
        centre = c;
    if (origin.x != o.x || origin.y != o.y || origin.z != o.z)
        origin = o;
    std::shared_ptr<MeshOctree> tree;
    tree.swap(published);
    if (!tree) {
        try {
            tree = std::make_shared<MeshOctree>();
        } catch (const std::bad_alloc&) {
            ok = false;
            return nullptr;
        }
        minCell = minimumCellFor(d, triangleCount);
    }
    return tree;
}

int StlObject::buildVertexOctree(bool freeFirst) {
    if (freeFirst)
        releaseOctree();
    return fillOctree(true, false);
}

int StlObject::buildTriangleOctree() { return fillOctree(false, true); }

unsigned octreeBuildThreads(std::size_t n) {
    if (n < 100000)
        return 1;
    return std::min(platform::passProcessorCount(), 8u);
}

int StlObject::buildOctree() { return fillOctree(true, true); }

int StlObject::fillOctree(bool withVertices, bool withTriangles) {
    BuildingFlag building(m_octreeBuilding);
    bool ok = true;
    std::shared_ptr<MeshOctree> tree = takeTreeForBuild(
        m_octree.root, m_octreeMutex, m_placement.bboxMin, m_placement.bboxMax, m_octree.origin,
        m_octree.diagonal, m_placement.center, m_octree.minCell, triangleCount(), ok);
    if (!ok)
        return -1;
    if (!tree)
        return 0;
    if (withVertices)
        m_measures.vertexCount = static_cast<uint32_t>(m_records.vertices.size());
    const double origin[3] = {m_octree.origin.x, m_octree.origin.y, m_octree.origin.z};
    // A tree taken over (one existed) is filled by insertion. A failed allocation
    // leaves the object without a tree rather than with one that silently misses
    // records.
    static const RefArray<StlVertex> noVertices;
    static const RefArray<StlTriangle> noTriangles;
    if (!tree->build(m_octree.minCell, origin, m_octree.diagonal,
                     withVertices ? m_records.vertices : noVertices,
                     withTriangles ? m_records.triangles : noTriangles,
                     withTriangles ? octreeBuildThreads(m_records.triangles.size()) : 1))
        return -1;
    std::lock_guard<std::mutex> lock(m_octreeMutex);
    m_octree.root = std::move(tree);
    return 0;
}

OctreeBeside::OctreeBeside(const StlObject& mesh, const ProgressMonitor* stop) {
    Vector3D centre;
    if (!rootCube(mesh.m_placement.bboxMin, mesh.m_placement.bboxMax, diagonal_, centre, origin_))
        return;
    const RefArray<StlTriangle>& all = mesh.m_records.triangles;
    const std::size_t n = all.size();
    threads_ = octreeBuildThreads(n);
    triangles_ = n;
    minCell_ = minimumCellFor(diagonal_, static_cast<std::uint32_t>(n));
    try {
        tree_ = std::make_shared<MeshOctree>();
    } catch (const std::bad_alloc&) {
        return;
    }
    // The tree takes the triangles by their shape, not by their flags, which
    // the edge and shell steps write meanwhile.
    const RefArray<StlVertex>* vertices = &mesh.m_records.vertices;
    if (n < kBesideFrom) {
        // A small mesh's tree takes less time than starting a thread for it.
        const double o[3] = {origin_.x, origin_.y, origin_.z};
        built_ = tree_->build(minCell_, o, diagonal_, *vertices, all, threads_, TriangleFiling::ByShape, stop);
        return;
    }
    try {
        thread_ = std::thread([this, vertices, &all, stop] {
            const double o[3] = {origin_.x, origin_.y, origin_.z};
            built_ = tree_->build(minCell_, o, diagonal_, *vertices, all, threads_, TriangleFiling::ByShape, stop);
        });
    } catch (const std::system_error&) {
        tree_.reset();
    }
}

OctreeBeside::~OctreeBeside() { join(); }

void OctreeBeside::join() {
    if (thread_.joinable())
        thread_.join();
}

bool OctreeBeside::publish(StlObject& mesh) {
    join();
    if (!tree_ || !built_)
        return false;
    // The tree holds the triangles the shape test took (corners and normals
    // are as they were); they must be exactly the live ones now.
    const RefArray<StlTriangle>& all = mesh.m_records.triangles;
    const std::size_t n = all.size();
    if (n != triangles_)
        return false;
    std::atomic<bool> same{true};
    forRanges(n, threads_, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end && same.load(std::memory_order_relaxed); ++i)
            if (all[i]->isDeleted() == MeshOctree::filedByShape(all[i]))
                same.store(false);
    });
    if (!same.load())
        return false;
    Vector3D centre;
    double d;
    Vector3D o;
    if (!rootCube(mesh.m_placement.bboxMin, mesh.m_placement.bboxMax, d, centre, o) || d != diagonal_ ||
        o.x != origin_.x || o.y != origin_.y || o.z != origin_.z)
        return false;
    mesh.m_measures.vertexCount = static_cast<uint32_t>(mesh.m_records.vertices.size());
    std::lock_guard<std::mutex> lock(mesh.m_octreeMutex);
    mesh.m_placement.center = centre;
    mesh.m_octree.origin = origin_;
    mesh.m_octree.diagonal = diagonal_;
    mesh.m_octree.minCell = minCell_;
    mesh.m_octree.root = std::move(tree_);
    return true;
}

int StlObject::rebuildOctree() {
    releaseOctree();
    return buildOctree();
}

StlTriangle* StlObject::pickTriangle(const double origin[3], const double dir[3], double hit[3]) {
    std::unique_lock<std::mutex> lock(m_octreeMutex, std::try_to_lock);
    if (!lock.owns_lock() || m_octreeBuilding.load() || !m_octree.root)
        return nullptr;
    // Starting far behind the origin makes the first hit win.
    for (int k = 0; k < 3; ++k)
        hit[k] = origin[k] - dir[k] * 999999999.0;
    StlTriangle* picked = nullptr;
    m_octree.root->pickTriangleOnLine(m_octree.origin.data(), m_octree.diagonal, origin, dir, hit, &picked);
    return picked;
}

StlVertex* StlObject::findOrAddVertex(const double p[3]) {
    {
        std::lock_guard<std::mutex> lock(m_octreeMutex);
        if (m_octree.root) {
            bool found = false;
            StlVertex* v = m_octree.root->findOrCreateVertex(
                m_octree.minCell, m_octree.origin.data(), m_octree.diagonal, p, &found,
                [this](const double q[3]) { return newVertex(q); });
            if (v && found)
                return v;
            if (v) {
                appendVertex(v);
                return v;
            }
        }
    }
    StlVertex* v = newVertex(p);
    appendVertex(v);
    return v;
}

static int insertCode(MeshOctree::InsertResult r) {
    switch (r) {
    case MeshOctree::InsertResult::Stored:
        return 1;
    case MeshOctree::InsertResult::Outside:
        return -1;
    case MeshOctree::InsertResult::OutOfMemory:
        break;
    }
    return -2;
}

int StlObject::insertIntoOctree(StlVertex* v) {
    std::lock_guard<std::mutex> lock(m_octreeMutex);
    if (!m_octree.root)
        return 0;
    return insertCode(
        m_octree.root->insertVertex(m_octree.minCell, m_octree.origin.data(), m_octree.diagonal, v));
}

int StlObject::insertIntoOctree(StlTriangle* t) {
    std::lock_guard<std::mutex> lock(m_octreeMutex);
    if (!m_octree.root)
        return 0;
    return insertCode(
        m_octree.root->insertTriangle(m_octree.minCell, m_octree.origin.data(), m_octree.diagonal, t));
}

} // namespace topolib

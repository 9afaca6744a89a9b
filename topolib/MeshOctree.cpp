#include "topolib/MeshOctree.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/OctreeKernels.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace topolib {

// The triangle as the insertion descends: its corners, normal and box are read
// once instead of once per child cube.
struct MeshOctree::TriangleBox {
    StlTriangle* t;
    const double* a;
    const double* b;
    const double* c;
    const double* n;
    double mn[3];
    double mx[3];

    explicit TriangleBox(StlTriangle* tri)
        : t(tri), a(tri->vertices[0]->pos.data()), b(tri->vertices[1]->pos.data()), c(tri->vertices[2]->pos.data()),
          n(tri->normal.data()) {
        for (int k = 0; k < 3; ++k) {
            mn[k] = std::min(a[k], std::min(b[k], c[k]));
            mx[k] = std::max(a[k], std::max(b[k], c[k]));
        }
    }
    bool overlaps(const double origin[3], double edge) const {
        // The box rejection of triangleOverlapsCube, inline: most child cubes of a
        // descent are rejected here without the call.
        const double eps = edge * 0.0001;
        const double E = edge + 2.0 * eps;
        bool inside = true;
        for (int k = 0; k < 3; ++k) {
            const double lo = origin[k] - eps;
            if (mn[k] > lo + E || lo > mx[k])
                return false;
            inside = inside && mn[k] >= lo && mx[k] <= lo + E;
        }
        // A triangle wholly inside the box meets it; the full test would agree.
        if (inside)
            return true;
        return triangleOverlapsCube(a, b, c, n, mn, mx, origin, edge);
    }
};

namespace {

// The point lies in the closed cube widened by 1e-6.
inline bool cubeHolds(const double origin[3], double edge, const double p[3]) {
    return p[0] >= origin[0] - 1e-6 && classifyPointInCell(p, origin, &edge) != -1;
}

// Minimum corner of child k = (ix * 2 + iy) * 2 + iz.
inline void childOrigin(const double origin[3], double edge, int k, double out[3]) {
    const double half = edge * 0.5;
    out[0] = origin[0] + ((k >> 2) & 1) * half;
    out[1] = origin[1] + ((k >> 1) & 1) * half;
    out[2] = origin[2] + (k & 1) * half;
}

} // namespace

MeshOctree::MeshOctree(std::size_t memoryBudget) : memoryBudget_(memoryBudget) {}

bool MeshOctree::budgetAllows(std::size_t extraBytes) const {
    const std::size_t used = nodes_.size() * sizeof(Node) + triangleChunks_.size() * sizeof(TriangleChunk) +
                             vertexChunks_.size() * sizeof(VertexChunk);
    return used + extraBytes <= memoryBudget_;
}

std::size_t MeshOctree::memoryBytes() const {
    return nodes_.capacity() * sizeof(Node) + triangleChunks_.capacity() * sizeof(TriangleChunk) +
           vertexChunks_.capacity() * sizeof(VertexChunk) +
           (freeTriangleChunks_.capacity() + freeVertexChunks_.capacity()) * sizeof(std::uint32_t);
}

std::size_t MeshOctree::leafCount() const {
    return static_cast<std::size_t>(
        std::count_if(nodes_.begin(), nodes_.end(), [](const Node& n) { return n.isLeaf(); }));
}

// ---- pooled lists ---------------------------------------------------------------------

template <typename Pool>
bool MeshOctree::listAppend(Pool& pool, std::vector<std::uint32_t>& freeChunks, List& list,
                            decltype(pool[0].items[0]) item) {
    using ChunkT = typename Pool::value_type;
    constexpr std::uint32_t N = sizeof(ChunkT::items) / sizeof(ChunkT::items[0]);
    const std::uint32_t slot = list.count % N;
    if (list.tail == kNone || slot == 0) {
        std::uint32_t fresh;
        if (!freeChunks.empty()) {
            fresh = freeChunks.back();
            freeChunks.pop_back();
        } else {
            if (!budgetAllows(sizeof(ChunkT)) || pool.size() >= kNone - 1)
                return false;
            try {
                pool.emplace_back();
            } catch (const std::bad_alloc&) {
                return false;
            }
            fresh = static_cast<std::uint32_t>(pool.size() - 1);
        }
        pool[fresh].next = kNone;
        if (list.tail == kNone)
            list.head = fresh;
        else
            pool[list.tail].next = fresh;
        list.tail = fresh;
    }
    pool[list.tail].items[slot] = item;
    ++list.count;
    return true;
}

template <typename Pool>
void MeshOctree::listFree(Pool& pool, std::vector<std::uint32_t>& freeChunks, List& list) {
    for (std::uint32_t c = list.head; c != kNone; c = pool[c].next) {
        // The free list never needs more room than the pool has chunks; a failure
        // to grow it only leaks the chunk until the tree goes.
        try {
            freeChunks.push_back(c);
        } catch (const std::bad_alloc&) {
        }
    }
    list = List();
}

bool MeshOctree::addVertex(std::uint32_t node, StlVertex* v) {
    List list = nodes_[node].vertices;
    if (!listAppend(vertexChunks_, freeVertexChunks_, list, v))
        return false;
    nodes_[node].vertices = list;
    return true;
}

bool MeshOctree::addTriangle(std::uint32_t node, StlTriangle* t) {
    List list = nodes_[node].triangles;
    if (!listAppend(triangleChunks_, freeTriangleChunks_, list, t))
        return false;
    nodes_[node].triangles = list;
    return true;
}

// ---- nodes ------------------------------------------------------------------------------

bool MeshOctree::ensureRoot() {
    if (!nodes_.empty())
        return true;
    if (!budgetAllows(sizeof(Node)))
        return false;
    try {
        nodes_.emplace_back();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::uint32_t MeshOctree::makeChild(std::uint32_t node, int k, int level) {
    if (!budgetAllows(sizeof(Node)) || nodes_.size() >= kNone - 1)
        return kNone;
    try {
        nodes_.emplace_back();
    } catch (const std::bad_alloc&) {
        return kNone;
    }
    const auto child = static_cast<std::uint32_t>(nodes_.size() - 1);
    nodes_[child].setLevel(level);
    nodes_[node].children[k] = child;
    nodes_[node].flags &= std::uint16_t(~kLeafBit);
    return child;
}

// ---- insertion ----------------------------------------------------------------------------

namespace {

// The descent halves the cube until it is smaller than minCell: a cube, cell
// size or point that is not finite would never end it.
bool finiteCube(double minCell, const double origin[3], double edge) {
    return std::isfinite(minCell) && std::isfinite(edge) && isFiniteVector(origin);
}

} // namespace

MeshOctree::InsertResult MeshOctree::insertVertex(double minCell, const double origin[3], double edge, StlVertex* v) {
    if (!finiteCube(minCell, origin, edge) || !isFiniteVector(v->pos.data()))
        return InsertResult::Outside;
    if (!ensureRoot())
        return InsertResult::OutOfMemory;
    return insertVertexAt(0, minCell, origin, edge, v);
}

MeshOctree::InsertResult MeshOctree::insertVertexAt(std::uint32_t node, double minCell, const double origin[3],
                                                    double edge, StlVertex* v) {
    const double* p = v->pos.data();
    double cur[3] = {origin[0], origin[1], origin[2]};
    for (;;) {
        if (nodes_[node].isLeaf() && minCell > edge)
            return addVertex(node, v) ? InsertResult::Stored : InsertResult::OutOfMemory;
        // The first child cube in child order that holds the point takes it. The
        // order runs ix, iy, iz, so that is the lower half on each axis that holds
        // it (closed cubes widened by 1e-6).
        const double half = edge * 0.5;
        int k = 0;
        bool held = true;
        double o[3];
        for (int axis = 0; axis < 3; ++axis) {
            const double lower = cur[axis];
            const double upper = cur[axis] + half;
            int i;
            if (p[axis] >= lower - 1e-6 && !(p[axis] > lower + half + 1e-6))
                i = 0;
            else if (p[axis] >= upper - 1e-6 && !(p[axis] > upper + half + 1e-6))
                i = 1;
            else {
                held = false;
                break;
            }
            k = k * 2 + i;
            o[axis] = i ? upper : lower;
        }
        if (!held) {
            nodes_[node].flags &= std::uint16_t(~kLeafBit);
            return InsertResult::Outside;
        }
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, nodes_[node].level() + 1);
            if (child == kNone)
                return InsertResult::OutOfMemory;
        }
        node = child;
        std::copy(o, o + 3, cur);
        edge *= 0.5;
    }
}

MeshOctree::InsertResult MeshOctree::insertTriangle(double minCell, const double origin[3], double edge,
                                                    StlTriangle* t) {
    if (!finiteCube(minCell, origin, edge))
        return InsertResult::Outside;
    for (const StlVertex* v : t->vertices)
        if (!isFiniteVector(v->pos.data()))
            return InsertResult::Outside;
    if (!ensureRoot())
        return InsertResult::OutOfMemory;
    const TriangleBox box(t);
    return insertTriangleAt(0, minCell, origin, edge, box);
}

MeshOctree::InsertResult MeshOctree::insertTriangleAt(std::uint32_t node, double minCell, const double origin[3],
                                                      double edge, const TriangleBox& t) {
    if (minCell > edge && nodes_[node].isLeaf()) {
        if (!addTriangle(node, t.t))
            return InsertResult::OutOfMemory;
        if (nodes_[node].triangles.count > static_cast<std::uint32_t>(kSplitThreshold) &&
            nodes_[node].level() < kMaxSplitLevel)
            splitNode(node, origin, edge); // a failed split keeps the leaf whole
        return InsertResult::Stored;
    }
    bool stored = false;
    bool failed = false;
    const double half = edge * 0.5;
    // Which halves of each axis the triangle's box reaches (the box test of the
    // widened child cubes), so that only those children are looked at.
    const double eps = half * 0.0001;
    const double E = half + 2.0 * eps;
    bool reach[3][2];
    for (int axis = 0; axis < 3; ++axis) {
        for (int i = 0; i < 2; ++i) {
            const double lo = origin[axis] + i * half - eps;
            reach[axis][i] = !(t.mn[axis] > lo + E || lo > t.mx[axis]);
        }
    }
    for (int k = 0; k < 8; ++k) {
        if (!reach[0][(k >> 2) & 1] || !reach[1][(k >> 1) & 1] || !reach[2][k & 1])
            continue;
        double o[3];
        childOrigin(origin, edge, k, o);
        if (!t.overlaps(o, half))
            continue;
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, 0);
            if (child == kNone) {
                failed = true;
                continue;
            }
        }
        switch (insertTriangleAt(child, minCell, o, half, t)) {
        case InsertResult::Stored:
            stored = true;
            break;
        case InsertResult::OutOfMemory:
            failed = true;
            break;
        case InsertResult::Outside:
            break;
        }
    }
    nodes_[node].flags &= std::uint16_t(~kLeafBit);
    if (failed)
        return InsertResult::OutOfMemory;
    return stored ? InsertResult::Stored : InsertResult::Outside;
}

bool MeshOctree::splitNode(std::uint32_t node, const double origin[3], double edge) {
    // A leaf has no children, so every node made here is new and sits at the end
    // of the node vector: a failure can undo the split completely.
    const std::size_t firstNew = nodes_.size();
    const int level = nodes_[node].level() + 1;
    const List tris = nodes_[node].triangles;
    const List verts = nodes_[node].vertices;
    bool ok = true;
    for (int k = 0; k < 8 && ok; ++k) {
        double o[3];
        childOrigin(origin, edge, k, o);
        const double half = edge * 0.5;
        listForEach(triangleChunks_, tris, [&](StlTriangle* t) {
            if (!TriangleBox(t).overlaps(o, half))
                return false;
            std::uint32_t child = nodes_[node].children[k];
            if (child == kNone)
                child = makeChild(node, k, level);
            if (child == kNone || !addTriangle(child, t)) {
                ok = false;
                return true;
            }
            return false;
        });
        if (!ok)
            break;
        listForEach(vertexChunks_, verts, [&](StlVertex* v) {
            if (!cubeHolds(o, half, v->pos.data()))
                return false;
            std::uint32_t child = nodes_[node].children[k];
            if (child == kNone)
                child = makeChild(node, k, level);
            if (child == kNone || !addVertex(child, v)) {
                ok = false;
                return true;
            }
            return false;
        });
    }
    if (!ok) {
        for (std::size_t i = firstNew; i < nodes_.size(); ++i) {
            listFree(triangleChunks_, freeTriangleChunks_, nodes_[i].triangles);
            listFree(vertexChunks_, freeVertexChunks_, nodes_[i].vertices);
        }
        nodes_.resize(firstNew);
        for (std::uint32_t& c : nodes_[node].children)
            c = kNone;
        nodes_[node].flags |= kLeafBit;
        return false;
    }
    listFree(triangleChunks_, freeTriangleChunks_, nodes_[node].triangles);
    listFree(vertexChunks_, freeVertexChunks_, nodes_[node].vertices);
    nodes_[node].flags &= std::uint16_t(~kLeafBit);
    return true;
}

StlVertex* MeshOctree::findOrCreateVertex(double minCell, const double origin[3], double edge, const double p[3],
                                          bool* found, const std::function<StlVertex*(const double p[3])>& makeVertex,
                                          bool* outOfMemory) {
    if (outOfMemory)
        *outOfMemory = false;
    if (!ensureRoot()) {
        if (outOfMemory)
            *outOfMemory = true;
        return nullptr;
    }
    return findOrCreateAt(0, minCell, origin, edge, p, found, makeVertex, outOfMemory);
}

StlVertex* MeshOctree::findOrCreateAt(std::uint32_t node, double minCell, const double origin[3], double edge,
                                      const double p[3], bool* found,
                                      const std::function<StlVertex*(const double p[3])>& makeVertex,
                                      bool* outOfMemory) {
    if (nodes_[node].isLeaf() && minCell > edge) {
        const Vector3D q(p);
        StlVertex* hit = nullptr;
        listForEach(vertexChunks_, nodes_[node].vertices, [&](StlVertex* v) {
            if (v->pos == q) {
                hit = v;
                return true;
            }
            return false;
        });
        if (hit) {
            *found = true;
            return hit;
        }
        *found = false;
        StlVertex* v = makeVertex(p);
        if (v && !addVertex(node, v) && outOfMemory)
            *outOfMemory = true;
        return v;
    }
    const double half = edge * 0.5;
    for (int k = 0; k < 8; ++k) {
        double o[3];
        childOrigin(origin, edge, k, o);
        if (!cubeHolds(o, half, p))
            continue;
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, 0);
            if (child == kNone) {
                if (outOfMemory)
                    *outOfMemory = true;
                return nullptr;
            }
        }
        if (StlVertex* v = findOrCreateAt(child, minCell, o, half, p, found, makeVertex, outOfMemory))
            return v;
        if (outOfMemory && *outOfMemory)
            return nullptr;
    }
    return nullptr;
}

// ---- copy -------------------------------------------------------------------------------

MeshOctree MeshOctree::copyFor(const StlObject& target) const {
    MeshOctree copy(memoryBudget_);
    copy.nodes_.reserve(nodes_.size());
    const std::vector<StlVertex*>& targetVertices = target.vertices();
    const std::size_t targetTriangles = target.triangleCount();
    for (const Node& src : nodes_) {
        Node dst;
        std::copy(std::begin(src.children), std::end(src.children), std::begin(dst.children));
        dst.flags = src.flags;
        dst.setLevel(0);
        copy.nodes_.push_back(dst);
    }
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const Node& src = nodes_[i];
        if (!src.isLeaf())
            continue;
        const auto index = static_cast<std::uint32_t>(i);
        listForEach(vertexChunks_, src.vertices, [&](StlVertex* v) {
            if (v->index >= 0 && static_cast<std::size_t>(v->index) < targetVertices.size()) {
                if (!copy.addVertex(index, targetVertices[static_cast<std::size_t>(v->index)]))
                    throw std::bad_alloc();
            }
            return false;
        });
        listForEach(triangleChunks_, src.triangles, [&](StlTriangle* t) {
            if (t->id >= 0 && static_cast<std::size_t>(t->id) < targetTriangles) {
                if (!copy.addTriangle(index, target.triangle(static_cast<std::size_t>(t->id))))
                    throw std::bad_alloc();
            }
            return false;
        });
    }
    return copy;
}

} // namespace topolib

// Triangulation of the eroded stock: grid points are classified inside or
// outside layer by layer, every grid cube is triangulated by a marching-cubes
// case table, and the triangle corners are the exact segment ends on the cube
// edges.
//
// Closed by construction. Every grid edge whose two ends differ gets exactly one
// vertex (the dexel's segment end in that cell, or the edge's middle when the
// dexel family that decided the classification has no end there), so no triangle
// ever lacks a corner. The case table is built here from one rule per cube face:
// on a face whose inside corners sit on a diagonal, the inside corners are kept
// apart. Two cubes sharing a face see the same face and draw the same segments
// on it, so the surface has no cracks; every face segment is used by one
// triangle on each side. Each cube's loops are fanned from a corner whose
// diagonals do not lie in a cube face (or around their centre where no such
// corner exists), so no edge is shared by more than two triangles. Grid points
// on the two outermost rows of every side are taken as outside, so every
// inside point lies in cubes that are all triangulated.

#include "src/Features/lcm/ZMapStock.h"

#include "app/Log.h"
#include "app/ProgressReport.h"
#include "src/Features/lcm/ParallelFor.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace lcm {

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Cube numbering: corners 0 (0,0,0), 1 (1,0,0), 2 (1,1,0), 3 (0,1,0) on the
// lower layer and 4 to 7 the same above; edges 0-3 the lower square, 4-7 the
// upper, 8-11 the verticals from corner n to n + 4.
constexpr int kEdgeCorners[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                     {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
// Faces with their corners counter-clockwise seen from outside the cube.
constexpr int kFaces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {3, 7, 6, 2}, {0, 4, 7, 3}, {1, 2, 6, 5}};

// One case: triangles over the vertex codes 0..11 (edges) and 12 + n (the
// centre of the n-th entry of `centres`, a loop of edges).
struct CubeCase {
    std::vector<std::array<int8_t, 3>> triangles;
    std::vector<std::vector<int8_t>> centres;
};

int edgeBetween(int c0, int c1) {
    for (int e = 0; e < 12; ++e)
        if ((kEdgeCorners[e][0] == c0 && kEdgeCorners[e][1] == c1) ||
            (kEdgeCorners[e][0] == c1 && kEdgeCorners[e][1] == c0))
            return e;
    return -1;
}

std::array<CubeCase, 256> buildCaseTable() {
    std::array<CubeCase, 256> table;
    int faceMask[12] = {};
    for (int f = 0; f < 6; ++f)
        for (int m = 0; m < 4; ++m)
            faceMask[edgeBetween(kFaces[f][m], kFaces[f][(m + 1) % 4])] |= 1 << f;
    for (int cs = 0; cs < 256; ++cs) {
        auto in = [cs](int corner) { return ((cs >> corner) & 1) != 0; };
        // On each face, a segment runs from every edge where the walk around
        // the face leaves the inside to the edge where it entered that run of
        // inside corners: the inside lies to its left seen from outside, and
        // diagonal inside corners stay apart.
        int next[12];
        std::fill(next, next + 12, -1);
        for (const auto& face : kFaces) {
            for (int m = 0; m < 4; ++m) {
                if (!in(face[m]) || in(face[(m + 1) % 4]))
                    continue;
                for (int s = 1; s < 4; ++s) {
                    const int mm = (m - s + 4) % 4;
                    if (!in(face[mm]) && in(face[(mm + 1) % 4])) {
                        next[edgeBetween(face[m], face[(m + 1) % 4])] = edgeBetween(face[mm], face[(mm + 1) % 4]);
                        break;
                    }
                }
            }
        }
        bool seen[12] = {};
        CubeCase& out = table[static_cast<std::size_t>(cs)];
        for (int e = 0; e < 12; ++e) {
            if (next[e] < 0 || seen[e])
                continue;
            std::vector<int8_t> loop;
            for (int x = e; !seen[x]; x = next[x]) {
                seen[x] = true;
                loop.push_back(static_cast<int8_t>(x));
            }
            const int n = static_cast<int>(loop.size());
            auto at = [&](int k) { return loop[static_cast<std::size_t>(k % n)]; };
            int apex = -1;
            for (int ap = 0; ap < n && apex < 0; ++ap) {
                bool ok = true;
                for (int k = 2; k <= n - 2; ++k)
                    ok = ok && (faceMask[at(ap)] & faceMask[at(ap + k)]) == 0;
                if (ok)
                    apex = ap;
            }
            if (apex >= 0) {
                for (int k = 1; k <= n - 2; ++k)
                    out.triangles.push_back({at(apex), at(apex + k), at(apex + k + 1)});
            } else {
                const int8_t centre = static_cast<int8_t>(12 + out.centres.size());
                out.centres.push_back(loop);
                for (int k = 0; k < n; ++k)
                    out.triangles.push_back({at(k), at(k + 1), centre});
            }
        }
    }
    return table;
}

const std::array<CubeCase, 256>& caseTable() {
    static const std::array<CubeCase, 256> table = buildCaseTable();
    return table;
}

// The vertex of an edge along a dexel between the grid coordinates g0 < g1:
// the first segment end strictly between them of the kind the change asks for
// (a bottom when the upper grid point is inside), else any end there, else the
// middle.
double edgeCoordinate(const std::vector<AASegment>& segs, double g0, double g1, bool upperInside) {
    double any = 0.5 * (g0 + g1);
    bool found = false;
    for (const AASegment& s : segs) {
        if (s.bottom >= g1)
            break;
        if (s.bottom > g0 && s.bottom < g1) {
            if (upperInside)
                return s.bottom;
            if (!found)
                any = s.bottom, found = true;
        }
        if (s.top > g0 && s.top < g1) {
            if (!upperInside)
                return s.top;
            if (!found)
                any = s.top, found = true;
        }
    }
    return any;
}

struct Layer {
    std::vector<uint8_t> inside; // [j * nX + i]
    std::vector<int32_t> xId;    // vertex on the edge (i, j) - (i + 1, j), or -1
    std::vector<int32_t> yId;    // vertex on the edge (i, j) - (i, j + 1), or -1
};

// Vertex codes of a slab of layers: a vertex of one of its own layers by its
// index among them, one of the layer below the slab (the last of the slab
// before) with kBelow, a z-edge vertex or loop centre with kInner.
constexpr uint32_t kInner = 0x80000000u;
constexpr uint32_t kBelow = 0x40000000u;
constexpr uint32_t kIndexMask = 0x3FFFFFFFu;
constexpr uint32_t kNoVertex = 0xFFFFFFFFu;

// What one slab of layers makes, numbered by its own codes.
struct Slab {
    std::vector<topolib::Vector3D> points; // own layers' vertices, layer by layer
    std::vector<topolib::Vector3D> below;  // the vertices of the layer below, as the slab before made them
    std::vector<topolib::Vector3D> inner;  // z-edge vertices and loop centres
    std::vector<std::array<uint32_t, 3>> triangles;
};

// Fills the layers of the grid, one XY plane z_k each: which grid points are
// inside, and one vertex on every layer edge whose two ends differ.
class LayerFiller {
public:
    explicit LayerFiller(const ZMapStock& stock)
        : m_stock(stock), m_n{stock.count(0), stock.count(1), stock.count(2)}, m_cell(stock.cellSize()) {}

    // Layer k into `layer`, cleared first (layers 0 and nZ - 1 stay empty); its
    // vertices are appended to `points`, coded with `tag`.
    void fill(Layer& layer, long k, std::vector<topolib::Vector3D>& points, uint32_t tag) const {
        std::fill(layer.inside.begin(), layer.inside.end(), 0);
        std::fill(layer.xId.begin(), layer.xId.end(), -1);
        std::fill(layer.yId.begin(), layer.yId.end(), -1);
        if (k < 1 || k > m_n[2] - 2)
            return;
        markInside(layer, k);
        makeEdgeVertices(layer, k, points, tag);
    }

private:
    // The lines of a layer along axis d (0: the rows j, 1: the columns i): how
    // many points along and lines across, and their strides in the layer.
    struct Lines {
        long nAlong, nAcross;
        std::size_t step, lineStep;
    };
    Lines lines(int d) const {
        const std::size_t nX = static_cast<std::size_t>(m_n[0]);
        return d == 0 ? Lines{m_n[0], m_n[1], 1, nX} : Lines{m_n[1], m_n[0], nX, 1};
    }
    // d = 0: the X dexel of row j = line; d = 1: the Y dexel of column i = line.
    const std::vector<AASegment>& dexel(int d, long line, long k) const {
        return d == 0 ? m_stock.element(0, static_cast<uint32_t>(line), static_cast<uint32_t>(k)).segments
                      : m_stock.element(1, static_cast<uint32_t>(k), static_cast<uint32_t>(line)).segments;
    }
    // Grid points taken as inside: material of the X dexels along x and of the Y
    // dexels along y; two outermost rows on every side excluded.
    void markInside(Layer& layer, long k) const;
    // One vertex on every edge of the layer whose ends differ, at the dexel's
    // segment end there (edgeCoordinate).
    void makeEdgeVertices(Layer& layer, long k, std::vector<topolib::Vector3D>& points, uint32_t tag) const;

    const ZMapStock& m_stock;
    const long m_n[3];
    const double m_cell;
};

void LayerFiller::markInside(Layer& layer, long k) const {
    for (int d = 0; d < 2; ++d) {
        const Lines g = lines(d);
        const double min = m_stock.minCoord()[d];
        for (long line = 1; line <= g.nAcross - 3; ++line) {
            for (const AASegment& s : dexel(d, line, k)) {
                const long first = std::max(1L, static_cast<long>((s.bottom - min) / m_cell) + 1);
                const long last = std::min(g.nAlong - 3, static_cast<long>((s.top - min) / m_cell));
                for (long q = first; q <= last; ++q)
                    layer.inside[static_cast<std::size_t>(line) * g.lineStep +
                                 static_cast<std::size_t>(q) * g.step] = 1;
            }
        }
    }
}

void LayerFiller::makeEdgeVertices(Layer& layer, long k, std::vector<topolib::Vector3D>& points,
                                   uint32_t tag) const {
    const double z = m_stock.gridCoord(2, k);
    for (int d = 0; d < 2; ++d) {
        const Lines g = lines(d);
        std::vector<int32_t>& ids = d == 0 ? layer.xId : layer.yId;
        for (long line = 0; line < g.nAcross; ++line) {
            const double across = m_stock.gridCoord(1 - d, line);
            const std::vector<AASegment>* segs = nullptr;
            for (long q = 0; q + 1 < g.nAlong; ++q) {
                const std::size_t at =
                    static_cast<std::size_t>(line) * g.lineStep + static_cast<std::size_t>(q) * g.step;
                const uint8_t here = layer.inside[at];
                if (here == layer.inside[at + g.step])
                    continue;
                if (!segs)
                    segs = &dexel(d, line, k);
                const double along =
                    edgeCoordinate(*segs, m_stock.gridCoord(d, q), m_stock.gridCoord(d, q + 1), here == 0);
                ZMAP_CHECK(points.size() <= kIndexMask);
                ids[at] = static_cast<int32_t>(tag | static_cast<uint32_t>(points.size()));
                points.emplace_back(d == 0 ? along : across, d == 0 ? across : along, z);
            }
        }
    }
}

// Triangulates the cubes between layers k - 1 and k for the k of one slab into
// its Slab, two layers and one table of z-edge vertices alive at a time.
class SlabMesher {
public:
    SlabMesher(const ZMapStock& stock, const LayerFiller& filler, Slab& out)
        : m_stock(stock), m_filler(filler), m_out(out), m_nX(stock.count(0)), m_nY(stock.count(1)) {
        const std::size_t cells = static_cast<std::size_t>(m_nX) * static_cast<std::size_t>(m_nY);
        for (Layer& l : m_layers) {
            l.inside.assign(cells, 0);
            l.xId.assign(cells, -1);
            l.yId.assign(cells, -1);
        }
        m_zId.assign(cells, -1);
    }

    // The cubes of k = begin .. end - 1; layer begin - 1 is filled again, its
    // vertices (made by the slab before) known by their order.
    void run(long begin, long end) {
        m_filler.fill(*m_A, begin - 1, m_out.below, kBelow);
        for (long k = begin; k < end; ++k) {
            m_filler.fill(*m_B, k, m_out.points, 0);
            makeZEdgeVertices(k);
            for (long j = 1; j <= m_nY - 2; ++j)
                for (long i = 1; i <= m_nX - 2; ++i)
                    triangulateCube(i, j);
            std::swap(m_A, m_B);
        }
    }

private:
    // The vertex on every z edge between layers A (k - 1) and B (k) whose ends
    // differ, on the Z dexel there (edgeCoordinate).
    void makeZEdgeVertices(long k);
    // The cube with corners (i - 1, j - 1) .. (i, j) in A and B, by the case table.
    void triangulateCube(long i, long j);
    const topolib::Vector3D& vertex(uint32_t code) const {
        if (code & kInner)
            return m_out.inner[code & ~kInner];
        if (code & kBelow)
            return m_out.below[code & kIndexMask];
        return m_out.points[code];
    }

    const ZMapStock& m_stock;
    const LayerFiller& m_filler;
    const std::array<CubeCase, 256>& m_table = caseTable();
    Slab& m_out;
    const long m_nX, m_nY;
    Layer m_layers[2];
    Layer* m_A = &m_layers[0];
    Layer* m_B = &m_layers[1];
    std::vector<int32_t> m_zId;
};

void SlabMesher::makeZEdgeVertices(long k) {
    const double z0 = m_stock.gridCoord(2, k - 1), z1 = m_stock.gridCoord(2, k);
    for (long j = 0; j < m_nY; ++j) {
        for (long i = 0; i < m_nX; ++i) {
            const std::size_t at = static_cast<std::size_t>(j * m_nX + i);
            m_zId[at] = -1;
            if (m_A->inside[at] == m_B->inside[at])
                continue;
            const double z = edgeCoordinate(
                m_stock.element(2, static_cast<uint32_t>(i), static_cast<uint32_t>(j)).segments, z0, z1,
                m_B->inside[at] != 0);
            ZMAP_CHECK(m_out.inner.size() <= kIndexMask);
            m_zId[at] = static_cast<int32_t>(m_out.inner.size());
            m_out.inner.emplace_back(m_stock.gridCoord(0, i), m_stock.gridCoord(1, j), z);
        }
    }
}

void SlabMesher::triangulateCube(long i, long j) {
    const Layer& A = *m_A;
    const Layer& B = *m_B;
    const std::size_t r0 = static_cast<std::size_t>((j - 1) * m_nX), r1 = static_cast<std::size_t>(j * m_nX);
    const std::size_t i0 = static_cast<std::size_t>(i - 1), i1 = static_cast<std::size_t>(i);
    const unsigned cs = A.inside[r0 + i0] | (A.inside[r0 + i1] << 1) | (A.inside[r1 + i1] << 2) |
                        (A.inside[r1 + i0] << 3) | (B.inside[r0 + i0] << 4) | (B.inside[r0 + i1] << 5) |
                        (B.inside[r1 + i1] << 6) | (B.inside[r1 + i0] << 7);
    if (cs == 0 || cs == 255)
        return;
    const int32_t edge[12] = {A.xId[r0 + i0], A.yId[r0 + i1], A.xId[r1 + i0], A.yId[r0 + i0],
                              B.xId[r0 + i0], B.yId[r0 + i1], B.xId[r1 + i0], B.yId[r0 + i0],
                              m_zId[r0 + i0], m_zId[r0 + i1], m_zId[r1 + i1], m_zId[r1 + i0]};
    uint32_t code[16];
    for (int e = 0; e < 12; ++e) {
        if (edge[e] < 0)
            code[e] = kNoVertex;
        else if (e >= 8)
            code[e] = kInner | static_cast<uint32_t>(edge[e]);
        else
            code[e] = static_cast<uint32_t>(edge[e]);
    }
    const CubeCase& cc = m_table[cs];
    for (std::size_t n = 0; n < cc.centres.size() && n < 4; ++n) {
        topolib::Vector3D sum;
        for (int8_t e : cc.centres[n])
            sum += vertex(code[e]);
        code[12 + n] = kInner | static_cast<uint32_t>(m_out.inner.size());
        m_out.inner.push_back(sum / static_cast<double>(cc.centres[n].size()));
    }
    for (const auto& tri : cc.triangles) {
        const uint32_t v0 = code[tri[0]], v1 = code[tri[1]], v2 = code[tri[2]];
        ZMAP_CHECK(v0 != kNoVertex && v1 != kNoVertex && v2 != kNoVertex);
        m_out.triangles.push_back({v0, v1, v2});
    }
}

// The first k of every slab, then the end: slab s triangulates k = first[s] ..
// first[s + 1] - 1 of k = 1 .. pairs. One thread makes one slab: the plain pass
// over the layers.
std::vector<long> slabStarts(long pairs, unsigned threads) {
    const long wanted = threads <= 1 ? 1 : std::min<long>(threads * 2L, pairs / 8);
    const std::size_t slabCount = pairs < 1 ? 0 : static_cast<std::size_t>(std::min(pairs, std::max(1L, wanted)));
    std::vector<long> first(slabCount + 1);
    for (std::size_t s = 0; s <= slabCount; ++s)
        first[s] = 1 + static_cast<long>(static_cast<std::size_t>(pairs) * s / std::max<std::size_t>(1, slabCount));
    return first;
}

// Joins the slabs into `surface` as one pass over the layers makes it: the
// vertices of the layers in layer order, then the inner vertices slab by slab,
// the triangles slab by slab. Frees each slab's triangles on the way.
void joinSlabs(std::vector<Slab>& slabs, ZMapSurface& surface) {
    std::size_t pointCount = 0, innerCount = 0, triangleCount = 0;
    for (const Slab& sl : slabs) {
        pointCount += sl.points.size();
        innerCount += sl.inner.size();
        triangleCount += sl.triangles.size();
    }
    ZMAP_CHECK(pointCount + innerCount <= 0xFFFFFFFFu);
    std::vector<topolib::Vector3D>& points = surface.points;
    std::vector<std::array<uint32_t, 3>>& tris = surface.triangles;
    points.reserve(pointCount + innerCount);
    tris.reserve(triangleCount);
    for (const Slab& sl : slabs)
        points.insert(points.end(), sl.points.begin(), sl.points.end());
    std::size_t pointBase = 0, innerBase = pointCount;
    for (Slab& sl : slabs) {
        // The layer below is the last of the slab before.
        ZMAP_CHECK(sl.below.size() <= pointBase);
        const uint32_t own = static_cast<uint32_t>(pointBase);
        const uint32_t below = static_cast<uint32_t>(pointBase - sl.below.size());
        const uint32_t inner = static_cast<uint32_t>(innerBase);
        for (const auto& tri : sl.triangles) {
            std::array<uint32_t, 3> t;
            for (std::size_t k = 0; k < 3; ++k) {
                const uint32_t v = tri[k];
                t[k] = (v & kInner) ? inner + (v & ~kInner) : (v & kBelow) ? below + (v & kIndexMask) : own + v;
            }
            tris.push_back(t);
        }
        points.insert(points.end(), sl.inner.begin(), sl.inner.end());
        pointBase += sl.points.size();
        innerBase += sl.inner.size();
        std::vector<std::array<uint32_t, 3>>().swap(sl.triangles);
    }
}

} // namespace

// The cubes between layers k - 1 and k are triangulated for k = 1 .. nZ - 1, in
// slabs of consecutive k on the workers (SlabMesher), which are then joined in
// order (joinSlabs).
void ZMapStock::generateTriangles(int progressBase, int progressSpan) {
    m_surface.clear();
    if (isEmpty())
        return;
    const auto start = Clock::now();
    const unsigned threads = threadCount();
    const std::vector<long> first = slabStarts(static_cast<long>(m_n[2]) - 1, threads);
    const std::size_t slabCount = first.size() - 1;
    const LayerFiller filler(*this);
    std::vector<Slab> slabs(slabCount);
    parallelFor(
        slabCount, threads,
        [&](std::size_t s) { SlabMesher(*this, filler, slabs[s]).run(first[s], first[s + 1]); },
        [&](std::size_t done) {
            if (progressSpan > 0)
                m_progress->report((progressBase + static_cast<int>(static_cast<long>(progressSpan) *
                                                                    static_cast<long>(done) /
                                                                    static_cast<long>(slabCount))) /
                                   100.0);
        });
    joinSlabs(slabs, m_surface);
    logInt(static_cast<int>(m_surface.triangles.size()), "Number triangle: ");
    logInt(static_cast<int>(m_surface.triangles.size()), "Number triangle generated: ");
    m_timings.mesh += msSince(start);
}

} // namespace lcm

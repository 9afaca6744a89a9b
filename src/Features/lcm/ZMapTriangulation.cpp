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

// What one slab of layers makes, numbered by its own codes.
struct Slab {
    std::vector<topolib::Vector3D> points; // own layers' vertices, layer by layer
    std::vector<topolib::Vector3D> below;  // the vertices of the layer below, as the slab before made them
    std::vector<topolib::Vector3D> inner;  // z-edge vertices and loop centres
    std::vector<std::array<uint32_t, 3>> triangles;
};

} // namespace

// The cubes between layers k - 1 and k are triangulated for k = 1 .. nZ - 1.
// Slabs of consecutive k are triangulated on the workers, each from the layer
// below it (filled again, its vertices known by their order), and joined in
// order: the vertices of the layers in layer order, then the inner vertices
// slab by slab, the triangles slab by slab, as one pass over the layers makes
// them.
void ZMapStock::generateTriangles(int progressBase, int progressSpan) {
    m_surface.clear();
    if (isEmpty())
        return;
    const auto start = Clock::now();
    const long nX = m_n[0], nY = m_n[1], nZ = m_n[2];
    const double c = m_cell;
    const std::size_t cells = static_cast<std::size_t>(nX) * static_cast<std::size_t>(nY);

    // Grid points taken as inside: material of the X dexels along x and of
    // the Y dexels along y; two outermost rows on every side excluded.
    auto fill = [&](Layer& L, long k, std::vector<topolib::Vector3D>& points, uint32_t tag) {
        std::fill(L.inside.begin(), L.inside.end(), 0);
        std::fill(L.xId.begin(), L.xId.end(), -1);
        std::fill(L.yId.begin(), L.yId.end(), -1);
        if (k < 1 || k > nZ - 2)
            return;
        const double z = gridCoord(2, k);
        // d = 0: the X dexels of the rows j; d = 1: the Y dexels of the columns i.
        auto dexel = [&](int d, long line) -> const std::vector<AASegment>& {
            return d == 0 ? element(0, static_cast<uint32_t>(line), static_cast<uint32_t>(k)).segments
                          : element(1, static_cast<uint32_t>(k), static_cast<uint32_t>(line)).segments;
        };
        for (int d = 0; d < 2; ++d) {
            const long nAlong = d == 0 ? nX : nY, nAcross = d == 0 ? nY : nX;
            const std::size_t step = d == 0 ? 1 : static_cast<std::size_t>(nX);
            const std::size_t lineStep = d == 0 ? static_cast<std::size_t>(nX) : 1;
            for (long line = 1; line <= nAcross - 3; ++line) {
                for (const AASegment& s : dexel(d, line)) {
                    const long first = std::max(1L, static_cast<long>((s.bottom - m_min[d]) / c) + 1);
                    const long last = std::min(nAlong - 3, static_cast<long>((s.top - m_min[d]) / c));
                    for (long q = first; q <= last; ++q)
                        L.inside[static_cast<std::size_t>(line) * lineStep + static_cast<std::size_t>(q) * step] = 1;
                }
            }
        }
        // One vertex on every edge of the layer whose ends differ.
        for (int d = 0; d < 2; ++d) {
            const long nAlong = d == 0 ? nX : nY, nAcross = d == 0 ? nY : nX;
            const std::size_t step = d == 0 ? 1 : static_cast<std::size_t>(nX);
            const std::size_t lineStep = d == 0 ? static_cast<std::size_t>(nX) : 1;
            std::vector<int32_t>& ids = d == 0 ? L.xId : L.yId;
            for (long line = 0; line < nAcross; ++line) {
                const double across = gridCoord(1 - d, line);
                const std::vector<AASegment>* segs = nullptr;
                for (long q = 0; q + 1 < nAlong; ++q) {
                    const std::size_t at = static_cast<std::size_t>(line) * lineStep + static_cast<std::size_t>(q) * step;
                    const uint8_t here = L.inside[at];
                    if (here == L.inside[at + step])
                        continue;
                    if (!segs)
                        segs = &dexel(d, line);
                    const double along = edgeCoordinate(*segs, gridCoord(d, q), gridCoord(d, q + 1), here == 0);
                    ZMAP_CHECK(points.size() <= kIndexMask);
                    ids[at] = static_cast<int32_t>(tag | static_cast<uint32_t>(points.size()));
                    points.emplace_back(d == 0 ? along : across, d == 0 ? across : along, z);
                }
            }
        }
    };

    const auto& table = caseTable();
    // Slab s triangulates k = first[s] .. first[s + 1] - 1.
    const unsigned threads = threadCount();
    const long pairs = nZ - 1;
    // One thread makes one slab: the plain pass over the layers.
    const long wanted = threads <= 1 ? 1 : std::min<long>(threads * 2L, pairs / 8);
    const std::size_t slabCount = pairs < 1 ? 0 : static_cast<std::size_t>(std::min(pairs, std::max(1L, wanted)));
    std::vector<long> first(slabCount + 1);
    for (std::size_t s = 0; s <= slabCount; ++s)
        first[s] = 1 + static_cast<long>(static_cast<std::size_t>(pairs) * s / std::max<std::size_t>(1, slabCount));
    std::vector<Slab> slabs(slabCount);
    parallelFor(
        slabCount, threads,
        [&](std::size_t s) {
            Slab& out = slabs[s];
            Layer layers[2];
            for (Layer& l : layers) {
                l.inside.assign(cells, 0);
                l.xId.assign(cells, -1);
                l.yId.assign(cells, -1);
            }
            std::vector<int32_t> zId(cells, -1);
            Layer* A = &layers[0];
            Layer* B = &layers[1];
            fill(*A, first[s] - 1, out.below, kBelow);
            auto vertex = [&](uint32_t code) -> const topolib::Vector3D& {
                if (code & kInner)
                    return out.inner[code & ~kInner];
                if (code & kBelow)
                    return out.below[code & kIndexMask];
                return out.points[code];
            };
            for (long k = first[s]; k < first[s + 1]; ++k) {
                fill(*B, k, out.points, 0);
                const double z0 = gridCoord(2, k - 1), z1 = gridCoord(2, k);
                for (long j = 0; j < nY; ++j) {
                    for (long i = 0; i < nX; ++i) {
                        const std::size_t at = static_cast<std::size_t>(j * nX + i);
                        zId[at] = -1;
                        if (A->inside[at] == B->inside[at])
                            continue;
                        const double z = edgeCoordinate(
                            element(2, static_cast<uint32_t>(i), static_cast<uint32_t>(j)).segments, z0, z1,
                            B->inside[at] != 0);
                        ZMAP_CHECK(out.inner.size() <= kIndexMask);
                        zId[at] = static_cast<int32_t>(out.inner.size());
                        out.inner.emplace_back(gridCoord(0, i), gridCoord(1, j), z);
                    }
                }
                for (long j = 1; j <= nY - 2; ++j) {
                    const std::size_t r0 = static_cast<std::size_t>((j - 1) * nX), r1 = static_cast<std::size_t>(j * nX);
                    for (long i = 1; i <= nX - 2; ++i) {
                        const std::size_t i0 = static_cast<std::size_t>(i - 1), i1 = static_cast<std::size_t>(i);
                        const unsigned cs = A->inside[r0 + i0] | (A->inside[r0 + i1] << 1) |
                                            (A->inside[r1 + i1] << 2) | (A->inside[r1 + i0] << 3) |
                                            (B->inside[r0 + i0] << 4) | (B->inside[r0 + i1] << 5) |
                                            (B->inside[r1 + i1] << 6) | (B->inside[r1 + i0] << 7);
                        if (cs == 0 || cs == 255)
                            continue;
                        int32_t edge[12] = {A->xId[r0 + i0], A->yId[r0 + i1], A->xId[r1 + i0], A->yId[r0 + i0],
                                            B->xId[r0 + i0], B->yId[r0 + i1], B->xId[r1 + i0], B->yId[r0 + i0],
                                            zId[r0 + i0],    zId[r0 + i1],    zId[r1 + i1],    zId[r1 + i0]};
                        uint32_t code[16];
                        for (int e = 0; e < 12; ++e) {
                            if (edge[e] < 0)
                                code[e] = 0xFFFFFFFFu;
                            else if (e >= 8)
                                code[e] = kInner | static_cast<uint32_t>(edge[e]);
                            else
                                code[e] = static_cast<uint32_t>(edge[e]);
                        }
                        const CubeCase& cc = table[cs];
                        for (std::size_t n = 0; n < cc.centres.size() && n < 4; ++n) {
                            topolib::Vector3D sum;
                            for (int8_t e : cc.centres[n])
                                sum += vertex(code[e]);
                            code[12 + n] = kInner | static_cast<uint32_t>(out.inner.size());
                            out.inner.push_back(sum / static_cast<double>(cc.centres[n].size()));
                        }
                        for (const auto& tri : cc.triangles) {
                            const uint32_t v0 = code[tri[0]], v1 = code[tri[1]], v2 = code[tri[2]];
                            ZMAP_CHECK(v0 != 0xFFFFFFFFu && v1 != 0xFFFFFFFFu && v2 != 0xFFFFFFFFu);
                            out.triangles.push_back({v0, v1, v2});
                        }
                    }
                }
                std::swap(A, B);
            }
        },
        [&](std::size_t done) {
            if (progressSpan > 0)
                m_progress->report((progressBase + static_cast<int>(static_cast<long>(progressSpan) *
                                                                     static_cast<long>(done) /
                                                                     static_cast<long>(slabCount))) /
                                   100.0);
        });

    // The layers' vertices in layer order, then the inner vertices slab by slab.
    std::size_t pointCount = 0, innerCount = 0, triangleCount = 0;
    for (const Slab& sl : slabs) {
        pointCount += sl.points.size();
        innerCount += sl.inner.size();
        triangleCount += sl.triangles.size();
    }
    ZMAP_CHECK(pointCount + innerCount <= 0xFFFFFFFFu);
    std::vector<topolib::Vector3D>& points = m_surface.points;
    std::vector<std::array<uint32_t, 3>>& tris = m_surface.triangles;
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
    logInt(static_cast<int>(tris.size()), "Number triangle: ");
    logInt(static_cast<int>(tris.size()), "Number triangle generated: ");
    m_timings.mesh += msSince(start);
}

} // namespace lcm

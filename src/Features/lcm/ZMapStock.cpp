// The stock's data, set-up and the conversion of a mesh into dexel segments:
// rasterising (with the perturbation tie rule), pairing hits into segments,
// filling gaps that perpendicular dexels prove to be material, storing and
// merging the shells.

#include "src/Features/lcm/ZMapStock.h"

#include "src/Features/lcm/ParallelFor.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

namespace lcm {

namespace {

constexpr double kHitEpsilon = 1e-6;    // hits this close are one surface crossing
constexpr double kMinSegment = 0.001;   // shorter runs give no segment, shorter gaps are not filled
constexpr double kMergeTolerance = 1e-5; // segments this close merge

inline void twoSum(double a, double b, double& s, double& e) {
    s = a + b;
    const double bv = s - a;
    const double av = s - bv;
    e = (a - av) + (b - bv);
}

inline void twoProduct(double a, double b, double& p, double& e) {
    p = a * b;
    e = std::fma(a, b, -p);
}

// Sign of the exact sum of n doubles: the terms are accumulated into a
// non-overlapping expansion (each step exact), whose most significant non-zero
// component carries the sign.
int exactSumSign(const double* terms, int n) {
    double h[32];
    int len = 0;
    for (int t = 0; t < n; ++t) {
        double q = terms[t];
        for (int i = 0; i < len; ++i)
            twoSum(q, h[i], q, h[i]);
        h[len++] = q;
    }
    for (int i = len - 1; i >= 0; --i)
        if (h[i] != 0.0)
            return h[i] > 0.0 ? 1 : -1;
    return 0;
}

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// Which side of the directed line p -> q the point x lies on, with x moved by
// the symbolic perturbation (+eps, +eps^2): never 0 for p != q. This is the
// half-open edge rule: of two triangles sharing an edge, the one that has the
// perturbed point on its inner side takes it.
inline int perturbedSide(double pa, double pb, double qa, double qb, double xa, double xb) {
    const int s = orient2dSign(pa, pb, qa, qb, xa, xb);
    if (s != 0)
        return s;
    if (qb != pb)
        return qb < pb ? 1 : -1;
    return qa > pa ? 1 : -1;
}

// Whether the point (xa, xb), moved by the perturbation, lies inside the
// projected triangle of orientation `orient` (not 0).
inline bool projectionHolds(double a0, double b0, double a1, double b1, double a2, double b2, int orient, double xa,
                            double xb) {
    return perturbedSide(a0, b0, a1, b1, xa, xb) == orient && perturbedSide(a1, b1, a2, b2, xa, xb) == orient &&
           perturbedSide(a2, b2, a0, b0, xa, xb) == orient;
}

// The height along the line where it crosses the triangle (corner heights d0,
// d1, d2), kept within the corners' range.
inline double crossingHeight(double a0, double b0, double a1, double b1, double a2, double b2, double d0, double d1,
                             double d2, double xa, double xb) {
    // Barycentric weights of the line's point in the projection.
    const double w0 = (a1 - xa) * (b2 - xb) - (b1 - xb) * (a2 - xa);
    const double w1 = (a2 - xa) * (b0 - xb) - (b2 - xb) * (a0 - xa);
    const double w2 = (a0 - xa) * (b1 - xb) - (b0 - xb) * (a1 - xa);
    const double sum = w0 + w1 + w2;
    const double coord = sum != 0.0 ? (w0 * d0 + w1 * d1 + w2 * d2) / sum : (d0 + d1 + d2) / 3.0;
    return std::min(std::max(coord, std::min({d0, d1, d2})), std::max({d0, d1, d2}));
}

} // namespace

int axisLineCrossing(const double* p, int axis, double xa, double xb, double* height) {
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    const int orient = orient2dSign(p[a], p[b], p[3 + a], p[3 + b], p[6 + a], p[6 + b]);
    if (orient == 0 || !projectionHolds(p[a], p[b], p[3 + a], p[3 + b], p[6 + a], p[6 + b], orient, xa, xb))
        return 0;
    if (height)
        *height = crossingHeight(p[a], p[b], p[3 + a], p[3 + b], p[6 + a], p[6 + b], p[axis], p[3 + axis],
                                 p[6 + axis], xa, xb);
    return orient;
}

int orient2dSign(double px, double py, double qx, double qy, double rx, double ry) {
    const double l = (px - rx) * (qy - ry);
    const double r = (py - ry) * (qx - rx);
    const double det = l - r;
    // Error bound of the plain evaluation: (3 + 16 eps) eps (|l| + |r|).
    const double bound = 3.3306690738754716e-16 * (std::fabs(l) + std::fabs(r));
    if (det > bound)
        return 1;
    if (-det > bound)
        return -1;
    double a1, a0, b1, b0, c1, c0, d1, d0;
    twoSum(px, -rx, a1, a0);
    twoSum(qy, -ry, b1, b0);
    twoSum(py, -ry, c1, c0);
    twoSum(qx, -rx, d1, d0);
    double terms[16];
    twoProduct(a1, b1, terms[0], terms[1]);
    twoProduct(a1, b0, terms[2], terms[3]);
    twoProduct(a0, b1, terms[4], terms[5]);
    twoProduct(a0, b0, terms[6], terms[7]);
    twoProduct(-c1, d1, terms[8], terms[9]);
    twoProduct(-c1, d0, terms[10], terms[11]);
    twoProduct(-c0, d1, terms[12], terms[13]);
    twoProduct(-c0, d0, terms[14], terms[15]);
    return exactSumSign(terms, 16);
}

void zmapInvariantFailed(const char* condition, const char* file, int line) {
    char text[512];
    std::snprintf(text, sizeof text, "Z-map invariant failed: %s (%s:%d)", condition, file, line);
    assert(!"Z-map invariant failed");
    throw ZMapError(text);
}

long ZMapElement::firstUnvisitedSegment() const {
    for (std::size_t s = 0; s < segments.size(); ++s)
        if ((segments[s].flags & (AASegment::kBottomVisited | AASegment::kTopVisited)) !=
            (AASegment::kBottomVisited | AASegment::kTopVisited))
            return static_cast<long>(s);
    return -1;
}

long ZMapElement::segmentContaining(double v) const {
    for (std::size_t s = 0; s < segments.size(); ++s) {
        if (segments[s].bottom >= v)
            return -1; // sorted: nothing further up starts below v
        if (v < segments[s].top)
            return static_cast<long>(s);
    }
    return -1;
}

ZMapStock::ZMapStock() = default;

void ZMapStock::setBox(const double min[3], const double max[3]) {
    m_min = topolib::Vector3D(min);
    m_max = topolib::Vector3D(max);
}

unsigned ZMapStock::threadCount() const {
    return workerCount(m_threads);
}

bool ZMapStock::planGrid(topolib::Vector3D& min, topolib::Vector3D& max, uint32_t n[3]) const {
    const double c = m_cell;
    if (!std::isfinite(c) || c <= 1e-6 || !std::isfinite(m_thickness) || m_thickness < 0.0)
        return false;
    const double w = 2.5 * m_thickness;
    min = m_min;
    max = m_max;
    for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(min[a]) || !std::isfinite(max[a]) || max[a] < min[a])
            return false;
        min[a] -= w;
        max[a] += w;
        const double cells = (max[a] - min[a]) / c;
        if (!(cells < 1e7))
            return false;
        n[a] = static_cast<uint32_t>(static_cast<long>(cells) + 1);
        max[a] = min[a] + n[a] * c;
    }
    for (int d = 0; d < 3; ++d) {
        const std::size_t count = static_cast<std::size_t>(n[(d + 1) % 3]) * n[(d + 2) % 3];
        if (count >= (std::size_t(1) << 31))
            return false;
    }
    return true;
}

uint64_t ZMapStock::plannedBytes() const {
    topolib::Vector3D min, max;
    uint32_t n[3];
    if (!planGrid(min, max, n))
        return 0;
    // Per dexel: the element, about two segments, the pending room and two
    // hits of the shell being added.
    const uint64_t perDexel =
        sizeof(ZMapElement) + 2 * sizeof(AASegment) + 2 * sizeof(Hit) + sizeof(uint32_t);
    uint64_t dexels = 0;
    for (int d = 0; d < 3; ++d)
        dexels += uint64_t(n[(d + 1) % 3]) * n[(d + 2) % 3];
    return dexels * perDexel;
}

bool ZMapStock::setUp() {
    clear();
    topolib::Vector3D min, max;
    uint32_t n[3];
    if (!planGrid(min, max, n))
        return false;
    m_min = min;
    m_max = max;
    for (int a = 0; a < 3; ++a)
        m_n[a] = n[a];
    for (int d = 0; d < 3; ++d)
        m_grid[d].resize(static_cast<std::size_t>(m_n[(d + 1) % 3]) * m_n[(d + 2) % 3]);
    return true;
}

void ZMapStock::clear() {
    for (int d = 0; d < 3; ++d) {
        std::vector<ZMapElement>().swap(m_grid[d]);
        std::vector<WireCutPlane>().swap(m_wire[d]);
    }
    m_surface.clear();
}

void ZMapStock::addShell(const std::vector<const topolib::StlTriangle*>& triangles, bool insideOut) {
    // The corners are read where they are: a copy of a large shell's corners
    // would be hundreds of megabytes of fresh memory.
    addShellCorners(
        [&](std::size_t i, double* p) {
            const topolib::StlTriangle* t = triangles[i];
            if (t == nullptr || t->isDeleted())
                return false;
            for (int k = 0; k < 3; ++k)
                for (int a = 0; a < 3; ++a)
                    p[3 * k + a] = t->vertices[k]->pos[static_cast<std::size_t>(a)];
            return true;
        },
        triangles.size(), insideOut);
}

void ZMapStock::addShell(const std::vector<std::array<double, 9>>& triangles, bool insideOut) {
    addShellCorners(
        [&](std::size_t i, double* p) {
            std::copy(triangles[i].begin(), triangles[i].end(), p);
            return true;
        },
        triangles.size(), insideOut);
}

template <typename Corners>
void ZMapStock::addShellCorners(const Corners& corners, std::size_t triangleCount, bool insideOut) {
    if (isEmpty() || triangleCount == 0)
        return;
    const auto start = Clock::now();
    const unsigned threads = threadCount();
    const std::size_t chunks = std::min<std::size_t>(threads * 4u, (triangleCount + 4095) / 4096);
    std::vector<std::vector<Hit>> hits(chunks * 3);
    parallelFor(chunks, threads, [&](std::size_t c) {
        const std::size_t b = triangleCount * c / chunks, e = triangleCount * (c + 1) / chunks;
        rasterize(corners, b, e, insideOut, &hits[c * 3]);
    });
    Pending pending[3];
    parallelFor(3, threads, [&](std::size_t d) {
        std::vector<std::vector<Hit>> perChunk(chunks);
        for (std::size_t c = 0; c < chunks; ++c)
            perChunk[c].swap(hits[c * 3 + d]);
        buildPending(static_cast<int>(d), perChunk, pending[d]);
    });
    // Gaps are filled grid after grid (Z, X, Y dexels): gaps filled earlier are
    // seen by the later tests.
    fillGaps(2, pending);
    fillGaps(0, pending);
    fillGaps(1, pending);
    for (int d = 0; d < 3; ++d)
        storePending(d, pending[d]);
    m_timings.stock += msSince(start);
}

template <typename Corners>
void ZMapStock::rasterize(const Corners& corners, std::size_t begin, std::size_t end, bool insideOut,
                          std::vector<Hit> hits[3]) const {
    const double c = m_cell;
    double p[9];
    for (std::size_t t = begin; t < end; ++t) {
        if (!corners(t, p))
            continue;
        bool finite = true;
        for (int k = 0; k < 9; ++k)
            finite = finite && std::isfinite(p[k]);
        if (!finite)
            continue; // a corner without a position has no place on the grid
        for (int d = 0; d < 3; ++d) {
            const int a = (d + 1) % 3, b = (d + 2) % 3;
            const double a0 = p[a], b0 = p[b], a1 = p[3 + a], b1 = p[3 + b], a2 = p[6 + a], b2 = p[6 + b];
            // Projected orientation: positive when the normal points along +d,
            // where the line leaves the solid.
            const int orient = orient2dSign(a0, b0, a1, b1, a2, b2);
            if (orient == 0)
                continue;
            const double loA = std::min({a0, a1, a2}), hiA = std::max({a0, a1, a2});
            const double loB = std::min({b0, b1, b2}), hiB = std::max({b0, b1, b2});
            long ia0 = static_cast<long>((loA - 1e-5 - m_min[a]) / c) + 1;
            long ia1 = static_cast<long>((hiA + 1e-5 - m_min[a]) / c);
            long ib0 = static_cast<long>((loB - 1e-5 - m_min[b]) / c) + 1;
            long ib1 = static_cast<long>((hiB + 1e-5 - m_min[b]) / c);
            ia0 = std::max(ia0, 0L);
            ib0 = std::max(ib0, 0L);
            ia1 = std::min(ia1, static_cast<long>(m_n[a]) - 1);
            ib1 = std::min(ib1, static_cast<long>(m_n[b]) - 1);
            const double d0 = p[d], d1 = p[3 + d], d2 = p[6 + d];
            for (long ia = ia0; ia <= ia1; ++ia) {
                const double xa = gridCoord(a, ia);
                for (long ib = ib0; ib <= ib1; ++ib) {
                    const double xb = gridCoord(b, ib);
                    if (!projectionHolds(a0, b0, a1, b1, a2, b2, orient, xa, xb))
                        continue;
                    const double coord = crossingHeight(a0, b0, a1, b1, a2, b2, d0, d1, d2, xa, xb);
                    ZMAP_CHECK(coord + kHitEpsilon > m_min[d] && coord - kHitEpsilon < m_max[d]);
                    hits[d].push_back(Hit{coord, static_cast<uint32_t>(ia * static_cast<long>(m_n[b]) + ib),
                                          (orient > 0) != insideOut ? 1u : 0u});
                }
            }
        }
    }
}

void ZMapStock::buildPending(int axis, std::vector<std::vector<Hit>>& perChunk, Pending& out) const {
    const std::size_t dexels = m_grid[axis].size();
    // Counting sort of the hits by dexel.
    std::vector<uint32_t> start(dexels + 1, 0);
    std::size_t total = 0;
    for (const auto& v : perChunk) {
        total += v.size();
        for (const Hit& h : v)
            ++start[h.dexel + 1];
    }
    for (std::size_t i = 0; i < dexels; ++i)
        start[i + 1] += start[i];
    std::vector<Hit> sorted(total);
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (auto& v : perChunk) {
            for (const Hit& h : v)
                sorted[fill[h.dexel]++] = h;
            std::vector<Hit>().swap(v);
        }
    }
    out.start.assign(dexels + 1, 0);
    out.segs.clear();
    std::vector<Hit> kept;
    for (std::size_t dx = 0; dx < dexels; ++dx) {
        out.start[dx] = static_cast<uint32_t>(out.segs.size());
        Hit* first = sorted.data() + start[dx];
        Hit* last = sorted.data() + start[dx + 1];
        if (last - first < 2)
            continue;
        std::sort(first, last, [](const Hit& x, const Hit& y) {
            return x.coord < y.coord || (x.coord == y.coord && x.exit < y.exit);
        });
        // Hits closer than 1e-6 to the first of their cluster are one crossing of
        // nearly touching sheets: entries and exits cancel, what remains is kept
        // once (two solids touching leave nothing, one surface met twice at a
        // shared vertex leaves one crossing).
        kept.clear();
        for (Hit* h = first; h < last;) {
            Hit* g = h;
            int net = 0;
            while (g < last && g->coord - h->coord < kHitEpsilon) {
                net += g->exit ? -1 : 1;
                ++g;
            }
            if (g - h == 1)
                kept.push_back(*h);
            else if (net > 0)
                kept.push_back(Hit{h->coord, h->dexel, 0});
            else if (net < 0)
                kept.push_back(Hit{h->coord, h->dexel, 1});
            h = g;
        }
        const std::size_t n = kept.size();
        if (n < 2)
            continue;
        // Pairing: a run starts at a hit and takes every following hit up to the
        // first entry met after an exit; a trailing unpaired entry is paired with
        // the hit before it.
        std::size_t s = 0;
        while (s + 1 < n) {
            bool exitSeen = false;
            std::size_t end = s, q = s + 1;
            for (; q < n; ++q) {
                if (!kept[q].exit && exitSeen)
                    break;
                if (kept[q].exit)
                    exitSeen = true;
                end = q;
            }
            if (end > s && kept[end].coord - kept[s].coord > kMinSegment)
                out.segs.push_back(AASegment{kept[s].coord, kept[end].coord, 0});
            if (q >= n)
                break;
            s = q == n - 1 ? q - 1 : q;
        }
    }
    out.start[dexels] = static_cast<uint32_t>(out.segs.size());
}

bool ZMapStock::isGapInside(const double p[3], double a, double b, int axis, const Pending pending[3]) const {
    const double c = m_cell;
    long idx[3];
    for (int k = 0; k < 3; ++k)
        idx[k] = static_cast<long>((p[k] + 1e-6 - m_min[k]) / c);
    // The grid line tested must lie inside the gap, clear of both ends: a line
    // through the end face of a segment counts as material there by the tie
    // rule and would fill a true gap.
    auto clear = [&](double g) { return a + kHitEpsilon < g && g < b - kHitEpsilon; };
    if (!clear(gridCoord(axis, idx[axis]))) {
        ++idx[axis];
        if (!clear(gridCoord(axis, idx[axis])))
            return false;
    }
    if (idx[axis] < 0 || idx[axis] >= static_cast<long>(m_n[axis]))
        return false;
    // Either perpendicular dexel through that grid point in material proves the gap.
    for (int e = 0; e < 3; ++e) {
        if (e == axis)
            continue;
        const int ea = (e + 1) % 3, eb = (e + 2) % 3;
        if (idx[ea] < 0 || idx[eb] < 0 || idx[ea] >= static_cast<long>(m_n[ea]) ||
            idx[eb] >= static_cast<long>(m_n[eb]))
            continue;
        const std::size_t dx = static_cast<std::size_t>(idx[ea]) * m_n[eb] + static_cast<std::size_t>(idx[eb]);
        const Pending& pe = pending[e];
        for (uint32_t s = pe.start[dx]; s < pe.start[dx + 1]; ++s)
            if (pe.segs[s].bottom < p[e] && p[e] < pe.segs[s].top)
                return true;
    }
    return false;
}

void ZMapStock::fillGaps(int axis, Pending pending[3]) const {
    Pending& pe = pending[axis];
    const std::size_t dexels = m_grid[axis].size();
    if (pe.start.size() != dexels + 1)
        return;
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    Pending filled;
    filled.start.assign(dexels + 1, 0);
    filled.segs.reserve(pe.segs.size());
    for (std::size_t dx = 0; dx < dexels; ++dx) {
        filled.start[dx] = static_cast<uint32_t>(filled.segs.size());
        const uint32_t s0 = pe.start[dx], s1 = pe.start[dx + 1];
        if (s1 - s0 < 2) {
            for (uint32_t s = s0; s < s1; ++s)
                filled.segs.push_back(pe.segs[s]);
            continue;
        }
        double p[3];
        p[a] = gridCoord(a, static_cast<long>(dx / m_n[b]));
        p[b] = gridCoord(b, static_cast<long>(dx % m_n[b]));
        filled.segs.push_back(pe.segs[s0]);
        double lo = pe.segs[s0].top;
        for (uint32_t s = s0 + 1; s < s1; ++s) {
            const double hi = pe.segs[s].bottom;
            if (hi - lo > kMinSegment) {
                p[axis] = 0.5 * (lo + hi);
                if (isGapInside(p, lo, hi, axis, pending))
                    filled.segs.push_back(AASegment{lo, hi, 0});
            }
            filled.segs.push_back(pe.segs[s]);
            lo = pe.segs[s].top;
        }
    }
    filled.start[dexels] = static_cast<uint32_t>(filled.segs.size());
    pe = std::move(filled);
}

void ZMapStock::storePending(int axis, const Pending& pending) {
    const std::size_t dexels = m_grid[axis].size();
    if (pending.start.size() != dexels + 1)
        return;
    for (std::size_t dx = 0; dx < dexels; ++dx) {
        const uint32_t s0 = pending.start[dx], s1 = pending.start[dx + 1];
        if (s0 == s1)
            continue;
        std::vector<AASegment>& segs = m_grid[axis][dx].segments;
        segs.reserve(segs.size() + (s1 - s0));
        segs.insert(segs.end(), pending.segs.begin() + s0, pending.segs.begin() + s1);
    }
}

bool ZMapStock::holdsMaterial() const {
    const std::vector<ZMapElement>& g = m_grid[0];
    return std::any_of(g.begin(), g.end(), [](const ZMapElement& e) { return !e.segments.empty(); });
}

void ZMapStock::mergeSegments() {
    if (isEmpty())
        return;
    const auto start = Clock::now();
    const unsigned threads = threadCount();
    for (int d = 0; d < 3; ++d) {
        std::vector<ZMapElement>& g = m_grid[d];
        const std::size_t chunks = std::min<std::size_t>(g.size(), threads * 8u);
        parallelFor(chunks, threads, [&](std::size_t c) {
            const std::size_t b = g.size() * c / chunks, e = g.size() * (c + 1) / chunks;
            for (std::size_t i = b; i < e; ++i) {
                std::vector<AASegment>& s = g[i].segments;
                if (s.size() < 2)
                    continue;
                std::sort(s.begin(), s.end(), [](const AASegment& x, const AASegment& y) {
                    return x.bottom < y.bottom || (x.bottom == y.bottom && x.top < y.top);
                });
                std::size_t out = 0;
                for (std::size_t k = 1; k < s.size(); ++k) {
                    if (s[k].bottom - kMergeTolerance <= s[out].top)
                        s[out].top = std::max(s[out].top, s[k].top);
                    else
                        s[++out] = s[k];
                }
                s.resize(out + 1);
            }
        });
    }
    m_timings.stock += msSince(start);
}

} // namespace lcm

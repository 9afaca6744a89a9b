// Offset of the stock by a ball: the closed contours of every grid plane are
// traced through the segment ends (wire cuts), then a ball of the wall thickness
// is swept along every short contour edge and cut out of the dexels it crosses.
//
// Parallel plan. All contours are traced before any erosion, and every erosion
// step removes an interval from one dexel. Tracing a plane touches only that
// plane's dexels, so planes are traced in parallel. For the erosion, the dexels
// in plane q receive the trims of the planes q - m + 1 .. q + m - 1; a task per
// target plane applies them in the order of the planes and contour edges, which
// is the order a single thread would use. The normal dexels receive the ball cuts
// of every plane; they are split into blocks of rows, and each block applies the
// cuts in plane and edge order. So every dexel sees the same operations in the
// same order whatever the number of threads, and the result is identical.

#include "src/Features/lcm/ZMapStock.h"

#include "app/ProgressReport.h"
#include "src/Features/lcm/ParallelFor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace lcm {

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

constexpr double kInsideTolerance = 1e-6;  // an end this close to the removed interval is removed with it
constexpr double kOverlapTolerance = 1e-5; // an interval must reach this far into a segment to change it

// Removes [c0, c1] from the sorted, disjoint segments. A segment end within
// 1e-6 of the interval goes with it; an interval reaching less than 1e-5 into
// a segment leaves it alone. What remains is disjoint, sorted and each piece
// longer than 1e-6.
void subtractInterval(std::vector<AASegment>& segs, double c0, double c1) {
    for (std::size_t k = 0; k < segs.size();) {
        AASegment& s = segs[k];
        if (s.bottom >= c1)
            return; // sorted: nothing further up is reached
        if (c1 <= s.bottom + kOverlapTolerance || c0 >= s.top - kOverlapTolerance) {
            ++k;
            continue;
        }
        const bool lowIn = c0 - kInsideTolerance < s.bottom;
        const bool highIn = c1 + kInsideTolerance > s.top;
        if (lowIn && highIn) {
            segs.erase(segs.begin() + static_cast<std::ptrdiff_t>(k));
            continue;
        }
        if (lowIn) {
            ZMAP_CHECK(c1 < s.top);
            s.bottom = c1;
            ++k;
        } else if (highIn) {
            ZMAP_CHECK(c0 > s.bottom);
            s.top = c0;
            ++k;
        } else {
            ZMAP_CHECK(s.bottom < c0 && c0 < c1 && c1 < s.top);
            const AASegment upper{c1, s.top, 0};
            s.top = c0;
            segs.insert(segs.begin() + static_cast<std::ptrdiff_t>(k) + 1, upper);
            k += 2;
        }
    }
}

// The lowest bottom and highest top of a dexel's segments ((+inf, -inf) when
// it has none), kept beside the dexels a task works on: the erosion asks
// whether a cut reaches the material thousands of times per dexel, and this
// answers from one small array instead of two loads through the dexel's list.
struct MaterialSpan {
    double bottom;
    double top;
    explicit MaterialSpan(const std::vector<AASegment>& segs)
        : bottom(segs.empty() ? std::numeric_limits<double>::infinity() : segs.front().bottom),
          top(segs.empty() ? -std::numeric_limits<double>::infinity() : segs.back().top) {}
};

// Removes [c0, c1] from the segments (subtractInterval) when it can change
// them, and keeps their span up to date. An interval wholly below the first
// bottom or above the last top is skipped: subtractInterval would return at
// the first segment, or pass over every one.
// True when the interval reached the segments (they may have changed).
inline bool subtractFromDexel(std::vector<AASegment>& segs, MaterialSpan& span, double c0, double c1) {
    if (c1 <= span.bottom || c0 >= span.top)
        return false;
    subtractInterval(segs, c0, c1);
    span = MaterialSpan(segs);
    return true;
}

// The material spans of a row of dexels, with the union of every run of
// kBlock of them beside: a cut whose extent misses a run's union misses each
// of its dexels, so the run is passed over at once. Spans only shrink as
// material is cut away, so a union not yet refreshed still covers its run.
class SpanRow {
public:
    static constexpr long kBlock = 8;

    template <typename Segments>
    SpanRow(long n, Segments&& segmentsOf) {
        m_spans.reserve(static_cast<std::size_t>(n));
        for (long i = 0; i < n; ++i)
            m_spans.emplace_back(segmentsOf(i));
        m_runs.assign(static_cast<std::size_t>((n + kBlock - 1) / kBlock), MaterialSpan(std::vector<AASegment>()));
        for (long r = 0; r * kBlock < n; ++r)
            refresh(r);
    }

    // Calls cut(i, span) for the dexels first .. last, in order, whose run's
    // union `touches`; cut returns whether it changed the dexel.
    template <typename Touches, typename Cut>
    void forEachReached(long first, long last, Touches&& touches, Cut&& cut) {
        if (first > last)
            return; // also keeps an empty range off the runs' ends
        for (long r = first / kBlock; r <= last / kBlock; ++r) {
            if (!touches(m_runs[static_cast<std::size_t>(r)]))
                continue;
            bool changed = false;
            const long end = std::min(last, r * kBlock + kBlock - 1);
            for (long i = std::max(first, r * kBlock); i <= end; ++i)
                changed |= cut(i, m_spans[static_cast<std::size_t>(i)]);
            if (changed)
                refresh(r);
        }
    }

private:
    void refresh(long r) {
        MaterialSpan& run = m_runs[static_cast<std::size_t>(r)];
        const long end = std::min(static_cast<long>(m_spans.size()), r * kBlock + kBlock);
        run.bottom = std::numeric_limits<double>::infinity();
        run.top = -run.bottom;
        for (long i = r * kBlock; i < end; ++i) {
            run.bottom = std::min(run.bottom, m_spans[static_cast<std::size_t>(i)].bottom);
            run.top = std::max(run.top, m_spans[static_cast<std::size_t>(i)].top);
        }
    }

    std::vector<MaterialSpan> m_spans;
    std::vector<MaterialSpan> m_runs;
};

// The capsule of radius r around the segment u-v, seen in a plane's two axes
// (first, second); what depends only on the tool is computed once per edge.
struct Capsule {
    double ua, ub, va, vb, r, r2, da, db, len2, rl;
    double lowSecond, highSecond; // the capsule's extent along the second axis
    double lowFirst, highFirst, lowEnd, highEnd; // the edge's extent along either axis
    bool wellConditioned;                        // see missesAt

    Capsule(double ua_, double ub_, double va_, double vb_, double r_)
        : ua(ua_), ub(ub_), va(va_), vb(vb_), r(r_), r2(r_ * r_), da(va_ - ua_), db(vb_ - ub_),
          len2(da * da + db * db), rl(r_ * std::sqrt(len2)), lowSecond(std::min(ub_, vb_) - r_),
          highSecond(std::max(ub_, vb_) + r_), lowFirst(std::min(ua_, va_)), highFirst(std::max(ua_, va_)),
          lowEnd(std::min(ub_, vb_)), highEnd(std::max(ub_, vb_)),
          wellConditioned((da == 0.0 || std::fabs(da) >= 1e-6) && (db == 0.0 || std::fabs(db) >= 1e-6)) {}

    // Whether a dexel's material (see MaterialSpan) reaches the capsule's
    // extent at all.
    bool mayTouch(const MaterialSpan& m) const { return m.bottom < highSecond && m.top > lowSecond; }

    // True when the section of the line {first = w} lies wholly beside the
    // material m, so that cutting it would change nothing; false when unsure.
    // A point of the section is within r of an edge point (x, y), so its
    // second coordinate is within sqrt(r^2 - g^2) of y, where g is the
    // distance from w to the edge's first extent: without the root, the
    // material must start beyond that by kMissMargin, far above the rounding
    // of section(), whose exact interval this bound contains. section()
    // divides by da and db: one that is not zero but below 1e-6 could magnify
    // its rounding past the margin, so such an edge is always unsure.
    bool missesAt(double w, const MaterialSpan& m) const {
        constexpr double kMissMargin = 1e-6;
        if (!wellConditioned)
            return false;
        const double g = w < lowFirst ? lowFirst - w : (w > highFirst ? w - highFirst : 0.0);
        const double h2 = r2 - g * g;
        const double above = m.bottom - highEnd - kMissMargin, below = lowEnd - m.top - kMissMargin;
        return (above > 0.0 && above * above >= h2) || (below > 0.0 && below * below >= h2);
    }

    // The interval of the line {first = w}, parametrised by the second
    // coordinate, inside the capsule: the union of the two end discs and the
    // band between them. False when the line misses.
    bool section(double w, double& lo, double& hi) const {
        lo = std::numeric_limits<double>::infinity();
        hi = -lo;
        auto disc = [&](double ca, double cb) {
            const double d = w - ca;
            const double h2 = r2 - d * d;
            if (h2 > 0.0) {
                const double h = std::sqrt(h2);
                lo = std::min(lo, cb - h);
                hi = std::max(hi, cb + h);
            }
        };
        disc(ua, ub);
        disc(va, vb);
        if (len2 > 1e-24) {
            // Points (w, s): projection parameter t(s) in [0, 1] and distance
            // |cross(d, p - u)| / |d| <= r, both linear in s.
            const double wa = w - ua;
            double s0 = -std::numeric_limits<double>::infinity(), s1 = -s0;
            if (db != 0.0) {
                const double x = ub + (0.0 - wa * da) / db, y = ub + (len2 - wa * da) / db;
                s0 = std::min(x, y);
                s1 = std::max(x, y);
            } else {
                const double t = wa * da / len2;
                if (t < 0.0 || t > 1.0)
                    s1 = s0; // empty
            }
            if (da != 0.0) {
                const double x = ub + (db * wa - rl) / da, y = ub + (db * wa + rl) / da;
                s0 = std::max(s0, std::min(x, y));
                s1 = std::min(s1, std::max(x, y));
            } else if (std::fabs(db * wa) > rl) {
                s1 = s0;
            }
            if (s0 < s1) {
                lo = std::min(lo, s0);
                hi = std::max(hi, s1);
            }
        }
        return lo < hi;
    }
};

inline double segmentDistSq(double pa, double pb, double ua, double ub, double va, double vb) {
    const double da = va - ua, db = vb - ub;
    const double len2 = da * da + db * db;
    // The projection parameter, clamped to the edge. Most points lie beyond
    // an end of a short edge: the quotient's side of 0 and 1 follows from
    // the numerator's (the division rounds monotonically and len2 / len2 is
    // 1), so it is only formed between them.
    const double num = (pa - ua) * da + (pb - ub) * db;
    double t = 0.0;
    if (len2 > 0.0 && !(num <= 0.0))
        t = num >= len2 ? 1.0 : num / len2;
    t = std::min(1.0, std::max(0.0, t));
    const double x = ua + t * da - pa, y = ub + t * db - pb;
    return x * x + y * y;
}

// Calls f(k, u, v) for every contour edge u = points[k], v = points[k + 1] of
// the plane no longer than sqrt(maxEdge2): longer edges sweep nothing.
template <typename F>
void forEachSweptEdge(const WireCutPlane& w, double maxEdge2, F&& f) {
    for (std::size_t ci = 0; ci < w.contourCount(); ++ci) {
        for (uint32_t k = w.starts[ci]; k + 1 < w.starts[ci + 1]; ++k) {
            const WirePoint& u = w.points[k];
            const WirePoint& v = w.points[k + 1];
            if ((v.a - u.a) * (v.a - u.a) + (v.b - u.b) * (v.b - u.b) <= maxEdge2)
                f(k, u, v);
        }
    }
}

} // namespace

void ZMapStock::traceWireCuts(int family) {
    if (isEmpty())
        return;
    const auto start = Clock::now();
    const int N = family, a = (N + 1) % 3, b = (N + 2) % 3;
    const long na = m_n[a], nb = m_n[b];
    const double c = m_cell;
    std::vector<WireCutPlane>& planes = m_wire[N];
    planes.assign(m_n[N], WireCutPlane());
    parallelFor(m_n[N], threadCount(), [&](std::size_t plane) {
        const uint32_t p = static_cast<uint32_t>(plane);
        WireCutPlane& out = planes[plane];
        auto P = [&](long i) -> ZMapElement& { return element(b, p, static_cast<uint32_t>(i)); };
        auto S = [&](long j) -> ZMapElement& { return element(a, static_cast<uint32_t>(j), p); };
        auto A = [&](long i) { return gridCoord(a, i); };
        auto B = [&](long j) { return gridCoord(b, j); };
        // A walk that moves this often without meeting a node circles inside
        // material (dexel families that disagree by rounding); it is cut off.
        const long moveLimit = 4 * (na + nb) + 8;
        for (long i0 = 0; i0 < na; ++i0) {
            for (;;) {
                ZMapElement& first = P(i0);
                const long si = first.firstUnvisitedSegment();
                if (si < 0)
                    break;
                AASegment& s = first.segments[static_cast<std::size_t>(si)];
                const std::size_t begin = out.points.size();
                long i = i0, j;
                bool f;
                if (!(s.flags & AASegment::kBottomVisited)) {
                    j = static_cast<long>((s.bottom - m_min[b]) / c) + 1;
                    if (j >= nb)
                        break;
                    out.points.push_back({A(i), s.bottom});
                    s.flags |= AASegment::kBottomVisited;
                    f = true;
                } else {
                    j = static_cast<long>((s.top - m_min[b]) / c);
                    if (j >= nb)
                        break;
                    out.points.push_back({A(i), s.top});
                    s.flags |= AASegment::kTopVisited;
                    f = false;
                }
                bool primaryMode = false; // the walk starts in mode S
                long moves = 0;
                // Marks a segment end visited and appends its point; false when
                // it was visited already (the contour has closed).
                auto take = [&](AASegment& g, bool top, WirePoint point) {
                    const uint32_t bit = top ? AASegment::kTopVisited : AASegment::kBottomVisited;
                    if (g.flags & bit)
                        return false;
                    g.flags |= bit;
                    out.points.push_back(point);
                    moves = 0;
                    return true;
                };
                // Steps onto the segment of `dexel` containing `at` and takes its
                // top (f) or bottom end, unless visited.
                auto stepOnto = [&](ZMapElement& dexel, double at, bool primary) {
                    const long t = dexel.segmentContaining(at);
                    if (t < 0)
                        return false;
                    AASegment& g = dexel.segments[static_cast<std::size_t>(t)];
                    const double v = f ? g.top : g.bottom;
                    return take(g, f, primary ? WirePoint{A(i), v} : WirePoint{v, B(j)});
                };
                for (;;) {
                    if (i < 0 || i >= na || j < 0 || j >= nb || moves > moveLimit)
                        break;
                    if (!primaryMode) {
                        // Mode S: along the secondary dexel S_j, forward (+a) when f.
                        ZMapElement& sj = S(j);
                        const long k = sj.segmentContaining(A(i));
                        if (k >= 0) {
                            AASegment& g = sj.segments[static_cast<std::size_t>(k)];
                            if (f ? g.top >= A(i + 1) : g.bottom <= A(i - 1)) {
                                i += f ? 1 : -1;
                                ++moves;
                            } else {
                                if (!take(g, f, {f ? g.top : g.bottom, B(j)}))
                                    break;
                                f = !f;
                            }
                            primaryMode = true;
                        } else {
                            j += f ? -1 : 1;
                            if (j < 0 || j >= nb || !stepOnto(P(i), B(j), true))
                                break;
                            f = !f;
                        }
                    } else {
                        // Mode P: along the primary dexel P_i, downward (-b) when f.
                        ZMapElement& pi = P(i);
                        const long k = pi.segmentContaining(B(j));
                        if (k >= 0) {
                            AASegment& g = pi.segments[static_cast<std::size_t>(k)];
                            if (f ? g.bottom <= B(j - 1) : g.top >= B(j + 1)) {
                                j += f ? -1 : 1;
                                ++moves;
                                f = !f;
                            } else if (!take(g, !f, {A(i), f ? g.bottom : g.top})) {
                                break;
                            }
                            primaryMode = false;
                        } else {
                            i += f ? -1 : 1;
                            if (i < 0 || i >= na || !stepOnto(S(j), A(i), false))
                                break;
                            f = !f;
                        }
                    }
                }
                if (out.points.size() - begin < 3) {
                    out.points.resize(begin);
                } else {
                    const WirePoint closing = out.points[begin];
                    out.points.push_back(closing);
                    out.starts.push_back(static_cast<uint32_t>(out.points.size()));
                }
            }
        }
    });
    // The marks of this family's dexels are cleared before the next family.
    for (int g : {a, b})
        for (ZMapElement& e : m_grid[g])
            for (AASegment& s : e.segments)
                s.flags = 0;
    m_timings.trace += msSince(start);
}

void ZMapStock::erodeByWireCuts(int family, int progressBase, int progressSpan) {
    std::vector<WireCutPlane>& planes = m_wire[family];
    if (isEmpty() || planes.empty())
        return;
    const auto start = Clock::now();
    const int N = family, a = (N + 1) % 3, b = (N + 2) % 3;
    const long na = m_n[a], nb = m_n[b], np = m_n[N];
    const double c = m_cell, t = m_thickness;
    const double inv = 1.0 / c;
    const double maxEdge2 = 9.0 * c * c;
    // Radius of the ball's section l planes from its centre.
    const int levels = std::max(1, static_cast<int>((t - 1e-5) / c) + 1);
    std::vector<double> radius(static_cast<std::size_t>(levels));
    radius[0] = t;
    double lc = 0.0;
    for (int l = 1; l < levels; ++l) {
        lc += c;
        radius[static_cast<std::size_t>(l)] = std::sqrt(std::max(0.0, t * t - lc * lc));
    }
    auto range = [&](double lo, double hi, double r, int axis, long n, long& first, long& last) {
        first = std::max(0L, static_cast<long>((lo - r + 1e-5 - m_min[axis]) * inv) + 1);
        last = std::min(n - 1, static_cast<long>((hi + r - 1e-5 - m_min[axis]) * inv));
    };

    // Blocks of normal-dexel rows, each with the edges that reach it, in plane
    // and edge order.
    const std::size_t blocks = static_cast<std::size_t>(std::min<long>(na, std::max<long>(1, threadCount() * 8L)));
    std::vector<long> blockFirst(blocks + 1);
    for (std::size_t k = 0; k <= blocks; ++k)
        blockFirst[k] = static_cast<long>(static_cast<std::size_t>(na) * k / blocks);
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> blockEdges(blocks);
    for (long p = 0; p < np; ++p) {
        forEachSweptEdge(planes[static_cast<std::size_t>(p)], maxEdge2,
                         [&](uint32_t k, const WirePoint& u, const WirePoint& v) {
                             long i0, i1;
                             range(std::min(u.a, v.a), std::max(u.a, v.a), t, a, na, i0, i1);
                             if (i0 > i1)
                                 return;
                             const std::size_t b0 = static_cast<std::size_t>(
                                 std::upper_bound(blockFirst.begin(), blockFirst.end(), i0) - blockFirst.begin() - 1);
                             for (std::size_t bk = b0; bk < blocks && blockFirst[bk] <= i1; ++bk)
                                 blockEdges[bk].push_back({static_cast<uint32_t>(p), k});
                         });
    }

    const std::size_t tasks = static_cast<std::size_t>(np) + blocks;
    parallelFor(
        tasks, threadCount(),
        [&](std::size_t task) {
            if (task < static_cast<std::size_t>(np)) {
                // In-plane trims of the dexels of plane q, from the planes within
                // the ball's reach in plane order. Planes beyond the grid do not
                // exist; the widening by 2.5 thickness keeps material away from them.
                const long q = static_cast<long>(task);
                SpanRow spanB(na, [&](long i) -> const std::vector<AASegment>& {
                    return element(b, static_cast<uint32_t>(q), static_cast<uint32_t>(i)).segments;
                });
                SpanRow spanA(nb, [&](long j) -> const std::vector<AASegment>& {
                    return element(a, static_cast<uint32_t>(j), static_cast<uint32_t>(q)).segments;
                });
                // The dexels of one row that a capsule reaches lose its section.
                auto trimRow = [&](const Capsule& along, SpanRow& row, long from, long to, auto axis,
                                   auto&& segmentsAt) {
                    double lo, hi;
                    row.forEachReached(
                        from, to, [&](const MaterialSpan& m) { return along.mayTouch(m); },
                        [&](long k, MaterialSpan& span) {
                            return along.mayTouch(span) && !along.missesAt(gridCoord(axis, k), span) &&
                                   along.section(gridCoord(axis, k), lo, hi) &&
                                   subtractFromDexel(segmentsAt(k), span, lo, hi);
                        });
                };
                for (long p = std::max(0L, q - levels + 1); p <= std::min(np - 1, q + levels - 1); ++p) {
                    const double r = radius[static_cast<std::size_t>(std::labs(q - p))];
                    if (r <= 0.0)
                        continue;
                    forEachSweptEdge(planes[static_cast<std::size_t>(p)], maxEdge2,
                                     [&](uint32_t, const WirePoint& u, const WirePoint& v) {
                        long i0, i1, j0, j1;
                        range(std::min(u.a, v.a), std::max(u.a, v.a), r, a, na, i0, i1);
                        range(std::min(u.b, v.b), std::max(u.b, v.b), r, b, nb, j0, j1);
                        const Capsule alongB(u.a, u.b, v.a, v.b, r), alongA(u.b, u.a, v.b, v.a, r);
                        trimRow(alongB, spanB, i0, i1, a, [&](long i) -> std::vector<AASegment>& {
                            return element(b, static_cast<uint32_t>(q), static_cast<uint32_t>(i)).segments;
                        });
                        trimRow(alongA, spanA, j0, j1, b, [&](long j) -> std::vector<AASegment>& {
                            return element(a, static_cast<uint32_t>(j), static_cast<uint32_t>(q)).segments;
                        });
                    });
                }
            } else {
                // Ball cuts of the normal dexels in one block of rows.
                const std::size_t bk = task - static_cast<std::size_t>(np);
                const long rowFirst = blockFirst[bk], rowLast = blockFirst[bk + 1] - 1;
                const double t2 = t * t, reach = t - 1e-6, reach2 = reach > 0.0 ? reach * reach : 0.0;
                std::vector<MaterialSpan> spans;
                spans.reserve(static_cast<std::size_t>((rowLast - rowFirst + 1) * nb));
                for (long i = rowFirst; i <= rowLast; ++i)
                    for (long j = 0; j < nb; ++j)
                        spans.emplace_back(element(N, static_cast<uint32_t>(i), static_cast<uint32_t>(j)).segments);
                for (const auto& pe : blockEdges[bk]) {
                    const WireCutPlane& w = planes[pe.first];
                    const WirePoint& u = w.points[pe.second];
                    const WirePoint& v = w.points[pe.second + 1];
                    const double h = gridCoord(N, pe.first), hLow = h - t, hHigh = h + t;
                    long i0, i1, j0, j1;
                    range(std::min(u.a, v.a), std::max(u.a, v.a), t, a, na, i0, i1);
                    range(std::min(u.b, v.b), std::max(u.b, v.b), t, b, nb, j0, j1);
                    i0 = std::max(i0, rowFirst);
                    i1 = std::min(i1, rowLast);
                    for (long i = i0; i <= i1; ++i) {
                        const double pa = gridCoord(a, i);
                        ZMapElement* row = &element(N, static_cast<uint32_t>(i), 0);
                        MaterialSpan* rowSpans = &spans[static_cast<std::size_t>((i - rowFirst) * nb)];
                        for (long j = j0; j <= j1; ++j) {
                            // The cut [h - H, h + H] lies within [h - t, h + t]
                            // (H <= t exactly: sqrt(fl(t * t)) is t): a dexel whose
                            // material is wholly beside that, or that has none,
                            // would skip it, so the distance is not needed.
                            MaterialSpan& span = rowSpans[j];
                            if (span.bottom >= hHigh || span.top <= hLow)
                                continue;
                            const double e2 = segmentDistSq(pa, gridCoord(b, j), u.a, u.b, v.a, v.b);
                            if (!(e2 < reach2))
                                continue;
                            const double H = std::sqrt(t2 - e2);
                            subtractFromDexel(row[j].segments, span, h - H, h + H);
                        }
                    }
                }
            }
        },
        [&](std::size_t done) {
            if (progressSpan > 0)
                m_progress->report((progressBase + static_cast<int>(static_cast<long>(progressSpan) *
                                                                     static_cast<long>(done) /
                                                                     static_cast<long>(tasks))) /
                                   100.0);
        });
    std::vector<WireCutPlane>().swap(planes);
    m_timings.erode += msSince(start);
}

void ZMapStock::buildOffsetSurface() {
    if (isEmpty())
        return;
    // Every contour is traced from the un-eroded segments before any erosion.
    traceWireCuts(2);
    m_progress->report(0.09);
    traceWireCuts(0);
    m_progress->report(0.13);
    traceWireCuts(1);
    m_progress->report(0.17);
    erodeByWireCuts(2, 17, 28);
    erodeByWireCuts(0, 45, 12);
    erodeByWireCuts(1, 57, 12);
    generateTriangles(69, 16);
}

} // namespace lcm

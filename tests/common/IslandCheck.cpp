#include "IslandCheck.h"

#include "MeshFixtures.h"
#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace islandcheck {

namespace {

struct P {
    double x, y;
};

// One outline of a layer as a closed polygon (the last point joins the first).
struct Loop {
    std::vector<P> pts;
    double lo[2] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    double hi[2] = {-std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
};

std::vector<Loop> loopsAt(topolib::StlObject& mesh, double z) {
    std::vector<Loop> out;
    std::unique_ptr<topolib::SliceContourSet> set = mesh.sliceAt(z);
    if (!set)
        return out;
    for (const topolib::SliceContour& c : set->contours) {
        Loop l;
        for (const topolib::SlicePoint& p : c.points) {
            if (!l.pts.empty() && l.pts.back().x == p.x && l.pts.back().y == p.y)
                continue;
            l.pts.push_back({p.x, p.y});
            l.lo[0] = std::min(l.lo[0], double(p.x));
            l.lo[1] = std::min(l.lo[1], double(p.y));
            l.hi[0] = std::max(l.hi[0], double(p.x));
            l.hi[1] = std::max(l.hi[1], double(p.y));
        }
        if (l.pts.size() > 1 && l.pts.front().x == l.pts.back().x && l.pts.front().y == l.pts.back().y)
            l.pts.pop_back();
        if (l.pts.size() >= 3)
            out.push_back(std::move(l));
    }
    return out;
}

// The winding number of one loop about p (0 outside, +1 inside a
// counter-clockwise loop, -1 inside a clockwise one).
int windingOf(const Loop& l, const P& p) {
    if (p.y < l.lo[1] || p.y > l.hi[1] || p.x > l.hi[0])
        return 0;
    int w = 0;
    const std::size_t n = l.pts.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const P& a = l.pts[j];
        const P& b = l.pts[i];
        const double side = (b.x - a.x) * (p.y - a.y) - (p.x - a.x) * (b.y - a.y);
        if (a.y <= p.y) {
            if (b.y > p.y && side > 0.0)
                ++w;
        } else if (b.y <= p.y && side < 0.0) {
            --w;
        }
    }
    return w;
}

double signedArea(const Loop& l) {
    double twice = 0.0;
    const std::vector<P>& q = l.pts;
    for (std::size_t k = 0, k0 = q.size() - 1; k < q.size(); k0 = k++)
        twice += q[k0].x * q[k].y - q[k].x * q[k0].y;
    return twice / 2.0;
}

double segmentDistanceSq(const P& p, const P& a, const P& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len = dx * dx + dy * dy;
    double t = len > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len : 0.0;
    t = std::max(0.0, std::min(1.0, t));
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return ex * ex + ey * ey;
}

double cross(const P& o, const P& a, const P& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Squared distance of two segments (0 when they cross).
double segmentsDistanceSq(const P& a, const P& b, const P& c, const P& d) {
    const double d1 = cross(c, d, a), d2 = cross(c, d, b), d3 = cross(a, b, c), d4 = cross(a, b, d);
    if (((d1 > 0.0 && d2 < 0.0) || (d1 < 0.0 && d2 > 0.0)) &&
        ((d3 > 0.0 && d4 < 0.0) || (d3 < 0.0 && d4 > 0.0)))
        return 0.0;
    return std::min(std::min(segmentDistanceSq(a, c, d), segmentDistanceSq(b, c, d)),
                    std::min(segmentDistanceSq(c, a, b), segmentDistanceSq(d, a, b)));
}

bool boxesNear(const Loop& a, const Loop& b, double r) {
    return a.lo[0] - r <= b.hi[0] && b.lo[0] - r <= a.hi[0] && a.lo[1] - r <= b.hi[1] &&
           b.lo[1] - r <= a.hi[1];
}

bool outlinesNear(const Loop& a, const Loop& b, double r) {
    if (!boxesNear(a, b, r))
        return false;
    const double r2 = r * r;
    const std::size_t n = a.pts.size(), m = b.pts.size();
    for (std::size_t i = 0, i0 = n - 1; i < n; i0 = i++) {
        const P& p = a.pts[i0];
        const P& q = a.pts[i];
        const double lx = std::min(p.x, q.x) - r, hx = std::max(p.x, q.x) + r;
        const double ly = std::min(p.y, q.y) - r, hy = std::max(p.y, q.y) + r;
        for (std::size_t j = 0, j0 = m - 1; j < m; j0 = j++) {
            const P& s = b.pts[j0];
            const P& t = b.pts[j];
            if (std::max(s.x, t.x) < lx || std::min(s.x, t.x) > hx || std::max(s.y, t.y) < ly ||
                std::min(s.y, t.y) > hy)
                continue;
            if (segmentsDistanceSq(p, q, s, t) <= r2)
                return true;
        }
    }
    return false;
}

// The outlines of a layer by square cells of their boxes, so that a point or a
// box meets only the outlines around it. An outline whose box spans many cells
// (a layer's outer outline) is kept aside and always offered.
class LoopIndex {
public:
    explicit LoopIndex(const std::vector<Loop>* loops = nullptr) : m_loops(loops) {
        if (loops == nullptr || loops->empty())
            return;
        for (const Loop& l : *loops)
            for (int k = 0; k < 2; ++k) {
                m_lo[k] = std::min(m_lo[k], l.lo[k]);
                m_hi[k] = std::max(m_hi[k], l.hi[k]);
            }
        const int side = static_cast<int>(std::min(1024.0, std::ceil(std::sqrt(double(loops->size())))));
        for (int k = 0; k < 2; ++k) {
            m_n[k] = side;
            m_cell[k] = std::max((m_hi[k] - m_lo[k]) / side, 1e-9);
        }
        m_cells.resize(std::size_t(m_n[0]) * std::size_t(m_n[1]));
        m_stamp.assign(loops->size(), 0);
        for (std::size_t i = 0; i < loops->size(); ++i) {
            const Loop& l = (*loops)[i];
            const int i0 = cellOf(l.lo[0], 0), i1 = cellOf(l.hi[0], 0), j0 = cellOf(l.lo[1], 1),
                      j1 = cellOf(l.hi[1], 1);
            if ((i1 - i0 + 1) * (j1 - j0 + 1) > 64) {
                m_wide.push_back(i);
                continue;
            }
            for (int a = i0; a <= i1; ++a)
                for (int b = j0; b <= j1; ++b)
                    m_cells[std::size_t(b) * std::size_t(m_n[0]) + std::size_t(a)].push_back(i);
        }
    }

    void rebind(const std::vector<Loop>* loops) { m_loops = loops; }

    // Calls f(i) for every outline i whose box holds p, bounds included: the
    // only ones whose winding about p can differ from 0.
    template <typename F> void holding(const P& p, F&& f) const {
        if (m_loops == nullptr)
            return;
        auto test = [&](std::size_t i) {
            const Loop& l = (*m_loops)[i];
            if (p.x >= l.lo[0] && p.x <= l.hi[0] && p.y >= l.lo[1] && p.y <= l.hi[1])
                f(i);
        };
        for (std::size_t i : m_wide)
            test(i);
        if (p.x < m_lo[0] || p.x > m_hi[0] || p.y < m_lo[1] || p.y > m_hi[1])
            return;
        for (std::size_t i :
             m_cells[std::size_t(cellOf(p.y, 1)) * std::size_t(m_n[0]) + std::size_t(cellOf(p.x, 0))])
            test(i);
    }

    // Calls f(i), once each, for every outline i whose box comes within r of
    // the box lo-hi; f returns true to stop. Whether it stopped.
    template <typename F> bool near(const double lo[2], const double hi[2], double r, F&& f) {
        if (m_loops == nullptr)
            return false;
        ++m_visit;
        auto test = [&](std::size_t i) {
            const Loop& l = (*m_loops)[i];
            if (m_stamp[i] == m_visit)
                return false;
            m_stamp[i] = m_visit;
            return lo[0] - r <= l.hi[0] && l.lo[0] - r <= hi[0] && lo[1] - r <= l.hi[1] &&
                   l.lo[1] - r <= hi[1] && f(i);
        };
        for (std::size_t i : m_wide)
            if (test(i))
                return true;
        if (lo[0] - r > m_hi[0] || hi[0] + r < m_lo[0] || lo[1] - r > m_hi[1] || hi[1] + r < m_lo[1])
            return false;
        const int i0 = cellOf(lo[0] - r, 0), i1 = cellOf(hi[0] + r, 0), j0 = cellOf(lo[1] - r, 1),
                  j1 = cellOf(hi[1] + r, 1);
        for (int b = j0; b <= j1; ++b)
            for (int a = i0; a <= i1; ++a)
                for (std::size_t i : m_cells[std::size_t(b) * std::size_t(m_n[0]) + std::size_t(a)])
                    if (test(i))
                        return true;
        return false;
    }

private:
    int cellOf(double v, int k) const {
        const double c = std::floor((v - m_lo[k]) / m_cell[k]);
        return static_cast<int>(std::max(0.0, std::min(c, double(m_n[k] - 1))));
    }

    const std::vector<Loop>* m_loops;
    double m_lo[2] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    double m_hi[2] = {-std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    double m_cell[2] = {1.0, 1.0};
    int m_n[2] = {1, 1};
    std::vector<std::vector<std::size_t>> m_cells;
    std::vector<std::size_t> m_wide;
    std::vector<uint32_t> m_stamp;
    uint32_t m_visit = 0;
};

// The material of a layer: what lies inside its outlines by the non-zero
// rule, so that overlapping shells (and overlapping support shapes) add up
// and a mesh wound inside out still has its material inside.
struct Layer {
    std::vector<Loop> loops;
    LoopIndex index;

    Layer() = default;
    explicit Layer(std::vector<Loop> l) : loops(std::move(l)), index(&loops) {}
    // A moved vector keeps its elements where they were: the index stays good.
    Layer(Layer&& o) noexcept : loops(std::move(o.loops)), index(std::move(o.index)) { index.rebind(&loops); }
    Layer& operator=(Layer&& o) noexcept {
        loops = std::move(o.loops);
        index = std::move(o.index);
        index.rebind(&loops);
        return *this;
    }

    bool covers(const P& p) const {
        int w = 0;
        index.holding(p, [&](std::size_t i) { w += windingOf(loops[i], p); });
        return w != 0;
    }
};

// A region of a layer: outlines that bound one connected piece of material
// (an outer outline, the outlines of its holes, and outlines of shells that
// overlap it), given by their places in the layer.
struct Region {
    std::vector<std::size_t> loops;
};

// The region each outline of the layer belongs to, and the regions: what
// lies inside the outlines of one region by the non-zero rule is its material.
struct Regions {
    std::vector<Region> list;
    std::vector<std::size_t> of; // outline -> region

    bool covers(const Layer& layer, std::size_t region, const P& p) const {
        int w = 0;
        layer.index.holding(p, [&](std::size_t i) {
            if (of[i] == region)
                w += windingOf(layer.loops[i], p);
        });
        return w != 0;
    }
};

Regions regionsOf(Layer& layer) {
    const std::vector<Loop>& loops = layer.loops;
    const std::size_t n = loops.size();
    std::vector<double> area(n);
    for (std::size_t i = 0; i < n; ++i)
        area[i] = signedArea(loops[i]);
    // Largest first, so that every loop's holder is settled before it.
    std::vector<std::size_t> order(n), rank(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return std::fabs(area[a]) > std::fabs(area[b]); });
    for (std::size_t oi = 0; oi < n; ++oi)
        rank[order[oi]] = oi;
    std::vector<std::size_t> cluster(n);
    std::vector<bool> hole(n, false);
    auto find = [&](std::size_t i) {
        while (cluster[i] != i)
            i = cluster[i] = cluster[cluster[i]];
        return i;
    };
    for (std::size_t oi = 0; oi < n; ++oi) {
        const std::size_t i = order[oi];
        cluster[i] = i;
        // The smallest larger loop holding this one (the first in order of
        // those as small).
        std::size_t holder = n;
        const P& front = loops[i].pts.front();
        layer.index.holding(front, [&](std::size_t j) {
            if (rank[j] < oi && windingOf(loops[j], front) != 0 &&
                (holder == n || std::fabs(area[j]) < std::fabs(area[holder]) ||
                 (std::fabs(area[j]) == std::fabs(area[holder]) && rank[j] < rank[holder])))
                holder = j;
        });
        if (holder == n)
            continue;
        const bool sameTurn = (area[i] > 0.0) == (area[holder] > 0.0);
        if (!hole[holder]) {
            // In material: a hole of it, or a shell overlapping it.
            hole[i] = !sameTurn;
            cluster[i] = find(holder);
        } else if (sameTurn) {
            // Turning as the hole does: part of the hole's rim.
            hole[i] = true;
            cluster[i] = find(holder);
        }
        // Otherwise material inside a hole: a region of its own.
    }
    // Outer outlines that cross belong to one region.
    for (std::size_t i = 0; i < n; ++i) {
        if (hole[i])
            continue;
        layer.index.near(loops[i].lo, loops[i].hi, 0.0, [&](std::size_t j) {
            if (j > i && !hole[j] && find(i) != find(j) && outlinesNear(loops[i], loops[j], 0.0))
                cluster[find(i)] = find(j);
            return false;
        });
    }
    Regions regions;
    regions.of.assign(n, 0);
    std::vector<int> index(n, -1);
    for (std::size_t oi = 0; oi < n; ++oi) {
        const std::size_t i = order[oi];
        const std::size_t c = find(i);
        if (index[c] < 0) {
            index[c] = static_cast<int>(regions.list.size());
            regions.list.emplace_back();
        }
        regions.of[i] = static_cast<std::size_t>(index[c]);
        regions.list[static_cast<std::size_t>(index[c])].loops.push_back(i);
    }
    return regions;
}

// Whether some material of `below` lies within r of region k of `layer`: a
// point of the region on it, a point of it in the region, or outlines that
// close.
bool touches(const Layer& layer, const Regions& regions, std::size_t k, Layer& below, double r) {
    const Region& region = regions.list[k];
    double lo[2] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    double hi[2] = {-std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    for (std::size_t i : region.loops) {
        const Loop& l = layer.loops[i];
        for (const P& p : l.pts)
            if (below.covers(p))
                return true;
        for (int c = 0; c < 2; ++c) {
            lo[c] = std::min(lo[c], l.lo[c]);
            hi[c] = std::max(hi[c], l.hi[c]);
        }
    }
    return below.index.near(lo, hi, r, [&](std::size_t j) {
        const Loop& l = below.loops[j];
        for (const P& p : l.pts)
            if (regions.covers(layer, k, p))
                return true;
        for (std::size_t i : region.loops)
            if (outlinesNear(layer.loops[i], l, r))
                return true;
        return false;
    });
}

} // namespace

Result findIslands(topolib::StlObject& model, const std::vector<topolib::StlTriangle*>& supports,
                   const Settings& settings) {
    Result result;
    meshfixtures::TriangleSoup soup;
    soup.reserve(supports.size());
    for (const topolib::StlTriangle* t : supports) {
        meshfixtures::Facet f;
        for (int k = 0; k < 3; ++k)
            f.v[k] = {t->vertices[k]->x(), t->vertices[k]->y(), t->vertices[k]->z()};
        soup.push_back(f);
    }
    auto supportMesh = meshfixtures::buildMesh(soup, meshfixtures::BuildSteps{true, false});

    double top = -std::numeric_limits<double>::max();
    for (const topolib::StlVertex* v : model.vertices())
        top = std::max(top, v->z());
    const double h = settings.layer;
    // The supports are sliced only below the layers that hold an island.
    Layer modelBelow, supportBelow;
    long supportLayer = -1;
    bool platform = true; // the layer below is the platform
    for (long k = 0; (static_cast<double>(k) + 0.5) * h <= top; ++k) {
        const double z = (static_cast<double>(k) + 0.5) * h;
        Layer modelHere(loopsAt(model, z));
        if (!platform) {
            const Regions regions = regionsOf(modelHere);
            for (std::size_t r = 0; r < regions.list.size(); ++r) {
                if (touches(modelHere, regions, r, modelBelow, settings.touch))
                    continue;
                if (supportLayer != k - 1) {
                    const double zb = (static_cast<double>(k - 1) + 0.5) * h;
                    supportBelow = Layer(soup.empty() ? std::vector<Loop>() : loopsAt(*supportMesh, zb));
                    supportLayer = k - 1;
                }
                const Loop& first = modelHere.loops[regions.list[r].loops.front()];
                Island island;
                island.x = first.pts.front().x;
                island.y = first.pts.front().y;
                island.z = z;
                island.supported = touches(modelHere, regions, r, supportBelow, settings.touch);
                ++result.islands;
                result.unsupported += island.supported ? 0 : 1;
                result.list.push_back(island);
            }
        }
        platform = false;
        modelBelow = std::move(modelHere);
    }
    return result;
}

namespace {

// One layer's material on a grid of cells: cell (i, j) has its centre at
// (x0 + (i + 0.5) c, y0 + (j + 0.5) c) and holds material when the layer's
// outlines wind around that centre (non-zero rule).
struct Raster {
    double x0 = 0.0, y0 = 0.0, c = 0.1;
    int nx = 0, ny = 0;
    std::vector<uint8_t> full;

    bool at(int i, int j) const {
        return i >= 0 && j >= 0 && i < nx && j < ny && full[std::size_t(j) * nx + i];
    }
};

Raster rasterise(const std::vector<Loop>& loops, double x0, double y0, double c, int nx, int ny) {
    Raster r{x0, y0, c, nx, ny, std::vector<uint8_t>(std::size_t(nx) * ny, 0)};
    std::vector<std::pair<double, int>> crossings;
    for (int j = 0; j < ny; ++j) {
        const double y = y0 + (j + 0.5) * c;
        crossings.clear();
        for (const Loop& l : loops) {
            if (y < l.lo[1] || y > l.hi[1])
                continue;
            const std::size_t n = l.pts.size();
            for (std::size_t k = 0, k0 = n - 1; k < n; k0 = k++) {
                const P& a = l.pts[k0];
                const P& b = l.pts[k];
                if ((a.y <= y) == (b.y <= y))
                    continue;
                const double x = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
                crossings.emplace_back(x, b.y > a.y ? 1 : -1);
            }
        }
        std::sort(crossings.begin(), crossings.end());
        int winding = 0;
        for (std::size_t k = 0; k + 1 < crossings.size(); ++k) {
            winding += crossings[k].second;
            if (winding == 0)
                continue;
            const int i0 = std::max(0, int(std::ceil((crossings[k].first - x0) / c - 0.5)));
            const int i1 = std::min(nx - 1, int(std::floor((crossings[k + 1].first - x0) / c - 0.5)));
            for (int i = i0; i <= i1; ++i)
                r.full[std::size_t(j) * nx + i] = 1;
        }
    }
    return r;
}

} // namespace

Overhangs findUnreachedOverhangs(topolib::StlObject& model,
                                 const std::vector<std::array<double, 3>>& contacts,
                                 const OverhangSettings& settings) {
    Overhangs out;
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const topolib::StlVertex* v : model.vertices())
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], v->pos[k]);
            hi[k] = std::max(hi[k], v->pos[k]);
        }
    const double c = settings.cell, pad = settings.hang + 2 * c;
    const double x0 = lo[0] - pad, y0 = lo[1] - pad;
    const int nx = int((hi[0] - lo[0] + 2 * pad) / c) + 1, ny = int((hi[1] - lo[1] + 2 * pad) / c) + 1;
    const int reachCells = int(std::ceil(settings.hang / c));
    const double h = settings.layer;
    // The contacts bucketed by x and y in squares of the reach.
    const double bucket = std::max(settings.reach, 1e-3);
    auto key = [&](double x, double y) {
        return std::pair<long, long>(long(std::floor((x - x0) / bucket)),
                                     long(std::floor((y - y0) / bucket)));
    };
    std::map<std::pair<long, long>, std::vector<std::array<double, 3>>> buckets;
    for (const auto& q : contacts)
        buckets[key(q[0], q[1])].push_back(q);
    auto reached = [&](double px, double py, double pz) {
        const auto [bi, bj] = key(px, py);
        for (long i = bi - 1; i <= bi + 1; ++i)
            for (long j = bj - 1; j <= bj + 1; ++j) {
                auto it = buckets.find({i, j});
                if (it == buckets.end())
                    continue;
                for (const auto& q : it->second) {
                    const double dx = q[0] - px, dy = q[1] - py, dz = q[2] - pz;
                    if (dx * dx + dy * dy + dz * dz <= settings.reach * settings.reach)
                        return true;
                }
            }
        return false;
    };
    Raster below;
    bool platform = true;
    for (long k = 0; (k + 0.5) * h <= hi[2]; ++k) {
        const double z = (k + 0.5) * h;
        Raster here = rasterise(loopsAt(model, z), x0, y0, c, nx, ny);
        if (!platform) {
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) {
                    if (!here.at(i, j) || below.at(i, j))
                        continue;
                    // Farther than `hang` from every cell of material below.
                    bool near = false;
                    for (int dj = -reachCells; dj <= reachCells && !near; ++dj)
                        for (int di = -reachCells; di <= reachCells && !near; ++di)
                            near = (di * di + dj * dj) * c * c <= settings.hang * settings.hang &&
                                   below.at(i + di, j + dj);
                    if (near)
                        continue;
                    const double px = x0 + (i + 0.5) * c, py = y0 + (j + 0.5) * c;
                    out.hangingArea += c * c;
                    if (!reached(px, py, z)) {
                        out.unreachedArea += c * c;
                        out.x = px;
                        out.y = py;
                        out.z = z;
                    }
                }
        }
        // The platform carries the first layer.
        platform = false;
        below = std::move(here);
    }
    return out;
}

} // namespace islandcheck

#pragma once
// What the cone placement of an overhang region asks of the region's own
// surface and of the model around it (the placement's internals, shared by
// its grid and its reach passes).

#include "support/SupportArea.h"
#include "topolib/OctreeKernels.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/Vector3D.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

namespace support {

// Surfaces of one region that lie over each other at a point less than this
// apart count as one.
constexpr double kSurfaceGap = 1.0;
// A surface point hangs when the model holds no material this far around it,
// one print layer below.
constexpr double kHang = 1.0;
constexpr double kLayer = 0.05;

// Whether the model holds material within kHang of (x, y), kLayer below z,
// sampled at the centre and on `rings` evenly spaced rings of `directions`
// points each (false without an octree). A thin wedge of material (the ridge
// of a spike lying on its side) shows only to the finer patterns.
bool materialBelow(topolib::StlObject& mesh, double x, double y, double z, int rings = 2, int directions = 8);

// The region's facets by square cells of their box in x and y, made when first
// asked; a facet wider than many cells is kept aside and always tested.
class AreaSupport::SurfaceIndex {
public:
    // Every live facet that is not upright, whatever its group.
    static constexpr int kAnyGroup = -0x7fffffff;

    // Cells of `cell` mm a side; a facet whose box spans more than `wide` of
    // them is kept aside.
    SurfaceIndex(const std::vector<topolib::StlTriangle*>& facets, int group, double cell = 2.0,
                 long wide = 16)
        : m_facets(facets), m_group(group), m_cell(cell), m_wideCells(wide) {}

    // The facet of the region over (x, y) whose height there lies nearest to z,
    // no farther than kSurfaceGap; null when none. Of facets equally near, the
    // last in the order wide facets first, then the others in region order.
    topolib::StlTriangle* near(double x, double y, double z, double* height) {
        if (!m_made)
            make();
        topolib::StlTriangle* best = nullptr;
        double gap = kSurfaceGap;
        // The facet's height when it lies over (x, y) within the gap of z.
        auto heightOf = [&](const topolib::StlTriangle* t, double* h) {
            if (x < lo(t, 0) || x > hi(t, 0) || y < lo(t, 1) || y > hi(t, 1))
                return false;
            *h = topolib::triangleHeightAt(t, x, y);
            return *h > -1e-6 && *h < 1e11 && std::fabs(*h - z) <= kSurfaceGap;
        };
        for (topolib::StlTriangle* t : m_wide) {
            double h = 0.0;
            if (heightOf(t, &h) && std::fabs(h - z) <= gap) {
                gap = std::fabs(h - z);
                best = t;
                *height = h;
            }
        }
        auto it = m_cells.find(key(cell(x), cell(y)));
        if (it == m_cells.end())
            return best;
        // Only facets whose height range comes within the gap of z: on a
        // column of stacked surfaces (a thread) most lie far above or below.
        // Of those equally near, the last in region order wins.
        const Cell& c = it->second;
        auto from = std::lower_bound(c.facets.begin(), c.facets.end(), z - kSurfaceGap - c.tallest,
                                     [](const Entry& e, double v) { return e.zLow < v; });
        std::size_t bestIndex = 0;
        bool fromCell = false;
        for (auto e = from; e != c.facets.end() && e->zLow <= z + kSurfaceGap; ++e) {
            double h = 0.0;
            if (e->zHigh < z - kSurfaceGap || !heightOf(m_facets[e->index], &h))
                continue;
            const double d = std::fabs(h - z);
            if (d < gap || (d == gap && (!fromCell || e->index > bestIndex))) {
                gap = d;
                best = m_facets[e->index];
                bestIndex = e->index;
                fromCell = true;
                *height = h;
            }
        }
        return best;
    }

    // The facet over (x, y) whose height there is the highest at or below z;
    // null when none.
    topolib::StlTriangle* firstBelow(double x, double y, double z) {
        if (!m_made)
            make();
        topolib::StlTriangle* best = nullptr;
        double top = -std::numeric_limits<double>::infinity();
        auto test = [&](topolib::StlTriangle* t) {
            if (x < lo(t, 0) || x > hi(t, 0) || y < lo(t, 1) || y > hi(t, 1))
                return;
            const double h = topolib::triangleHeightAt(t, x, y);
            if (h > -1e-6 && h < 1e11 && h <= z && h > top) {
                top = h;
                best = t;
            }
        };
        for (topolib::StlTriangle* t : m_wide)
            test(t);
        auto it = m_cells.find(key(cell(x), cell(y)));
        if (it == m_cells.end())
            return best;
        // Down from z: no facet whose bottom lies more than the cell's tallest
        // below the best height can reach above it.
        const Cell& c = it->second;
        auto e = std::upper_bound(c.facets.begin(), c.facets.end(), z,
                                  [](double v, const Entry& f) { return v < f.zLow; });
        while (e != c.facets.begin()) {
            --e;
            if (e->zLow + c.tallest < top)
                break;
            test(m_facets[e->index]);
        }
        return best;
    }

    // Whether the surface falls away below the next layer within kHang of
    // (x, y, z): material holds that point from below (materialBelow's
    // answer, given by the region's facets where the surface slopes). With a
    // facet's normal, only its downhill direction is tried (a quick first look).
    bool slopesDown(double x, double y, double z, const topolib::Vector3D* normal = nullptr) {
        const double below = z - kLayer;
        auto fallsAt = [&](double px, double py) {
            double h = 0.0;
            return near(px, py, below, &h) != nullptr && h < below;
        };
        // The nearest ring first: a steep surface falls more than the gap
        // within the outer ones.
        const double rings[3] = {0.1 * kHang, 0.5 * kHang, kHang};
        if (normal != nullptr) {
            const double across = std::hypot(normal->x, normal->y);
            for (const double r : rings)
                if (across > 1e-6 && fallsAt(x - r * normal->x / across, y - r * normal->y / across))
                    return true;
            return false;
        }
        for (const double r : rings)
            for (int k = 0; k < 8; ++k) {
                const double a = k * 0.7853981634;
                if (fallsAt(x + r * std::cos(a), y + r * std::sin(a)))
                    return true;
            }
        return false;
    }

private:
    long cell(double v) const {
        return static_cast<long>(std::floor(std::max(-1e12, std::min(v / m_cell, 1e12))));
    }
    static uint64_t key(long i, long j) {
        return (static_cast<uint64_t>(i) << 32) ^ static_cast<uint64_t>(j & 0xFFFFFFFF);
    }
    static double lo(const topolib::StlTriangle* t, int k) {
        return std::min({t->vertices[0]->pos[k], t->vertices[1]->pos[k], t->vertices[2]->pos[k]});
    }
    static double hi(const topolib::StlTriangle* t, int k) {
        return std::max({t->vertices[0]->pos[k], t->vertices[1]->pos[k], t->vertices[2]->pos[k]});
    }
    void make() {
        m_made = true;
        for (std::size_t i = 0; i < m_facets.size(); ++i) {
            topolib::StlTriangle* t = m_facets[i];
            if (t == nullptr || t->isDeleted() || (m_group != kAnyGroup && t->group() != m_group))
                continue;
            // An upright facet gives no height (the inside tests pass it by too).
            if (m_group == kAnyGroup && std::fabs(t->normal.z) < 1e-5)
                continue;
            const long i0 = cell(lo(t, 0)), i1 = cell(hi(t, 0)), j0 = cell(lo(t, 1)), j1 = cell(hi(t, 1));
            if (!std::isfinite(lo(t, 0) + hi(t, 0) + lo(t, 1) + hi(t, 1)))
                continue;
            if ((i1 - i0 + 1) * (j1 - j0 + 1) > m_wideCells) {
                m_wide.push_back(t);
                continue;
            }
            const Entry e{lo(t, 2), hi(t, 2), i};
            for (long a = i0; a <= i1; ++a)
                for (long b = j0; b <= j1; ++b) {
                    Cell& c = m_cells[key(a, b)];
                    c.facets.push_back(e);
                    c.tallest = std::max(c.tallest, e.zHigh - e.zLow);
                }
        }
        for (auto& [k, c] : m_cells)
            std::stable_sort(c.facets.begin(), c.facets.end(),
                             [](const Entry& a, const Entry& b) { return a.zLow < b.zLow; });
    }

    // A facet of a cell by its height range and its place in the region.
    struct Entry {
        double zLow, zHigh;
        std::size_t index;
    };
    struct Cell {
        std::vector<Entry> facets; // by rising zLow
        double tallest = 0.0;      // the largest height range among them
    };

    const std::vector<topolib::StlTriangle*>& m_facets;
    int m_group;
    double m_cell;
    long m_wideCells;
    bool m_made = false;
    std::unordered_map<uint64_t, Cell> m_cells;
    std::vector<topolib::StlTriangle*> m_wide;
};

// Contact points in cubic cells of the reach: whether any lies within it of
// a point.
class ContactCells {
public:
    explicit ContactCells(double reach) : m_reach(reach) {}

    void add(const topolib::Vector3D& p) { m_cells[key(cell(p.x), cell(p.y), cell(p.z))].push_back(p); }

    bool near(const topolib::Vector3D& p) const {
        const long i = cell(p.x), j = cell(p.y), k = cell(p.z);
        for (long a = i - 1; a <= i + 1; ++a)
            for (long b = j - 1; b <= j + 1; ++b)
                for (long c = k - 1; c <= k + 1; ++c) {
                    auto it = m_cells.find(key(a, b, c));
                    if (it == m_cells.end())
                        continue;
                    for (const topolib::Vector3D& q : it->second)
                        if ((q - p).lengthSquared() <= m_reach * m_reach)
                            return true;
                }
        return false;
    }

private:
    long cell(double v) const {
        return static_cast<long>(std::floor(std::max(-1e15, std::min(v / m_reach, 1e15))));
    }
    static uint64_t key(long i, long j, long k) {
        return (static_cast<uint64_t>(i & 0x1FFFFF) << 42) | (static_cast<uint64_t>(j & 0x1FFFFF) << 21) |
               static_cast<uint64_t>(k & 0x1FFFFF);
    }

    double m_reach;
    std::unordered_map<uint64_t, std::vector<topolib::Vector3D>> m_cells;
};

} // namespace support

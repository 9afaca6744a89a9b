#include "support/NearestCones.h"

#include "support/ColumnLink.h"
#include "support/ConeShape.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace support {

namespace {

// Boxes of at most this many cones are not split further.
constexpr std::size_t kLeafSize = 8;

bool hasFiniteFoot(const ConeShape* c) {
    return std::isfinite(c->FootPoint.x) && std::isfinite(c->FootPoint.y) && std::isfinite(c->FootPoint.z);
}

bool pointBefore(const topolib::Vector3D& a, const topolib::Vector3D& b) {
    return std::lexicographical_compare(a.data(), a.data() + 3, b.data(), b.data() + 3);
}

bool sameFoot(const ConeShape* a, const ConeShape* b) {
    return a->FootPoint.x == b->FootPoint.x && a->FootPoint.y == b->FootPoint.y &&
           a->FootPoint.z == b->FootPoint.z;
}

} // namespace

NearestCones::NearestCones(const std::vector<ConeShape*>& cones, std::size_t most) : m_most(most) {
    std::vector<Point> live;
    live.reserve(cones.size());
    for (std::size_t n = 0; n < cones.size(); ++n) {
        ConeShape* c = cones[n];
        if (c->isDeleted() || !hasFiniteFoot(c))
            continue;
        live.push_back({c->FootPoint.x, c->FootPoint.y, c, static_cast<std::uint32_t>(n)});
    }
    // Cones at one foot point lie at one distance from any other cone and
    // rank by their contact points among themselves (and then by their place
    // in the list): of each such crowd only the first `most` can be found.
    std::sort(live.begin(), live.end(), [](const Point& p, const Point& q) {
        if (pointBefore(p.cone->FootPoint, q.cone->FootPoint))
            return true;
        if (pointBefore(q.cone->FootPoint, p.cone->FootPoint))
            return false;
        if (pointBefore(p.cone->ContactPoint, q.cone->ContactPoint))
            return true;
        if (pointBefore(q.cone->ContactPoint, p.cone->ContactPoint))
            return false;
        return p.order < q.order;
    });
    m_points.reserve(live.size());
    std::size_t crowd = 0;
    for (std::size_t n = 0; n < live.size(); ++n) {
        crowd = n > 0 && sameFoot(live[n - 1].cone, live[n].cone) ? crowd + 1 : 0;
        if (crowd < m_most)
            m_points.push_back(live[n]);
    }
    if (m_points.empty())
        return;
    // A complete binary numbering of the boxes: at most 2 * leaves nodes.
    std::size_t nodes = 1;
    while (nodes * kLeafSize < m_points.size())
        nodes *= 2;
    m_nodes.resize(2 * nodes);
    build(0, 0, m_points.size());
}

void NearestCones::build(std::size_t node, std::size_t lo, std::size_t hi) {
    Node& box = m_nodes[node];
    box.minX = box.maxX = m_points[lo].x;
    box.minY = box.maxY = m_points[lo].y;
    for (std::size_t n = lo + 1; n < hi; ++n) {
        box.minX = std::min(box.minX, m_points[n].x);
        box.maxX = std::max(box.maxX, m_points[n].x);
        box.minY = std::min(box.minY, m_points[n].y);
        box.maxY = std::max(box.maxY, m_points[n].y);
    }
    if (hi - lo <= kLeafSize)
        return;
    const std::size_t mid = lo + (hi - lo) / 2;
    const bool alongX = box.maxX - box.minX >= box.maxY - box.minY;
    std::nth_element(m_points.begin() + std::ptrdiff_t(lo), m_points.begin() + std::ptrdiff_t(mid),
                     m_points.begin() + std::ptrdiff_t(hi),
                     [alongX](const Point& p, const Point& q) { return alongX ? p.x < q.x : p.y < q.y; });
    build(2 * node + 1, lo, mid);
    build(2 * node + 2, mid, hi);
}

struct NearestCones::Search {
    const ConeShape* cone = nullptr;
    double px = 0.0, py = 0.0, a = 0.0, b = 0.0;
    std::size_t k = 0;
    // The best so far, sorted by (rank, order), at most k.
    struct Found {
        ColumnLink::Rank rank;
        std::uint32_t order = 0;
        ConeShape* cone = nullptr;
        bool operator<(const Found& f) const {
            if (rank < f.rank)
                return true;
            if (f.rank < rank)
                return false;
            return order < f.order;
        }
    };
    std::vector<Found> best;
    std::uint64_t examined = 0;

    void consider(const Point& p) {
        ++examined;
        ConeShape* d = p.cone;
        if (d == cone || d->isDeleted())
            return;
        const double dx = d->FootPoint.x - px, dy = d->FootPoint.y - py;
        const double s2 = dx * dx + dy * dy;
        if (!(a < s2 && s2 < b))
            return;
        const Found f{ColumnLink::rank(ColumnLink::footDistanceSq(cone, d), d), p.order, d};
        if (best.size() == k && !(f < best.back()))
            return;
        best.insert(std::upper_bound(best.begin(), best.end(), f), f);
        if (best.size() > k)
            best.pop_back();
    }
};

void NearestCones::search(Search& s, std::size_t node, std::size_t lo, std::size_t hi) const {
    ++s.examined;
    const Node& box = m_nodes[node];
    // The nearest and farthest a cone of the box may lie (planar, squared),
    // computed as the cones' own distances are, so that rounding never
    // passes over a cone that qualifies.
    const double nx = std::max({box.minX - s.px, s.px - box.maxX, 0.0});
    const double ny = std::max({box.minY - s.py, s.py - box.maxY, 0.0});
    const double fx = std::max(s.px - box.minX, box.maxX - s.px);
    const double fy = std::max(s.py - box.minY, box.maxY - s.py);
    const double near = nx * nx + ny * ny, far = fx * fx + fy * fy;
    if (!(near < s.b) || !(s.a < far))
        return;
    // A cone's rank counts its 3D foot distance, never less than the planar one.
    if (s.best.size() == s.k && ColumnLink::rank(near, nullptr).microns > s.best.back().rank.microns)
        return;
    if (hi - lo <= kLeafSize) {
        for (std::size_t n = lo; n < hi; ++n)
            s.consider(m_points[n]);
        return;
    }
    const std::size_t mid = lo + (hi - lo) / 2;
    const Node& left = m_nodes[2 * node + 1];
    const bool alongX = box.maxX - box.minX >= box.maxY - box.minY;
    const bool leftFirst = alongX ? s.px <= left.maxX : s.py <= left.maxY;
    if (leftFirst) {
        search(s, 2 * node + 1, lo, mid);
        search(s, 2 * node + 2, mid, hi);
    } else {
        search(s, 2 * node + 2, mid, hi);
        search(s, 2 * node + 1, lo, mid);
    }
}

void NearestCones::find(const ConeShape* c, double a, double b, std::size_t k, std::vector<ConeShape*>& out,
                        std::uint64_t* examined) const {
    out.clear();
    k = std::min(k, m_most);
    if (m_points.empty() || k == 0 || !hasFiniteFoot(c))
        return;
    Search s;
    s.cone = c;
    s.px = c->FootPoint.x;
    s.py = c->FootPoint.y;
    s.a = a;
    s.b = b;
    s.k = k;
    s.best.reserve(k + 1);
    search(s, 0, 0, m_points.size());
    for (const Search::Found& f : s.best)
        out.push_back(f.cone);
    if (examined != nullptr)
        *examined += s.examined;
}

} // namespace support

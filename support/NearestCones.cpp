#include "support/NearestCones.h"

#include "support/ColumnLink.h"
#include "support/ConeShape.h"

#include <algorithm>
#include <cmath>

namespace support {

namespace {

// Cells of the fine grid at the most; about two cones a cell otherwise.
constexpr double kMaxCells = 4.0 * 1024 * 1024;
constexpr double kConesPerCell = 2.0;

bool hasFiniteFoot(const ConeShape* c) {
    return std::isfinite(c->FootPoint.x) && std::isfinite(c->FootPoint.y) && std::isfinite(c->FootPoint.z);
}

} // namespace

NearestCones::NearestCones(const std::vector<ConeShape*>& cones) {
    std::vector<ConeShape*> live;
    live.reserve(cones.size());
    double maxX = 0.0, maxY = 0.0;
    for (ConeShape* c : cones) {
        if (c->isDeleted() || !hasFiniteFoot(c))
            continue;
        if (live.empty()) {
            m_minX = maxX = c->FootPoint.x;
            m_minY = maxY = c->FootPoint.y;
        }
        m_minX = std::min(m_minX, c->FootPoint.x);
        m_minY = std::min(m_minY, c->FootPoint.y);
        maxX = std::max(maxX, c->FootPoint.x);
        maxY = std::max(maxY, c->FootPoint.y);
        live.push_back(c);
    }
    if (live.empty())
        return;
    const double w = maxX - m_minX, h = maxY - m_minY;
    const double extent = std::max({w, h, 1e-3});
    double cell = std::sqrt(std::max(w, 1e-3) * std::max(h, 1e-3) * kConesPerCell / static_cast<double>(live.size()));
    cell = std::max({cell, extent / std::sqrt(kMaxCells), 1e-3});
    m_cell = cell;
    m_nx = static_cast<int64_t>(w / cell) + 1;
    m_ny = static_cast<int64_t>(h / cell) + 1;
    // Counting sort of the cones by cell.
    std::vector<uint32_t> cellOf(live.size());
    m_start.assign(static_cast<std::size_t>(m_nx * m_ny + 1), 0);
    for (std::size_t n = 0; n < live.size(); ++n) {
        const int64_t k = column(live[n]->FootPoint.x) * m_ny + row(live[n]->FootPoint.y);
        cellOf[n] = static_cast<uint32_t>(k);
        ++m_start[static_cast<std::size_t>(k) + 1];
    }
    for (std::size_t k = 1; k < m_start.size(); ++k)
        m_start[k] += m_start[k - 1];
    m_cones.resize(live.size());
    std::vector<uint32_t> next(m_start.begin(), m_start.end() - 1);
    for (std::size_t n = 0; n < live.size(); ++n)
        m_cones[next[cellOf[n]]++] = live[n];
}

int64_t NearestCones::column(double x) const {
    return std::clamp<int64_t>(static_cast<int64_t>((x - m_minX) / m_cell), 0, m_nx - 1);
}

int64_t NearestCones::row(double y) const {
    return std::clamp<int64_t>(static_cast<int64_t>((y - m_minY) / m_cell), 0, m_ny - 1);
}

void NearestCones::find(const ConeShape* c, double a, double b, std::size_t k, std::vector<ConeShape*>& out) const {
    out.clear();
    const double p[2] = {c->FootPoint.x, c->FootPoint.y};
    if (m_cones.empty() || k == 0 || !hasFiniteFoot(c))
        return;
    std::vector<std::pair<ColumnLink::Rank, ConeShape*>> best; // sorted, at most k
    const auto consider = [&](ConeShape* d) {
        if (d == c || d->isDeleted())
            return;
        const double dx = d->FootPoint.x - p[0], dy = d->FootPoint.y - p[1];
        const double s2 = dx * dx + dy * dy;
        if (!(a < s2 && s2 < b))
            return;
        const ColumnLink::Rank r = ColumnLink::rank(ColumnLink::footDistanceSq(c, d), d);
        if (best.size() == k && !(r < best.back().first))
            return;
        const auto at = std::upper_bound(best.begin(), best.end(), r,
                                         [](const ColumnLink::Rank& x, const auto& e) { return x < e.first; });
        best.insert(at, {r, d});
        if (best.size() > k)
            best.pop_back();
    };
    const int64_t ci = std::clamp<int64_t>(static_cast<int64_t>(std::floor((p[0] - m_minX) / m_cell)), -1, m_nx);
    const int64_t cj = std::clamp<int64_t>(static_cast<int64_t>(std::floor((p[1] - m_minY) / m_cell)), -1, m_ny);
    const int64_t maxRing = std::max({ci + 1, m_nx - ci, cj + 1, m_ny - cj});
    for (int64_t ring = 0; ring <= maxRing; ++ring) {
        // Every cone of a farther ring lies at least ring cells away.
        const double gap = static_cast<double>(ring > 0 ? ring - 1 : 0) * m_cell;
        if (gap * gap >= b)
            break;
        if (best.size() == k && gap * 1000.0 > static_cast<double>(best.back().first.microns) + 1.0)
            break;
        for (int64_t i = ci - ring; i <= ci + ring; ++i) {
            if (i < 0 || i >= m_nx)
                continue;
            const bool edgeColumn = i == ci - ring || i == ci + ring;
            for (int64_t j = cj - ring; j <= cj + ring; j += edgeColumn ? 1 : 2 * ring) {
                if (j >= 0 && j < m_ny) {
                    const std::size_t cell = static_cast<std::size_t>(i * m_ny + j);
                    for (uint32_t n = m_start[cell]; n < m_start[cell + 1]; ++n)
                        consider(m_cones[n]);
                }
                if (ring == 0)
                    break;
            }
        }
    }
    for (const auto& e : best)
        out.push_back(e.second);
}

} // namespace support

#include "scene/PlacementIndex.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// At most this many object sizes are remembered; a batch rarely has more.
constexpr size_t kMaxMemos = 16;
// A rectangle that spans more cells than this at a level tests the level's
// footprints one by one instead.
constexpr int64_t kMaxProbedCells = 16;
// Cell numbers beyond this are not formed (their footprints are tested one by one).
constexpr double kMaxCellNumber = 4.0e18;

uint64_t bitsOf(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// The cells of side 2^level that r touches: x from range[0] to range[1], y
// from range[2] to range[3]. False when they cannot be numbered.
bool cellRange(const PlacementIndex::Footprint& r, int level, int64_t range[4]) {
    const double scaled[4] = {std::ldexp(r.min[0], -level), std::ldexp(r.max[0], -level),
                              std::ldexp(r.min[1], -level), std::ldexp(r.max[1], -level)};
    for (int k = 0; k < 4; ++k) {
        const double cell = std::floor(scaled[k]);
        if (!(std::fabs(cell) <= kMaxCellNumber))
            return false;
        range[k] = static_cast<int64_t>(cell);
    }
    return range[0] <= range[1] && range[2] <= range[3];
}

} // namespace

PlacementIndex::Footprint PlacementIndex::candidate(const Footprint& a, int k, double w, double d) {
    double c[2];
    switch (k) {
    case 0: // right
        c[0] = a.max[0] + kGap;
        c[1] = a.min[1];
        break;
    case 1: // behind
        c[0] = a.min[0];
        c[1] = a.max[1] + kGap;
        break;
    case 2: // left
        c[0] = a.min[0] - w - kGap;
        c[1] = a.min[1];
        break;
    default: // in front
        c[0] = a.min[0];
        c[1] = a.min[1] - d - kGap;
        break;
    }
    return Footprint{{c[0], c[1]}, {c[0] + w, c[1] + d}};
}

int PlacementIndex::levelOf(const Footprint& f) {
    const double extent = std::max(f.max[0] - f.min[0], f.max[1] - f.min[1]);
    if (!(extent >= 0.0) || !std::isfinite(extent))
        return INT_MAX;
    int exponent = kMinLevel;
    if (extent > 0.0)
        std::frexp(extent, &exponent); // extent < 2^exponent
    return std::max(exponent, kMinLevel);
}

uint64_t PlacementIndex::cellKey(int level, int64_t ix, int64_t iy) {
    uint64_t h = static_cast<uint64_t>(level - kMinLevel);
    for (uint64_t part : {static_cast<uint64_t>(ix), static_cast<uint64_t>(iy)}) {
        h ^= part + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h *= 0xff51afd7ed558ccdull;
    }
    return h;
}

void PlacementIndex::addToGrid(int32_t e) {
    const Footprint& f = m_entries[size_t(e)].f;
    const int level = levelOf(f);
    int64_t range[4];
    if (level > kMaxLevel || !cellRange(f, level, range) || range[1] - range[0] > 2 ||
        range[3] - range[2] > 2) {
        m_loose.push_back(e);
        return;
    }
    std::vector<int32_t>& filed = m_byLevel[size_t(level - kMinLevel)];
    if (filed.empty())
        m_levels.insert(std::lower_bound(m_levels.begin(), m_levels.end(), level), level);
    filed.push_back(e);
    for (int64_t ix = range[0]; ix <= range[1]; ++ix)
        for (int64_t iy = range[2]; iy <= range[3]; ++iy) {
            auto cell = m_cells.emplace(cellKey(level, ix, iy), -1).first;
            m_links.push_back({e, cell->second});
            cell->second = static_cast<int32_t>(m_links.size() - 1);
        }
}

int32_t PlacementIndex::findOverlap(const Footprint& r) const {
    for (int32_t e : m_loose)
        if (overlap(r, m_entries[size_t(e)].f))
            return e;
    for (const int level : m_levels) {
        const std::vector<int32_t>& filed = m_byLevel[size_t(level - kMinLevel)];
        int64_t range[4];
        const bool probe = cellRange(r, level, range) && range[1] - range[0] < kMaxProbedCells &&
                           range[3] - range[2] < kMaxProbedCells &&
                           (range[1] - range[0] + 1) * (range[3] - range[2] + 1) <= int64_t(filed.size());
        if (!probe) {
            for (int32_t e : filed)
                if (overlap(r, m_entries[size_t(e)].f))
                    return e;
            continue;
        }
        for (int64_t ix = range[0]; ix <= range[1]; ++ix)
            for (int64_t iy = range[2]; iy <= range[3]; ++iy) {
                const auto cell = m_cells.find(cellKey(level, ix, iy));
                if (cell == m_cells.end())
                    continue;
                for (int32_t l = cell->second; l >= 0; l = m_links[size_t(l)].next) {
                    const int32_t e = m_links[size_t(l)].entry;
                    if (overlap(r, m_entries[size_t(e)].f))
                        return e;
                }
            }
    }
    return -1;
}

void PlacementIndex::add(int64_t position, const Footprint& f) {
    const auto e = static_cast<int32_t>(m_entries.size());
    Entry entry;
    entry.f = f;
    entry.position = position;
    m_entries.push_back(entry);
    const auto at = std::upper_bound(m_order.begin(), m_order.end(), position, [this](int64_t p, int32_t x) {
        return p < m_entries[size_t(x)].position;
    });
    m_order.insert(at, e);
    addToGrid(e);
    // Entries before a size's done mark are known blocked; a new one there
    // is not.
    for (SizeMemo& memo : m_memos)
        if (position < memo.doneBefore)
            memo.extras.emplace(position, e);
}

PlacementIndex::SizeMemo& PlacementIndex::memoFor(double w, double d) {
    const uint64_t wBits = bitsOf(w), dBits = bitsOf(d);
    auto it = std::find_if(m_memos.begin(), m_memos.end(),
                           [&](const SizeMemo& m) { return m.wBits == wBits && m.dBits == dBits; });
    if (it != m_memos.end()) {
        m_memos.splice(m_memos.begin(), m_memos, it);
        return m_memos.front();
    }
    if (m_memos.size() >= kMaxMemos)
        m_memos.pop_back();
    m_memos.emplace_front();
    m_memos.front().wBits = wBits;
    m_memos.front().dBits = dBits;
    return m_memos.front();
}

int PlacementIndex::firstFreeCandidate(int32_t e, double w, double d) {
    for (int k = 0; k < 4; ++k) {
        const Footprint c = candidate(m_entries[size_t(e)].f, k, w, d);
        int32_t& blocker = m_entries[size_t(e)].blocker[size_t(k)];
        if (blocker >= 0 && overlap(c, m_entries[size_t(blocker)].f))
            continue;
        const int32_t hit = findOverlap(c);
        if (hit < 0)
            return k;
        blocker = hit;
    }
    return -1;
}

std::array<double, 2> PlacementIndex::findCorner(double w, double d) {
    SizeMemo& memo = memoFor(w, d);
    auto cornerOf = [&](int32_t e, int k) {
        const Footprint c = candidate(m_entries[size_t(e)].f, k, w, d);
        return std::array<double, 2>{{c.min[0], c.min[1]}};
    };
    for (auto it = memo.extras.begin(); it != memo.extras.end();) {
        const int k = firstFreeCandidate(it->second, w, d);
        if (k >= 0)
            return cornerOf(it->second, k);
        it = memo.extras.erase(it);
    }
    auto at = std::lower_bound(m_order.begin(), m_order.end(), memo.doneBefore,
                               [this](int32_t x, int64_t p) { return m_entries[size_t(x)].position < p; });
    for (; at != m_order.end(); ++at) {
        const int k = firstFreeCandidate(*at, w, d);
        if (k >= 0) {
            memo.doneBefore = m_entries[size_t(*at)].position;
            return cornerOf(*at, k);
        }
    }
    memo.doneBefore = INT64_MAX;
    // Nothing free: the last candidate tried, in front of the last footprint.
    return cornerOf(m_order.back(), 3);
}

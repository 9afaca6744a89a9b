#include "topolib/WeldRuns.h"

#include "topolib/HugePageAdvice.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>

namespace topolib {

namespace {

// Representatives looked at one by one before a window is searched through
// its grid: windows are empty or hold a few points in all but flat,
// axis-aligned parts, whose rows the search skips as wholes.
constexpr unsigned kScanLimit = 32;

// Cell of a coordinate in a grid of `cell`-wide cells (clamped: far cells may
// share a number, the nearness test decides).
int64_t cellOf(float v, double cell) {
    const double c = std::floor(static_cast<double>(v) / cell);
    return static_cast<int64_t>(std::max(-1e9, std::min(1e9, c)));
}

uint64_t cellKey(int64_t cy, int64_t cz) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(cy)) << 32) | static_cast<uint32_t>(cz);
}

} // namespace

WeldRuns::WeldRuns(FacetCorner* all, double scale)
    : m_all(all), m_tolerance(1e-6 * scale), m_squareLimit(1e-12 * (scale * scale)) {}

void WeldRuns::cut(std::size_t begin, std::size_t limit, std::size_t end) {
    m_runStart.clear();
    m_joined.clear();
    clearWindow();
    m_runStart.reserve((std::max(limit, begin) - begin) / 5 + 16);
    startRun(static_cast<uint32_t>(begin));
    const float* rep = representative(0);
    // Held in locals: the loop below runs once per corner of the mesh.
    const FacetCorner* const all = m_all;
    std::size_t i = begin + 1;
    // Whether corner i - 1 went to the current run (not to an earlier one).
    bool previousHere = true;
    for (; i < end; ++i) {
        if (i >= limit && startsAnyRun(i))
            break;
        readAhead(all, i, end);
        const float* p = &all[i].x;
        // Most corners repeat the point before them: where that one went to
        // the current run, near(rep, p) holds as it did for it.
        if (previousHere && floatPointsSame(&all[i - 1].x, p))
            continue;
        previousHere = true;
        if (near(rep, p))
            continue;
        if (startsAnyRun(i)) {
            clearWindow(); // every earlier corner lies beyond the tolerance in x
        } else {
            const int64_t run = earlierNearRun(p);
            if (run >= 0) {
                m_joined.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(run)});
                previousHere = false;
                continue;
            }
        }
        startRun(static_cast<uint32_t>(i));
        rep = p;
    }
    m_runStart.push_back(static_cast<uint32_t>(i));
}

void WeldRuns::startRun(uint32_t corner) {
    const std::size_t run = m_runStart.size();
    m_runStart.push_back(corner);
    if (run == 0) {
        m_windowBegin = m_groupBegin = m_rowBegin = 0;
    } else {
        const float* q = representative(run);
        const float* previous = representative(run - 1);
        if (q[0] != previous[0])
            m_groupBegin = m_rowBegin = run;
        else if (q[1] != previous[1])
            m_rowBegin = run;
    }
    if (m_indexed)
        indexRun(run);
}

void WeldRuns::clearWindow() {
    m_windowBegin = m_runStart.size();
    if (m_indexed) {
        m_cells.clear();
        m_indexed = false;
    }
}

int64_t WeldRuns::earlierNearRun(const float* p) {
    const std::size_t current = m_runStart.size() - 1;
    const float* last = representative(current);
    // The representatives of p's own x and y lie below the current one in z,
    // and the current one is already too far.
    std::size_t k = (p[0] == last[0] && p[1] == last[1]) ? m_rowBegin : current;
    int64_t found = -1;
    unsigned looked = 0;
    while (k > m_windowBegin) {
        --k;
        const float* q = representative(k);
        if (xBeyondTolerance(q[0], p[0]))
            break; // and so are the ones before
        if (q[0] == p[0] && static_cast<double>(p[1] - q[1]) > m_tolerance) {
            // The representatives of p's x before this one lie lower still in y.
            k = m_groupBegin;
            continue;
        }
        if (near(q, p))
            found = static_cast<int64_t>(k);
        if (++looked == kScanLimit)
            return earlierNearRunIndexed(p);
    }
    return found;
}

int64_t WeldRuns::earlierNearRunIndexed(const float* p) {
    if (!m_indexed) {
        m_indexed = true;
        for (std::size_t run = m_windowBegin; run < m_runStart.size(); ++run)
            indexRun(run);
    }
    const double cell = 2.0 * m_tolerance;
    const int64_t cy = cellOf(p[1], cell), cz = cellOf(p[2], cell);
    const std::size_t current = m_runStart.size() - 1;
    int64_t found = -1;
    for (int64_t dy = -1; dy <= 1; ++dy)
        for (int64_t dz = -1; dz <= 1; ++dz) {
            const auto it = m_cells.find(cellKey(cy + dy, cz + dz));
            if (it == m_cells.end())
                continue;
            for (uint32_t run : it->second)
                if (run < current && (found < 0 || run < found) && near(representative(run), p))
                    found = run;
        }
    return found;
}

void WeldRuns::indexRun(std::size_t run) {
    const float* q = representative(run);
    const double cell = 2.0 * m_tolerance;
    m_cells[cellKey(cellOf(q[1], cell), cellOf(q[2], cell))].push_back(static_cast<uint32_t>(run));
}

bool WeldRuns::regroup() {
    if (m_joined.empty())
        return false;
    const std::size_t begin = m_runStart.front(), end = m_runStart.back();
    std::sort(m_joined.begin(), m_joined.end(),
              [](const auto& a, const auto& b) { return a.second != b.second ? a.second < b.second : a.first < b.first; });
    std::vector<uint8_t> joined(end - begin, 0);
    for (const auto& j : m_joined)
        joined[j.first - begin] = 1;
    std::vector<FacetCorner> order;
    order.reserve(end - begin);
    std::vector<uint32_t> starts;
    starts.reserve(m_runStart.size());
    auto next = m_joined.begin();
    for (std::size_t run = 0; run + 1 < m_runStart.size(); ++run) {
        starts.push_back(static_cast<uint32_t>(begin + order.size()));
        for (uint32_t c = m_runStart[run]; c < m_runStart[run + 1]; ++c)
            if (!joined[c - begin])
                order.push_back(m_all[c]);
        for (; next != m_joined.end() && next->second == run; ++next)
            order.push_back(m_all[next->first]);
    }
    starts.push_back(static_cast<uint32_t>(end));
    std::copy(order.begin(), order.end(), m_all + begin);
    m_runStart.swap(starts);
    m_joined.clear();
    return true;
}

} // namespace topolib

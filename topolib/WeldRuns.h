#pragma once
// The runs of the weld: corners sorted by x, then y, then z, cut into runs of
// corners within the weld tolerance of the run's first corner (its
// representative), one vertex per run.
//
// Sorting by exact x does not keep near corners together: between two corners
// of one point whose x differ in the last bits, the order may put corners of
// other points whose x lies in between (a pole whose corners were computed per
// facet, with the points of a meridian where x is almost 0 between them). A
// corner that is not near the current representative is therefore looked up
// among the earlier representatives whose x is within the tolerance of its own
// (the window), and joins the earliest one it is near; only when there is none
// does it start a run. Corners that joined an earlier run are moved to the end
// of that run afterwards (regroup), so that every run is again one stretch of
// corners.
//
// Representatives of one window are never near one another, and a corner
// whose x lies beyond the tolerance from the previous corner's empties the
// window: parts of the corner array that begin at such a corner find the runs
// of one pass over the whole array.

#include "topolib/StlObject.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace topolib {

class WeldRuns {
public:
    // `all` is the sorted corner array (its corners are regrouped in place by
    // regroup); `scale` is the weld's tolerance scale (floatPointsNear).
    WeldRuns(FacetCorner* all, double scale);

    // Cuts the corners from `begin` on into runs: `begin` starts the first run;
    // the last run ends before `end` at the first corner at or after `limit`
    // that starts any run (x beyond the tolerance from the previous corner's),
    // or at `end`. Only reads the corners.
    void cut(std::size_t begin, std::size_t limit, std::size_t end);
    // Moves the corners that joined an earlier run to the end of that run, so
    // that runStarts() describes the corners; false when none did. Writes the
    // corners of this cut's stretch: parts cut on several threads are
    // regrouped once every part has been cut (a part reads the first corners
    // of the next one).
    bool regroup();

    // True when corner i (> 0) starts a run whatever came before: its x lies
    // beyond the tolerance from the previous corner's.
    bool startsAnyRun(std::size_t i) const { return xBeyondTolerance(m_all[i - 1].x, m_all[i].x); }

    // The first corner of each run, then the end of the last run (empty when
    // nothing was cut).
    const std::vector<uint32_t>& runStarts() const { return m_runStart; }

private:
    const float* representative(std::size_t run) const { return &m_all[m_runStart[run]].x; }
    // As the x test of floatPointsNear: the difference formed in single precision.
    bool xBeyondTolerance(float a, float b) const { return std::fabs(static_cast<double>(a - b)) > m_tolerance; }
    // floatPointsNear(a, b, scale), its limits worked out once (the test runs
    // once per corner of the mesh).
    bool near(const float* a, const float* b) const { return floatPointsWithin(a, b, m_tolerance, m_squareLimit); }
    // The earliest run before the current (last) one whose representative is
    // near p; -1 when none. p sorts after every representative.
    int64_t earlierNearRun(const float* p);
    int64_t earlierNearRunIndexed(const float* p);
    void startRun(uint32_t corner);
    void indexRun(std::size_t run);
    void clearWindow();

    FacetCorner* m_all;
    double m_tolerance;   // 1e-6 × scale, per axis
    double m_squareLimit; // 1e-12 × scale², the squares' sum
    std::vector<uint32_t> m_runStart;
    // (corner, run) of the corners that joined a run other than the current one.
    std::vector<std::pair<uint32_t, uint32_t>> m_joined;
    // The first run of the window, and the first runs of the trailing runs of
    // equal x and of equal x and y (the representatives are sorted, so the
    // current run is last in both).
    std::size_t m_windowBegin = 0;
    std::size_t m_groupBegin = 0;
    std::size_t m_rowBegin = 0;
    // A window holding many representatives is searched through a grid of
    // cells of twice the tolerance in y and z (built on first need, then kept
    // up to date until the window empties).
    bool m_indexed = false;
    std::unordered_map<uint64_t, std::vector<uint32_t>> m_cells;
};

} // namespace topolib

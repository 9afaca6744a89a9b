#pragma once
// Where an imported object goes beside the objects already on the platform.
// The footprints (x/y rectangles of the boxes) of the placed objects are held
// in list order; an object of width w and depth d goes to the first of the
// four candidate corners beside each footprint, in list order (right, behind,
// left, in front, each 3 mm away), whose rectangle overlaps no footprint, or
// to the last candidate tried when none is free. Rectangles overlap only
// strictly: touching ones do not.
//
// The index finds the same corner as trying every candidate against every
// footprint, without doing so: a grid of cells, one cell size per scale of
// footprint, gives the footprints a rectangle may overlap; every candidate
// remembers the footprint that blocked it last; and for each object size the
// index remembers the list position before which every candidate was found
// blocked. Footprints are only ever added, so a candidate once blocked stays
// blocked: a batch of copies of one object is placed in near linear time.
// Whoever moves or removes a footprint makes a new index.
#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

class PlacementIndex {
public:
    struct Footprint {
        double min[2];
        double max[2];
    };
    // The gap between an object and the one it is placed beside (mm).
    static constexpr double kGap = 3.0;

    // Strict overlap of two footprints.
    static bool overlap(const Footprint& a, const Footprint& b) {
        return a.min[0] < b.max[0] && a.min[1] < b.max[1] && b.min[0] < a.max[0] && b.min[1] < a.max[1];
    }
    // Candidate k (0 right, 1 behind, 2 left, 3 in front) beside a for an
    // object of width w and depth d: its lower corner and its rectangle.
    static Footprint candidate(const Footprint& a, int k, double w, double d);

    bool empty() const { return m_order.empty(); }
    std::size_t size() const { return m_order.size(); }
    // Adds the footprint of the object at list position `position`; positions
    // are distinct and follow the list order.
    void add(int64_t position, const Footprint& f);
    // The lower corner of the place for an object of width w and depth d;
    // the index must not be empty.
    std::array<double, 2> findCorner(double w, double d);

private:
    struct Entry {
        Footprint f;
        int64_t position;
        // The entry that overlapped candidate k when it was last tested; -1 none.
        std::array<int32_t, 4> blocker{{-1, -1, -1, -1}};
    };
    // For one object size: every entry before `doneBefore` (by position) had
    // all its candidates blocked, except `extras`, added since.
    struct SizeMemo {
        uint64_t wBits = 0, dBits = 0;
        int64_t doneBefore = INT64_MIN;
        std::set<std::pair<int64_t, int32_t>> extras;
    };

    // The first free candidate of entry e for the size, or -1.
    int firstFreeCandidate(int32_t e, double w, double d);
    // Some entry whose footprint overlaps r, or -1.
    int32_t findOverlap(const Footprint& r) const;
    SizeMemo& memoFor(double w, double d);
    void addToGrid(int32_t e);

    // Cells: a footprint of extent below 2^level (its larger side) is filed
    // at that level, in the at most 2 × 2 cells of side 2^level it touches.
    // Distinct cells may share a bucket; every hit is tested exactly.
    static constexpr int kMinLevel = -24;
    static constexpr int kMaxLevel = 40;
    static constexpr int kLevels = kMaxLevel - kMinLevel + 1;
    static int levelOf(const Footprint& f);
    static uint64_t cellKey(int level, int64_t ix, int64_t iy);
    struct Link {
        int32_t entry;
        int32_t next;
    };

    std::vector<Entry> m_entries;
    std::vector<int32_t> m_order;                  // entries by position
    std::unordered_map<uint64_t, int32_t> m_cells; // key -> first link
    std::vector<Link> m_links;
    std::array<std::vector<int32_t>, kLevels> m_byLevel;
    std::vector<int> m_levels; // the levels that hold footprints, ascending
    // Footprints too large or not finite for the cells, tested one by one.
    std::vector<int32_t> m_loose;
    // The sizes searched last, most recent first.
    std::list<SizeMemo> m_memos;
};

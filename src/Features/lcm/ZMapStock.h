#pragma once
// The Z-map stock: a solid held as three families of parallel lines (dexels) on
// a regular grid, each dexel keeping the intervals of its line that lie inside
// the solid. The hollowing builds it from a mesh, erodes it by a ball of the wall
// thickness and triangulates what remains: the inner wall surface.
//
// Grid. Line i along axis x sits at x_i = minCoord.x + i * cell (the same for y
// and z); grid(d) holds the dexels that run along axis d, one per grid point of
// the plane of the two other axes a = (d + 1) % 3 and b = (d + 2) % 3, stored
// row by row: element (ia, ib) at ia * n[b] + ib. So grid(2) is the Z dexels
// [i][j], grid(0) the X dexels [j][k] and grid(1) the Y dexels [k][i].
//
// Ties. A dexel that passes exactly through an edge or a vertex of the mesh is
// decided by a symbolic perturbation of the line's position, (+eps, +eps^2) on
// its two fixed coordinates, with exact orientation predicates: a point on an
// edge shared by two triangles belongs to exactly one of them (half-open edges),
// so entry/exit parity never breaks on CAD meshes that sit on grid lines.
//
// Failures. A broken internal invariant throws ZMapError (and asserts in debug
// builds); std::bad_alloc passes through. The hollowing driver turns both into a
// clean abort with a message.

#include "app/ProgressReport.h"
#include "topolib/Vector3D.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace topolib {
class StlTriangle;
class StlShell;
} // namespace topolib

namespace lcm {

// An internal invariant of the stock did not hold (the text names it).
class ZMapError : public std::runtime_error {
public:
    explicit ZMapError(const std::string& what) : std::runtime_error(what) {}
};

// One interval of a dexel's line inside the solid: bottom < top along the
// dexel's axis. flags bit 0: bottom node visited, bit 1: top node visited (the
// wire-cut tracing's marks).
struct AASegment {
    double bottom = 0.0;
    double top = 0.0;
    uint32_t flags = 0;

    static constexpr uint32_t kBottomVisited = 1u;
    static constexpr uint32_t kTopVisited = 2u;
};

// One dexel: its segments, disjoint (more than 1e-5 apart) and sorted by bottom
// once merged. The count is a full-size vector count: a dexel may hold any
// number of segments.
struct ZMapElement {
    std::vector<AASegment> segments;

    // Index of the first segment whose top node, or else bottom node, is not
    // visited; -1 when none.
    long firstUnvisitedSegment() const;
    // Index of the segment with bottom < v < top; -1 when none.
    long segmentContaining(double v) const;
};

// A 2D point of a wire cut, in a plane's own axes (a, b).
struct WirePoint {
    double a;
    double b;
};

// The closed contours of one grid plane: contour c is points[starts[c] ..
// starts[c + 1]), its first point repeated at its end.
struct WireCutPlane {
    std::vector<WirePoint> points;
    std::vector<uint32_t> starts{0};
    std::size_t contourCount() const { return starts.size() - 1; }
};

// The inner surface: points and triangles (three point indices, wound so that
// the normal points away from the remaining stock, i.e. into the cavity when
// the stock is eroded from a solid).
struct ZMapSurface {
    std::vector<topolib::Vector3D> points;
    std::vector<std::array<uint32_t, 3>> triangles;
    void clear() {
        points.clear();
        triangles.clear();
    }
};

// Wall-clock milliseconds of the stock's steps.
struct ZMapTimings {
    double stock = 0.0;  // set-up, rasterising, segments, gaps, storing, merging
    double trace = 0.0;  // wire cuts of the three families
    double erode = 0.0;  // erosion of the three families
    double mesh = 0.0;   // triangulation
};

class ZMapStock {
public:
    // Every field zero, cell = thickness = 0.5.
    ZMapStock();
    ZMapStock(const ZMapStock&) = delete;
    ZMapStock& operator=(const ZMapStock&) = delete;

    // Cell size, wall thickness and the box to cover (before widening). The
    // set-up widens the box by 2.5 thickness on every side.
    void setCellSize(double c) { m_cell = c; }
    void setThickness(double t) { m_thickness = t; }
    void setBox(const double min[3], const double max[3]);
    double cellSize() const { return m_cell; }
    double thickness() const { return m_thickness; }
    const double* minCoord() const { return m_min.data(); }

    // Widens the box, snaps it to whole cells and allocates the three grids.
    // A cell size that is not finite or not above 1e-6, or a grid that would
    // need more than 2^31 dexels per family, leaves the stock empty (false).
    bool setUp();
    // The bytes the grid of setUp would take with about two segments per
    // dexel (0 when setUp would refuse): what the memory check is asked for.
    uint64_t plannedBytes() const;
    bool isEmpty() const { return m_grid[0].empty(); }
    // Whether the shells added left material anywhere: some dexel of the
    // first family holds a segment.
    bool holdsMaterial() const;
    uint32_t count(int axis) const { return m_n[axis]; }
    double gridCoord(int axis, long index) const { return m_min[axis] + static_cast<double>(index) * m_cell; }

    // Worker threads for the parallel steps; 0 (the default) uses every core.
    // The result never depends on it.
    void setThreadCount(unsigned n) { m_threads = n; }
    unsigned threadCount() const;
    // Where the offset and triangulation steps report their share done
    // (nothing by default); progress must outlive the stock's work.
    void setProgress(const ProgressMonitor& progress) { m_progress = &progress; }

    // ---- Building from a mesh, per shell ------------------------------------
    // Rasterises the triangles (deleted ones skipped) into dexel hits and turns
    // them into the pending segments of this shell, fills their gaps and stores
    // them; the four steps of one shell in one call. A line leaves the solid
    // where it crosses a triangle wound counter-clockwise seen from the line's
    // far end; insideOut reads every triangle the other way round (a closed
    // shell wound inside out still bounds its solid).
    void addShell(const std::vector<const topolib::StlTriangle*>& triangles, bool insideOut = false);
    // The same from plain corner triples (9 doubles a triangle).
    void addShell(const std::vector<std::array<double, 9>>& triangles, bool insideOut = false);
    // Joins the segments of all shells: overlapping ones (within 1e-5) merge.
    void mergeSegments();

    // ---- Offset and triangulation --------------------------------------------
    // Traces the wire cuts of all three families, erodes by them and
    // triangulates the inner surface, reporting progress 9 .. 85.
    void buildOffsetSurface();
    // The steps one by one (the tests call them separately). family: the normal
    // axis of the planes (2 XY, 0 YZ, 1 ZX).
    void traceWireCuts(int family);
    void erodeByWireCuts(int family, int progressBase, int progressSpan);
    void generateTriangles(int progressBase, int progressSpan);

    const ZMapSurface& surface() const { return m_surface; }
    ZMapSurface& surface() { return m_surface; }
    const ZMapTimings& timings() const { return m_timings; }

    // ---- Dexel access ----------------------------------------------------------
    // The dexel along `axis` through the grid point whose indices on the other
    // two axes are (ia, ib) with a = (axis + 1) % 3, b = (axis + 2) % 3.
    ZMapElement& element(int axis, uint32_t ia, uint32_t ib) {
        return m_grid[axis][static_cast<std::size_t>(ia) * m_n[(axis + 2) % 3] + ib];
    }
    const ZMapElement& element(int axis, uint32_t ia, uint32_t ib) const {
        return m_grid[axis][static_cast<std::size_t>(ia) * m_n[(axis + 2) % 3] + ib];
    }
    std::vector<ZMapElement>& grid(int axis) { return m_grid[axis]; }
    const std::vector<ZMapElement>& grid(int axis) const { return m_grid[axis]; }

    // Deletes every dexel, wire cut and the surface; the stock is empty after.
    void clear();

private:
    struct Hit {
        double coord;
        uint32_t dexel;
        uint32_t exit; // 1 when the line leaves the solid here
    };
    // Pending segments of the shell being added, per family: dexel d owns
    // segs[start[d] .. start[d + 1]).
    struct Pending {
        std::vector<uint32_t> start;
        std::vector<AASegment> segs;
    };

    // The widened, snapped box and the line counts of setUp; false when it would refuse.
    bool planGrid(topolib::Vector3D& min, topolib::Vector3D& max, uint32_t n[3]) const;
    // corners(i, p) puts the nine coordinates of triangle i into p; false
    // skips the triangle.
    template <typename Corners>
    void addShellCorners(const Corners& corners, std::size_t triangleCount, bool insideOut);
    template <typename Corners>
    void rasterize(const Corners& corners, std::size_t begin, std::size_t end, bool insideOut,
                   std::vector<Hit> hits[3]) const;
    void buildPending(int axis, std::vector<std::vector<Hit>>& perChunk, Pending& out) const;
    void fillGaps(int axis, Pending pending[3]) const;
    bool isGapInside(const double p[3], double a, double b, int axis, const Pending pending[3]) const;
    void storePending(int axis, const Pending& pending);

    unsigned m_threads = 0;
    const ProgressMonitor* m_progress = &ProgressMonitor::silent();
    double m_cell = 0.5;
    double m_thickness = 0.5;
    topolib::Vector3D m_min;
    topolib::Vector3D m_max;
    uint32_t m_n[3] = {0, 0, 0};
    std::vector<ZMapElement> m_grid[3];
    std::vector<WireCutPlane> m_wire[3];
    ZMapSurface m_surface;
    ZMapTimings m_timings;
};

// Where the line along `axis` through the point (xa, xb) of the two other axes
// a = (axis + 1) % 3, b = (axis + 2) % 3 crosses the triangle with corners p
// (9 doubles), decided as the rasterising decides it (the tie rule above):
// 0 when it misses, +1 where the line leaves the triangle's solid, -1 where it
// enters; *height (when given) receives the crossing's coordinate on `axis`.
int axisLineCrossing(const double* p, int axis, double xa, double xb, double* height);

// Exact sign of the orientation of (p, q, r) in the plane: +1 counter-clockwise,
// -1 clockwise, 0 collinear. Exact for every finite double input.
int orient2dSign(double px, double py, double qx, double qy, double rx, double ry);

// Checks an internal invariant: asserts in debug builds, throws ZMapError in
// release builds.
void zmapInvariantFailed(const char* condition, const char* file, int line);
#define ZMAP_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond))                                                                                                   \
            ::lcm::zmapInvariantFailed(#cond, __FILE__, __LINE__);                                                     \
    } while (0)

} // namespace lcm

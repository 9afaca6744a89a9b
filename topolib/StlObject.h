#pragma once

#include "topolib/LoadResult.h"
#include "topolib/MeshFileReader.h"
#include "topolib/RecordPool.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/Vector3D.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

class ProgressMonitor;

namespace topolib {

class StlShell;
class TriangleCutter;
struct PieceBounds;
struct RenderArrays;
class CornerCensus;
class ImportSession;
class FillPolygon;
class MeshOctree;
struct ShortPair;
class ZSlabIndex;
struct SliceContourSet;

// One facet corner while a file is imported: the float position and its corner
// number (3 × triangle index + corner slot 0, 1 or 2). A default-made corner is
// left uninitialised: the import's arrays of corners are sized and then filled.
struct FacetCorner {
    FacetCorner() {}
    FacetCorner(float px, float py, float pz, int32_t number) : x(px), y(py), z(pz), corner(number) {}
    float x;
    float y;
    float z;
    int32_t corner;
};
static_assert(sizeof(FacetCorner) == 16, "FacetCorner is four packed 32-bit fields");

// Largest magnitude, in mm, of a corner coordinate that an import takes: a
// facet reaching beyond a kilometre fits no printer and comes from a broken or
// foreign file, as does one with a coordinate that is not finite.
constexpr float kMaxImportCoordinate = 1e6f;
// True when the nine corner coordinates of an STL facet record (facet[3] to
// facet[11]; the normal is not looked at) are finite and within
// ±kMaxImportCoordinate.
inline bool facetCornersUsable(const float facet[12]) {
    // The comparison is false for NaN, so NaN fails it too. All nine are
    // tested (no early way out), which the compiler does side by side.
    bool usable = true;
    for (int c = 3; c < 12; ++c)
        usable &= facet[c] <= kMaxImportCoordinate && facet[c] >= -kMaxImportCoordinate;
    return usable;
}

// Threads a build of the octree of a mesh of n triangles runs on: one below
// 100,000 triangles (a build of a few tens of milliseconds, where the threads
// cost more than they save), otherwise one per processor the machine's load
// leaves for passes (platform::passProcessorCount), up to eight.
unsigned octreeBuildThreads(std::size_t n);

// Room that a mesh copy keeps in its vertex, triangle and edge arrays for the
// records a caller appends to it next (StlObject::copyMeshTo): the arrays are
// then not grown, their contents not moved, when it does.
struct AppendRoom {
    std::size_t vertices = 0;
    std::size_t triangles = 0;
    std::size_t edges = 0;
};

// What belongs to the object rather than to its mesh: its id and name, the
// octree mutex (a mutex does not move) and the build flag, which tells about
// the mutex holder, not about the tree. swapMeshWith leaves it where it is.
struct StlObjectOwn {
    mutable std::mutex m_octreeMutex;
    std::atomic<bool> m_octreeBuilding{false};
    int32_t m_id = -1;
    std::string m_name;
};

// The triangle mesh every subsystem works on: vertex, triangle and edge records
// with full topology, the shells, the octree, bounding box, area and volume. It
// builds the float arrays the view draws into a RenderArrays the drawing owns,
// and keeps the marks that say those arrays are out of date.
//
// Records. Every record in the vertex, triangle and edge arrays belongs to this
// object and comes from its pools (newVertex, newTriangle, newEdge); records
// never move, and they are released together when the object goes. Indices equal
// positions: vertex i has index i, triangle i id i, edge i index i.
//
// Threads. A mesh is used by one thread at a time (its import worker, then the GUI
// thread), except that the octree may be built on a worker while the GUI thread
// picks: the octree is guarded by octreeMutex(); GUI-side queries try-lock it and
// answer "nothing" while a build holds it.
//
// Loading files. The mesh library does not know the file layer; loadFromFile is
// handed a reader (MeshFileReader) with each call.
class StlObject : private StlObjectOwn {
public:
    StlObject();
    // Copies the centre, bounding box, loaded box and name only; no record. The
    // caller copies the mesh with copyMeshTo and the octree with copyOctreeTo.
    StlObject(const StlObject& other);
    StlObject& operator=(const StlObject&) = delete;
    virtual ~StlObject();

    // ---- Hooks the scene object overrides -------------------------------------
    virtual std::wstring getDescription() const;              // empty
    virtual void setDescription(std::wstring description);   // ignored
    virtual std::wstring getAuxiliaryPath() const;            // empty
    // The scene object stores the path and starts its import; the base does nothing.
    virtual void setFilePath(const std::wstring& path);
    virtual std::wstring getFilePath() const;                 // empty

    // ---- Identity and state flags ---------------------------------------------
    int32_t id() const { return m_id; }
    void setId(int32_t id) { m_id = id; }
    std::string getName() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    // Marks both render layouts for rebuilding (after moving vertices).
    void setModified() { m_derived.vertexRenderStale = m_derived.triangleRenderStale = true; }
    // Whether the mesh changed since the drawing last built its arrays from it.
    bool vertexRenderStale() const { return m_derived.vertexRenderStale; }
    bool triangleRenderStale() const { return m_derived.triangleRenderStale; }
    void setVertexRenderStale(bool on) { m_derived.vertexRenderStale = on; }
    void setTriangleRenderStale(bool on) { m_derived.triangleRenderStale = on; }
    // 2 the z-slab index must be rebuilt, 1 its height range refreshed, 0 valid.
    int32_t slabState() const { return m_derived.slabState; }
    void setSlabState(int32_t s) { m_derived.slabState = s; }

    // ---- Bounding box and measures --------------------------------------------
    // A new object has the empty box (+1e29 .. -1e29 on each axis).
    void getBBoxMin(double out[3]) const;
    void getBBoxMax(double out[3]) const;
    void getBBox(double min[3], double max[3]) const;
    const double* bboxMin() const { return m_placement.bboxMin.data(); }
    const double* bboxMax() const { return m_placement.bboxMax.data(); }
    const Vector3D& center() const { return m_placement.center; }
    // Stores the corners, centre = mid-point, diagonal = |max - min| and the octree
    // origin = centre - diagonal/2 on each axis. Either argument may be the stored
    // array itself.
    void setBoundingBox(const double min[3], const double max[3]);
    // Box over the vertices (centre updated; diagonal and octree origin are not).
    // Does nothing without vertices.
    void computeBoundingBox();
    // The box as the file was read; not changed by transforms. A new object
    // has none (the empty box, as for bboxMin and bboxMax).
    const double* loadedBoxMin() const { return m_placement.loadedMin.data(); }
    const double* loadedBoxMax() const { return m_placement.loadedMax.data(); }
    void setLoadedBox(const double min[3], const double max[3]);
    bool hasLoadedBox() const;
    double diagonal() const { return m_octree.diagonal; }
    // Factor for the library's length tolerances (1e-6 and its kin): 1 for
    // meshes whose box diagonal is at least kToleranceReferenceSize, else the
    // diagonal over that size, so that a small model meets the tolerances as a
    // model of the reference size does and topology never depends on scale.
    // Areas scale by its square. 1 when the diagonal is unknown (0).
    //
    // How the library keeps decisions independent of the model's size:
    // - import: corners weld within 1e-6 times the mesh's scale; a facet is
    //   dropped only for exactly repeated corners; normals and measures use the
    //   exact cross product (Vector3D::normalizeAnyLength), so edges and shells
    //   are exact;
    // - slicing, editing and hole filling: scaled by the mesh's toleranceScale;
    // - the inside tests: the mesh hands its scale to the kernels they run
    //   (the ray and column tests, the hit-point table) as a value;
    // - the drain-hole boolean (with the cutter and retriangulation it drives):
    //   a small model is cut at a size scaled up by a power of two, which is
    //   exact.
    // Tolerances on unit normals, cosines and parameters along a segment have
    // no length and stay fixed; margins added to octree cells and boxes only
    // let a walk visit more candidates, the triangle tests decide.
    static constexpr double kToleranceReferenceSize = 10.0;
    static double toleranceScaleFor(double diagonal) {
        return diagonal > 0.0 && diagonal < kToleranceReferenceSize ? diagonal / kToleranceReferenceSize : 1.0;
    }
    double toleranceScale() const { return toleranceScaleFor(m_octree.diagonal); }

    // Area and signed volume (positive for outward normals). While a reader runs
    // these hold running sums (twice the area, six times the volume); the reader
    // finalises them.
    double area() const { return m_measures.area; }
    double volume() const { return m_measures.volume; }
    void setArea(double a) { m_measures.area = a; }
    void setVolume(double v) { m_measures.volume = v; }
    const double* volumeReference() const { return m_measures.volumeReference.data(); }
    void setVolumeReference(const double p[3]) { m_measures.volumeReference = Vector3D(p); }

    // ---- Transforms -----------------------------------------------------------
    // Moves box, centre, octree origin and every vertex by d. The octree stays
    // valid (its cells hang off the origin), normals are unchanged; only the
    // per-triangle render arrays become stale and the slab range must be refreshed.
    void translate(const double d[3]);
    // Scales every vertex by s per axis. A uniform factor scales area and volume
    // and keeps the normals; otherwise normals, area and volume are recomputed.
    // Box, centre and octree origin scale with s. Render arrays and octree are the
    // caller's to refresh. Does nothing without a triangle array.
    void scale(const double s[3]);

    // ---- Records --------------------------------------------------------------
    // New records from this object's pools. They are not placed in any array.
    StlVertex* newVertex(const double p[3]);
    StlTriangle* newTriangle();
    StlEdge* newEdge(StlVertex* a, StlVertex* b);
    // Appends v to the vertex vector (index = its position) and counts it.
    void appendVertex(StlVertex* v);
    // Makes the next `vertices`, `triangles` and `edges` records of the pools
    // come from one block each, with their pages mapped ahead (for a reader
    // that is about to make them all; the arrays are not touched).
    void reserveRecords(uint32_t vertices, uint32_t triangles, uint32_t edges);
    // Storage for `slots` incident-list entries (StlVertex::useExternalList),
    // kept until the mesh releases its records.
    Ref<StlTriangle>* newIncidentBlock(std::size_t slots);

    std::vector<Ref<StlVertex>>& vertices() { return m_records.vertices; }
    const std::vector<Ref<StlVertex>>& vertices() const { return m_records.vertices; }
    uint32_t vertexCount() const { return m_measures.vertexCount; }
    void setVertexCount(uint32_t n) { m_measures.vertexCount = n; }

    std::vector<Ref<StlTriangle>>& triangles() { return m_records.triangles; }
    const std::vector<Ref<StlTriangle>>& triangles() const { return m_records.triangles; }
    uint32_t triangleCount() const { return static_cast<uint32_t>(m_records.triangles.size()); }
    uint32_t triangleCapacity() const { return static_cast<uint32_t>(m_records.triangles.capacity()); }
    StlTriangle* triangle(uint32_t i) const { return m_records.triangles[i]; }
    bool hasTriangleArray() const { return m_records.triangles.capacity() != 0; }

    std::vector<Ref<StlEdge>>& edges() { return m_records.edges; }
    const std::vector<Ref<StlEdge>>& edges() const { return m_records.edges; }
    uint32_t edgeCount() const { return static_cast<uint32_t>(m_records.edges.size()); }
    StlEdge* edge(uint32_t i) const { return m_records.edges[i]; }

    std::deque<StlShell*>& shells() { return m_records.shells; }
    const std::deque<StlShell*>& shells() const { return m_records.shells; }

    // Per-vertex offsets of the last XY calibration.
    std::vector<std::pair<double, double>>& calibrationOffsets() { return m_calibrationOffsets; }

    // The non-degenerate facets taken by addFacet plus the triangles appended by
    // editing; never decremented. Stored in projects.
    uint32_t facetCount() const { return m_measures.facetCount; }
    void setFacetCount(uint32_t n) { m_measures.facetCount = n; }

    // ---- Import and topology building -----------------------------------------
    // Used through FacetImport, which the STL readers hand their facets to,
    // per file: reserveTriangles, addFacet per facet, weldFacetCorners once;
    // the reader then finalises area and volume and calls setBoundingBox.
    // What the weld hands to the edge build, and the edge build to the shell
    // search, goes through the import's scratch (ImportSession), which the
    // import owns and passes to each step; without one (null) the steps hand
    // nothing over and give the same mesh.

    // Makes room for `count` more triangles (array and record pool). The
    // records' pages of the room for an empty mesh are mapped ahead on a helper
    // thread unless `mapAhead` is false (threads that fill the records map
    // their own).
    void reserveTriangles(uint32_t count, bool mapAhead = true);
    // Takes one facet: twelve floats in STL order (file normal, ignored, then the
    // three corners). Drops a facet with two identical corners and one that
    // repeats the previous facet exactly. With append false the corner records at
    // *cornerCounter .. +2 must exist already (else the facet is dropped); with append
    // true they are appended. A facet with three distinct collinear corners becomes
    // a deleted triangle with a zero normal. Adds the facet's doubled area and six
    // times its volume against `reference` to the running sums. Returns 0.
    // With `normalLater` (appending only) the normal and the sums wait for the
    // import's setLaterNormals, which does a run of facets faster than one at
    // a time.
    int addFacet(uint32_t* cornerCounter, const double reference[3], const float facet[12],
                 std::vector<FacetCorner>& corners, bool append, bool normalLater = false);
    // Welds the facet corners into vertices (one sort; corners within the float
    // tolerance, scaled by toleranceScaleFor the corners' box diagonal, of an
    // earlier corner that made a vertex join that vertex, whatever the order
    // put between them) and links every
    // triangle to its three vertices. The vertex vector is expected to be empty.
    // Reorders `corners`; those of a big mesh are used up on the way (their
    // contents are gone afterwards, the caller discards them). `census`, when
    // given, holds exactly these corners (a reader's, CornerCensus): the sort
    // then skips a pass of its own and uses the census up. With `session`, a
    // big mesh welded from empty leaves there its corners' vertex numbers for
    // buildEdges with the same session, which then builds on threads. Returns 0.
    int weldFacetCorners(std::vector<FacetCorner>& corners, CornerCensus* census = nullptr,
                         ImportSession* session = nullptr);
    // Builds the edge array from the triangles' sides and classifies the edges
    // (crease angle 25 degrees). A triangle with a side whose ends were welded into
    // one vertex is marked deleted. Reports progress from `progressBase` over
    // `progressSpan` to `progress` (null: the global report) when `report` is
    // true. Returns 0.
    // `session` (may be null): the one weldFacetCorners was given; the build
    // takes the corners' vertex numbers the weld left there. With a session
    // and AfterEdges::FindShells the caller calls findShells next with the
    // same session, before anything else reads or changes the triangles,
    // edges or vertices: the build may then leave the shell search's table of
    // neighbours in the triangles' id and shell fields (ShellTableHandover,
    // held by the session), which findShells sets back.
    enum class AfterEdges { Nothing, FindShells };
    int buildEdges(bool report, uint32_t progressBase, uint32_t progressSpan,
                   const ProgressMonitor* progress = nullptr, AfterEdges after = AfterEdges::Nothing,
                   ImportSession* session = nullptr);
    // Edges with exactly two triangles become sharp (1) when their normals differ by
    // more than the crease angle, else smooth (0); other classes stay. Returns 0.
    int classifyEdges(double creaseAngleDegrees);

    // Reads a file into this empty object through `reader`, then,
    // when the file brought neither edges nor shells (a mesh file, not the
    // geometry format), builds edges (progress 60 to 84) and shells (from 85); ends by closing the
    // progress report. Every report goes to `progress` (null: the global
    // report), from the calling thread. Returns the reader's result: Success,
    // NotEnoughMemory when the memory check refused or memory ran out at any
    // step (std::bad_alloc is not thrown; the mesh is released), Failure when
    // the path's type has no handler or the reader failed; Cancelled when
    // `progress` asked to stop (looked at once per block of records and
    // between the steps; the mesh is released).
    // `beside` (may be null) is work that reads the mesh while the edges and
    // shells are built: start() runs once a mesh file's vertices and triangle
    // corners are final (after the weld, before the edge step), join() after the
    // shell step, or when a step fails, before the load returns or releases
    // the mesh; both on the loading thread; join() must not throw. The edge and shell steps write triangle
    // flags, edges and shells, never positions, corner references or normals.
    struct SideWork {
        std::function<void()> start;
        std::function<void()> join;
    };
    LoadResult loadFromFile(const std::wstring& path, MeshFileReader& reader,
                            const ProgressMonitor* progress = nullptr, const SideWork* beside = nullptr);

    // Repairs after reading the geometry format, in this order.
    // Links every edge to the live triangles that have its two end points as a side.
    int relinkEdges();
    // A new triangle array filled shell by shell (ids renumbered, empty edge links
    // completed); facet counter = triangle count.
    int rebuildTriangleArrayFromShells();
    // Area and volume over the live triangles, reference = the first vertex.
    int computeAreaAndVolume();

    // Validity as the geometry writer sees it. A vertex is invalid when its index
    // is out of range, it has no incident list, more incident triangles than the
    // mesh has triangles, or a non-finite position. A triangle is invalid when
    // deleted, with an invalid vertex, a zero normal or an area at most 1e-10
    // times toleranceScale() squared.
    bool isValidTriangle(const StlTriangle* t) const;
    bool isValidEdge(const StlEdge* e) const;
    uint32_t countValidShellTriangles() const;
    uint32_t countValidEdges() const;

    // First triangle of the array whose id equals `id`; null when none.
    StlTriangle* findTriangleById(int id) const;
    // out[i] = the edge at indices[i]; an index outside the edge array gives null.
    void collectEdgesByIndex(const int* indices, int count, std::deque<StlEdge*>& out) const;

    // ---- Shells (StlObjectShells.cpp) -----------------------------------------
    // Rebuilds every shell: frees the old ones, floods each component from its
    // first live triangle in index order (growShell) and leaves no walk mark or
    // edge mark behind. A deleted triangle is in no shell: its shell pointer is
    // null afterwards (whatever still reaches it through an edge or a list
    // never meets a freed shell). Reports progress from progressBase towards
    // progressBase + 15 percent to `progress` (null: the progress dialog) when
    // report is true. With `session`, takes the table buildEdges left there
    // (AfterEdges::FindShells). Returns 0.
    int findShells(bool report, int progressBase, const ProgressMonitor* progress = nullptr,
                   ImportSession* session = nullptr);
    // Floods the component of seed across edges of class 0 and 1 into a new shell
    // (the caller owns it unless addToObject files it: negligible shells at the
    // back of the shell list, others at the front). Reached triangles keep walk
    // mark 1 (primary) or 2 (reversed, flag bit 1 set); the caller clears them.
    StlShell* growShell(StlTriangle* seed, bool addToObject);
    // Debris: fewer than 4 triangles, or small against this object (area, volume
    // and count each below a thousandth) and open or flat.
    bool isNegligibleShell(const StlShell* shell) const;
    // (StlObjectOrientation.cpp) Turns closed shells that are wound inside out
    // outward. A shell counts as closed when each of its edges is run as often
    // in one direction as in the other by the shell's live triangles (a
    // watertight, consistently wound surface); its signed volume then tells
    // outward (positive) from inside out (negative). A closed shell that lies
    // in no other one is turned when its volume is negative. A shell nested in
    // another (a cavity, which is inward-facing, or a part inside a cavity)
    // is turned only together with its container, when its sign was the
    // opposite of the container's. Turning reverses every triangle's winding (vertices 1
    // and 2 and edges 0 and 2 exchanged, normal recomputed) and the ends of
    // the shell's own edges. Open, flat or inconsistently wound shells and
    // shells in the middle of a cut keep their winding. Needs the shells
    // (findShells). When a shell was turned, area and volume are recomputed,
    // the render arrays and z-slab indices marked stale. Returns the number of
    // shells turned.
    int orientClosedShellsOutward();
    // (StlObjectRims.cpp) Traces the open rim of shell through the boundary or non-manifold edge
    // start into loop (vertex order against the winding of the rim's triangles,
    // first and last vertex distinct). Taken edges keep flag bit 1 until the next
    // clearing. False, and nothing changed, when start is already traced or is not
    // a side of its first triangle; false also when fewer than 3 vertices result.
    bool traceRimLoop(StlShell* shell, StlEdge* start, std::deque<StlVertex*>& loop);

    // ---- Hole filling and rim polygons (StlObjectFillHole.cpp, FillPolygonRims.cpp)
    // Turns the open rim through the boundary edge start into a polygon owned by
    // this object (the caller owns it until triangulateHolePolygon). A rim that
    // does not close is closed across the surface by the shortest edge chain
    // between its ends (or, touching fewer than two triangles, returned with state
    // 1 and its triangle, unfitted). Null when start is not a side of its first
    // triangle. Traced edges keep flag bit 1; the triangles of a closed rim keep
    // walk mark 1 (clearTriangleMarks).
    FillPolygon* fillHole(StlEdge* start);
    // The inner vertices of the shortest edge chain from source to goal into out, in
    // order (ends excluded); out unchanged when goal is never reached. Walk-marked
    // triangles are not crossed. Returns 0.
    int findGeodesicPath(StlVertex* source, StlVertex* goal, std::deque<StlVertex*>& out);
    // Covers the polygon with triangles of this mesh (pushed to *out when given) and
    // deletes it. A polygon of fewer than 3 nodes is left to the caller (true).
    // False when part of it could not be covered; the triangles added so far stay.
    bool triangulateHolePolygon(FillPolygon* polygon, std::deque<StlTriangle*>* out = nullptr);
    // Traces every open rim (boundary edges, and non-manifold edges once per
    // shell) into rim polygons of their shells; edge marks are clear afterwards.
    void traceHoleRims();
    // Traces one rim of shell from start into a fitted polygon appended to the
    // shell's rim polygons; null when nothing was traced or fewer than 3 vertices.
    FillPolygon* traceBoundaryLoop(StlShell* shell, StlEdge* start);
    // Clears the walk marks of every live edge (on threads for a big mesh).
    void clearLiveEdgeMarks();

    // ---- Deep copy (StlObjectCopy.cpp) -----------------------------------------
    // Makes `target` a copy of this mesh whose state is this one's: name,
    // vertices (positions, marks, incident lists in order), triangles (flags,
    // ids, normals, vertices, edges, shells), edges (marks, classes, lists),
    // shells (numbered by position here and there) with their lists, counts,
    // area, volume, facet counter, calibration offsets and the octree (its
    // cube, cell size and leaves, at the copy's records). With a cut, each
    // live triangle that has a context there gets a context of its own for its
    // clone, filed with the same cut (cutting triangles and segment ends at the
    // same positions in the target, no pieces); without one, no clone carries a
    // context. Records the target held are released first. Runs on several
    // threads for a big mesh, at about the speed of copying its memory.
    // Without a triangle array only the name is copied. Returns 0; throws
    // std::bad_alloc when memory runs out (the target is then incomplete).
    // The copy's arrays have `room` beyond the records copied.
    int copyMeshTo(StlObject* target, const AppendRoom& room = AppendRoom(),
                   TriangleCutter* cut = nullptr) const;

    // ---- Octree entry points (the tree itself is MeshOctree) -------------------
    // Implemented in StlObjectOctree.cpp over MeshOctree's operations.
    int buildVertexOctree(bool freeFirst);
    int buildTriangleOctree();
    // The two steps above at once: a mesh without a tree gets it in one build, on
    // several threads for a large mesh (the same tree as the two steps make).
    // Returns 0, or -1 when an allocation failed (the object is then left
    // without a tree).
    int buildOctree();
    int rebuildOctree();
    // Drops the octree (under octreeMutex).
    void releaseOctree();
    // Gives target a copy of the octree (with its cube and cell size) whose
    // entries are target's records at the same positions; entries without one
    // are dropped. Nothing without a tree. 0, or -1 when memory ran out.
    int copyOctreeTo(StlObject* target) const;
    // The triangle hit by the line (origin, dir) farthest along dir; hit receives the
    // point. Null (hit untouched) without an octree or while one is being built.
    StlTriangle* pickTriangle(const double origin[3], const double dir[3], double hit[3]);
    // The vertex at p (within 1e-6), found through the octree or appended.
    StlVertex* findOrAddVertex(const double p[3]);
    // Files an appended vertex / triangle into the octree when one exists. Returns
    // 1 when stored, 0 without an octree, -1 outside the tree's cube, -2 when an
    // allocation failed (the item is then not in the tree).
    int insertIntoOctree(StlVertex* v);
    int insertIntoOctree(StlTriangle* t);
    // The tree (null when none). Valid on the thread that owns the mesh; another
    // thread must hold octreeMutex() while it uses the tree.
    const MeshOctree* octree() const { return m_octree.root.get(); }
    // The root cube (minimum corner and edge) that the queries pass to the tree.
    double octreeEdge() const { return m_octree.diagonal; }
    const double* octreeOrigin() const { return m_octree.origin.data(); }
    double octreeMinCell() const { return m_octree.minCell; }
    void setOctreeMinCell(double c) { m_octree.minCell = c; }
    bool octreeBuilding() const { return m_octreeBuilding.load(); }
    // Held while the octree is built or released; GUI-side queries try-lock it.
    std::mutex& octreeMutex() const { return m_octreeMutex; }

    // ---- Render arrays (StlObjectRender.cpp) ---------------------------------
    // The arrays belong to the caller (the drawing); these fill them from the
    // records and clear the stale marks they answer.
    // Per-vertex layout: positions and normals (3 floats per vertex), then the
    // triangle index array. Nothing but the index array when vertexRenderStale
    // is clear. Returns the vertex count.
    uint32_t buildSmoothRenderArrays(RenderArrays& into);
    // Vertex indices of every triangle (deleted ones included); false, into
    // untouched, when triangleRenderStale is clear.
    bool buildTriangleIndexArray(RenderArrays& into);
    // Per-triangle layout: 9 floats of positions and normals per triangle, each
    // non-boundary edge once as a line, live triangles indexed. Nothing when
    // triangleRenderStale is clear. Uses and then clears the edges' mark bits.
    void buildFlatRenderArrays(RenderArrays& into);
    // Releases the four arrays' storage (the counts stay).
    static void freeRenderArrays(RenderArrays& arrays);

    // ---- Z-slab index and slicing (StlObjectSlicing.cpp) ---------------------
    // Brings the z-slab index up to date: a full rebuild when marked so (or when
    // triangles were appended since the last build), a refresh of its height range
    // after a translation or scaling, nothing when valid.
    void buildZSlabIndex();
    // Every transform and edit calls this: rangeOnly for translations and scalings
    // (the lists stay valid), otherwise the next slice rebuilds the index. A pending
    // rebuild is never weakened to a range refresh.
    void invalidateZSlabIndex(bool rangeOnly = false);
    // The index as last built; null before the first slice.
    const ZSlabIndex* zSlabIndex() const { return m_derived.slabIndex.get(); }
    // The outlines of the mesh at height z (cut at z rounded to single precision;
    // a vertex within 1e-6 of the plane counts as lying just below it). Null when
    // no outline results. Updates the index; otherwise reads the mesh only, so two
    // threads may slice two different meshes at the same time.
    std::unique_ptr<SliceContourSet> sliceAt(double z);

    // ---- Editing, inside tests, XY calibration ---------------------------------
    // StlObjectEditing.cpp, StlObjectInside.cpp, XYCalibration.cpp. Every edit that
    // adds or removes triangles marks the z-slab index for rebuilding; none of them
    // updates shells, box, area or volume unless it says so.
    // A new edge a-b (marks clear, no triangle) appended to the edge array.
    StlEdge* addEdge(StlVertex* a, StlVertex* b);
    // Appends the edges in order (index = position).
    void appendEdges(const std::deque<StlEdge*>& edges);
    // Appends the vertices (index = position) and files them in the octree, if any.
    void appendVertices(const std::deque<StlVertex*>& vertices);
    // Appends the triangles (id = position, facet count + n) and files them in the
    // octree, if any. Edges and shells are not touched.
    void appendTriangles(const std::vector<StlTriangle*>& triangles);
    // Whether addTriangle refuses a sliver: a triangle whose corners are apart
    // but whose |(b - a) x (c - a)| is below 1e-6. Hole filling keeps them: a
    // finely divided rim meets ears far thinner than that, and leaving one out
    // leaves the hole open.
    enum class Slivers { Refused, Kept };
    // A triangle a, b, c between existing vertices, linked to (or creating) its
    // edges; pushed at the back of *out when out is given. Null when two vertices
    // coincide, or for a sliver unless `slivers` keeps it; lengths scaled by
    // toleranceScale(), areas by its square.
    StlTriangle* addTriangle(StlVertex* a, StlVertex* b, StlVertex* c, std::deque<StlTriangle*>* out = nullptr,
                             Slivers slivers = Slivers::Refused);
    // A piece of the cut triangle `model`: takes its normal, walk mark, orientation
    // bit and shell, files it in the octree. Null for coincident corners (1e-9) or
    // an area below 1e-12 (scaled as in addTriangle).
    StlTriangle* addCutTriangle(StlVertex* a, StlVertex* b, StlVertex* c, const StlTriangle* model);
    // Copies the live triangles of another mesh into this one with reversed
    // winding, welding their corners onto this mesh's vertices, with edges. No shell.
    void addTrianglesWithTopology(const std::vector<StlTriangle*>& triangles);
    // Appends an indexed triangle list (xyz: 3 doubles per vertex, indices: 3 per
    // triangle into these vertices) as one new shell, without edges. False, and
    // nothing changed, when an index is out of range or a count is negative.
    bool appendMesh(int vertexCount, uint32_t triangleCount, const double* xyz, const int* indices);
    // The vertex pair at p[0..2] and p[3..5] (found or added); false, out untouched,
    // when both are the same vertex.
    bool makeShortPair(const double p[6], ShortPair* out);
    // Replaces one cut triangle by pieces that follow its cut (appending them with
    // addCutTriangle) and releases the triangle's cut context (the cut's
    // TriangleCutter::retriangulateForMesh).
    using CutRetriangulator = std::function<void(StlObject& mesh, StlTriangle* t)>;
    // Deletes every live triangle of `cut` that carries a cut context, detaches it
    // from its edges and retriangulates it; the new pieces go to `added`, and every
    // shell is split into its connected pieces, which go to `pieces` (with
    // `within`, only the pieces that lie wholly in that box).
    void deleteTriangles(const std::vector<StlTriangle*>& cut, std::vector<StlTriangle*>& added,
                         std::vector<StlShell*>& pieces, const CutRetriangulator& retriangulate,
                         const PieceBounds* within = nullptr);
    // Mean length of the live edges (class not 5); 0.0 with fewer than 2 edges.
    double averageEdgeLength() const;
    void clearTriangleMarks();  // walk marks (bits 4-6) of every triangle
    void clearVertexMarks();    // mark bits 0-1 of every vertex
    void resetTriangleGroups(); // group of every triangle to -1
    // Octree queries of the scene (false without an octree or while it is built).
    bool hasTriangleUnderPoint(const double p[3], double tolerance) const;
    bool polygonCoversCell(const std::vector<const double*>& polygon, const double normal[3]) const;
    // Whether a live triangle cuts the truncated cone from p1 (radius r1) to p2 (r2).
    bool truncatedConeHitsMesh(const double p1[3], double r1, const double p2[3], double r2) const;
    // Inside tests through the octree (false without one): the signed count of the
    // crossings more than 0.001 below p, and the upward ray from p.
    bool isInsideByDownwardCount(const double p[3]);
    bool isInsideByUpwardRay(const double p[3]) const;
    // Whether the surface closes round p, whichever way its facets are wound:
    // the rays straight up and straight down from p each meet it at an odd
    // number of distinct points (false without an octree). Where a face is
    // missing above or below p, this says nothing of p.
    bool isEnclosedUpAndDown(const double p[3]) const;
    // Shifts every vertex in x and y by the corrections of the calibration tables
    // (pairs (a, b): position a from `origin` was printed at b) and remembers the
    // shifts; a calibration already applied is taken back first. False, nothing
    // changed, when a table is empty.
    bool applyXyCalibration(const std::vector<std::pair<double, double>>& xTable,
                            const std::vector<std::pair<double, double>>& yTable, const double origin[2]);
    // Takes the remembered shifts back; false when none are applied.
    bool revertXyCalibration();

    // ---- Exchanging contents (MeshBoolean.cpp) ---------------------------------
    // Exchanges every mesh record, array, shell, octree, slab index, box and
    // measure with other (name, id and the hooks stay); the shells' owners follow.
    // The drain-hole boolean restores a model from its snapshot with it.
    void swapMeshWith(StlObject& other);

protected:
    // Releases every record, the arrays and the shells; the object is empty after.
    void releaseMesh();

private:
    // Files the vertices and/or the live triangles into the tree taken for a build
    // (a new one when there is none) and publishes it. 0, or -1 when an allocation
    // failed.
    int fillOctree(bool withVertices, bool withTriangles);
    // Shell bookkeeping of the mesh object (StlObjectShellLinks.cpp).
    void releaseShells();
    // buildEdges for a mesh fresh from weldFacetCorners, on `threads` threads,
    // from the corners' vertex numbers it left (overwritten on the way): the same
    // edges, lists and classes. False, nothing changed, when the mesh is not in
    // the state it expects (the caller then builds them in order). With
    // `shellTable`, the shell search's table is left in the records where it
    // can be (ShellTableHandover), and handed to the session.
    bool buildEdgesOnThreads(unsigned threads, const uint32_t* welded, ImportSession* shellTable);

    // The mesh state is kept in units that move between meshes whole:
    // swapMeshWith exchanges every unit of meshUnits() with std::swap and the
    // copies assign whole units, so a field added to a unit travels without
    // further code. The object is its own part (StlObjectOwn) and these units
    // without a spare byte (StlObjectLayoutCheck): a field put beside them
    // stops the build until it goes into a unit or into the own part.

    // Records and their storage. Records never move, so a unit swap hands them
    // over untouched; only the shells' owner pointers must follow (swapMeshWith).
    struct Records {
        std::vector<Ref<StlVertex>> vertices;
        std::vector<Ref<StlTriangle>> triangles;
        std::vector<Ref<StlEdge>> edges;
        std::deque<StlShell*> shells;
        // The incident lists made by welding live in incidentBlocks.
        RecordPool<StlVertex> vertexPool;
        RecordPool<StlTriangle> trianglePool;
        RecordPool<StlEdge> edgePool;
        struct FreeIncidentBlock {
            void operator()(Ref<StlTriangle>* p) const { std::free(p); }
        };
        std::vector<std::unique_ptr<Ref<StlTriangle>[], FreeIncidentBlock>> incidentBlocks;
    };
    // Where the mesh stands: its box and centre now and as the file was read.
    // The copy constructor takes this unit.
    struct Placement {
        Vector3D center;
        Vector3D bboxMin{1e29, 1e29, 1e29};
        Vector3D bboxMax{-1e29, -1e29, -1e29};
        Vector3D loadedMin{1e29, 1e29, 1e29};
        Vector3D loadedMax{-1e29, -1e29, -1e29};
    };
    // Counts and measures that go with the records; copyMeshTo takes this unit.
    struct Measures {
        uint32_t facetCount = 0;
        uint32_t vertexCount = 0;
        double volume = 0.0;
        double area = 0.0;
        Vector3D volumeReference;
    };
    // The octree with the cube it hangs off (origin, and the box diagonal as its
    // edge); exchanged and copied under octreeMutex. A build fills a tree of its
    // own and publishes it under the mutex when complete, so a reader never sees
    // a half-built tree.
    struct Octree {
        Vector3D origin;
        double diagonal = 0.0;
        double minCell = 3.0;
        std::shared_ptr<MeshOctree> root;
    };
    // What is made again from the records when it is next used, and whether it
    // is current: the z-slab index (owned; the deleter comes with the index)
    // with its state (see slabState()), and the marks that tell the drawing to
    // build its arrays again (the arrays are the drawing's: RenderArrays).
    // Copies do not take this unit: a new mesh has everything still to make.
    struct Derived {
        std::shared_ptr<ZSlabIndex> slabIndex;
        int32_t slabState = 2;
        bool vertexRenderStale = true;
        bool triangleRenderStale = true;
    };

    Records m_records;
    Placement m_placement;
    Measures m_measures;
    Octree m_octree;
    Derived m_derived;
    // Per-vertex offsets of the last XY calibration; copied and exchanged whole.
    std::vector<std::pair<double, double>> m_calibrationOffsets;

    // Every unit of the mesh state, as member pointers.
    static constexpr auto meshUnits() {
        return std::make_tuple(&StlObject::m_records, &StlObject::m_placement, &StlObject::m_measures,
                               &StlObject::m_octree, &StlObject::m_derived,
                               &StlObject::m_calibrationOffsets);
    }

    friend struct StlObjectLayoutCheck;
    friend class OctreeBeside;
    // The import's blocks of facets take their triangles' records from the
    // pool at once (FacetBlocks.h).
    friend struct FacetBlock;
};

namespace detail {
template <typename Object, typename... Unit>
constexpr std::size_t sizeOfUnits(std::tuple<Unit Object::*...>) {
    return (sizeof(Unit) + ... + 0);
}
} // namespace detail

// The object is its table of virtual functions, its own part and the units of
// its mesh state, with no byte of padding between them. A field added beside
// them, even one that would fit a gap, makes the object larger than this sum.
struct StlObjectLayoutCheck {
    static_assert(
        sizeof(StlObject) ==
            sizeof(void*) + sizeof(StlObjectOwn) + detail::sizeOfUnits(StlObject::meshUnits()),
        "a field of StlObject is outside its units: put it into a unit of meshUnits() (it then moves "
        "with the mesh) or into StlObjectOwn (it stays with the object)");
};

} // namespace topolib

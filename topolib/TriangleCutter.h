#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

namespace topolib {

class FillPolygon;
class StlObject;
class StlTriangle;
class StlVertex;
struct ShortPair;
struct SnapCandidates;
struct SnapRecord;

// Where a cut segment lies in the triangle it is filed with.
enum CutSegmentKind : uint8_t {
    kSegmentInside = 0,      // both ends inside the triangle
    kSegmentFromOutline = 1, // a on the outline, b inside
    kSegmentToOutline = 2,   // a inside, b on the outline
    kSegmentAcross = 3,      // both ends on the outline (also two corners of the triangle)
    kSegmentAlongEdge = 5,   // along one edge of the triangle
};

// One intersection segment filed with one triangle: two vertices of the mesh that
// owns the triangle (the two meshes never share a vertex, so each side of a
// crossing has its own pair at the same two points).
struct CutSegment {
    StlVertex* a = nullptr;
    StlVertex* b = nullptr;
    uint8_t aOnOutline = 0; // 1 when that end lies at a corner or on an edge of the triangle
    uint8_t bOnOutline = 0;
    uint8_t kind = kSegmentInside;
};

// The working state of one triangle crossed by the other mesh of a cut: the
// triangles of the other mesh that cross it, the segments along which they do,
// and the pieces of its replacement. Filed for the triangle with the cut's
// TriangleCutter (contextOf) from the first recorded cutter or segment until the
// triangle has been replaced.
class TriangleCutContext {
public:
    explicit TriangleCutContext(StlTriangle* t) : triangle(t) {}
    // Deletes the pieces that are still on the stack.
    ~TriangleCutContext();
    TriangleCutContext(const TriangleCutContext&) = delete;
    TriangleCutContext& operator=(const TriangleCutContext&) = delete;

    StlTriangle* triangle;
    std::vector<StlTriangle*> cutters; // no duplicates
    std::vector<CutSegment> segments;
    std::vector<FillPolygon*> pieces;  // owned; the bottom piece first
    // Set when a step of the cut could not finish (see TriangleCutter); the
    // triangle must not be replaced then.
    bool failed = false;

    // Adds a cutter once. Returns the count after adding, or the current count when
    // it is listed already.
    std::size_t addCutter(StlTriangle* other);
    // Removes the first occurrence of other (later entries move down one place).
    void removeCutter(const StlTriangle* other);
    // Appends the segment unless |b - a|² < 1e-12. Returns 1 when stored, 0 when
    // refused as too short.
    int addSegment(const CutSegment& s);
    // Removes segment i; the last segment takes its slot.
    void removeSegment(std::size_t i);
};

// The part of the drain-hole boolean that works on pairs of crossing triangles
// (mesh A the model, mesh B the tool): recording the pairs, computing and filing
// their segments, resolving how the segments of one triangle overlap and cross,
// and replacing every crossed triangle by pieces that follow its segments.
//
// One cutter serves one cut and holds all of its working state: the context of
// every crossed triangle (a cut touches a few hundred or thousand triangles of
// meshes that may hold millions, so the contexts are kept here, keyed by
// triangle, rather than in a pointer on every record), the step budget of the
// crossing resolution and the count of failed replacements. Cuts on several
// threads at once (each on its own meshes, with its own cutter) share nothing.
// Bit kHasCutContext of a triangle's flags says that a context is filed for
// it: a triangle outside the cut is answered from that bit without a look-up,
// and a record made at the address of a freed one starts with the bit clear, so
// a stale entry is never seen. The cutter owns the contexts; whatever is still
// filed when it ends is freed then, without touching the triangles (their mesh
// may be gone): a mesh that outlives the cut gives its contexts back first
// (releaseContexts), so that none of its triangles keeps the bit.
//
// The mesh of a triangle is the owner of its shell: every triangle handed to the
// cutter must have one. Vertex mark bits (StlVertex::mark) are shared scratch:
// the pair step sets bit 1 on vertices below the other plane, the coarse test
// bit 0 on snap candidates, and the retriangulation uses the value 2 for "on the
// outline of the piece being split".
class TriangleCutter {
public:
    // crossingStepBudget: the steps allowed to the crossing resolution of one
    // triangle when it runs again before the replacement (0: the default, see
    // splitCrossingSegments).
    explicit TriangleCutter(std::size_t crossingStepBudget = 0) : m_crossingBudget(crossingStepBudget) {}
    ~TriangleCutter();
    TriangleCutter(const TriangleCutter&) = delete;
    TriangleCutter& operator=(const TriangleCutter&) = delete;

    // ---- The contexts of this cut (TriangleCutter.cpp) -------------------------
    // t's context; null when this cut has filed none for it.
    TriangleCutContext* contextOf(const StlTriangle* t) const;
    // t's context, made and filed when it has none yet.
    TriangleCutContext* ensureContext(StlTriangle* t);
    // Files ctx as t's context (a context t had is freed) and sets t's bit.
    void fileContext(StlTriangle* t, std::unique_ptr<TriangleCutContext> ctx);
    // Takes t's context out and clears t's bit; null (the bit left as it is)
    // when this cut holds no context for t.
    std::unique_ptr<TriangleCutContext> takeContext(StlTriangle* t);
    // Frees the contexts this cut holds for mesh's triangles and clears their bits.
    void releaseContexts(const StlObject& mesh);
    // The number of contexts filed.
    std::size_t contextCount() const { return m_contexts.size(); }

    // ---- The coarse test of the pair walk (TriangleIntersection.cpp) -----------
    // Coarse test of a non-coplanar candidate pair: true when the pair must go to the
    // exact cutter. A vertex within 1e-6 of the other plane always passes; otherwise
    // the pair passes when both triangles reach across the other's plane (beyond
    // 5e-5) and their spans on the planes' common line overlap by at least 1e-6.
    // Vertices within 5e-5 of the other triangle become snap records: on a pass the
    // vertex and face records are appended to *snapList (when given) and vertices
    // near an edge are added to that edge's vertex list with mark 1. Vertex and face
    // snaps get mark 1 as soon as they are found, pass or not.
    static bool prefilterPair(StlTriangle* a, StlTriangle* b, std::deque<SnapRecord>* snapList);

    // Vertex k of x against triangle y (squared tolerance 2.5e-9): 0 no candidate (a
    // shared vertex, or the projection misses y), 1 near a vertex of y, 2 near the
    // interior of an edge of y (into `edge`), 3 over y's face. Kinds 1 and 3 go into
    // vertexOrFace and mark the vertex 1.
    static int collectSnapCandidate(StlTriangle* x, StlTriangle* y, int k, SnapCandidates& vertexOrFace,
                                    SnapCandidates& edge);

    // ---- Recording and intersecting pairs (TriangleCutter.cpp) -----------------
    // Creates t's context when it has none and lists other as a cutter. Returns 0.
    int recordCutter(StlTriangle* t, StlTriangle* other);

    // Intersects the context's triangle with each of its cutters in list order.
    // Every cutter without a walk mark is appended to *work and gets walk mark 1;
    // the pair is removed from the cutter's own list so that it is examined once.
    // Empties the cutter list. Returns 1, or 0 when the list was empty.
    int intersectTrianglePairs(TriangleCutContext* ctx, std::vector<ShortPair>& shortPairs,
                               std::vector<StlTriangle*>* work);

    // The exact step on one pair: vertices within 1e-6 of the other plane and
    // inside the other triangle are snapped onto that plane; the points where the
    // edges of each triangle cross the other's plane inside the other triangle
    // are the hits, and two hits make a segment filed with both triangles. True
    // when a segment was filed.
    bool intersectPair(StlTriangle* a, StlTriangle* b, std::vector<ShortPair>& shortPairs);

    // Turns two hits into vertices of both meshes and files the segment with a and
    // with b. codesA/codesB are the hits' position codes in a and in b
    // (classifyPointInTriangle). Returns 1 when filed; 0 when both hits fall on one
    // vertex, the crossing is shorter than 1e-6 (recorded in shortPairs), or b's
    // mesh welds both points into one vertex.
    int makeSegments(StlTriangle* a, const double hits[2][3], const int codesA[2], const int codesB[2],
                     StlTriangle* b, std::vector<ShortPair>& shortPairs);

    // Files s with t (creating t's context), its kind from the position codes of
    // its ends in t. Returns 0.
    int addSegmentToTriangle(StlTriangle* t, CutSegment s, const int codes[2]);

    // Before v moves to target: the outline ends of the segments already filed on
    // v's triangles slide along their edges with it (moveTriangleVertex on every
    // live incident triangle with a context, last incident first). Returns 0.
    int prepareVertexMove(StlVertex* v, const double target[3]);
    // Slides the outline ends on the two edges at corner k as corner k moves to q.
    // A triangle whose edges at k are shorter than 1e-6 along their dominant axes
    // is degenerate: it is removed from its cutters' lists, detached from its edges
    // and vertices and deleted; returns -1 then, else 0.
    int moveTriangleVertex(TriangleCutContext* ctx, int k, const double q[3]);
    // Removes the context's triangle from the cutter lists of its cutters. Returns 0.
    int forgetCutters(TriangleCutContext* ctx);

    // Resolves the segments of one triangle so that they meet only at their ends:
    // duplicates go, collinear overlaps are cut back end to end, crossings are
    // split at a shared new vertex (in the plane that drops the dominant axis of
    // the triangle's normal). A second run on a resolved list changes nothing.
    // Returns 0; -1 (and ctx->failed) when the resolution did not settle within its
    // step budget (0: the default, growing with the square of the segment count).
    static int splitCrossingSegments(TriangleCutContext* ctx, std::size_t stepBudget = 0);

    // ---- Replacing a cut triangle (Retriangulation*.cpp) -----------------------
    // Replaces the context's triangle, already deleted and detached from its edges
    // by the caller, by pieces that follow its segments (appended to its mesh with
    // addCutTriangle); the mesh edges along the segments get class 3. The
    // crossings are resolved once more first, within this cut's step budget.
    // Returns 0; -1 when the triangle could not be covered (a chain or loop lies
    // in no piece, a piece could not be split or clipped): ctx->failed is set,
    // and whatever was added stays in the mesh, so the caller must discard the
    // whole cut.
    int retriangulate(TriangleCutContext* ctx);
    // Outline, splitting along every chain and loop, and the classification of
    // the pieces for ear clipping. Returns 0, or -1 on failure (no piece left).
    static int buildPieces(TriangleCutContext* ctx);
    // Pushes the outline piece: the triangle's corners plus the ends of the
    // segments that lie along its edges (those segments are consumed). Returns 0.
    static int makeOutline(TriangleCutContext* ctx);
    // Consumes every segment: open chains split the piece that holds them, closed
    // loops are inserted into theirs. Returns 0; -1 when a chain or loop lies in
    // no piece or a piece could not take it (every piece is then destroyed).
    static int splitPieces(TriangleCutContext* ctx);
    // Traces a chain that starts at an outline vertex. 0 when no segment touches
    // an outline (nothing consumed), else 1, or 2 when some step had more than one
    // candidate.
    static int traceChainFromOutline(TriangleCutContext* ctx, std::deque<StlVertex*>& chain);
    // Traces a chain from the first segment of the highest kind, forward and then
    // backward. Returns 1, or 2 when some step had more than one candidate.
    static int traceChain(TriangleCutContext* ctx, std::deque<StlVertex*>& chain);

    // The retriangulation in the form StlObject::deleteTriangles calls it: runs
    // retriangulate on t's context and frees the context. A failure is counted in
    // failureCount().
    void retriangulateForMesh(StlObject& mesh, StlTriangle* t);
    // The crossing budget retriangulate passes on (0: the default).
    void setCrossingStepBudget(std::size_t steps) { m_crossingBudget = steps; }
    // Failures of retriangulateForMesh since the cutter was made or last reset.
    std::size_t failureCount() const { return m_failures; }
    void resetFailureCount() { m_failures = 0; }

    // The mesh that owns t (the owner of its shell); null without a shell.
    static StlObject* meshOf(const StlTriangle* t);

private:
    std::unordered_map<const StlTriangle*, std::unique_ptr<TriangleCutContext>> m_contexts;
    std::size_t m_crossingBudget;
    std::size_t m_failures = 0;
};

} // namespace topolib

#pragma once

#include "topolib/Vector3D.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace topolib {

class StlObject;
class StlShell;
class StlTriangle;
class StlVertex;

// One corner of a FillPolygon loop. Nodes are heap records owned by the polygon
// whose loop they are in; make them with FillPolygon::newNode and release them
// with FillPolygon::freeNode (or let the polygon do it).
struct FillPolygonNode {
    // Kind of corners inserted where a cut chain meets the rim (or standing in for
    // a chain end); 0 for every other corner.
    static constexpr uint32_t kChainEnd = 5;

    StlVertex* vertex = nullptr; // not owned; a self-touching loop lists a vertex twice
    FillPolygonNode* next = nullptr;
    FillPolygonNode* prev = nullptr;
    uint32_t kind = 0;
    // Cosine of the interior angle, -(e_in · e_out): +1 a needle, -1 a straight run.
    double cosAngle = 0.0;
    // 0: an ear candidate (convex turn); 1: not a candidate.
    uint8_t notEar = 1;
    // How many hole bridges end at this corner; nodes that share the corner through
    // a bridge share the counter. Empty until a bridge ends here.
    std::shared_ptr<unsigned int> mark;

    // Collapses a needle (next and prev on one vertex) at this node, then sets
    // cosAngle and notEar with the edges projected on the vertex normal. Returns
    // the node that was classified (this, or the survivor of a collapsed needle;
    // nodes of the needle are freed), or null when the whole loop folds onto itself
    // (nothing is freed then).
    FillPolygonNode* classify();
    // The same about the given normal without projection; a straight corner stays
    // a candidate.
    FillPolygonNode* classifyInPlane(const double n[3]);
};

// A closed loop of mesh vertices, not necessarily flat, to be covered with
// triangles by ear clipping, one step at a time. Each step clips one ear, splits
// the loop and hands back the split-off polygon (the caller owns it and steps it
// the same way), or finishes. A step that cannot go on (no corner can be an ear in
// either classification) abandons the polygon: its nodes are freed and failed()
// becomes true. A loop that folds onto itself completely has no area and is
// finished without failure.
//
// The same polygons carry the pieces of a triangle cut by drain holes: cut chains
// are inserted with splitByChain and insertChain, and the pieces are covered with
// triangulateCut.
class FillPolygon {
public:
    // Planar flag 0, zero normal and centroid, no nodes and no shells. `owner`
    // receives the triangles of the hole and cut steps and scales the plane fit; it
    // may be null for the cap step and the queries.
    explicit FillPolygon(StlObject* owner);
    FillPolygon(const FillPolygon&) = delete;
    FillPolygon& operator=(const FillPolygon&) = delete;
    // Frees every listed node.
    ~FillPolygon();

    // A fresh unlinked node (cosAngle 0, notEar 1, no mark).
    static FillPolygonNode* newNode(StlVertex* v, uint32_t kind = 0);
    static void freeNode(FillPolygonNode* node);

    uint8_t planar = 0;        // set by fitPlane: classify against `normal`
    StlObject* owner = nullptr;
    Vector3D normal;           // unit polygon normal (zero until fitted or set)
    Vector3D centroid;         // mean of the corner positions (set by fitPlane)
    std::vector<StlShell*> shells; // the shells whose rim this polygon covers
    // 1 for a hole rim that did not close and touched fewer than two triangles
    // (fillHole); 0 otherwise. Such a polygon lists those triangles here.
    uint32_t state = 0;
    std::vector<StlTriangle*> rimTriangles;

    // The loop in order from its start node; every node exactly once.
    const std::deque<FillPolygonNode*>& nodes() const { return m_nodes; }
    std::size_t nodeCount() const { return m_nodes.size(); }
    // True once an operation gave up on this polygon (see the class comment and
    // the operations); the caller must treat the whole job as failed.
    bool failed() const { return m_failed; }
    // True once a hole step clipped an ear whose triangle the mesh refused
    // (two corners at one point): the polygon goes on, but its cover has a gap.
    bool lostTriangle() const { return m_lostTriangle; }

    // ---- Building ------------------------------------------------------------
    // Nodes for the loop V0 … Vk-1 (closed implicitly), classified against their
    // vertex normals. Fewer than 3 vertices build nothing.
    void buildFromVertices(const std::deque<StlVertex*>& loop);
    // Normal (area-weighted, unit), centroid and planar flag from the loop. The
    // tolerances are scaled by 1000 / the owner's diagonal (1 without an owner or
    // with a zero diagonal). Fewer than 3 nodes: nothing.
    void fitPlane();
    // Frees every listed node; the polygon is then finished.
    void clearNodes();
    // Frees the loop through start (following next) and empties the list.
    void freeLoop(FillPolygonNode* start);
    // Lists the loop through start from start: consecutive nodes on one vertex are
    // merged (the later one freed), a node without next closes the loop back to
    // start, and a last node on start's vertex is dropped (with fewer than 4 nodes
    // the whole loop is freed instead).
    void rebuildFrom(FillPolygonNode* start);

    // ---- Classification ------------------------------------------------------
    // Classifies every node (about `normal` when planar, else against the vertex
    // normals) and returns the number of ear candidates (0 with fewer than 3
    // nodes). Collapsed needles are removed; a completely folded loop is emptied.
    int classifyNodes();
    int classifyNodesInPlane(const double n[3]);
    // Unit mean of the corners' turn normals.
    void averageNormal(double out[3]) const;
    // Whether the chain from a to b turns left on balance about `normal`.
    bool chainTurnsLeft(const FillPolygonNode* a, const FillPolygonNode* b) const;

    // ---- Ear selection -------------------------------------------------------
    FillPolygonNode* selectEar() const;    // hole and cap steps: the sharpest candidate
    FillPolygonNode* selectCutEar() const; // cut step: the ear leaving the best corners
    // Whether X's outgoing edge, run forward, crosses the base of the ear at e (X on
    // e's vertex).
    bool isPinchCrossing(const FillPolygonNode* e, const FillPolygonNode* x) const;

    // ---- Steps ---------------------------------------------------------------
    // One step of hole filling: triangles through owner->addTriangle (pushed to
    // *out when given). Returns a split-off polygon or null.
    FillPolygon* triangulate(std::deque<StlTriangle*>* out);
    // One step of capping a shell rim: the triangles are free-standing records
    // (not registered with their vertices, not in any mesh) appended to `out`;
    // the caller deletes them.
    FillPolygon* triangulateCap(std::deque<StlTriangle*>& out);
    // One step of covering a piece of the cut triangle `source`: triangles through
    // owner->addCutTriangle, taking over source's normal.
    FillPolygon* triangulateCut(const StlTriangle* source);

    // Drives triangulateCut over a stack of pieces, last in first out, until it is
    // empty; used-up pieces are deleted. False when a piece failed or the steps did
    // not finish within their cap (a multiple of the node count); every remaining
    // piece is then deleted as well. The triangles added so far stay in the mesh.
    // stepCap 0 takes the cap from the node count; the drivers below alike.
    static bool triangulateCutPieces(std::vector<FillPolygon*>& stack, const StlTriangle* source,
                                     std::size_t stepCap = 0);
    // Fills every polygon of the deque (front first, split-off polygons queued at
    // the back) through the owner's addTriangle, slivers kept; every polygon is
    // deleted and the deque emptied. False when one could not be covered, a
    // triangle was refused or the cap was reached.
    static bool triangulateHoles(std::deque<FillPolygon*>& polygons, std::deque<StlTriangle*>* out,
                                 std::size_t stepCap = 0);
    // Caps every polygon of the vector (last first, split-off polygons appended)
    // into free-standing triangles appended to `out`; every polygon is deleted and
    // the vector emptied. False when one could not be covered.
    static bool triangulateCaps(std::vector<FillPolygon*>& polygons, std::deque<StlTriangle*>& out,
                                std::size_t stepCap = 0);

    // ---- Queries -------------------------------------------------------------
    // p inside or on (1e-6) the loop, tested in the plane that drops the normal's
    // largest component. An empty polygon contains nothing.
    bool containsPoint(const double p[3]) const;
    // Sets the two mark bits of every node's vertex to the low two bits of `bits`.
    void markVertices(unsigned bits) const;
    // The end nearer to p of the loop edge nearest to p; null when empty.
    FillPolygonNode* nearestNode(const double p[3]) const;

    // ---- Cut chains ----------------------------------------------------------
    // The vertices of a chain carrying mark 2 are taken to lie on this polygon's
    // rim (the caller marks the rim with markVertices(2) around these calls).
    //
    // Inserts the open chain S = chain.front() … T = chain.back() that runs from
    // rim to rim (ends off the rim are joined to the nearest rim node), keeps one
    // piece and returns the other. Null when nothing was split: both ends at one
    // corner, or a two-vertex chain lying inside one rim edge (its points become
    // corners). Ends found on the rim are removed from the chain. Sets failed()
    // when the chain could not be inserted (the chain would be lost).
    FillPolygon* splitByChain(std::deque<StlVertex*>& chain);
    // A closed chain (last vertex repeats the first): through a rim vertex when
    // its first vertex carries a mark, otherwise inside the polygon. Null for an
    // empty chain.
    FillPolygon* insertChain(std::deque<StlVertex*>& chain);
    // The rim makes a detour around the loop through its rim vertex; the loop's
    // inside is returned.
    FillPolygon* insertBoundaryLoop(std::deque<StlVertex*>& chain);
    // Bridges the rim to the loop and returns the loop's inside. Null, polygon
    // unchanged and failed() set, when no rim node can carry the bridge (or a
    // crossing vertex is needed and there is no owner).
    FillPolygon* insertInteriorLoop(std::deque<StlVertex*>& chain);

private:
    enum class StepMode { Hole, Cap, Cut };
    // Where a step's triangles go: `out` for the hole and cap steps, the owner's
    // pieces of `source` for the cut step.
    struct StepSink {
        StepMode mode;
        std::deque<StlTriangle*>* out;
        const StlTriangle* source;
    };
    struct Ear;
    struct EarScan;

    // One step of any mode: takeEar, scanEar or scanCutEar, then splitAtPinch,
    // splitAtBlocker or clipEar.
    FillPolygon* step(const StepSink& sink);
    // The ear to work on; null when the step ended here: fewer than 4 corners
    // (finished, the last triangle emitted) or no candidate (failed).
    FillPolygonNode* takeEar(const StepSink& sink);
    // The rest of the loop against the ear: pinches at Q's or P's vertex and
    // blockers (hole and cap steps; the plane-distance test only for holes).
    EarScan scanEar(const Ear& ear, StepMode mode) const;
    // The same for the cut step: pinches only at E's own vertex, ties between
    // blockers decided towards the ear vertex.
    EarScan scanCutEar(const Ear& ear) const;
    FillPolygon* splitAtPinch(StepMode mode, const Ear& ear, const EarScan& scan);
    FillPolygon* splitAtBlocker(StepMode mode, const Ear& ear, const EarScan& scan);
    // The blocker the diagonal from the ear vertex may go to; null (polygon
    // failed) when no diagonal is clear.
    FillPolygonNode* diagonalEnd(StepMode mode, const Ear& ear, const EarScan& scan);
    void clipEar(const StepSink& sink, const Ear& ear);
    void emit(const StepSink& sink, StlVertex* a, StlVertex* b, StlVertex* c);
    // Emits (first, next, prev) of the last three nodes and empties the list.
    void emitLastTriangle(const StepSink& sink);
    FillPolygonNode* reclassify(StepMode mode, FillPolygonNode* node) const;
    FillPolygon* splitOffLoop(FillPolygonNode* start) const;
    void finishWithFailure(FillPolygonNode* loopNode);

    std::deque<FillPolygonNode*> m_nodes;
    bool m_failed = false;
    bool m_lostTriangle = false;
};

} // namespace topolib

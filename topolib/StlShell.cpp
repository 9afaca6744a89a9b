// Shell records: filing triangles, splitting a shell into pieces after cuts,
// counting and renumbering its triangles for the geometry format.
#include "topolib/StlShell.h"

#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <memory>

namespace topolib {

namespace {

template <typename Container> void releaseStorage(Container& c) {
    Container().swap(c);
}

int countValid(const StlObject* owner, const StlShell::TriangleList& list) {
    if (!owner)
        return 0;
    int n = 0;
    for (const StlTriangle* t : list)
        if (owner->isValidTriangle(t))
            ++n;
    return n;
}

} // namespace

StlShell::StlShell() = default;

StlShell::StlShell(StlObject* ownerMesh) : owner(ownerMesh) {}

StlShell::StlShell(const StlShell& source)
    : open(source.open), spare(source.spare), number(source.number), area(source.area),
      volume(source.volume) {}

StlShell::~StlShell() = default;

void StlShell::destroy() {
    slabIndex.reset();
    releaseStorage(primaryTriangles);
    releaseStorage(reversedTriangles);
    releaseStorage(pieces);
    releaseStorage(rimPolygons);
    releaseStorage(nonManifoldRimEdges);
}

int StlShell::addTriangle(StlTriangle* t) {
    const bool reversed = t->isReversed();
    if (!reversedTriangles.empty() && reversedTriangles.front()->isReversed() == reversed)
        reversedTriangles.push_back(t);
    else if (!primaryTriangles.empty() && primaryTriangles.front()->isReversed() != reversed)
        reversedTriangles.push_back(t);
    else
        primaryTriangles.push_back(t);
    ++triangleCount;
    t->shell = this;
    changed = 1;
    return 1;
}

bool PieceBounds::holds(const StlTriangle* t) const {
    for (const StlVertex* v : t->vertices)
        for (int k = 0; k < 3; ++k)
            if (v->pos[k] < lo[k] || v->pos[k] > hi[k])
                return false;
    return true;
}

int StlShell::splitIntoPieces(const PieceBounds* within) {
    if (!within) {
        for (TriangleList* list : {&primaryTriangles, &reversedTriangles}) {
            for (StlTriangle* t : *list) {
                if (t->walkMark() == 0 && !t->isDeleted())
                    splitOffPiece(t);
                t->setWalkMark(0);
            }
        }
        return 0;
    }
    // The marks stay until every piece is made: a flood that meets the
    // triangles of one that stopped (marked 2) stops too.
    for (TriangleList* list : {&primaryTriangles, &reversedTriangles})
        for (StlTriangle* t : *list)
            if (t->walkMark() == 0 && !t->isDeleted() && within->holds(t))
                splitOffPiece(t, within);
    for (TriangleList* list : {&primaryTriangles, &reversedTriangles})
        for (StlTriangle* t : *list)
            t->setWalkMark(0);
    return 0;
}

StlShell* StlShell::splitOffPiece(StlTriangle* seed, const PieceBounds* within) {
    auto piece = std::make_unique<StlShell>(owner);
    seed->setWalkMark(1);
    piece->primaryTriangles.push_back(seed);

    // Depth-first: every new triangle goes to the front of the work list, which
    // keeps the list short on long strips.
    std::deque<StlTriangle*> work{seed};
    bool outside = false;
    while (!work.empty() && !outside) {
        StlTriangle* t = work.front();
        work.pop_front();
        for (StlEdge* e : t->edges) {
            if (!e || e->edgeClass > kEdgeSharp)
                continue;
            StlTriangle* u = nullptr;
            for (StlTriangle* cand : *e) {
                if (cand != t && cand->shell == t->shell) {
                    u = cand;
                    break;
                }
            }
            if (!u || u->isDeleted())
                continue;
            if (within && (u->walkMark() == 2 || (u->walkMark() == 0 && !within->holds(u)))) {
                outside = true;
                break;
            }
            if (u->walkMark() != 0)
                continue;
            u->setWalkMark(1);
            piece->primaryTriangles.push_back(u);
            work.push_front(u);
        }
    }
    if (outside) {
        for (StlTriangle* t : piece->primaryTriangles)
            t->setWalkMark(2);
        return nullptr;
    }
    piece->triangleCount = static_cast<uint32_t>(piece->primaryTriangles.size());
    pieces.push_back(piece.get());
    return piece.release();
}

void StlShell::takePieces(std::vector<StlShell*>& out) {
    out.insert(out.end(), pieces.begin(), pieces.end());
    pieces.clear();
}

void StlShell::setRimEdgeMarks(bool on) {
    for (StlEdge* e : nonManifoldRimEdges) {
        if (on)
            e->flags |= StlShell::kRimTracedEdgeBit;
        else
            e->flags &= ~StlShell::kRimTracedEdgeBit;
    }
}

void StlShell::markTrianglesDeleted() {
    for (StlTriangle* t : primaryTriangles)
        t->setDeleted(true);
    for (StlTriangle* t : reversedTriangles)
        t->setDeleted(true);
}

int StlShell::appendTrianglesTo(std::vector<StlTriangle*>& out) const {
    out.insert(out.end(), primaryTriangles.begin(), primaryTriangles.end());
    out.insert(out.end(), reversedTriangles.begin(), reversedTriangles.end());
    return 0;
}

StlTriangle* StlShell::firstLiveTriangle() const {
    for (StlTriangle* t : primaryTriangles)
        if (!t->isDeleted())
            return t;
    for (StlTriangle* t : reversedTriangles)
        if (!t->isDeleted())
            return t;
    return nullptr;
}

int StlShell::countValidPrimaryTriangles() const {
    return countValid(owner, primaryTriangles);
}

int StlShell::countValidReversedTriangles() const {
    return countValid(owner, reversedTriangles);
}

void StlShell::renumberTriangles(Ref<StlTriangle>* array, uint32_t& next) {
    assert(owner && "a shell must belong to a mesh before its triangles are renumbered");
    for (TriangleList* list : {&primaryTriangles, &reversedTriangles}) {
        for (StlTriangle* t : *list) {
            array[next] = t;
            t->id = static_cast<int32_t>(next);
            for (int k = 0; k < 3; ++k) {
                if (t->edges[k])
                    continue;
                StlVertex* a = t->vertices[k];
                StlVertex* b = t->vertices[(k + 1) % 3];
                StlEdge* e = StlVertex::findEdgeTo(a, b);
                if (!e)
                    e = owner->addEdge(a, b);
                // An edge made for an earlier triangle of this pass does not list
                // this one yet; without it the side would count as a boundary.
                if (std::find(e->begin(), e->end(), t) == e->end())
                    e->addTriangle(t);
                t->edges[k] = e;
            }
            ++next;
        }
    }
}

void StlShell::recomputeBox() {
    const double inf = std::numeric_limits<double>::infinity();
    Vector3D lo(inf, inf, inf), hi(-inf, -inf, -inf);
    for (const auto* list : {&primaryTriangles, &reversedTriangles})
        for (const StlTriangle* t : *list)
            if (!t->isDeleted())
                for (const StlVertex* v : t->vertices)
                    widenBox(lo, hi, v->pos);
    if (lo.x <= hi.x) {
        boxMin = lo;
        boxMax = hi;
    }
}

void StlShell::extendBox(const StlTriangle* t) {
    for (const StlVertex* v : t->vertices)
        extendBox(v->pos);
}

} // namespace topolib

// FillPolygon: ear selection and the three ear-clipping steps (hole filling, shell
// caps, pieces of cut triangles) with their drivers.
#include "topolib/FillPolygon.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleIntersection.h"

#include <algorithm>
#include <cmath>

namespace topolib {

namespace {

constexpr double kCos5Degrees = 0.99619469;
constexpr double kCos150Degrees = -0.8660254037844;
constexpr double kCos105Degrees = -0.2588190451025;

const Vector3D& posOf(const FillPolygonNode* n) { return n->vertex->pos; }

Vector3D unitOf(Vector3D v) { return v.unitize(); }

// Frees the nodes of the loop through start without touching any node list.
void freeLoopNodes(FillPolygonNode* start) {
    for (FillPolygonNode* x = start->next; x && x != start;) {
        FillPolygonNode* following = x->next;
        FillPolygon::freeNode(x);
        x = following;
    }
    FillPolygon::freeNode(start);
}

// Squared distance of x from the line through p and q (from p when p and q
// coincide). A corner inside an ear that lies farthest from the line of the ear's
// base is the one the ear vertex can always be joined to; measured from the base
// segment instead, a corner beside an obtuse base corner would look farther than
// it is and the diagonal to it could cross the loop.
double baseLineDistSq(const Vector3D& x, const Vector3D& p, const Vector3D& q) {
    const Vector3D d = q - p;
    const Vector3D w = x - p;
    const double dd = d.lengthSquared();
    if (dd <= 0.0)
        return w.lengthSquared();
    return d.cross(w).lengthSquared() / dd;
}

// Whether the diagonal e-x crosses no edge of the loop, seen along `normal`. Only
// proper crossings count; edges that end on e's or x's vertex are skipped.
bool diagonalIsClear(const FillPolygonNode* e, const FillPolygonNode* x, const Vector3D& normal) {
    const int k = dominantAxis(normal);
    const int i = (k + 1) % 3;
    const int j = (k + 2) % 3;
    auto side = [i, j](const Vector3D& a, const Vector3D& b, const Vector3D& c) {
        const double s = (b[i] - a[i]) * (c[j] - a[j]) - (b[j] - a[j]) * (c[i] - a[i]);
        return (s > 0.0) - (s < 0.0);
    };
    const Vector3D& A = posOf(e);
    const Vector3D& B = posOf(x);
    const FillPolygonNode* y = e;
    do {
        const FillPolygonNode* z = y->next;
        const bool touches = y->vertex == e->vertex || y->vertex == x->vertex || z->vertex == e->vertex ||
                             z->vertex == x->vertex;
        if (!touches) {
            const Vector3D& C = posOf(y);
            const Vector3D& D = posOf(z);
            if (side(A, B, C) * side(A, B, D) < 0 && side(C, D, A) * side(C, D, B) < 0)
                return false;
        }
        y = z;
    } while (y != e);
    return true;
}

// A triangle that belongs to no mesh: its vertices are set but it is not entered
// in their incident lists. Null for coincident corners or a doubled area below
// 1e-6; both tolerances scaled by `scale` (lengths) and its square.
StlTriangle* makeFreeTriangle(StlVertex* a, StlVertex* b, StlVertex* c, double scale) {
    if (a == b || b == c || a == c || a->pos.sameAs(b->pos, scale) || b->pos.sameAs(c->pos, scale) ||
        a->pos.sameAs(c->pos, scale))
        return nullptr;
    auto* t = new StlTriangle();
    t->vertices[0] = a;
    t->vertices[1] = b;
    t->vertices[2] = c;
    if (t->computeNormal() < 1e-6 * scale * scale) {
        delete t;
        return nullptr;
    }
    return t;
}

} // namespace

// ---- Ear selection --------------------------------------------------------------------

FillPolygonNode* FillPolygon::selectEar() const {
    if (m_nodes.size() < 3)
        return nullptr;
    FillPolygonNode* first = m_nodes.front();
    FillPolygonNode* choice = first;
    for (FillPolygonNode* x = first->next; x != first; x = x->next) {
        if (x->notEar == 0 && (choice->notEar != 0 || x->cosAngle > choice->cosAngle))
            choice = x;
    }
    // Look-ahead: when the diagonal that clipping the choice would create runs on
    // almost straight into a neighbour's other edge, that neighbour goes first, so
    // that no corner of nearly 180 degrees is left behind.
    FillPolygonNode* E = choice;
    FillPolygonNode* P = E->prev;
    FillPolygonNode* Q = E->next;
    const Vector3D a = unitOf(posOf(Q) - posOf(P));
    const Vector3D b = unitOf(posOf(Q->next) - posOf(Q));
    const double ab = std::fabs(a.dot(b));
    if (ab > kCos5Degrees && ab > E->cosAngle && Q->notEar == 0 && Q->cosAngle > kCos150Degrees)
        return Q;
    const Vector3D c = unitOf(posOf(P->prev) - posOf(P));
    const double ac = std::fabs(a.dot(c));
    if (ac > kCos5Degrees && ac > E->cosAngle && P->notEar == 0)
        return P->cosAngle > kCos150Degrees ? P : E;
    return E;
}

FillPolygonNode* FillPolygon::selectCutEar() const {
    if (m_nodes.size() < 3)
        return nullptr;
    FillPolygonNode* first = m_nodes.front();
    if (m_nodes.size() == 3)
        return first;
    // The cosines of the two corners that clipping e would leave at its neighbours
    // (smaller is better).
    auto quality = [](const FillPolygonNode* e, bool signedAtP) {
        const FillPolygonNode* P = e->prev;
        const FillPolygonNode* Q = e->next;
        const Vector3D a = unitOf(posOf(Q) - posOf(P));
        const Vector3D b = unitOf(posOf(Q->next) - posOf(Q));
        const Vector3D c = unitOf(posOf(P->prev) - posOf(P));
        const double atP = signedAtP ? c.dot(a) : std::fabs(c.dot(a));
        return std::max(-a.dot(b), atP);
    };
    FillPolygonNode* choice = first;
    double best = 1.0;
    if (first->notEar == 0 && first->cosAngle > 0.0)
        best = quality(first, true);
    // A sharp candidate whose clipping would leave a straight corner has quality 1
    // and never beats the start value; when no other candidate is found it is
    // still an ear, and taking it beats giving the piece up.
    FillPolygonNode* firstSharp = nullptr;
    for (FillPolygonNode* x = first->next; x != first; x = x->next) {
        if (x->notEar != 0)
            continue;
        if (x->cosAngle > kCos105Degrees) {
            const double q = quality(x, false);
            if (!firstSharp)
                firstSharp = x;
            if (q < best) {
                choice = x;
                best = q;
                if (q < kCos5Degrees)
                    break;
            }
        } else if (choice->notEar != 0 || x->cosAngle > choice->cosAngle) {
            choice = x;
        }
    }
    if (choice->notEar != 0 && firstSharp)
        choice = firstSharp;
    return choice;
}

bool FillPolygon::isPinchCrossing(const FillPolygonNode* e, const FillPolygonNode* x) const {
    const Vector3D& P = posOf(e->prev);
    const Vector3D& Q = posOf(e->next);
    const Vector3D& X = posOf(x);
    const Vector3D u = Q - P;
    const Vector3D w = posOf(x->next) - X;
    const int k = dominantAxis(normal);
    const int i = (k + 1) % 3;
    const int j = (k + 2) % 3;
    const double det = w[i] * u[j] - w[j] * u[i];
    if (std::fabs(det) < 1e-12)
        return false;
    const double t = ((X[j] - P[j]) * w[i] - (X[i] - P[i]) * w[j]) / det;
    const Vector3D S = P + u * t;
    if (locatePointOnSegment(Q.data(), P.data(), S.data()) == 0)
        return false;
    return (S - X).dot(w) > 0.0;
}

// ---- Steps --------------------------------------------------------------------------------

// The ear a step works on: E with its neighbours P = E.prev and Q = E.next, the
// triangle (E, Q, P) as a record of no mesh, and the squared radius about E
// beyond which no corner is looked at as a blocker.
struct FillPolygon::Ear {
    Ear(FillPolygonNode* e, StepMode mode, const StlTriangle* source, const Vector3D& polygonNormal);

    FillPolygonNode* const E;
    FillPolygonNode* const P;
    FillPolygonNode* const Q;
    StlTriangle triangle;
    // False for a straight or needle ear of the hole and cap steps: it has no
    // inside, so nothing can block it, and its zero normal would let every near
    // corner pass the inside test.
    bool hasArea = true;
    double radius = 0.0;
};

// The cut step takes over the normal of the triangle being cut (the polygon's
// without one); the other steps compute it from the corners.
FillPolygon::Ear::Ear(FillPolygonNode* e, StepMode mode, const StlTriangle* source,
                      const Vector3D& polygonNormal)
    : E(e), P(e->prev), Q(e->next) {
    triangle.vertices[0] = E->vertex;
    triangle.vertices[1] = Q->vertex;
    triangle.vertices[2] = P->vertex;
    if (mode == StepMode::Cut)
        triangle.normal = source ? source->normal : polygonNormal;
    else
        hasArea = triangle.computeNormal() > 0.0;
    radius = (mode == StepMode::Cut ? 1.1 : 1.01) *
             std::max((posOf(P) - posOf(E)).lengthSquared(), (posOf(Q) - posOf(E)).lengthSquared());
}

// What the scan of the loop beyond an ear found: a pinch (the loop touching
// itself at a corner of the ear; `touching` is the node that touches it), else
// the blocker (a corner inside the ear) that the ear is split at, if any.
struct FillPolygon::EarScan {
    enum class Pinch { None, AtQ, AtP, AtE };
    Pinch pinch = Pinch::None;
    FillPolygonNode* touching = nullptr;
    FillPolygonNode* blocker = nullptr;
    // The blocker farthest from the base (the earliest of equal ones), kept apart
    // from the one the cut step's tie rule may prefer, and its weight (any
    // corner inside the ear beats none).
    FillPolygonNode* farthest = nullptr;
    double farthestWeight = -1e-6;

    // Takes x as the blocker when its weight (squared distance from the line of
    // the ear's base) is greater than the farthest one's; false otherwise.
    bool offer(FillPolygonNode* x, double weight) {
        if (!(weight > farthestWeight))
            return false;
        farthestWeight = weight;
        blocker = farthest = x;
        return true;
    }
};

FillPolygonNode* FillPolygon::reclassify(StepMode mode, FillPolygonNode* node) const {
    if (mode == StepMode::Cut || planar)
        return node->classifyInPlane(normal.data());
    return node->classify();
}

void FillPolygon::emit(const StepSink& sink, StlVertex* a, StlVertex* b, StlVertex* c) {
    switch (sink.mode) {
    case StepMode::Hole:
        // The ear leaves the loop either way: a triangle refused (corners at one
        // point) leaves the hole open there.
        if (owner && !owner->addTriangle(a, b, c, sink.out, StlObject::Slivers::Kept))
            m_lostTriangle = true;
        break;
    case StepMode::Cap:
        if (StlTriangle* t = makeFreeTriangle(a, b, c, owner ? owner->toleranceScale() : 1.0))
            sink.out->push_back(t);
        break;
    case StepMode::Cut:
        if (owner && sink.source)
            owner->addCutTriangle(a, b, c, sink.source);
        break;
    }
}

void FillPolygon::emitLastTriangle(const StepSink& sink) {
    FillPolygonNode* f = m_nodes.front();
    emit(sink, f->vertex, f->next->vertex, f->prev->vertex);
    clearNodes();
}

FillPolygon* FillPolygon::splitOffLoop(FillPolygonNode* start) const {
    auto* split = new FillPolygon(owner);
    split->rebuildFrom(start);
    split->planar = planar;
    split->normal = normal;
    return split;
}

FillPolygon* FillPolygon::triangulate(std::deque<StlTriangle*>* out) {
    return step({StepMode::Hole, out, nullptr});
}

FillPolygon* FillPolygon::triangulateCap(std::deque<StlTriangle*>& out) {
    return step({StepMode::Cap, &out, nullptr});
}

FillPolygon* FillPolygon::triangulateCut(const StlTriangle* source) {
    return step({StepMode::Cut, nullptr, source});
}

// One step: take an ear, look along the rest of the loop for a pinch or a
// blocker, and split the loop there, or else clip the ear.
FillPolygon* FillPolygon::step(const StepSink& sink) {
    FillPolygonNode* e = takeEar(sink);
    if (!e)
        return nullptr;
    const Ear ear(e, sink.mode, sink.source, normal);
    const EarScan scan = sink.mode == StepMode::Cut ? scanCutEar(ear) : scanEar(ear, sink.mode);
    if (scan.pinch != EarScan::Pinch::None)
        return splitAtPinch(sink.mode, ear, scan);
    if (scan.blocker)
        return splitAtBlocker(sink.mode, ear, scan);
    clipEar(sink, ear);
    return nullptr;
}

namespace {

// Hole and cap steps: reclassifies every corner when the chosen ear is no
// candidate, against the vertex normals (or the polygon normal) and then about
// the loop's average normal. False when no corner is a candidate either way.
bool findEarCandidates(FillPolygon& polygon) {
    int count = polygon.classifyNodes();
    if (polygon.nodeCount() >= 3 && count == 0) {
        double average[3];
        polygon.averageNormal(average);
        count = polygon.classifyNodesInPlane(average);
        if (polygon.nodeCount() >= 3 && count == 0)
            return false;
    }
    return true;
}

// Cut step: reclassifies every corner about the polygon normal. False when fewer
// than two corners are candidates.
bool findCutEarCandidates(FillPolygon& polygon) {
    const int count = polygon.classifyNodesInPlane(polygon.normal.data());
    return !(polygon.nodeCount() >= 3 && count < 2);
}

} // namespace

FillPolygonNode* FillPolygon::takeEar(const StepSink& sink) {
    const bool cut = sink.mode == StepMode::Cut;
    for (int round = 0;; ++round) {
        if (m_nodes.size() < 3) {
            clearNodes();
            return nullptr;
        }
        if (m_nodes.size() == 3) {
            emitLastTriangle(sink);
            return nullptr;
        }
        FillPolygonNode* ear = cut ? selectCutEar() : selectEar();
        if (ear->notEar == 0)
            return ear;
        // One reclassification; when the ear chosen after it is still no
        // candidate, the polygon is given up.
        if (round > 0 || !(cut ? findCutEarCandidates(*this) : findEarCandidates(*this))) {
            finishWithFailure(nullptr);
            return nullptr;
        }
    }
}

FillPolygon::EarScan FillPolygon::scanEar(const Ear& ear, StepMode mode) const {
    FillPolygonNode* const E = ear.E;
    FillPolygonNode* const P = ear.P;
    FillPolygonNode* const Q = ear.Q;
    EarScan scan;
    std::size_t guard = m_nodes.size();
    for (FillPolygonNode* X = Q->next; X != P && guard > 0; X = X->next, --guard) {
        if (X->vertex == E->vertex)
            continue;
        if (X->vertex == Q->vertex) {
            if (Q->next->vertex != X->prev->vertex && X->next->vertex != E->vertex && chainTurnsLeft(X, Q) &&
                chainTurnsLeft(Q, X)) {
                scan.pinch = EarScan::Pinch::AtQ;
                scan.touching = X;
                return scan;
            }
            continue;
        }
        if (X->vertex == P->vertex) {
            if (X->prev->vertex != E->vertex && P->prev->vertex != X->next->vertex && chainTurnsLeft(X, P) &&
                chainTurnsLeft(P, X)) {
                scan.pinch = EarScan::Pinch::AtP;
                scan.touching = X;
                return scan;
            }
            continue;
        }
        if (!ear.hasArea || (posOf(E) - posOf(X)).lengthSquared() >= ear.radius)
            continue;
        if (!ear.triangle.containsProjectedPoint(posOf(X).data()))
            continue;
        if (mode == StepMode::Hole && !(pointPlaneDistSq(posOf(X).data(), posOf(E).data(),
                                                         ear.triangle.normal.data()) < ear.radius / 25.0))
            continue;
        scan.offer(X, baseLineDistSq(posOf(X), posOf(P), posOf(Q)));
    }
    return scan;
}

FillPolygon::EarScan FillPolygon::scanCutEar(const Ear& ear) const {
    FillPolygonNode* const E = ear.E;
    FillPolygonNode* const P = ear.P;
    FillPolygonNode* const Q = ear.Q;
    EarScan scan;
    std::size_t guard = m_nodes.size();
    for (FillPolygonNode* X = Q->next; X != P && guard > 0; X = X->next, --guard) {
        if (X->vertex == E->vertex) {
            if (Q->vertex != X->prev->vertex && P->vertex != X->next->vertex && isPinchCrossing(E, X)) {
                scan.pinch = EarScan::Pinch::AtE;
                scan.touching = X;
                return scan;
            }
            continue;
        }
        if (X->vertex == Q->vertex || X->vertex == P->vertex)
            continue;
        if ((posOf(E) - posOf(X)).lengthSquared() >= ear.radius ||
            !pointInTriangle(&ear.triangle, posOf(X).data()))
            continue;
        const double weight = baseLineDistSq(posOf(X), posOf(P), posOf(Q));
        if (!scan.offer(X, weight) && scan.blocker && scan.farthestWeight - weight < 1e-6) {
            // Of corners equally far from the base, prefer one whose outgoing
            // edge turns towards the ear vertex.
            const Vector3D& Xp = posOf(X);
            const Vector3D& Xn = posOf(X->next);
            if ((Xn - Xp).cross(posOf(E) - Xn).dot(normal) > 1e-6 && !Xn.isNear(Xp))
                scan.blocker = X;
        }
    }
    return scan;
}

namespace {

// Gives a and b each other's successors (a.next becomes b's old next and b.next
// a's old next), so that one loop through both falls into two.
void exchangeSuccessors(FillPolygonNode* a, FillPolygonNode* b) {
    FillPolygonNode* aNext = a->next;
    FillPolygonNode* bNext = b->next;
    a->next = bNext;
    bNext->prev = a;
    b->next = aNext;
    aNext->prev = b;
}

// The same with the predecessors: their predecessors exchange successors.
void exchangePredecessors(FillPolygonNode* a, FillPolygonNode* b) {
    exchangeSuccessors(a->prev, b->prev);
}

} // namespace

// The loop falls into two at the touching vertex: this polygon keeps the loop
// through the ear's corner, the one through the touching node is returned.
FillPolygon* FillPolygon::splitAtPinch(StepMode mode, const Ear& ear, const EarScan& scan) {
    FillPolygonNode* X = scan.touching;
    FillPolygonNode* A = ear.E; // the ear's corner that X touches
    if (scan.pinch == EarScan::Pinch::AtQ) {
        A = ear.Q;
        exchangeSuccessors(A, X);
    } else if (scan.pinch == EarScan::Pinch::AtP) {
        A = ear.P;
        exchangePredecessors(A, X);
    } else {
        exchangeSuccessors(A, X);
    }
    FillPolygonNode* ra = reclassify(mode, A);
    if (!ra)
        freeLoop(A);
    else
        rebuildFrom(ra);
    FillPolygonNode* rx = reclassify(mode, X);
    if (!rx) {
        // Only the other loop folds away; this polygon keeps its own loop.
        freeLoopNodes(X);
        return nullptr;
    }
    return splitOffLoop(rx);
}

// Splits along the diagonal from E to the blocker X: this polygon keeps E, X … P,
// the returned one is X', E', Q … X's old predecessor.
FillPolygon* FillPolygon::splitAtBlocker(StepMode mode, const Ear& ear, const EarScan& scan) {
    FillPolygonNode* const E = ear.E;
    FillPolygonNode* const X = diagonalEnd(mode, ear, scan);
    if (!X)
        return nullptr;
    FillPolygonNode* E2 = newNode(E->vertex);
    FillPolygonNode* X2 = newNode(X->vertex);
    FillPolygonNode* xPrev = X->prev;
    E->next = X;
    X->prev = E;
    E2->next = ear.Q;
    ear.Q->prev = E2;
    xPrev->next = X2;
    X2->prev = xPrev;
    X2->next = E2;
    E2->prev = X2;

    FillPolygonNode* r1 = reclassify(mode, E);
    if (!r1) {
        freeLoop(E);
    } else if (r1 == E) {
        FillPolygonNode* rx = reclassify(mode, X);
        if (!rx)
            freeLoop(X);
        else
            rebuildFrom(rx);
    } else {
        // The needle cut out at E may have taken X with it.
        rebuildFrom(r1);
    }
    FillPolygonNode* r2 = reclassify(mode, E2);
    if (!r2) {
        freeLoopNodes(E2);
        return nullptr;
    }
    if (r2 == E2) {
        r2 = reclassify(mode, X2);
        if (!r2) {
            freeLoopNodes(X2);
            return nullptr;
        }
    }
    return splitOffLoop(r2);
}

// The tie rule compares weights with an absolute tolerance, which on a small or
// thin piece also admits corners well short of the farthest one; such a corner
// is taken only when the diagonal to it stays inside the loop. In the plane the
// farthest corner always gives a clear diagonal; when rounding says otherwise
// the polygon cannot be split soundly and is given up.
FillPolygonNode* FillPolygon::diagonalEnd(StepMode mode, const Ear& ear, const EarScan& scan) {
    FillPolygonNode* X = scan.blocker;
    if (mode == StepMode::Cut || planar) {
        const Vector3D& n = mode == StepMode::Cut ? ear.triangle.normal : normal;
        if (X != scan.farthest && !diagonalIsClear(ear.E, X, n))
            X = scan.farthest;
        if (!diagonalIsClear(ear.E, X, n)) {
            finishWithFailure(nullptr);
            return nullptr;
        }
    }
    return X;
}

// Clips the ear (its triangle emitted), reclassifies its neighbours and
// finishes the polygon when three corners remain.
void FillPolygon::clipEar(const StepSink& sink, const Ear& ear) {
    FillPolygonNode* const E = ear.E;
    FillPolygonNode* const P = ear.P;
    FillPolygonNode* const Q = ear.Q;
    P->next = Q;
    Q->prev = P;
    E->next = E->prev = nullptr;
    emit(sink, E->vertex, Q->vertex, P->vertex);
    freeNode(E);
    FillPolygonNode* rp = reclassify(sink.mode, P);
    if (!rp) {
        freeLoop(P);
        return;
    }
    FillPolygonNode* start = rp;
    if (rp == P) {
        FillPolygonNode* rq = reclassify(sink.mode, Q);
        if (!rq) {
            freeLoop(Q);
            return;
        }
        // The cut step keeps P as the start when Q stays itself.
        if (sink.mode != StepMode::Cut || rq != Q)
            start = rq;
    }
    rebuildFrom(start);
    if (m_nodes.size() == 3)
        emitLastTriangle(sink);
}

// ---- Drivers ---------------------------------------------------------------------------

namespace {

// Steps a work list of polygons (take = which one is worked on) until it is empty.
// Every step clips a corner, splits a loop into two smaller ones or finishes one,
// so a correct run needs a few steps per corner; the cap turns a run that cycles
// into a failure.
template <bool lastFirst, typename Container, typename Step>
bool driveSteps(Container& work, std::size_t stepCap, Step step) {
    std::size_t corners = 0;
    for (const FillPolygon* p : work)
        corners += p->nodeCount();
    std::size_t budget = stepCap ? stepCap : 8 * corners + 64;
    bool ok = true;
    bool complete = true;
    while (!work.empty()) {
        if (budget-- == 0) {
            ok = false;
            break;
        }
        FillPolygon* p;
        if constexpr (lastFirst)
            p = work.back();
        else
            p = work.front();
        FillPolygon* split = step(p);
        const bool failed = p->failed() || (split && split->failed());
        complete = complete && !p->lostTriangle();
        if (p->nodeCount() == 0) {
            if constexpr (lastFirst)
                work.pop_back();
            else
                work.pop_front();
            delete p;
        }
        if (split)
            work.push_back(split);
        if (failed) {
            ok = false;
            break;
        }
    }
    for (FillPolygon* p : work)
        delete p;
    work.clear();
    return ok && complete;
}

} // namespace

bool FillPolygon::triangulateCutPieces(std::vector<FillPolygon*>& stack, const StlTriangle* source,
                                       std::size_t stepCap) {
    return driveSteps<true>(stack, stepCap, [source](FillPolygon* p) { return p->triangulateCut(source); });
}

bool FillPolygon::triangulateCaps(std::vector<FillPolygon*>& polygons, std::deque<StlTriangle*>& out,
                                  std::size_t stepCap) {
    return driveSteps<true>(polygons, stepCap, [&out](FillPolygon* p) { return p->triangulateCap(out); });
}

bool FillPolygon::triangulateHoles(std::deque<FillPolygon*>& polygons, std::deque<StlTriangle*>* out,
                                   std::size_t stepCap) {
    return driveSteps<false>(polygons, stepCap, [out](FillPolygon* p) { return p->triangulate(out); });
}

} // namespace topolib

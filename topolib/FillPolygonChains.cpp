// FillPolygon: inserting the chains of a drain-hole cut into a piece polygon,
// splitting it into two pieces.
#include "topolib/FillPolygon.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/StlObject.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

namespace topolib {

namespace {

const Vector3D& posOf(const FillPolygonNode* n) { return n->vertex->pos; }

// Where a chain end lies on the rim.
enum EndCode { kNotFound = 0, kAtStart = 1, kAtEnd = 2, kInside = 3 };

struct ChainEnd {
    StlVertex* vertex = nullptr;
    FillPolygonNode* node = nullptr; // the corner, or the start of the edge it lies in
    int code = kNotFound;
    bool attached = false;             // joined to the nearest rim node
    FillPolygonNode* first = nullptr;  // where its piece boundary leaves the rim
    FillPolygonNode* second = nullptr; // where the other piece continues along the rim
};

void link(FillPolygonNode* a, FillPolygonNode* b) {
    a->next = b;
    b->prev = a;
}

// Orientation of a closed chain c0 … (the repeat of c0 excluded) about n.
double loopOrientation(const std::deque<StlVertex*>& chain, std::size_t count, const Vector3D& n) {
    double o = 0.0;
    const Vector3D& c0 = chain[0]->pos;
    for (std::size_t i = 1; i + 1 < count; ++i)
        o += (chain[i]->pos - c0).cross(chain[i + 1]->pos - c0).dot(n);
    return o;
}

// A new loop of nodes for the given vertices in order; returns its first node.
FillPolygonNode* makeLoop(const std::vector<StlVertex*>& vertices) {
    FillPolygonNode* first = nullptr;
    FillPolygonNode* last = nullptr;
    for (StlVertex* v : vertices) {
        FillPolygonNode* n = FillPolygon::newNode(v);
        if (last)
            link(last, n);
        else
            first = n;
        last = n;
    }
    if (first)
        link(last, first);
    return first;
}

int smallestAxis(const Vector3D& v) {
    const double a[3] = {std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)};
    int k = 0;
    if (a[1] < a[k])
        k = 1;
    if (a[2] < a[k])
        k = 2;
    return k;
}

} // namespace

// ---- Open chains ---------------------------------------------------------------------

namespace {

bool atCorner(const ChainEnd& e) {
    return e.code == kAtStart || e.code == kAtEnd;
}

// Where `end` lies on the rim edge (a, a.next), if there: at a (its vertex, or
// within tolerance), at a.next, or inside the edge (node a).
void locateOnEdge(ChainEnd& end, FillPolygonNode* a) {
    if (end.vertex == a->vertex) {
        end.node = a;
        end.code = kAtStart;
        return;
    }
    if (end.vertex == a->next->vertex) {
        end.node = a->next;
        end.code = kAtEnd;
        return;
    }
    const double* pa = posOf(a).data();
    const double* pb = posOf(a->next).data();
    const double* p = end.vertex->pos.data();
    // A vertex marked as lying on this rim is held to the tight tolerance; a
    // free chain end may lie a little off the edge.
    const int where =
        end.vertex->mark() == 2 ? classifyPointOnSegment(pa, pb, p) : locatePointOnSegment(pa, pb, p);
    if (where == 1) {
        end.node = a;
        end.code = kAtStart;
    } else if (where == 2) {
        end.node = a->next;
        end.code = kAtEnd;
    } else if (where == 3) {
        end.node = a;
        end.code = kInside;
    }
}

// Locates both ends on the rim edges, walked from the first listed node; each
// end takes the first edge it lies on.
void locateChainEnds(const std::deque<FillPolygonNode*>& nodes, ChainEnd& S, ChainEnd& T) {
    FillPolygonNode* a = nodes.front();
    for (std::size_t i = 0; i < nodes.size(); ++i, a = a->next) {
        for (ChainEnd* end : {&S, &T})
            if (end->code == kNotFound)
                locateOnEdge(*end, a);
    }
}

// Joins the ends that lie off the rim to the nearest rim node (never to the
// other end's) and opens the rim after that node: a new node on its vertex
// takes over its successor, and the end's piece boundaries run from there.
void attachLooseEnds(const FillPolygon& polygon, ChainEnd& S, ChainEnd& T) {
    const bool sFound = S.code != kNotFound;
    const bool tFound = T.code != kNotFound;
    if (!sFound) {
        S.node = polygon.nearestNode(S.vertex->pos.data());
        if (tFound && S.node == T.node)
            S.node = S.node->prev;
        S.attached = true;
    }
    if (!tFound) {
        T.node = polygon.nearestNode(T.vertex->pos.data());
        if (sFound && T.node == S.node)
            T.node = T.node->prev;
        else if (!sFound && T.node == S.node)
            T.node = T.node->next;
        T.attached = true;
    }
    for (ChainEnd* end : {&S, &T}) {
        if (!end->attached)
            continue;
        FillPolygonNode* open = FillPolygon::newNode(end->node->vertex, FillPolygonNode::kChainEnd);
        link(open, end->node->next);
        end->node->next = nullptr;
        end->first = end->node;
        end->second = open;
    }
}

// Two nodes for an end inside the edge start-end: the first follows the edge's
// start (and ends there), the second leads on to the edge's end.
void splitEdgeAt(ChainEnd& e, FillPolygonNode* start, FillPolygonNode* end) {
    e.first = FillPolygon::newNode(e.vertex, FillPolygonNode::kChainEnd);
    e.second = FillPolygon::newNode(e.vertex, FillPolygonNode::kChainEnd);
    link(start, e.first);
    e.first->next = nullptr;
    link(e.second, end);
}

// Ends on different rim nodes: an end at a corner opens the loop after that
// corner, an end inside an edge splits the edge. Ends found on the rim leave
// the chain.
void openRimAtEnds(ChainEnd& S, ChainEnd& T, std::deque<StlVertex*>& chain) {
    auto openAt = [](ChainEnd& e) {
        if (atCorner(e)) {
            e.first = e.node;
            e.second = FillPolygon::newNode(e.vertex);
            link(e.second, e.node->next);
            e.node->next = nullptr;
        } else {
            splitEdgeAt(e, e.node, e.node->next);
        }
    };
    if (!S.attached) {
        openAt(S);
        chain.pop_front();
    }
    if (!T.attached) {
        openAt(T);
        chain.pop_back();
    }
}

// One end (`inEdge`) inside the edge from corner N, the other (`atN`) at N:
// N is `atN`'s first node, and its second node leads into `inEdge`'s first.
void openEdgeAndCorner(ChainEnd& inEdge, ChainEnd& atN, FillPolygonNode* N) {
    splitEdgeAt(inEdge, N, N->next);
    atN.first = N;
    atN.second = FillPolygon::newNode(atN.vertex, FillPolygonNode::kChainEnd);
    link(atN.second, inEdge.first);
    N->next = nullptr;
}

// Both ends inside the edge from N: two nodes each, in their order along it.
void openEdgeTwice(ChainEnd& S, ChainEnd& T, FillPolygonNode* N, bool sNearer) {
    FillPolygonNode* edgeEnd = N->next;
    ChainEnd& nearer = sNearer ? S : T;
    ChainEnd& farther = sNearer ? T : S;
    nearer.first = FillPolygon::newNode(nearer.vertex, FillPolygonNode::kChainEnd);
    nearer.second = FillPolygon::newNode(nearer.vertex, FillPolygonNode::kChainEnd);
    farther.first = FillPolygon::newNode(farther.vertex, FillPolygonNode::kChainEnd);
    farther.second = FillPolygon::newNode(farther.vertex, FillPolygonNode::kChainEnd);
    link(N, nearer.first);
    nearer.first->next = nullptr;
    link(nearer.second, farther.first);
    farther.first->next = nullptr;
    link(farther.second, edgeEnd);
}

// What opening the rim at one node for both ends came to.
enum class SharedNode {
    Opened,       // both ends have their nodes; the split goes on
    BothAtCorner, // nothing to split (the chain lost its ends)
    AlongEdge,    // a two-vertex chain lying in the edge: its points became corners
};

// Both ends on one corner or inside one edge (from node N = S.node).
SharedNode openRimAtSharedNode(ChainEnd& S, ChainEnd& T, std::deque<StlVertex*>& chain) {
    FillPolygonNode* N = S.node;
    if (atCorner(S) && atCorner(T)) {
        chain.pop_front();
        chain.pop_back();
        return SharedNode::BothAtCorner;
    }
    if (!atCorner(S) && atCorner(T)) {
        openEdgeAndCorner(S, T, N);
    } else if (atCorner(S) && !atCorner(T)) {
        openEdgeAndCorner(T, S, N);
    } else {
        const double ds = (S.vertex->pos - posOf(N)).lengthSquared();
        const double dt = (T.vertex->pos - posOf(N)).lengthSquared();
        if (chain.size() == 2 && dt > ds) {
            FillPolygonNode* edgeEnd = N->next;
            FillPolygonNode* s = FillPolygon::newNode(S.vertex, FillPolygonNode::kChainEnd);
            FillPolygonNode* t = FillPolygon::newNode(T.vertex, FillPolygonNode::kChainEnd);
            link(N, s);
            link(s, t);
            link(t, edgeEnd);
            chain.clear();
            return SharedNode::AlongEdge;
        }
        openEdgeTwice(S, T, N, ds < dt);
    }
    chain.pop_front();
    if (!chain.empty())
        chain.pop_back();
    return SharedNode::Opened;
}

// Nodes for the vertices [begin, end) linked in order after `last`; returns the
// last of them (`last` itself for none).
template <typename It> FillPolygonNode* linkNodesAfter(FillPolygonNode* last, It begin, It end) {
    for (It it = begin; it != end; ++it) {
        FillPolygonNode* n = FillPolygon::newNode(*it);
        link(last, n);
        last = n;
    }
    return last;
}

} // namespace

// Locate both ends, open the rim at them, then run the chain's inner vertices
// across: forwards in this polygon's piece, backwards in the new one.
FillPolygon* FillPolygon::splitByChain(std::deque<StlVertex*>& chain) {
    if (chain.size() < 2 || m_nodes.size() < 2)
        return nullptr;
    ChainEnd S, T;
    S.vertex = chain.front();
    T.vertex = chain.back();
    locateChainEnds(m_nodes, S, T);
    attachLooseEnds(*this, S, T);
    if (S.node != T.node) {
        openRimAtEnds(S, T, chain);
    } else {
        switch (openRimAtSharedNode(S, T, chain)) {
        case SharedNode::Opened:
            break;
        case SharedNode::BothAtCorner:
            // Vertices between two ends at one corner would be a cut that is lost.
            if (!chain.empty())
                m_failed = true;
            return nullptr;
        case SharedNode::AlongEdge:
            rebuildFrom(S.node);
            return nullptr;
        }
    }
    // Every way of opening the rim gives each end both of its nodes.
    assert(S.first && S.second && T.first && T.second);

    link(linkNodesAfter(S.first, chain.begin(), chain.end()), T.second);
    link(linkNodesAfter(T.first, chain.rbegin(), chain.rend()), S.second);

    // This polygon keeps S's side, the new one gets T's.
    auto* piece = new FillPolygon(owner);
    piece->normal = normal;
    rebuildFrom(S.first);
    piece->rebuildFrom(T.first);
    return piece;
}

// ---- Closed chains -------------------------------------------------------------------

FillPolygon* FillPolygon::insertChain(std::deque<StlVertex*>& chain) {
    if (chain.empty())
        return nullptr;
    if (chain.front()->mark() == 0)
        return insertInteriorLoop(chain);
    return insertBoundaryLoop(chain);
}

FillPolygon* FillPolygon::insertBoundaryLoop(std::deque<StlVertex*>& chain) {
    const std::size_t k = chain.size() - 1; // chain[k] repeats chain[0]
    if (chain.size() < 4 || chain.back() != chain.front() || m_nodes.empty()) {
        // Not a closed loop of three or more vertices: nothing with an inside.
        m_failed = m_failed || chain.size() >= 4;
        return nullptr;
    }
    const double o = loopOrientation(chain, k, normal);
    FillPolygonNode* N = nullptr;
    FillPolygonNode* x = m_nodes.front();
    for (std::size_t i = 0; i < m_nodes.size(); ++i, x = x->next) {
        if (x->vertex == chain[0]) {
            N = x;
            break;
        }
    }
    if (!N)
        return insertInteriorLoop(chain);

    // The rim makes a detour around the loop against the normal's sense; the
    // loop's inside runs with it.
    FillPolygonNode* oldNext = N->next;
    FillPolygonNode* last = N;
    std::vector<StlVertex*> inside;
    inside.reserve(k);
    if (o >= 0.0) {
        for (std::size_t i = k; i-- > 0;) {
            FillPolygonNode* n = newNode(chain[i]);
            link(last, n);
            last = n;
        }
        for (std::size_t i = 0; i < k; ++i)
            inside.push_back(chain[i]);
    } else {
        for (std::size_t i = 1; i <= k; ++i) {
            FillPolygonNode* n = newNode(chain[i]);
            link(last, n);
            last = n;
        }
        for (std::size_t i = k; i >= 1; --i)
            inside.push_back(chain[i]);
    }
    link(last, oldNext);

    auto* piece = new FillPolygon(owner);
    piece->normal = normal;
    rebuildFrom(N);
    piece->rebuildFrom(makeLoop(inside));
    return piece;
}

FillPolygon* FillPolygon::insertInteriorLoop(std::deque<StlVertex*>& chain) {
    if (chain.size() > 1 && chain.back() == chain.front())
        chain.pop_back();
    if (chain.size() < 3 || m_nodes.size() < 3) {
        m_failed = true;
        return nullptr;
    }
    const double o = loopOrientation(chain, chain.size(), normal);
    std::vector<StlVertex*> inside(chain.begin(), chain.end());
    if (o < 0.0)
        std::reverse(inside.begin(), inside.end());
    auto* hole = new FillPolygon(owner);
    hole->normal = normal;
    hole->rebuildFrom(makeLoop(inside));
    if (hole->nodeCount() < 3) {
        delete hole;
        m_failed = true;
        return nullptr;
    }

    // 2. The hole corner M: farthest along the axis in which the normal is
    // smallest, ties broken along the middle axis.
    const int ext = smallestAxis(normal);
    const int dom = dominantAxis(normal) != ext ? dominantAxis(normal) : (ext + 1) % 3;
    const int mid = 3 - ext - dom;
    FillPolygonNode* M = hole->m_nodes.front();
    for (FillPolygonNode* h : hole->m_nodes) {
        if (h == M)
            continue;
        const double d = posOf(h)[ext] - posOf(M)[ext];
        if (d > 1e-6 || (std::fabs(d) <= 1e-6 && posOf(h)[mid] > posOf(M)[mid]))
            M = h;
    }

    // 3. The bridge end B: the nearest admissible rim node.
    const Vector3D& m = posOf(M);
    Vector3D toNext = posOf(M->next) - m;
    Vector3D toPrev = posOf(M->prev) - m;
    toNext.unitize();
    toPrev.unitize();
    FillPolygonNode* B = nullptr;
    double bestDistance = 0.0;
    for (FillPolygonNode* X : m_nodes) {
        const Vector3D& xp = posOf(X);
        if (!(xp[ext] > m[ext] - 1e-6))
            continue;
        if (X->mark && *X->mark != 0)
            continue;
        if ((xp - posOf(X->prev)).cross(m - xp).dot(normal) <= 1e-6)
            continue;
        Vector3D dir = xp - m;
        dir.unitize();
        if (std::fabs(dir.dot(toNext) - 1.0) < 1e-6 || std::fabs(dir.dot(toPrev) - 1.0) < 1e-6)
            continue;
        const double d = (xp - m).lengthSquared();
        if (!B || d < bestDistance) {
            B = X;
            bestDistance = d;
        }
    }
    if (!B) {
        delete hole;
        m_failed = true;
        return nullptr;
    }

    // 4. A rim edge crossing the bridge moves its end to the crossing nearest M.
    const int plane = dominantAxis(normal);
    FillPolygonNode* crossedEdge = nullptr;
    Vector3D crossing;
    double crossingDistance = 0.0;
    for (FillPolygonNode* Y = B->next; Y != B; Y = Y->next) {
        FillPolygonNode* Yn = Y->next;
        if (Y->vertex == B->vertex || Yn->vertex == B->vertex)
            continue;
        Vector3D s;
        if (!segmentsCrossInPlane(m.data(), posOf(B).data(), posOf(Y).data(), posOf(Yn).data(), plane, s.data()))
            continue;
        if ((m - s).cross(posOf(Yn) - posOf(Y)).dot(normal) >= -1e-6)
            continue;
        const double d = (s - m).lengthSquared();
        if (!crossedEdge || d < crossingDistance) {
            crossedEdge = Y;
            crossing = s;
            crossingDistance = d;
        }
    }
    if (crossedEdge) {
        if (!owner) {
            delete hole;
            m_failed = true;
            return nullptr;
        }
        FillPolygonNode* c = newNode(owner->findOrAddVertex(crossing.data()));
        FillPolygonNode* after = crossedEdge->next;
        link(crossedEdge, c);
        link(c, after);
        B = c;
    }

    // 5. Count the bridge at both of its ends.
    for (FillPolygonNode* end : {M, B}) {
        if (!end->mark)
            end->mark = std::make_shared<unsigned int>(0u);
        ++*end->mark;
    }

    // 6. Out along the bridge, around the hole against the normal's sense, back.
    FillPolygonNode* oldNext = B->next;
    FillPolygonNode* last = B;
    FillPolygonNode* h = M;
    do {
        FillPolygonNode* copy = newNode(h->vertex);
        if (h == M)
            copy->mark = M->mark;
        link(last, copy);
        last = copy;
        h = h->prev;
    } while (h != M);
    FillPolygonNode* closing = newNode(M->vertex);
    link(last, closing);
    FillPolygonNode* back = newNode(B->vertex);
    back->mark = B->mark;
    link(closing, back);
    link(back, oldNext);

    rebuildFrom(B);
    return hole;
}

} // namespace topolib

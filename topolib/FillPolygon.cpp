// FillPolygon: building, plane fit, corner classification, list rebuilding and
// the queries of the cut-chain insertion.
#include "topolib/FillPolygon.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cassert>
#include <cmath>
#include <vector>

namespace topolib {

namespace {

// Corners whose incoming and outgoing directions are this close to parallel count
// as straight (or as a needle) in vertex-normal mode.
constexpr double kStraightCos = 0.999999;

const Vector3D& posOf(const FillPolygonNode* n) { return n->vertex->pos; }

Vector3D vertexNormal(const StlVertex* v) {
    Vector3D n;
    v->computeNormal(n.data());
    return n;
}

// Removes the component along n of an edge direction that leaves n's plane.
void projectOnNormalPlane(Vector3D& d, const Vector3D& n) {
    if (std::fabs(d.dot(n)) >= 1e-6)
        projectVectorOnPlane(d.data(), n.data());
}

// Step 1 of classifying a corner: when the loop turns back at `node` (its
// neighbours carry one vertex), cuts the needle out and returns the corner that
// survives in its place; null when the loop is one fold from end to end. Returns
// node itself when there is no needle.
FillPolygonNode* collapseNeedle(FillPolygonNode* node) {
    if (node->next->vertex != node->prev->vertex)
        return node;
    FillPolygonNode* a = node->next->next;
    FillPolygonNode* b = node->prev->prev;
    // Every outward step passes two nodes; a loop cannot have more steps than nodes,
    // and the cap keeps a corrupt loop from running forever.
    for (std::size_t guard = 0; a->vertex == b->vertex; ++guard) {
        if (a == b || a->prev == b || guard > (1u << 24))
            return nullptr;
        a = a->next;
        b = b->prev;
    }
    if (a == b || a->prev == b)
        return nullptr;
    FillPolygonNode* keep = b->next;
    for (FillPolygonNode* x = keep->next; x != a;) {
        FillPolygonNode* following = x->next;
        FillPolygon::freeNode(x);
        x = following;
    }
    keep->next = a;
    a->prev = keep;
    return keep;
}

} // namespace

// ---- Nodes and lifetime ---------------------------------------------------------

FillPolygonNode* FillPolygon::newNode(StlVertex* v, uint32_t kind) {
    auto* n = new FillPolygonNode();
    n->vertex = v;
    n->kind = kind;
    return n;
}

void FillPolygon::freeNode(FillPolygonNode* node) { delete node; }

FillPolygon::FillPolygon(StlObject* owner) : owner(owner) {}

FillPolygon::~FillPolygon() { clearNodes(); }

void FillPolygon::clearNodes() {
    for (FillPolygonNode* n : m_nodes)
        freeNode(n);
    m_nodes.clear();
}

void FillPolygon::freeLoop(FillPolygonNode* start) {
    if (start) {
        for (FillPolygonNode* x = start->next; x && x != start;) {
            FillPolygonNode* following = x->next;
            freeNode(x);
            x = following;
        }
        freeNode(start);
    }
    m_nodes.clear();
}

void FillPolygon::finishWithFailure(FillPolygonNode* loopNode) {
    if (loopNode)
        freeLoop(loopNode);
    else
        clearNodes();
    m_failed = true;
}

void FillPolygon::rebuildFrom(FillPolygonNode* start) {
    m_nodes.clear();
    if (!start)
        return;
    m_nodes.push_back(start);
    FillPolygonNode* last = start;
    for (FillPolygonNode* x = start->next;;) {
        if (!x) {
            last->next = start;
            start->prev = last;
            break;
        }
        if (x == start)
            break;
        FillPolygonNode* following = x->next;
        if (x->vertex == last->vertex) {
            last->next = following;
            if (following)
                following->prev = last;
            freeNode(x);
        } else {
            x->prev = last;
            last->next = x;
            m_nodes.push_back(x);
            last = x;
        }
        x = following;
    }
    start->prev = last;
    if (m_nodes.size() > 1 && m_nodes.back()->vertex == start->vertex) {
        if (m_nodes.size() >= 4) {
            FillPolygonNode* dup = m_nodes.back();
            m_nodes.pop_back();
            dup->prev->next = start;
            start->prev = dup->prev;
            freeNode(dup);
        } else {
            // A loop of fewer than three corners that ends where it starts has no
            // area; its nodes are released with it.
            clearNodes();
        }
    }
}

// ---- Building and plane fit -------------------------------------------------------

void FillPolygon::buildFromVertices(const std::deque<StlVertex*>& loop) {
    const std::size_t k = loop.size();
    if (k < 3)
        return;
    FillPolygonNode* previous = nullptr;
    for (StlVertex* v : loop) {
        FillPolygonNode* n = newNode(v);
        if (previous) {
            previous->next = n;
            n->prev = previous;
        }
        m_nodes.push_back(n);
        previous = n;
    }
    previous->next = m_nodes.front();
    m_nodes.front()->prev = previous;

    // Vertex normals; a vertex without triangles keeps the one before it.
    std::vector<Vector3D> normals(k);
    Vector3D carried;
    for (std::size_t i = 0; i < k; ++i) {
        if (loop[i]->hasTriangleList())
            carried = vertexNormal(loop[i]);
        normals[i] = carried;
    }
    // out[i]: unit outgoing direction of corner i; corner 0's is not projected.
    std::vector<Vector3D> out(k);
    for (std::size_t i = 0; i < k; ++i) {
        Vector3D d = loop[(i + 1) % k]->pos - loop[i]->pos;
        if (i != 0)
            projectOnNormalPlane(d, normals[i]);
        d.normalize();
        out[i] = d;
    }
    auto setCorner = [&](std::size_t i, const Vector3D& eIn, const Vector3D& eOut) {
        FillPolygonNode* n = m_nodes[i];
        n->cosAngle = -eIn.dot(eOut);
        n->notEar = eIn.cross(eOut).dot(normals[i]) < 1e-6 ? 1 : 0;
    };
    for (std::size_t i = 1; i < k; ++i)
        setCorner(i, out[i - 1], out[i]);
    setCorner(0, out[k - 1], out[0]);
}

void FillPolygon::fitPlane() {
    if (m_nodes.size() < 3)
        return;
    double s = 1.0;
    if (owner) {
        const double diagonal = owner->diagonal();
        // A mesh whose box was never measured has no diagonal; unscaled
        // tolerances are better than an infinite scale.
        if (diagonal > 0.0 && std::isfinite(diagonal))
            s = 1000.0 / diagonal;
    }
    const FillPolygonNode* p0 = m_nodes.front();
    const FillPolygonNode* p1 = p0->next;
    const FillPolygonNode* p2 = p1->next;
    const Vector3D& o = posOf(p0);
    Vector3D sum = o + posOf(p1) + posOf(p2);
    Vector3D total = ((posOf(p1) - o) * s).cross((posOf(p2) - o) * s);
    Vector3D reference = total;
    double referenceLength = reference.normalize() / s;
    planar = 1;
    const FillPolygonNode* before = p2;
    for (const FillPolygonNode* pi = p2->next; pi != p0; before = pi, pi = pi->next) {
        sum += posOf(pi);
        Vector3D c = ((posOf(before) - o) * s).cross((posOf(pi) - o) * s);
        total += c;
        if (c.lengthSquared() < 1e-15)
            continue;
        const double L = c.normalize();
        if (L > 1e-6) {
            if (referenceLength < 1e-6) {
                reference = c;
                referenceLength = L;
            }
            if (std::fabs(c.dot(reference)) < 0.99999)
                planar = 0;
        }
    }
    centroid = sum / static_cast<double>(m_nodes.size());
    total.normalize();
    normal = total;
}

// ---- Classification ------------------------------------------------------------------

FillPolygonNode* FillPolygonNode::classify() {
    FillPolygonNode* node = collapseNeedle(this);
    if (!node)
        return nullptr;
    const Vector3D N = vertexNormal(node->vertex);
    Vector3D eIn = posOf(node) - posOf(node->prev);
    Vector3D eOut = posOf(node->next) - posOf(node);
    projectOnNormalPlane(eIn, N);
    projectOnNormalPlane(eOut, N);
    eIn.normalize();
    eOut.normalize();
    node->cosAngle = -eIn.dot(eOut);
    if (eIn.cross(eOut).dot(N) < 0.0)
        node->notEar = 1;
    else
        node->notEar = std::fabs(node->cosAngle) > kStraightCos ? 1 : 0;
    return node;
}

FillPolygonNode* FillPolygonNode::classifyInPlane(const double n[3]) {
    FillPolygonNode* node = collapseNeedle(this);
    if (!node)
        return nullptr;
    Vector3D eIn = posOf(node) - posOf(node->prev);
    Vector3D eOut = posOf(node->next) - posOf(node);
    eIn.normalize();
    eOut.normalize();
    node->cosAngle = -eIn.dot(eOut);
    node->notEar = eIn.cross(eOut).dot(Vector3D(n)) < 0.0 ? 1 : 0;
    return node;
}

namespace {

template <typename Classify>
int classifyAll(FillPolygon& polygon, std::deque<FillPolygonNode*>& nodes, Classify classify) {
    if (nodes.size() < 3)
        return 0;
    int count = 0;
    for (std::size_t i = 0; i < nodes.size();) {
        FillPolygonNode* listed = nodes[i];
        FillPolygonNode* done = classify(listed);
        if (!done) {
            // The whole loop is a fold: nothing to cover.
            polygon.clearNodes();
            return 0;
        }
        if (done != listed) {
            // A needle was cut out; the list holds freed nodes now.
            polygon.rebuildFrom(done);
            if (nodes.size() < 3)
                return 0;
            i = 0;
            count = 0;
            continue;
        }
        if (listed->notEar == 0)
            ++count;
        ++i;
    }
    return count;
}

} // namespace

int FillPolygon::classifyNodes() {
    if (planar)
        return classifyNodesInPlane(normal.data());
    return classifyAll(*this, m_nodes, [](FillPolygonNode* n) { return n->classify(); });
}

int FillPolygon::classifyNodesInPlane(const double n[3]) {
    return classifyAll(*this, m_nodes, [n](FillPolygonNode* x) { return x->classifyInPlane(n); });
}

void FillPolygon::averageNormal(double out[3]) const {
    Vector3D sum;
    bool first = true;
    if (!m_nodes.empty()) {
        const FillPolygonNode* start = m_nodes.front();
        const FillPolygonNode* x = start;
        do {
            Vector3D t = (posOf(x) - posOf(x->prev)).cross(posOf(x->next) - posOf(x));
            if (first)
                t.normalize();
            else
                t.unitize();
            first = false;
            sum += t;
            x = x->next;
        } while (x != start);
    }
    sum.normalize();
    out[0] = sum.x;
    out[1] = sum.y;
    out[2] = sum.z;
}

bool FillPolygon::chainTurnsLeft(const FillPolygonNode* a, const FillPolygonNode* b) const {
    const double triple = (posOf(a->next) - posOf(a)).cross(posOf(b->prev) - posOf(b)).dot(normal);
    if (a->next == b)
        return triple > 0.0;
    int count = triple > 0.0 ? 1 : -1;
    std::size_t guard = m_nodes.size() + 1;
    for (const FillPolygonNode* x = a->next; x != b && guard > 0; x = x->next, --guard) {
        Vector3D turn = (posOf(x->next) - posOf(x)).cross(posOf(x->prev) - posOf(x));
        const double t = turn.unitize().dot(normal);
        if (t > 0.0)
            ++count;
        else if (t < 0.0)
            --count;
    }
    return count >= 1;
}

// ---- Queries ---------------------------------------------------------------------------

bool FillPolygon::containsPoint(const double p[3]) const {
    if (m_nodes.empty())
        return false;
    // In the plane that drops the normal's largest component (the lower axis on
    // ties). A point within 1e-6 of the loop counts as inside; otherwise the
    // crossings of a ray along +u are counted, each edge taken half-open in w so
    // that a crossing through a corner counts exactly once. (Tolerances relative
    // to an edge's length would leave a band next to a corner where the crossing
    // is skipped on one edge and not caught on the next, and a point well inside
    // the piece would test outside.)
    const Vector3D& n = normal;
    int m = 0;
    if (std::fabs(n.y) > std::fabs(n.x))
        m = 1;
    if (std::fabs(n.z) > std::fabs(n[m]))
        m = 2;
    const int u = (m + 1) % 3;
    const int w = (m + 2) % 3;
    std::size_t count = m_nodes.size();
    // A list that ends on its first vertex counts that vertex once.
    if (count > 1 && m_nodes.back()->vertex == m_nodes.front()->vertex)
        --count;
    const double q[2] = {p[u], p[w]};
    bool inside = false;
    for (std::size_t i = 0; i < count; ++i) {
        const Vector3D& a3 = posOf(m_nodes[i == 0 ? count - 1 : i - 1]);
        const Vector3D& b3 = posOf(m_nodes[i]);
        const double a[2] = {a3[u], a3[w]};
        const double b[2] = {b3[u], b3[w]};
        if (pointSegmentDistSq2D(q, a, b) <= 1e-12)
            return true;
        if ((a[1] > q[1]) != (b[1] > q[1])) {
            const double x = a[0] + (q[1] - a[1]) * (b[0] - a[0]) / (b[1] - a[1]);
            if (x > q[0])
                inside = !inside;
        }
    }
    return inside;
}

void FillPolygon::markVertices(unsigned bits) const {
    for (const FillPolygonNode* n : m_nodes)
        n->vertex->setMark(bits & StlVertex::kMarkMask);
}

FillPolygonNode* FillPolygon::nearestNode(const double p[3]) const {
    if (m_nodes.empty())
        return nullptr;
    FillPolygonNode* best = nullptr;
    double bestDistance = 0.0;
    FillPolygonNode* a = m_nodes.front();
    for (std::size_t i = 0; i < m_nodes.size(); ++i, a = a->next) {
        const double d = pointSegmentDistSq(p, posOf(a).data(), posOf(a->next).data());
        if (!best || d < bestDistance) {
            best = a;
            bestDistance = d;
        }
    }
    const Vector3D q(p);
    const double toStart = (posOf(best) - q).lengthSquared();
    const double toEnd = (posOf(best->next) - q).lengthSquared();
    return toStart < toEnd ? best : best->next;
}

} // namespace topolib

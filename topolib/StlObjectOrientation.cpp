// Turning inside-out shells outward: a closed shell whose triangles enclose a
// negative volume is wound against the convention (counter-clockwise seen from
// outside) that normals, supports and hollowing rely on.
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace topolib {

namespace {

template <typename F>
void forEachShellTriangle(const StlShell& shell, F&& f) {
    for (StlTriangle* t : shell.primaryTriangles)
        f(t);
    for (StlTriangle* t : shell.reversedTriangles)
        f(t);
}

// Measures one shell: whether its live triangles form a closed, consistently
// wound surface (every edge run as often forward as backward), its signed
// volume, area and box. The box is taken here, not from the shell: a mesh copy
// or a stored mesh leaves the shells' boxes empty. `balance` is indexed by
// edge index, zero on entry and on return.
struct ShellMeasure {
    bool closed = false;
    double volume = 0.0;
    double area = 0.0;
    Vector3D lo{1e300, 1e300, 1e300};
    Vector3D hi{-1e300, -1e300, -1e300};
};

ShellMeasure measureShell(const StlShell& shell, std::vector<int32_t>& balance) {
    ShellMeasure m;
    std::vector<uint32_t> touched;
    bool complete = true;
    bool anyLive = false;
    Vector3D reference;
    forEachShellTriangle(shell, [&](StlTriangle* t) {
        if (t->isDeleted())
            return;
        if (t->hasCutContext())
            complete = false;
        const Vector3D& p0 = t->vertices[0]->pos;
        if (!anyLive) {
            reference = p0;
            anyLive = true;
        }
        for (const StlVertex* v : t->vertices)
            StlShell::widenBox(m.lo, m.hi, v->pos);
        const Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
        m.volume += (p0 - reference).dot(n);
        m.area += std::sqrt(n.dot(n));
        for (int k = 0; k < 3; ++k) {
            const StlEdge* e = t->edges[k];
            if (e == nullptr || e->index >= balance.size() || e->vertexCount() < 2) {
                complete = false;
                continue;
            }
            int32_t& b = balance[e->index];
            if (b == 0)
                touched.push_back(e->index);
            b += t->vertices[k] == e->vertex(0) ? 1 : -1;
        }
    });
    bool balanced = true;
    for (uint32_t i : touched) {
        if (balance[i] != 0)
            balanced = false;
        balance[i] = 0;
    }
    m.closed = complete && anyLive && balanced;
    m.volume /= 6.0;
    m.area /= 2.0;
    return m;
}

// Reverses every triangle of the shell and the ends of the edges that lie
// only on this shell's triangles. `seen` is indexed by edge index, all false
// on entry and on return.
void reverseShell(StlShell& shell, std::vector<bool>& seen) {
    forEachShellTriangle(shell, [](StlTriangle* t) {
        std::swap(t->vertices[1], t->vertices[2]);
        std::swap(t->edges[0], t->edges[2]);
        t->computeNormal();
    });
    std::vector<StlEdge*> edges;
    forEachShellTriangle(shell, [&](StlTriangle* t) {
        for (StlEdge* e : t->edges) {
            if (e == nullptr || e->index >= seen.size() || seen[e->index])
                continue;
            seen[e->index] = true;
            edges.push_back(e);
            bool own = true;
            for (const StlTriangle* u : *e)
                if (u->shell != &shell)
                    own = false;
            if (own && e->vertexCount() >= 2)
                e->swapEnds();
        }
    });
    for (StlEdge* e : edges)
        seen[e->index] = false;
    shell.slabIndex.reset();
    shell.changed = 1;
}

// Whether p lies inside the closed surface of `shell`: the parity of the
// crossings of a ray in a direction no model edge is likely to run along.
bool insideShell(const StlShell& shell, const Vector3D& p) {
    static const Vector3D d = [] {
        Vector3D v(0.3141592653, 0.1732050807, 0.9337);
        v.normalizeAnyLength();
        return v;
    }();
    int crossings = 0;
    forEachShellTriangle(shell, [&](const StlTriangle* t) {
        if (t->isDeleted())
            return;
        // Moeller-Trumbore: the ray p + s d, s > 0, meets the triangle.
        const Vector3D& a = t->vertices[0]->pos;
        const Vector3D e1 = t->vertices[1]->pos - a;
        const Vector3D e2 = t->vertices[2]->pos - a;
        const Vector3D q = d.cross(e2);
        const double det = e1.dot(q);
        if (std::fabs(det) < 1e-300)
            return;
        const Vector3D w = p - a;
        const double u = w.dot(q) / det;
        if (u < 0.0 || u > 1.0)
            return;
        const Vector3D r = w.cross(e1);
        const double v = d.dot(r) / det;
        if (v < 0.0 || u + v > 1.0)
            return;
        if (e2.dot(r) / det > 0.0)
            ++crossings;
    });
    return (crossings & 1) != 0;
}

// Whether `inner` (box innerBox) lies within the closed surface of `outer`
// (box outerBox): its box inside outer's and a handful of its vertices,
// spread over its triangles, inside. Two shells that merely overlap (a part
// pushed into another) fail this.
bool nestedIn(const StlShell& inner, const ShellMeasure& innerBox, const StlShell& outer,
              const ShellMeasure& outerBox) {
    for (int k = 0; k < 3; ++k)
        if (innerBox.lo[k] < outerBox.lo[k] || innerBox.hi[k] > outerBox.hi[k])
            return false;
    std::vector<const StlTriangle*> live;
    forEachShellTriangle(inner, [&](const StlTriangle* t) {
        if (!t->isDeleted())
            live.push_back(t);
    });
    if (live.empty())
        return false;
    constexpr std::size_t kSamples = 8;
    const std::size_t stride = std::max<std::size_t>(1, live.size() / kSamples);
    for (std::size_t i = 0; i < live.size(); i += stride)
        if (!insideShell(outer, live[i]->vertices[0]->pos))
            return false;
    return true;
}

} // namespace

int StlObject::orientClosedShellsOutward() {
    // The closed shells with their volumes.
    struct Closed {
        StlShell* shell;
        ShellMeasure measure;
        double size;
        int container = -1; // the smallest closed shell this one lies in
        bool turn = false;
    };
    std::vector<int32_t> balance(m_records.edges.size(), 0);
    std::vector<Closed> closed;
    for (StlShell* shell : m_records.shells) {
        const ShellMeasure m = measureShell(*shell, balance);
        if (!m.closed)
            continue;
        const Vector3D extent = m.hi - m.lo;
        const double size = std::sqrt(extent.dot(extent));
        // A flat, two-sided shell encloses nothing: its volume is rounding noise
        // and says nothing about the winding.
        if (!(std::fabs(m.volume) > 1e-9 * m.area * size))
            continue;
        closed.push_back({shell, m, size});
    }
    for (std::size_t i = 0; i < closed.size(); ++i) {
        for (std::size_t j = 0; j < closed.size(); ++j) {
            if (i == j || closed[j].size <= closed[i].size)
                continue;
            const int c = closed[i].container;
            if (c >= 0 && closed[c].size <= closed[j].size)
                continue;
            if (nestedIn(*closed[i].shell, closed[i].measure, *closed[j].shell, closed[j].measure))
                closed[i].container = static_cast<int>(j);
        }
    }
    // A shell on its own must enclose a positive volume. A shell inside another
    // is a cavity (negative, as hollowing leaves it) or a part within a cavity,
    // and is only turned together with its container: when the container was
    // inside out, so is whatever lies in it with the sign opposite to the
    // container's (what a correct cavity or part has after an outward one).
    // Containers are larger, so settling shells from the largest down sees
    // every container settled first.
    std::vector<std::size_t> order(closed.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return closed[a].size > closed[b].size; });
    for (std::size_t i : order) {
        Closed& c = closed[i];
        if (c.container < 0)
            c.turn = c.measure.volume < 0.0;
        else
            c.turn = closed[c.container].turn &&
                     (c.measure.volume < 0.0) != (closed[c.container].measure.volume < 0.0);
    }
    std::vector<bool> seen(m_records.edges.size(), false);
    int turned = 0;
    for (const Closed& c : closed) {
        if (!c.turn)
            continue;
        reverseShell(*c.shell, seen);
        ++turned;
    }
    if (turned > 0) {
        computeAreaAndVolume();
        setModified();
        invalidateZSlabIndex();
    }
    return turned;
}

} // namespace topolib

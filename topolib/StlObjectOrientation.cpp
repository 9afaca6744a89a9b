// Turning inside-out shells outward: a closed shell whose triangles enclose a
// negative volume is wound against the convention (counter-clockwise seen from
// outside) that normals, supports and hollowing rely on.
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

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
// wound surface (every edge run as often forward as backward), and its signed
// volume and area. `balance` is indexed by edge index, zero on entry and on return.
struct ShellMeasure {
    bool closed = false;
    double volume = 0.0;
    double area = 0.0;
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

} // namespace

int StlObject::orientClosedShellsOutward() {
    std::vector<int32_t> balance(m_edges.size(), 0);
    std::vector<bool> seen(m_edges.size(), false);
    int turned = 0;
    for (StlShell* shell : m_shells) {
        const ShellMeasure m = measureShell(*shell, balance);
        if (!m.closed)
            continue;
        // A flat, two-sided shell encloses nothing: its volume is rounding noise
        // and says nothing about the winding.
        const Vector3D extent = shell->boxMax - shell->boxMin;
        const double size = std::sqrt(extent.dot(extent));
        if (!(m.volume < -1e-9 * m.area * size))
            continue;
        reverseShell(*shell, seen);
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

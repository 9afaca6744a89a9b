#include "src/Features/lcm/HollowShells.h"

#include "src/Features/lcm/ZMapStock.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>

namespace lcm {

namespace {

template <typename F> void forLiveTriangles(const topolib::StlShell& shell, F&& f) {
    for (const auto* list : {&shell.primaryTriangles, &shell.reversedTriangles})
        for (const topolib::StlTriangle* t : *list)
            if (!t->isDeleted())
                f(t);
}

struct ShellMeasure {
    double volume = 0.0;
    double area = 0.0;
    topolib::Vector3D lo{HUGE_VAL, HUGE_VAL, HUGE_VAL};
    topolib::Vector3D hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    topolib::Vector3D probe; // centroid of the shell's largest triangle
    bool live = false;
    bool evenlyWound = true; // no live triangle in the reversed class
};

ShellMeasure measure(const topolib::StlShell& shell) {
    ShellMeasure m;
    double largest = -1.0;
    topolib::Vector3D reference;
    for (const topolib::StlTriangle* t : shell.reversedTriangles)
        m.evenlyWound = m.evenlyWound && t->isDeleted();
    forLiveTriangles(shell, [&](const topolib::StlTriangle* t) {
        const topolib::Vector3D& p0 = t->vertices[0]->pos;
        const topolib::Vector3D& p1 = t->vertices[1]->pos;
        const topolib::Vector3D& p2 = t->vertices[2]->pos;
        if (!m.live)
            reference = p0;
        m.live = true;
        const topolib::Vector3D n = (p1 - p0).cross(p2 - p0);
        const double twiceArea = std::sqrt(n.dot(n));
        m.area += twiceArea / 2.0;
        m.volume += (p0 - reference).dot(n) / 6.0;
        for (const topolib::Vector3D* p : {&p0, &p1, &p2})
            for (std::size_t k = 0; k < 3; ++k) {
                m.lo[k] = std::min(m.lo[k], (*p)[k]);
                m.hi[k] = std::max(m.hi[k], (*p)[k]);
            }
        if (twiceArea > largest) {
            largest = twiceArea;
            m.probe = (p0 + p1 + p2) / 3.0;
        }
    });
    return m;
}

// Every side of the shell's live triangles is shared by exactly two live
// triangles, both of this shell.
bool isClosed(const topolib::StlShell& shell) {
    bool closed = true;
    forLiveTriangles(shell, [&](const topolib::StlTriangle* t) {
        for (int k = 0; k < 3 && closed; ++k) {
            const topolib::StlEdge* e = t->edges[k];
            if (e == nullptr) {
                closed = false;
                break;
            }
            int count = 0;
            for (const topolib::StlTriangle* u : *e)
                if (!u->isDeleted()) {
                    ++count;
                    closed = closed && u->shell == &shell;
                }
            closed = closed && count == 2;
        }
    });
    return closed;
}

// How often the upward line from p crosses the shell's live triangles (the
// rasterising's tie rule: a line through a shared side or corner crosses once).
std::size_t crossingsAbove(const topolib::StlShell& shell, const topolib::Vector3D& p) {
    std::size_t n = 0;
    forLiveTriangles(shell, [&](const topolib::StlTriangle* t) {
        double c[9];
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                c[3 * k + a] = t->vertices[k]->pos[static_cast<std::size_t>(a)];
        if (std::max({c[0], c[3], c[6]}) < p[0] || std::min({c[0], c[3], c[6]}) > p[0] ||
            std::max({c[1], c[4], c[7]}) < p[1] || std::min({c[1], c[4], c[7]}) > p[1] ||
            std::max({c[2], c[5], c[8]}) < p[2])
            return;
        double h = 0.0;
        if (axisLineCrossing(c, 2, p[0], p[1], &h) != 0 && h > p[2])
            ++n;
    });
    return n;
}

} // namespace

std::vector<ShellRole> hollowShellRoles(const topolib::StlObject& model) {
    const auto& shells = model.shells();
    std::vector<ShellRole> roles(shells.size(), ShellRole::Solid);
    std::vector<ShellMeasure> measures(shells.size());
    for (std::size_t s = 0; s < shells.size(); ++s) {
        if (shells[s]->spare != 0)
            roles[s] = ShellRole::Cavity;
        else if (model.isNegligibleShell(shells[s]))
            roles[s] = ShellRole::Ignored;
        if (roles[s] != ShellRole::Ignored)
            measures[s] = measure(*shells[s]);
    }
    for (std::size_t s = 0; s < shells.size(); ++s) {
        const ShellMeasure& m = measures[s];
        if (roles[s] != ShellRole::Solid || !m.live || !m.evenlyWound)
            continue;
        // A volume within rounding of zero (a flat, two-sided shell) says
        // nothing about the winding.
        const topolib::Vector3D extent = m.hi - m.lo;
        if (!(m.volume < -1e-9 * m.area * std::sqrt(extent.dot(extent))) || !isClosed(*shells[s]))
            continue;
        std::size_t surrounding = 0;
        for (std::size_t o = 0; o < shells.size(); ++o) {
            if (o == s || roles[o] == ShellRole::Ignored)
                continue;
            const ShellMeasure& om = measures[o];
            if (om.lo[0] > m.probe[0] || om.hi[0] < m.probe[0] || om.lo[1] > m.probe[1] ||
                om.hi[1] < m.probe[1] || om.hi[2] < m.probe[2])
                continue;
            surrounding += crossingsAbove(*shells[o], m.probe) % 2;
        }
        roles[s] = surrounding % 2 == 1 ? ShellRole::Cavity : ShellRole::InsideOut;
    }
    return roles;
}

StockSurface stockSurface(const topolib::StlObject& model, const std::vector<ShellRole>& roles) {
    StockSurface out;
    if (std::find(roles.begin(), roles.end(), ShellRole::Cavity) == roles.end()) {
        out.triangles = model.triangleCount();
        out.averageEdge = model.averageEdgeLength();
        return out;
    }
    // Every side of a closed surface is shared by two triangles: the mean side
    // of the triangles is the mean edge.
    double sides = 0.0;
    for (std::size_t s = 0; s < roles.size() && s < model.shells().size(); ++s) {
        if (roles[s] != ShellRole::Solid && roles[s] != ShellRole::InsideOut)
            continue;
        forLiveTriangles(*model.shells()[s], [&](const topolib::StlTriangle* t) {
            ++out.triangles;
            for (int k = 0; k < 3; ++k)
                sides += std::sqrt((t->vertices[(k + 1) % 3]->pos - t->vertices[k]->pos).lengthSquared());
        });
    }
    out.averageEdge = out.triangles ? sides / (3.0 * static_cast<double>(out.triangles)) : 0.0;
    return out;
}

} // namespace lcm

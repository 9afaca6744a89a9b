#include "src/Features/lcm/HollowShells.h"

#include "src/Features/lcm/ParallelFor.h"
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

constexpr std::size_t kChunk = 1u << 16; // items a worker takes at a time

// The live triangles of a shell in the order of its lists (primary, then
// reversed), by position.
class ShellTriangles {
public:
    explicit ShellTriangles(const topolib::StlShell& shell)
        : m_primary(shell.primaryTriangles), m_reversed(shell.reversedTriangles) {}
    std::size_t size() const { return m_primary.size() + m_reversed.size(); }
    template <typename F> void forRange(std::size_t b, std::size_t e, F&& f) const {
        const std::size_t p = m_primary.size();
        for (std::size_t i = b; i < std::min(e, p); ++i)
            if (!m_primary[i]->isDeleted())
                f(static_cast<const topolib::StlTriangle*>(m_primary[i]));
        for (std::size_t i = std::max(b, p); i < e; ++i)
            if (!m_reversed[i - p]->isDeleted())
                f(static_cast<const topolib::StlTriangle*>(m_reversed[i - p]));
    }

private:
    const topolib::StlShell::TriangleList& m_primary;
    const topolib::StlShell::TriangleList& m_reversed;
};

// One chunk's share of a shell's measure: the area and volume terms of its
// live triangles in order (added up in order by the caller), box and probe.
struct MeasurePart {
    std::vector<double> area;
    std::vector<double> volume;
    topolib::Vector3D lo, hi, probe;
    double largest = -1.0;
    bool live = false;
};

ShellMeasure measure(const topolib::StlShell& shell, unsigned threads) {
    ShellMeasure m;
    for (const topolib::StlTriangle* t : shell.reversedTriangles)
        m.evenlyWound = m.evenlyWound && t->isDeleted();
    const ShellTriangles list(shell);
    // The volume is taken against the first live corner.
    topolib::Vector3D reference;
    for (std::size_t i = 0; i < list.size() && !m.live; i += kChunk)
        list.forRange(i, std::min(list.size(), i + kChunk), [&](const topolib::StlTriangle* t) {
            if (!m.live)
                reference = t->vertices[0]->pos;
            m.live = true;
        });
    if (!m.live)
        return m;
    double largest = -1.0;
    forChunksInOrder<MeasurePart>(
        list.size(), kChunk, threads,
        [&](std::size_t b, std::size_t e, MeasurePart& part) {
            part.area.clear();
            part.volume.clear();
            part.lo = topolib::Vector3D(HUGE_VAL, HUGE_VAL, HUGE_VAL);
            part.hi = topolib::Vector3D(-HUGE_VAL, -HUGE_VAL, -HUGE_VAL);
            part.largest = -1.0;
            part.live = false;
            list.forRange(b, e, [&](const topolib::StlTriangle* t) {
                const topolib::Vector3D& p0 = t->vertices[0]->pos;
                const topolib::Vector3D& p1 = t->vertices[1]->pos;
                const topolib::Vector3D& p2 = t->vertices[2]->pos;
                part.live = true;
                const topolib::Vector3D n = (p1 - p0).cross(p2 - p0);
                const double twiceArea = std::sqrt(n.dot(n));
                part.area.push_back(twiceArea / 2.0);
                part.volume.push_back((p0 - reference).dot(n) / 6.0);
                for (const topolib::Vector3D* p : {&p0, &p1, &p2})
                    for (std::size_t k = 0; k < 3; ++k) {
                        part.lo[k] = std::min(part.lo[k], (*p)[k]);
                        part.hi[k] = std::max(part.hi[k], (*p)[k]);
                    }
                if (twiceArea > part.largest) {
                    part.largest = twiceArea;
                    part.probe = (p0 + p1 + p2) / 3.0;
                }
            });
        },
        [&](const MeasurePart& part) {
            for (double a : part.area)
                m.area += a;
            for (double v : part.volume)
                m.volume += v;
            // Ties keep the earlier chunk's value, as a single loop keeps the first.
            for (std::size_t k = 0; k < 3; ++k) {
                m.lo[k] = std::min(m.lo[k], part.lo[k]);
                m.hi[k] = std::max(m.hi[k], part.hi[k]);
            }
            if (part.largest > largest) {
                largest = part.largest;
                m.probe = part.probe;
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

std::vector<ShellMeasure> measureShells(const topolib::StlObject& model, unsigned threads) {
    std::vector<ShellMeasure> out;
    out.reserve(model.shells().size());
    for (const topolib::StlShell* shell : model.shells())
        out.push_back(measure(*shell, workerCount(threads)));
    return out;
}

std::vector<ShellRole> hollowShellRoles(const topolib::StlObject& model) {
    return hollowShellRoles(model, measureShells(model, 0));
}

std::vector<ShellRole> hollowShellRoles(const topolib::StlObject& model, const std::vector<ShellMeasure>& measures) {
    const auto& shells = model.shells();
    std::vector<ShellRole> roles(shells.size(), ShellRole::Solid);
    for (std::size_t s = 0; s < shells.size(); ++s) {
        if (shells[s]->spare != 0)
            roles[s] = ShellRole::Cavity;
        else if (model.isNegligibleShell(shells[s]))
            roles[s] = ShellRole::Ignored;
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

StockSurface stockSurface(const topolib::StlObject& model, const std::vector<ShellRole>& roles, unsigned threads) {
    StockSurface out;
    if (std::find(roles.begin(), roles.end(), ShellRole::Cavity) == roles.end()) {
        out.triangles = model.triangleCount();
        out.averageEdge = averageEdgeLengthOnThreads(model, threads);
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

namespace {

// Values of the items of one chunk, in order, for a sum the caller makes.
struct TermPart {
    std::vector<double> a;
    std::vector<double> b;
};

} // namespace

double averageEdgeLengthOnThreads(const topolib::StlObject& model, unsigned threads) {
    const auto& edges = model.edges();
    if (edges.size() < 2)
        return 0.0;
    double sum = 0.0;
    std::size_t live = 0;
    forChunksInOrder<TermPart>(
        edges.size(), kChunk, workerCount(threads),
        [&](std::size_t b, std::size_t e, TermPart& part) {
            part.a.clear();
            for (std::size_t i = b; i < e; ++i) {
                const topolib::StlEdge* edge = edges[i];
                if (edge->edgeClass == topolib::kEdgeDetached)
                    continue;
                part.a.push_back(std::sqrt((edge->vertex(1)->pos - edge->vertex(0)->pos).lengthSquared()));
            }
        },
        [&](const TermPart& part) {
            for (double v : part.a)
                sum += v;
            live += part.a.size();
        });
    return live ? sum / static_cast<double>(live) : 0.0;
}

void computeAreaAndVolumeOnThreads(topolib::StlObject& model, unsigned threads) {
    if (model.vertices().empty())
        return;
    const topolib::Vector3D reference = model.vertices().front()->pos;
    model.setVolumeReference(reference.data());
    const auto& triangles = model.triangles();
    double area = 0.0, volume = 0.0;
    forChunksInOrder<TermPart>(
        triangles.size(), kChunk, workerCount(threads),
        [&](std::size_t b, std::size_t e, TermPart& part) {
            part.a.clear();
            part.b.clear();
            for (std::size_t i = b; i < e; ++i) {
                const topolib::StlTriangle* t = triangles[i];
                if (t->isDeleted())
                    continue;
                double volumeTerm = 0.0;
                part.a.push_back(topolib::areaAndVolumeTerms(t, reference, &volumeTerm));
                part.b.push_back(volumeTerm);
            }
        },
        [&](const TermPart& part) {
            for (double v : part.a)
                area += v;
            for (double v : part.b)
                volume += v;
        });
    model.setArea(area / 2.0);
    model.setVolume(volume / 6.0);
}

} // namespace lcm

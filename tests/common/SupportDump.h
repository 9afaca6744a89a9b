#pragma once
// A full text dump of a support container: every region's shapes in order,
// each cone with its type, placement and mesh, each of its links with the
// other cone, and each bar with its mesh, deleted or not, then the raft. Two
// dumps are equal only when the supports are the same down to the last bit
// of every coordinate, so undo and redo can be checked for exactness.
// Header-only: the suites that use it link the support library themselves.

#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace supportdump {

inline void appendNumber(std::string& out, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.17g", v);
    out += buf;
}

inline void appendPoint(std::string& out, const topolib::Vector3D& p) {
    appendNumber(out, p.x);
    appendNumber(out, p.y);
    appendNumber(out, p.z);
}

inline void appendTriangles(std::string& out, const std::vector<topolib::StlTriangle*>& triangles) {
    out += " triangles " + std::to_string(triangles.size()) + ":";
    for (const topolib::StlTriangle* t : triangles)
        for (int k = 0; k < 3; ++k)
            appendPoint(out, t->vertices[k]->pos);
}

// One line per shape; empty for no container.
inline std::string dump(const std::shared_ptr<support::SupportGen>& gen) {
    std::string out;
    if (!gen)
        return out;
    std::map<const support::ConeShape*, std::string> names;
    for (std::size_t a = 0; a < gen->areaCount(); ++a) {
        const support::SupportAreaAbs* area = gen->areaAt(a);
        for (std::size_t s = 0; s < area->shapes.size(); ++s)
            if (const support::ConeShape* c = area->shapes[s]->asCone())
                names[c] = std::to_string(a) + "." + std::to_string(s);
    }
    auto nameOf = [&](const support::ConeShape* c) {
        return c && names.count(c) ? names[c] : std::string("-");
    };
    out += "type " + std::to_string(support::storedValue(gen->getSupportType())) + " base " +
           std::to_string(support::storedValue(gen->getBaseType())) + "\n";
    for (std::size_t a = 0; a < gen->areaCount(); ++a) {
        for (const support::AbtShape* shape : gen->areaAt(a)->shapes) {
            const support::ConeShape* c = shape->asCone();
            if (!c) {
                out += "shape of kind " + std::to_string(int(shape->kind())) + "\n";
                continue;
            }
            out += "cone " + nameOf(c) + " deleted " + std::to_string(c->deleted) + " type " +
                   std::to_string(c->ConeSupportType) + " base " + std::to_string(c->GenerateBase) + " at";
            appendPoint(out, c->ContactPoint);
            appendPoint(out, c->HeadEnd);
            appendPoint(out, c->TrunkFoot);
            appendPoint(out, c->FootPoint);
            appendTriangles(out, c->triangles);
            out += "\n";
            for (const support::AbtShape* l : c->links) {
                const auto* link = static_cast<const support::ColumnLink*>(l);
                out += "  link " + nameOf(link->first) + " - " + nameOf(link->second) + " deleted " +
                       std::to_string(link->deleted) + "\n";
                for (const support::AbtShape* b : link->bars) {
                    std::vector<topolib::StlTriangle*> triangles;
                    b->appendTriangles(triangles, true);
                    out += "    bar deleted " + std::to_string(b->deleted);
                    appendTriangles(out, triangles);
                    out += "\n";
                }
            }
        }
    }
    std::vector<topolib::StlTriangle*> all;
    gen->appendAllTriangles(all);
    out += "drawn";
    appendTriangles(out, all);
    out += "\n";
    return out;
}

// The first live bar that picking offers (null when there is none).
inline support::AbtShape* firstLiveBar(const std::shared_ptr<support::SupportGen>& gen) {
    support::ShapeDeque live;
    gen->collectLiveShapes(live);
    for (support::AbtShape* s : live)
        if (s->kind() == support::AbtShape::Kind::Bar)
            return s;
    return nullptr;
}

// The first line where two dumps differ, for a failure message ("" when equal).
inline std::string firstDifference(const std::string& a, const std::string& b) {
    std::istringstream sa(a), sb(b);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool ha = bool(std::getline(sa, la)), hb = bool(std::getline(sb, lb));
        if (!ha && !hb)
            return std::string();
        if (!ha || !hb || la != lb)
            return "line " + std::to_string(line) + ":\n  " + la.substr(0, 300) + "\n  " + lb.substr(0, 300);
    }
}

} // namespace supportdump

#include "support/SupportGen.h"

#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/ShapeMesh.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace support {

using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

SupportGen::SupportGen(topolib::StlObject* owner) : owner(owner) {}

SupportGen::SupportGen() : MaxAngle(40.0), minArea(8.0) {}

SupportGen::~SupportGen() {
    // Regions first: their cones unregister and delete their links. Retired shapes
    // no longer reference live ones.
    delete pendingPoint;
    pendingPoint = nullptr;
    // Links are shared by two cones and relink records hold links no cone
    // lists (and bars no link holds): free each once, after taking every one
    // out of every cone, before any cone goes.
    std::vector<AbtShape*> links;
    for (SupportAreaAbs* a : areas) {
        for (AbtShape* s : a->shapes) {
            if (ConeShape* c = s->asCone()) {
                links.insert(links.end(), c->links.begin(), c->links.end());
                c->links.clear();
            }
        }
    }
    auto release = [&](LinkEdit& edit) {
        const std::vector<ColumnLink*>& unlisted = edit.committed ? edit.removed : edit.made;
        links.insert(links.end(), unlisted.begin(), unlisted.end());
        for (auto& held : edit.otherBars)
            for (AbtShape* bar : held.second)
                delete bar;
    };
    for (auto& [key, edit] : m_linkEdits)
        release(edit);
    for (LinkEdit& edit : m_staleLinkEdits)
        release(edit);
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());
    for (AbtShape* l : links)
        delete l;
    for (SupportAreaAbs* a : areas)
        delete a;
    areas.clear();
    while (m_retiredFirst != nullptr) {
        AbtShape* next = m_retiredFirst->retiredNext;
        delete m_retiredFirst;
        m_retiredFirst = next;
    }
    m_retiredLast = nullptr;
    m_retiredCount = 0;
    m_retiredAreas.clear();
    clearBase();
}

PlacementParams SupportGen::placementParams() const {
    PlacementParams params;
    params.spacing = std::isfinite(Density) ? std::max(Density, 1.0) : 5.0;
    params.tipRadius = std::isfinite(tipRadius) ? std::fabs(tipRadius) : 0.5;
    params.removeInternal = RemoveInternal != 0;
    ConeSettings& cone = params.cone;
    cone.type = supportType;
    cone.circleBase = baseType == BaseType::Circle;
    cone.tipRadius = tipRadius;
    cone.trunkRadius = trunkRadius;
    cone.branchRadius = branchRadius;
    cone.headExtend = HeadExtend;
    cone.baseThickness = BaseThickness;
    cone.baseSize = baseSize;
    return params;
}

void SupportGen::setSupportType(SupportType type, bool regenerate) {
    supportType = type;
    if (regenerate) {
        changed = 1;
        rebuildShapeMeshes();
    }
}

void SupportGen::setBaseType(BaseType type, bool regenerate) {
    for (SupportAreaAbs* a : areas) {
        for (AbtShape* s : a->shapes)
            s->setCircleBase(type == BaseType::Circle);
    }
    baseType = type;
    if (regenerate) {
        changed = 1;
        rebuildShapeMeshes();
        buildBase();
    }
}

void SupportGen::addArea(SupportAreaAbs* area) {
    if (area == nullptr)
        return;
    area->owner = this;
    areas.push_back(area);
}

void SupportGen::rebuildShapeMeshes() {
    rebuildShapeMeshes(placementParams());
}

void SupportGen::rebuildShapeMeshes(const PlacementParams& params) {
    for (SupportAreaAbs* a : areas)
        a->buildShapeMeshes(params);
}

void SupportGen::rebuildShapeMeshesKeepingBars() {
    std::vector<std::pair<ColumnLink*, std::vector<AbtShape*>>> kept;
    std::unordered_set<const AbtShape*> seen;
    for (ConeShape* c : gatherCones())
        for (AbtShape* l : c->links) {
            if (!seen.insert(l).second)
                continue;
            auto* link = static_cast<ColumnLink*>(l);
            kept.emplace_back(link, std::move(link->bars));
            link->bars.clear();
        }
    rebuildShapeMeshes();
    for (auto& [link, bars] : kept) {
        link->destroyBars();
        link->bars = std::move(bars);
    }
}

void SupportGen::rebuildConeBars() {
    const PlacementParams params = placementParams();
    for (SupportAreaAbs* a : areas)
        a->rebuildConeBars(params);
}

ColumnLink* SupportGen::makeLink(ConeShape* first, ConeShape* second) {
    auto* link = new ColumnLink(first, second);
    link->serial = ++m_linkSerial;
    return link;
}

void SupportGen::clear() {
    // The only allocation, made first: the loop below cannot stop halfway with
    // a region both listed and retired.
    m_retiredAreas.reserve(m_retiredAreas.size() + areas.size());
    clearAddedPoint();
    for (SupportAreaAbs* a : areas)
        retireArea(a);
    areas.clear();
    m_grid.reset();
    clearBase();
    changed = 1;
}

void SupportGen::retireArea(SupportAreaAbs* area) {
    area->deleteShapes();
    m_retiredAreas.emplace_back(area);
}

void SupportGen::retire(AbtShape* shape) noexcept {
    if (shape == nullptr)
        return;
    switch (shape->kind()) {
    case AbtShape::Kind::Cone: {
        ++m_coneEpoch;
        auto* cone = static_cast<ConeShape*>(shape);
        cone->clearMesh();
        for (AbtShape* l : cone->links) {
            auto* link = static_cast<ColumnLink*>(l);
            if (ConeShape* other = link->other(cone); other != nullptr && other != cone)
                other->removeLink(link);
            retire(link);
        }
        cone->links.clear();
        break;
    }
    case AbtShape::Kind::Link:
        static_cast<ColumnLink*>(shape)->destroyBars();
        break;
    case AbtShape::Kind::Bar:
        static_cast<CylinderBar*>(shape)->freeMesh();
        break;
    }
    shape->retiredNext = nullptr;
    if (m_retiredLast != nullptr)
        m_retiredLast->retiredNext = shape;
    else
        m_retiredFirst = shape;
    m_retiredLast = shape;
    ++m_retiredCount;
}

std::vector<ConeShape*> SupportGen::gatherCones() const {
    std::vector<ConeShape*> cones;
    for (const SupportAreaAbs* a : areas) {
        for (AbtShape* s : a->shapes) {
            if (ConeShape* c = s->asCone())
                cones.push_back(c);
        }
    }
    return cones;
}

// ---- Output ----------------------------------------------------------------------

void SupportGen::appendAllTriangles(std::vector<StlTriangle*>& out) const {
    for (const SupportAreaAbs* a : areas) {
        for (const AbtShape* s : a->shapes)
            s->appendTriangles(out, false);
    }
    out.insert(out.end(), baseTriangles.begin(), baseTriangles.end());
}

std::size_t SupportGen::supportTriangleCount() const {
    std::vector<StlTriangle*> all;
    appendAllTriangles(all);
    return all.size();
}

void SupportGen::collectLiveShapes(ShapeDeque& out) const {
    for (const SupportAreaAbs* a : areas) {
        for (AbtShape* s : a->shapes)
            s->collectLive(out);
    }
}

void SupportGen::appendPendingTriangles(std::vector<StlTriangle*>& out) const {
    if (pendingPoint == nullptr)
        return;
    for (const AbtShape* s : pendingPoint->shapes)
        s->appendTriangles(out, false);
}

// ---- Raft ------------------------------------------------------------------------

void SupportGen::clearBase() {
    freeShapeMesh(baseVertices, baseTriangles);
}

void SupportGen::buildBase() {
    clearBase();
    if (baseType != BaseType::Raft)
        return;
    SupportAreaAbs::BasePoints points;
    for (const SupportAreaAbs* a : areas)
        a->collectBasePoints(points);
    if (points.empty())
        return;
    double xmin = points.front().first, xmax = xmin, ymin = points.front().second, ymax = ymin;
    for (const auto& p : points) {
        xmin = std::min(xmin, p.first);
        xmax = std::max(xmax, p.first);
        ymin = std::min(ymin, p.second);
        ymax = std::max(ymax, p.second);
    }
    const double trunk = std::isfinite(trunkRadius) && trunkRadius > 0.0 ? trunkRadius : 1.0;
    const double w = 1.5 * trunk;
    const double x0 = xmin - w, x1 = xmax + w, y0 = ymin - w, y1 = ymax + w;
    const double t = std::isfinite(BaseThickness) && BaseThickness > 0.0 ? BaseThickness : 1.0;
    // The corner cut stays below half the smaller side, so a raft under a single
    // cone keeps its cut corners apart and stays closed.
    const double c = std::min(2.5, 0.45 * std::min(x1 - x0, y1 - y0));
    const double xyz[24][3] = {
        {x0, y0, t},     {x0, y0, 2 * t},     {x0 + c, y0, 0},     {x0 + c, y0, t},
        {x1 - c, y0, 0}, {x1 - c, y0, t},     {x1, y0, t},         {x1, y0, 2 * t},
        {x1, y0 + c, 0}, {x1, y0 + c, t},     {x1, y1 - c, 0},     {x1, y1 - c, t},
        {x1, y1, t},     {x1, y1, 2 * t},     {x1 - c, y1, 0},     {x1 - c, y1, t},
        {x0 + c, y1, 0}, {x0 + c, y1, t},     {x0, y1, t},         {x0, y1, 2 * t},
        {x0, y1 - c, 0}, {x0, y1 - c, t},     {x0, y0 + c, 0},     {x0, y0 + c, t},
    };
    StlVertex* v[24];
    for (int i = 0; i < 24; ++i)
        v[i] = addShapeVertex(baseVertices, Vector3D(xyz[i]), m_shapeMemoryCheck);
    static const int kTriangles[][3] = {
        // bottom
        {0, 22, 2}, {2, 22, 20}, {2, 20, 16}, {20, 18, 16}, {2, 16, 4},
        {4, 16, 14}, {4, 14, 8}, {4, 8, 6}, {8, 14, 10}, {10, 14, 12},
        // top
        {1, 3, 23}, {3, 21, 23}, {3, 17, 21}, {21, 17, 19}, {3, 5, 17},
        {5, 15, 17}, {5, 7, 9}, {5, 9, 15}, {9, 11, 15}, {11, 13, 15},
    };
    for (const auto& tri : kTriangles)
        addShapeTriangle(baseTriangles, v[tri[0]], v[tri[1]], v[tri[2]], m_shapeMemoryCheck);
    for (int i = 0; i <= 20; i += 2) {
        addShapeTriangle(baseTriangles, v[i], v[i + 3], v[i + 1], m_shapeMemoryCheck);
        addShapeTriangle(baseTriangles, v[i], v[i + 2], v[i + 3], m_shapeMemoryCheck);
    }
    addShapeTriangle(baseTriangles, v[22], v[1], v[23], m_shapeMemoryCheck);
    addShapeTriangle(baseTriangles, v[22], v[0], v[1], m_shapeMemoryCheck);
}

// ---- User points -----------------------------------------------------------------

void SupportGen::clearAddedPoint() {
    delete pendingPoint;
    pendingPoint = nullptr;
}

void SupportGen::previewAddedPoint(StlTriangle* facet, const double point[3]) {
    if (facet == nullptr || !(facet->normal.z <= -0.25881904)) {
        clearAddedPoint();
        return;
    }
    if (pendingPoint == nullptr)
        pendingPoint = new AddedPointSupport(this);
    pendingPoint->setFacet(facet);
    pendingPoint->setPoint(point);
    // A preview never drops its cone: the user sees where it would stand.
    PlacementParams params = placementParams();
    params.removeInternal = false;
    pendingPoint->reset(params);
    pendingPoint->buildShapeMeshes(params);
}

SupportAreaAbs* SupportGen::linkCone() {
    if (pendingPoint == nullptr)
        return nullptr;
    ConeShape* cone = pendingPoint->shapes.empty() ? nullptr : pendingPoint->shapes.front()->asCone();
    if (cone == nullptr) {
        // Nothing to commit (a point at the platform gets no cone). The pending
        // region is dropped and no region is handed out: handing out the last
        // committed region would let its undo delete someone else's support.
        clearAddedPoint();
        buildBase();
        return nullptr;
    }
    if (!m_grid)
        buildGrid();
    const double foot[2] = {cone->FootPoint.x, cone->FootPoint.y};
    m_grid->insert(cone, foot);
    AddedPointSupport* area = pendingPoint;
    pendingPoint = nullptr;
    areas.push_back(area);
    // The cone's own mesh was built by the preview; its bars and those of
    // the cones whose links change come with the relink.
    relinkAfterEdit(area);
    changed = 1;
    buildBase();
    return area;
}

void SupportGen::relinkAfterEdit(const void* key) {
    LinkEdit edit;
    applyLinks(&edit, placementParams());
    if (!edit.after.empty()) {
        // A key may come again (a command made where an ended one was): the
        // record it named keeps what it owns until the container goes.
        if (auto it = m_linkEdits.find(key); it != m_linkEdits.end()) {
            m_staleLinkEdits.push_back(std::move(it->second));
            m_linkEdits.erase(it);
        }
        m_linkEdits.emplace(key, std::move(edit));
    }
    changed = 1;
}

void SupportGen::setLinkEditCommitted(const void* key, bool committed) {
    auto it = m_linkEdits.find(key);
    if (it == m_linkEdits.end())
        return;
    LinkEdit& edit = it->second;
    if (edit.committed == committed || edit.coneEpoch != m_coneEpoch)
        return;
    for (auto& [cone, links] : committed ? edit.after : edit.before)
        cone->links = links;
    for (auto& [link, bars] : edit.otherBars)
        std::swap(link->bars, bars);
    edit.committed = committed;
    changed = 1;
}

} // namespace support

#include "project/SupportBinding.h"

#include "fileIo/VGeoFileHandling.h"
#include "project/ProjectArchiveReader.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/ShapeMesh.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace project {

namespace {

// The written position of id in table; -1 when it was not written.
int mapped(const std::vector<int32_t>& table, uint32_t id) {
    return id < table.size() ? table[id] : -1;
}

std::vector<int> mappedList(const std::vector<int32_t>& table, const std::vector<uint32_t>& ids) {
    std::vector<int> out;
    out.reserve(ids.size());
    for (uint32_t id : ids) {
        const int k = mapped(table, id);
        if (k >= 0)
            out.push_back(k);
    }
    return out;
}

// Cones by the place they take among the cone elements of the entry.
using ConePlaces = std::unordered_map<const support::ConeShape*, int>;

void copyPoint(const topolib::Vector3D& v, double out[3]) {
    for (int k = 0; k < 3; ++k)
        out[k] = v[k];
}

ConePlacement placementOf(const support::ConeShape& c) {
    ConePlacement p;
    copyPoint(c.TipCentre, p.tipCentre);
    copyPoint(c.HeadEnd, p.headEnd);
    copyPoint(c.TrunkFoot, p.trunkFoot);
    copyPoint(c.FootTipCentre, p.footTipCentre);
    copyPoint(c.FootPoint, p.footPoint);
    copyPoint(c.FootNormal, p.footNormal);
    p.footZ = c.FootZ;
    return p;
}

// The cone's live links to cones the entry holds, in its order, with the
// bars of those it carries. The places of the bars the user deleted count
// through these bars in this order.
void storeLinks(const support::ConeShape& c, const ConePlaces& places, ConeRecord& r) {
    int place = 0;
    for (const support::AbtShape* l : c.links) {
        const auto* link = static_cast<const support::ColumnLink*>(l);
        const auto other = places.find(link->other(&c));
        if (link->isDeleted() || other == places.end() || other->first == &c)
            continue;
        LinkRecord stored;
        stored.cone = other->second;
        stored.carried = link->first == &c;
        if (stored.carried)
            for (const support::AbtShape* b : link->bars) {
                const auto* bar = static_cast<const support::CylinderBar*>(b);
                BarRecord br;
                copyPoint(bar->start, br.start);
                copyPoint(bar->end, br.end);
                stored.bars.push_back(br);
                if (bar->isDeleted())
                    r.deletedBars.push_back(place);
                ++place;
            }
        r.links.push_back(std::move(stored));
    }
}

ConeRecord coneRecord(const support::ConeShape& c, const ConePlaces& places) {
    ConeRecord r;
    r.place = places.at(&c);
    r.coneId = static_cast<int>(c.ConeID);
    r.supportType = c.ConeSupportType != 0 ? 1 : 0;
    r.generateBase = c.GenerateBase != 0;
    r.contactRadius = c.ContactRadius;
    r.beamRadius = c.BeamRadius;
    r.bottomRadius = c.BottomRadius;
    r.baseThickness = c.BaseThickness;
    r.baseSize = c.BaseSize;
    r.headExtend = c.HeadExtend;
    copyPoint(c.ContactPoint, r.contactPoint);
    copyPoint(c.ContactNormal, r.contactNormal);
    r.placement = placementOf(c);
    storeLinks(c, places, r);
    return r;
}

// Live cones of the region: every shape of an overhang region or curve, the
// first shape of a point region.
std::vector<const support::ConeShape*> liveCones(const support::SupportAreaAbs& area) {
    const bool single = area.kind == support::kLowestPointSupport || area.kind == support::kAddedPointSupport;
    std::vector<const support::ConeShape*> out;
    for (size_t i = 0; i < area.shapes.size() && !(single && i > 0); ++i) {
        const support::ConeShape* cone = area.shapes[i] ? area.shapes[i]->asCone() : nullptr;
        if (cone && !cone->isDeleted())
            out.push_back(cone);
    }
    return out;
}

support::ConeShape* makeCone(const ConeRecord& r, support::SupportAreaAbs* area) {
    auto* c = new support::ConeShape();
    c->area = area;
    c->ConeID = static_cast<uint32_t>(r.coneId);
    c->ConeSupportType = r.supportType != 0 ? 1 : 0;
    c->setCircleBase(r.generateBase);
    c->ContactRadius = r.contactRadius;
    c->HeadRadius = c->CrossRadius = 0.8 * r.contactRadius;
    c->BeamRadius = r.beamRadius;
    c->BottomRadius = r.bottomRadius;
    c->NeckRadius = 0.8 * r.bottomRadius;
    c->BaseThickness = r.baseThickness;
    c->BaseSize = r.baseSize;
    c->HeadExtend = r.headExtend;
    c->setContactPoint(r.contactPoint);
    c->ContactNormal = topolib::Vector3D(r.contactNormal);
    if (const std::optional<ConePlacement>& p = r.placement) {
        c->TipCentre = topolib::Vector3D(p->tipCentre);
        c->HeadEnd = topolib::Vector3D(p->headEnd);
        c->TrunkFoot = topolib::Vector3D(p->trunkFoot);
        c->FootTipCentre = topolib::Vector3D(p->footTipCentre);
        c->FootPoint = topolib::Vector3D(p->footPoint);
        c->FootNormal = topolib::Vector3D(p->footNormal);
        c->FootZ = p->footZ;
        c->markPlaced();
    }
    return c;
}

// The bars a cone carries in an entry of an earlier version: those of its
// live links that it builds (it is the link's first cone), in link order,
// each link's bars in order.
template <typename Visit> void forEachCarriedBar(const support::ConeShape& c, Visit visit) {
    int place = 0;
    for (const support::AbtShape* l : c.links) {
        const auto* link = static_cast<const support::ColumnLink*>(l);
        if (link->isDeleted() || link->first != &c)
            continue;
        for (support::AbtShape* bar : link->bars)
            visit(place++, bar);
    }
}

using ReadCones = std::vector<std::pair<support::ConeShape*, const ConeRecord*>>;

// The places of a cone's deleted bars (ascending), asked in ascending order.
class DeletedBars {
public:
    explicit DeletedBars(const std::vector<int>& places) : m_places(&places) {}
    bool has(int place) {
        while (m_next < m_places->size() && (*m_places)[m_next] < place)
            ++m_next;
        return m_next < m_places->size() && (*m_places)[m_next] == place;
    }

private:
    const std::vector<int>* m_places;
    size_t m_next = 0;
};

// An entry of an earlier version: the cones are linked and braced again, and
// the bars the user deleted are found by their places among those made.
void linkAgain(support::SupportGen& gen, const ReadCones& cones) {
    gen.linkNeighbourCones();
    gen.rebuildConeBars();
    // A place beyond the cone's bars names nothing and is passed over.
    for (const auto& [cone, record] : cones)
        if (!record->deletedBars.empty())
            forEachCarriedBar(*cone, [deleted = DeletedBars(record->deletedBars)](
                                         int place, support::AbtShape* bar) mutable {
                if (deleted.has(place))
                    bar->setDeleted(true, nullptr);
            });
}

// The links and bars as stored. A pair is linked when each of its cones lists
// the other; the cone that says it carries the link carries it, and its bars
// are those it stored.
void linkAsStored(support::SupportGen& gen, const ReadCones& cones) {
    std::unordered_map<int, std::pair<support::ConeShape*, const ConeRecord*>> byPlace;
    for (const auto& entry : cones)
        byPlace.emplace(entry.second->place, entry);
    auto lists = [](const ConeRecord& r, int place) {
        return std::any_of(r.links.begin(), r.links.end(),
                           [place](const LinkRecord& l) { return l.cone == place; });
    };
    std::map<std::pair<int, int>, support::ColumnLink*> made;
    for (const auto& [cone, record] : cones) {
        // Room first: a link made is listed by its cone at once.
        cone->links.reserve(record->links.size());
        int barPlace = 0;
        DeletedBars deleted(record->deletedBars);
        for (const LinkRecord& l : record->links) {
            const auto other = byPlace.find(l.cone);
            if (other == byPlace.end() || other->second.first == cone ||
                !lists(*other->second.second, record->place))
                continue;
            support::ConeShape* partner = other->second.first;
            const auto key = std::minmax(record->place, l.cone);
            support::ColumnLink*& link = made[key];
            if (link == nullptr)
                link = l.carried ? gen.makeLink(cone, partner) : gen.makeLink(partner, cone);
            else if (std::find(cone->links.begin(), cone->links.end(), link) != cone->links.end())
                continue;
            cone->addLink(link);
            if (!l.carried || link->first != cone)
                continue;
            for (const BarRecord& b : l.bars) {
                auto* bar = new support::CylinderBar(cone->BeamRadius, topolib::Vector3D(b.start),
                                                     topolib::Vector3D(b.end));
                link->bars.push_back(bar);
                bar->buildPrism(gen.shapeMemoryCheck());
                if (deleted.has(barPlace++))
                    bar->setDeleted(true, nullptr);
            }
        }
    }
}

} // namespace

SupportRecord supportRecordFrom(const support::SupportGen& gen, const fileIo::VGeoNumbering& numbering) {
    SupportRecord s;
    s.baseType = support::storedValue(gen.baseType);
    s.removeInternal = gen.RemoveInternal != 0;
    s.maxAngle = gen.MaxAngle;
    s.density = gen.Density;
    s.settings.supportType = support::storedValue(gen.supportType);
    s.settings.tipRadius = gen.tipRadius;
    s.settings.trunkRadius = gen.trunkRadius;
    s.settings.branchRadius = gen.branchRadius;
    s.settings.headExtend = gen.HeadExtend;
    s.settings.baseThickness = gen.BaseThickness;
    s.settings.baseSize = gen.baseSize;
    // The cones written, by area, and the place each takes in the entry.
    std::vector<std::vector<const support::ConeShape*>> written;
    ConePlaces places;
    for (const support::SupportAreaAbs* area : gen.areas) {
        if (!area)
            continue;
        AreaRecord r;
        r.type = static_cast<int>(area->kind);
        r.areaId = static_cast<int>(area->AreaID);
        bool stored = true;
        switch (area->kind) {
        case support::kAreaSupport: {
            const auto& a = static_cast<const support::AreaSupport&>(*area);
            r.density = a.Density;
            r.triangleIds = mappedList(numbering.triangles, a.triangleIds());
            r.edgeIds = mappedList(numbering.edges, a.boundaryEdgeIds());
            stored = !r.triangleIds.empty();
            break;
        }
        case support::kLowestPointSupport: {
            const auto& a = static_cast<const support::LowestPointSupport&>(*area);
            r.vertexId = a.vertex ? a.vertex->index : -1;
            stored = r.vertexId >= 0;
            break;
        }
        case support::kLowestCurveSupport: {
            const auto& a = static_cast<const support::LowestCurveSupport&>(*area);
            r.density = a.Density;
            for (uint32_t id : a.vertexIds())
                r.vertexIds.push_back(static_cast<int>(id));
            stored = !r.vertexIds.empty();
            break;
        }
        case support::kAddedPointSupport: {
            const auto& a = static_cast<const support::AddedPointSupport&>(*area);
            r.triangleId = a.facet && a.facet->id >= 0 ? mapped(numbering.triangles, uint32_t(a.facet->id)) : -1;
            for (int k = 0; k < 3; ++k)
                r.seedPoint[k] = a.point[k];
            stored = r.triangleId >= 0;
            break;
        }
        default:
            stored = false;
        }
        if (!stored)
            continue;
        written.push_back(liveCones(*area));
        for (const support::ConeShape* c : written.back())
            places.emplace(c, static_cast<int>(places.size()));
        s.areas.push_back(std::move(r));
    }
    for (size_t k = 0; k < s.areas.size(); ++k)
        for (const support::ConeShape* c : written[k])
            s.areas[k].cones.push_back(coneRecord(*c, places));
    return s;
}

void fillSupportGen(support::SupportGen& gen, topolib::StlObject& mesh, const SupportRecord& record) {
    // The reader asked the memory check for kConeMeshBytes a cone; bars and
    // anything beyond are asked for as they are made.
    const support::ShapeMemoryCheck check(gen, static_cast<std::size_t>(coneCount(record) * kConeMeshBytes));
    // The reader keeps BaseType within the known numbers; a record made
    // otherwise with an unknown one leaves the container's type.
    if (const std::optional<support::BaseType> base = support::baseTypeFromStored(record.baseType))
        gen.setBaseType(*base, false);
    gen.setRemoveInternal(record.removeInternal);
    gen.setMaxAngle(record.maxAngle);
    gen.setDensity(record.density);
    const SupportSettings& set = record.settings;
    if (set.supportType)
        gen.supportType = support::supportTypeFromFlag(*set.supportType);
    const std::pair<const std::optional<double>*, double*> numbers[] = {
        {&set.tipRadius, &gen.tipRadius},         {&set.trunkRadius, &gen.trunkRadius},
        {&set.branchRadius, &gen.branchRadius},   {&set.headExtend, &gen.HeadExtend},
        {&set.baseThickness, &gen.BaseThickness}, {&set.baseSize, &gen.baseSize},
    };
    for (const auto& [value, field] : numbers)
        if (*value)
            *field = **value;
    const auto& triangles = mesh.triangles();
    const auto& vertices = mesh.vertices();
    auto triangleAt = [&](int id) -> topolib::StlTriangle* {
        topolib::StlTriangle* t = id >= 0 && size_t(id) < triangles.size() ? triangles[size_t(id)] : nullptr;
        return t && t->id == id ? t : mesh.findTriangleById(id);
    };
    auto vertexAt = [&](int id) { return id >= 0 && size_t(id) < vertices.size() ? vertices[size_t(id)] : nullptr; };

    // The groups of the facets are those of the regions read, and no others.
    mesh.resetTriangleGroups();
    std::vector<std::unique_ptr<support::SupportAreaAbs>> read;
    read.reserve(record.areas.size());
    ReadCones cones;
    bool allPlaced = true;
    for (const AreaRecord& r : record.areas) {
        support::SupportAreaAbs* area = nullptr;
        switch (r.type) {
        case kAreaOverhang: {
            auto* a = new support::AreaSupport(&gen);
            a->Density = r.density;
            std::vector<topolib::StlTriangle*> list;
            list.reserve(r.triangleIds.size());
            for (int id : r.triangleIds)
                list.push_back(triangleAt(id));
            a->assignTriangles(std::move(list));
            std::deque<topolib::StlEdge*> edges;
            mesh.collectEdgesByIndex(r.edgeIds.data(), static_cast<int>(r.edgeIds.size()), edges);
            a->setBoundary(edges);
            area = a;
            break;
        }
        case kAreaLowestPoint: {
            auto* a = new support::LowestPointSupport(&gen);
            a->setVertex(vertexAt(r.vertexId));
            area = a;
            break;
        }
        case kAreaLowestCurve: {
            auto* a = new support::LowestCurveSupport(&gen);
            a->Density = r.density;
            std::vector<topolib::StlVertex*> chain;
            for (int id : r.vertexIds)
                chain.push_back(vertexAt(id));
            a->setVertices(chain);
            area = a;
            break;
        }
        default: {
            auto* a = new support::AddedPointSupport(&gen);
            a->setFacet(triangleAt(r.triangleId));
            a->setPoint(r.seedPoint);
            area = a;
            break;
        }
        }
        std::unique_ptr<support::SupportAreaAbs> owned(area);
        // After the triangles: an overhang region writes its number into them.
        area->setAreaId(static_cast<uint32_t>(r.areaId));
        for (const ConeRecord& c : r.cones) {
            area->shapes.push_back(makeCone(c, area));
            cones.emplace_back(area->shapes.back()->asCone(), &c);
            allPlaced = allPlaced && c.placement.has_value();
        }
        read.push_back(std::move(owned));
    }
    // Every region holds its facets before any cone is placed, as in the
    // generation: a cone's foot looks past the facets of its own region.
    // Cones that come with their placement keep it; the meshes are built
    // before any link is made, so no bar is made here.
    for (auto& area : read)
        gen.addArea(area.release());
    gen.rebuildShapeMeshes();
    gen.buildGrid();
    gen.insertConesIntoGrid();
    // An entry whose every cone is stored placed comes back as it was; any
    // other has its cones linked and braced as its own version did.
    if (allPlaced)
        linkAsStored(gen, cones);
    else
        linkAgain(gen, cones);
    // The raft is derived from the cones' feet like the bars.
    if (gen.baseType == support::BaseType::Raft)
        gen.buildBase();
    gen.markChanged();
}

} // namespace project

#include "project/SupportBinding.h"

#include "fileIo/VGeoFileHandling.h"
#include "project/ProjectArchiveReader.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportArea.h"
#include "support/ShapeMesh.h"
#include "support/SupportGen.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <deque>
#include <memory>
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

// The bars a cone carries: those of its live links that it builds (it is the
// link's first cone), in link order, each link's bars in order. Bracing does
// not depend on the order the cones were made in, so a reopened container
// gives each bar the same place.
template <typename Visit>
void forEachCarriedBar(const support::ConeShape& c, Visit visit) {
    int place = 0;
    for (const support::AbtShape* l : c.links) {
        const auto* link = static_cast<const support::ColumnLink*>(l);
        if (link->isDeleted() || link->first != &c)
            continue;
        for (support::AbtShape* bar : link->bars)
            visit(place++, bar);
    }
}

ConeRecord coneRecord(const support::ConeShape& c) {
    ConeRecord r;
    r.coneId = static_cast<int>(c.ConeID);
    r.supportType = c.ConeSupportType != 0 ? 1 : 0;
    r.generateBase = c.GenerateBase != 0;
    r.contactRadius = c.ContactRadius;
    r.beamRadius = c.BeamRadius;
    r.bottomRadius = c.BottomRadius;
    r.baseThickness = c.BaseThickness;
    r.baseSize = c.BaseSize;
    r.headExtend = c.HeadExtend;
    for (int k = 0; k < 3; ++k) {
        r.contactPoint[k] = c.ContactPoint[k];
        r.contactNormal[k] = c.ContactNormal[k];
    }
    forEachCarriedBar(c, [&r](int place, const support::AbtShape* bar) {
        if (bar->isDeleted())
            r.deletedBars.push_back(place);
    });
    return r;
}

// Live cones of the region: every shape of an overhang region or curve, the
// first shape of a point region.
void collectCones(const support::SupportAreaAbs& area, AreaRecord& out) {
    const bool single = area.kind == support::kLowestPointSupport || area.kind == support::kAddedPointSupport;
    for (size_t i = 0; i < area.shapes.size() && !(single && i > 0); ++i) {
        const support::ConeShape* cone = area.shapes[i] ? area.shapes[i]->asCone() : nullptr;
        if (cone && !cone->isDeleted())
            out.cones.push_back(coneRecord(*cone));
    }
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
    return c;
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
    for (const support::SupportAreaAbs* area : gen.areas) {
        if (!area)
            continue;
        AreaRecord r;
        r.type = static_cast<int>(area->kind);
        r.areaId = static_cast<int>(area->AreaID);
        bool written = true;
        switch (area->kind) {
        case support::kAreaSupport: {
            const auto& a = static_cast<const support::AreaSupport&>(*area);
            r.density = a.Density;
            r.triangleIds = mappedList(numbering.triangles, a.triangleIds());
            r.edgeIds = mappedList(numbering.edges, a.boundaryEdgeIds());
            written = !r.triangleIds.empty();
            break;
        }
        case support::kLowestPointSupport: {
            const auto& a = static_cast<const support::LowestPointSupport&>(*area);
            r.vertexId = a.vertex ? a.vertex->index : -1;
            written = r.vertexId >= 0;
            break;
        }
        case support::kLowestCurveSupport: {
            const auto& a = static_cast<const support::LowestCurveSupport&>(*area);
            r.density = a.Density;
            for (uint32_t id : a.vertexIds())
                r.vertexIds.push_back(static_cast<int>(id));
            written = !r.vertexIds.empty();
            break;
        }
        case support::kAddedPointSupport: {
            const auto& a = static_cast<const support::AddedPointSupport&>(*area);
            r.triangleId = a.facet && a.facet->id >= 0 ? mapped(numbering.triangles, uint32_t(a.facet->id)) : -1;
            for (int k = 0; k < 3; ++k)
                r.seedPoint[k] = a.point[k];
            written = r.triangleId >= 0;
            break;
        }
        default:
            written = false;
        }
        if (!written)
            continue;
        collectCones(*area, r);
        s.areas.push_back(std::move(r));
    }
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
    // Cones with bars the user deleted, marked once the bars are made.
    std::vector<std::pair<support::ConeShape*, const std::vector<int>*>> withDeletedBars;
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
            if (!c.deletedBars.empty())
                withDeletedBars.emplace_back(area->shapes.back()->asCone(), &c.deletedBars);
        }
        read.push_back(std::move(owned));
    }
    // Every region holds its facets before any cone is placed, as in the
    // generation: a cone's foot looks past the facets of its own region.
    for (auto& area : read)
        gen.addArea(area.release());
    gen.rebuildShapeMeshes();
    gen.buildGrid();
    gen.insertConesIntoGrid();
    gen.linkNeighbourCones();
    gen.rebuildConeBars();
    // A place beyond the cone's bars names nothing and is passed over.
    for (const auto& [cone, places] : withDeletedBars)
        forEachCarriedBar(*cone, [places = places](int place, support::AbtShape* bar) {
            if (std::find(places->begin(), places->end(), place) != places->end())
                bar->setDeleted(true, nullptr);
        });
    // The raft is derived from the cones' feet like the bars.
    if (gen.baseType == support::BaseType::Raft)
        gen.buildBase();
    gen.markChanged();
}

} // namespace project

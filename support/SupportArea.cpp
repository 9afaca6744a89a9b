#include "support/SupportArea.h"

#include "support/ConeShape.h"
#include "support/ScopeGuard.h"
#include "support/SupportGen.h"
#include "topolib/MeshOctree.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace support {

using topolib::StlEdge;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

void widenBox(Vector3D& lo, Vector3D& hi, const Vector3D& p) {
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], p[k]);
        hi[k] = std::max(hi[k], p[k]);
    }
}

} // namespace

Vector3D vertexNormal(const StlVertex* v) {
    Vector3D n;
    if (v != nullptr && v->hasTriangleList())
        v->computeNormal(n.data());
    return n;
}

// ---- AreaOutline -----------------------------------------------------------------

double AreaOutline::length() const {
    double sum = 0.0;
    for (const StlEdge* e : edges)
        sum += std::sqrt((e->vertex(1)->pos - e->vertex(0)->pos).lengthSquared());
    return sum;
}

std::vector<uint32_t> AreaOutline::edgeIds() const {
    std::vector<uint32_t> ids;
    ids.reserve(edges.size());
    for (const StlEdge* e : edges)
        ids.push_back(e->index);
    return ids;
}

// ---- SupportAreaAbs ------------------------------------------------------------

SupportAreaAbs::~SupportAreaAbs() {
    for (AbtShape* s : shapes)
        delete s;
}

void SupportAreaAbs::reset(const PlacementParams&) {}
void SupportAreaAbs::placeContacts(const PlacementParams&) {}
bool SupportAreaAbs::isNegligible(const double*, const double*) { return true; }

StlObject* SupportAreaAbs::mesh() const { return owner != nullptr ? owner->owner : nullptr; }

ConeShape* SupportAreaAbs::addCone(const double point[3], const double normal[3],
                                   const ConeSettings& settings, bool removeInternal) {
    // Owned here until listed: a failed allocation on the way frees it.
    auto owned = std::make_unique<ConeShape>(this, point, normal);
    ConeShape* cone = owned.get();
    cone->ConeSupportType = storedValue(settings.type);
    cone->ContactRadius = settings.tipRadius;
    cone->HeadRadius = 0.8 * settings.tipRadius;
    cone->CrossRadius = 0.8 * settings.tipRadius;
    cone->setCircleBase(settings.circleBase);
    cone->BottomRadius = settings.trunkRadius;
    cone->NeckRadius = 0.8 * settings.trunkRadius;
    cone->BeamRadius = settings.branchRadius;
    cone->HeadExtend = settings.headExtend;
    cone->BaseThickness = settings.baseThickness;
    cone->BaseSize = settings.baseSize;
    cone->place();
    shapes.push_back(cone);
    owned.release();
    if (removeInternal)
        cone->dropIfEndsOnModel();
    return cone;
}

double SupportAreaAbs::modelHeightBelow(const double p[3], const double* z, double offset, double normalOut[3]) const {
    const StlObject* m = mesh();
    if (m == nullptr || m->octree() == nullptr)
        return -1.0;
    double best = -1.0;
    double normal[3] = {0.0, 0.0, 1.0};
    m->octree()->highestUpFacingTriangleBelow(m->octreeOrigin(), m->octreeEdge(), p, *z + offset - 0.0001, &best,
                                              normal);
    if (best > -1.0) {
        normalOut[0] = normal[0];
        normalOut[1] = normal[1];
        normalOut[2] = normal[2];
        return best;
    }
    return -1.0;
}

void SupportAreaAbs::deleteShapes() {
    for (AbtShape* s : shapes) {
        if (owner != nullptr && owner->pending() != this)
            owner->retire(s);
        else
            delete s;
    }
    shapes.clear();
}

void SupportAreaAbs::buildShapeMeshes(const PlacementParams& params) {
    for (AbtShape* s : shapes)
        s->buildMesh(params);
}

void SupportAreaAbs::rebuildConeBars(const PlacementParams& params) {
    for (AbtShape* s : shapes) {
        if (ConeShape* c = s->asCone(); c != nullptr && c->ConeSupportType != 0)
            c->buildBars(params);
    }
}

AbtShape* SupportAreaAbs::shapeAt(int i) const {
    return i >= 0 && static_cast<std::size_t>(i) < shapes.size() ? shapes[static_cast<std::size_t>(i)] : nullptr;
}

void SupportAreaAbs::collectBasePoints(BasePoints& out) const {
    for (const AbtShape* s : shapes) {
        double xy[2];
        if (s->baseXY(xy))
            out.emplace_back(xy[0], xy[1]);
    }
}

// ---- Lowest point, added point ---------------------------------------------------

void LowestPointSupport::reset(const PlacementParams& params) {
    deleteShapes();
    placeContacts(params);
}

void LowestPointSupport::placeContacts(const PlacementParams& params) {
    if (vertex == nullptr || !(vertex->z() > 0.0001))
        return;
    const Vector3D n = vertexNormal(vertex);
    ConeShape* cone = addCone(vertex->pos.data(), n.data(), params.cone, false);
    // A head along the normal may meet the model beside the point; straight
    // down from a lowest point it usually does not.
    const Vector3D down(0.0, 0.0, -1.0);
    if (cone->isDeleted() && !(cone->ContactNormal == down)) {
        deleteShapes();
        cone = addCone(vertex->pos.data(), down.data(), params.cone, false);
    }
    if (cone->isDeleted()) {
        // Too little room below the point for the head and the foot (a corner
        // just above a lower face): both half as long.
        deleteShapes();
        cone = addCone(vertex->pos.data(), down.data(), halfHead(params.cone), false);
        if (cone->isDeleted()) {
            deleteShapes();
            cone = addCone(vertex->pos.data(), down.data(), params.cone, false);
        }
    }
    if (params.removeInternal)
        cone->dropIfEndsOnModel();
}

void LowestPointSupport::setVertex(StlVertex* v) {
    vertex = v;
    if (v != nullptr)
        boxMin = boxMax = v->pos;
}

void AddedPointSupport::reset(const PlacementParams& params) {
    deleteShapes();
    placeContacts(params);
}

void AddedPointSupport::placeContacts(const PlacementParams& params) {
    if (facet == nullptr || !(point.z > 0.0001))
        return;
    addCone(point.data(), facet->normal.data(), params.cone, params.removeInternal);
}

// ---- Lowest curve ------------------------------------------------------------------

void LowestCurveSupport::reset(const PlacementParams& params) {
    deleteShapes();
    placeContacts(params);
}

void LowestCurveSupport::setVertices(const std::vector<StlVertex*>& vs) {
    for (StlVertex* v : vs) {
        if (v == nullptr)
            continue;
        if (chain.empty())
            boxMin = boxMax = v->pos;
        else
            widenBox(boxMin, boxMax, v->pos);
        chain.push_back(v);
    }
}

std::vector<uint32_t> LowestCurveSupport::vertexIds() const {
    std::vector<uint32_t> ids;
    ids.reserve(chain.size());
    for (const StlVertex* v : chain)
        ids.push_back(static_cast<uint32_t>(v->index));
    return ids;
}

std::uint64_t LowestCurveSupport::coneBound(const PlacementParams& params) const {
    if (chain.empty())
        return 0;
    const double s = params.spacing;
    double length = 0.0;
    for (std::size_t i = 1; i < chain.size(); ++i)
        length += std::sqrt((chain[i]->pos - chain[i - 1]->pos).lengthSquared());
    // The ends, one per spacing, and one per edge for the rounding of the
    // length carried from edge to edge.
    const double bound = 2.0 + std::ceil(length / s) + static_cast<double>(chain.size());
    if (!(bound < 1.8e19)) // also a length that is not a number
        return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(bound);
}

void LowestCurveSupport::placeContacts(const PlacementParams& params) {
    if (chain.empty())
        return;
    const bool removeInternal = params.removeInternal;
    const double s = params.spacing;
    Density = s;
    const Vector3D down(0, 0, -1);
    auto coneAt = [&](const Vector3D& p, const Vector3D& n) {
        if (p.z > 0.0001)
            addCone(p.data(), n.data(), params.cone, removeInternal);
    };
    coneAt(chain[0]->pos, vertexNormal(chain[0]));
    double carried = 0.0;
    for (std::size_t i = 1; i < chain.size(); ++i) {
        const Vector3D a = chain[i - 1]->pos;
        Vector3D e = chain[i]->pos - a;
        const double len = std::sqrt(e.lengthSquared());
        if (len * len < 1e-15)
            e = Vector3D();
        else
            e = e / len;
        if (len + carried > s) {
            // The spacing is at least 1, so the loop is short.
            double along = s - carried;
            coneAt(a + e * along, down);
            carried = len - along;
            while (carried > s) {
                along += s;
                coneAt(a + e * along, down);
                carried -= s;
            }
        } else {
            carried += len;
        }
    }
    if (carried > 0.3 * s) {
        const StlVertex* last = chain.back();
        const Vector3D n = last->hasTriangleList() ? vertexNormal(last) : down;
        coneAt(last->pos, n);
    }
}

} // namespace support

#include "support/ConeShape.h"

#include "support/ColumnLink.h"
#include "support/CylinderBar.h"
#include "support/ShapeMesh.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"
#include "topolib/MeshOctree.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <cmath>

namespace support {

using topolib::StlObject;
using topolib::Vector3D;

namespace {

bool finite3(const Vector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

double soundLength(double v, double fallback) { return std::isfinite(v) && v > 0.0 ? v : fallback; }

double planarDistSq(const Vector3D& a, const Vector3D& b) {
    const double dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy;
}

} // namespace

ConeShape::ConeShape() = default;

ConeShape::ConeShape(SupportAreaAbs* area, const double point[3], const double normal[3])
    : area(area), ContactPoint(point), ContactNormal(normal) {}

ConeShape::~ConeShape() {
    freeShapeMesh(vertices, triangles);
    for (AbtShape* l : links) {
        auto* link = static_cast<ColumnLink*>(l);
        if (ConeShape* other = link->other(this); other != nullptr && other != this)
            other->removeLink(link);
        delete link;
    }
}

SupportGen* ConeShape::container() const { return area != nullptr ? area->owner : nullptr; }

ShapeMemoryCheck* ConeShape::shapeMemoryCheck() const {
    const SupportGen* gen = container();
    return gen ? gen->shapeMemoryCheck() : nullptr;
}

void ConeShape::addLink(ColumnLink* link) { links.push_back(link); }

bool ConeShape::removeLink(const AbtShape* link) {
    auto it = std::find(links.begin(), links.end(), link);
    if (it == links.end())
        return false;
    links.erase(it);
    return true;
}

// Values that may come from a project file are made usable before any geometry
// depends on them: no non-finite number, no negative or zero radius.
static void sanitise(ConeShape& c) {
    c.ContactRadius = soundLength(c.ContactRadius, 0.5);
    c.HeadRadius = soundLength(c.HeadRadius, 0.8 * c.ContactRadius);
    c.CrossRadius = soundLength(c.CrossRadius, 0.8 * c.ContactRadius);
    c.BottomRadius = soundLength(c.BottomRadius, 1.2);
    c.NeckRadius = soundLength(c.NeckRadius, 0.8 * c.BottomRadius);
    c.BeamRadius = soundLength(c.BeamRadius, 0.8);
    c.HeadExtend = soundLength(c.HeadExtend, 5.0);
    c.BaseThickness = soundLength(c.BaseThickness, 1.0);
    c.BaseSize = soundLength(c.BaseSize, 4.0);
    if (!finite3(c.ContactNormal))
        c.ContactNormal = Vector3D(0, 0, -1);
    if (!std::isfinite(c.FootZ))
        c.FootZ = -1.0;
    if (!finite3(c.ContactPoint))
        c.deleted = 1;
}

bool ConeShape::headHitsMesh(const StlObject& mesh) const {
    if (ConeSupportType != 0)
        return mesh.truncatedConeHitsMesh(TipCentre.data(), HeadRadius, HeadEnd.data(), NeckRadius);
    // A cross head is two plates whose corners stand half a plate's thickness
    // off their axis planes, and a leaning head's plates meet the upright trunk
    // on the mitre plane, which on the far side of the lean reaches past HeadEnd
    // along the head by NeckRadius * tan(lean / 2). The test covers the head
    // as drawn: the head with the corners' reach, and the neck across the mitre.
    const double half = 0.5 * CrossRadius;
    const double tip = std::hypot(HeadRadius, half), neck = std::hypot(NeckRadius, half);
    if (mesh.truncatedConeHitsMesh(TipCentre.data(), tip, HeadEnd.data(), neck))
        return true;
    const Vector3D& n = ContactNormal;
    const double across = std::sqrt(std::max(0.0, 1.0 - n.z * n.z));
    if (across < 1e-6)
        return false;
    const double reach = neck * across / (1.0 - n.z);
    const Vector3D from = HeadEnd - n * reach, to = HeadEnd + n * reach;
    return mesh.truncatedConeHitsMesh(from.data(), neck, to.data(), neck);
}

bool ConeShape::place() {
    sanitise(*this);
    if (deleted)
        return false;
    const Vector3D C = ContactPoint;
    const double r = ContactRadius;
    Vector3D n = ContactNormal;
    // A zero normal counts as straight down; so does any contact lower than the head.
    // A unit normal (one this placement gave, read back from a project) is
    // kept as it is: placing a cone again puts it where it stood, bit for bit.
    bool zero = false;
    if (!(std::fabs(n.lengthSquared() - 1.0) <= 1e-12))
        zero = n.normalize() == 0.0;
    if (zero || HeadExtend > C.z)
        n = Vector3D(0, 0, -1);
    // The head leans at most 45 degrees from the vertical. Pulling z down to the
    // limit and normalising again converges to the direction with the same
    // heading and z exactly at the limit, which is taken directly.
    const double limit = -0.70710678;
    if (n.z > limit) {
        const double h = std::sqrt(n.x * n.x + n.y * n.y);
        if (h < 1e-12) {
            n = Vector3D(0, 0, -1);
        } else {
            const double s = std::sqrt(1.0 - limit * limit) / h;
            n = Vector3D(n.x * s, n.y * s, limit);
        }
    }
    ContactNormal = n;
    placed = true;

    double h = HeadExtend;
    HeadEnd = C + n * h;
    TipCentre = C + n * (0.5 * r);
    if (HeadEnd.z < 0.001) {
        h = 2.0 * C.z / 3.0;
        HeadEnd = C + n * h;
        if (TipCentre.z < 0.001)
            TipCentre = C + n * (C.z / 3.0);
    }

    StlObject* mesh = area != nullptr ? area->mesh() : nullptr;
    if (mesh != nullptr && headHitsMesh(*mesh)) {
        HeadEnd = C + n * (0.5 * h);
        if (headHitsMesh(*mesh)) {
            deleted = 1;
            return false;
        }
    }

    FootPoint = Vector3D(HeadEnd.x, HeadEnd.y, 0.0);
    TrunkFoot = FootPoint;
    FootNormal = Vector3D(0, 0, 1);
    FootZ = -1.0;
    if (area != nullptr) {
        double normal[3] = {0.0, 0.0, 1.0};
        FootZ = area->modelHeightBelow(HeadEnd.data(), &HeadEnd.z, 0.0, normal);
        if (FootZ >= 0.0)
            FootNormal = Vector3D(normal);
    }
    if (FootZ < 0.0 && mesh != nullptr && mesh->octree() != nullptr) {
        double point[3] = {HeadEnd.x, HeadEnd.y, -1.0};
        double normal[3] = {0.0, 0.0, 1.0};
        const double bound = C.z - r - BottomRadius;
        mesh->octree()->lowestUpFacingTriangleAbove(mesh->octreeOrigin(), mesh->octreeEdge(), area->AreaID,
                                                    HeadEnd.data(), BottomRadius, &bound, point, normal);
        if (point[2] > 1e-6) {
            FootPoint.x = point[0];
            FootPoint.y = point[1];
            FootZ = point[2];
            FootNormal = Vector3D(normal);
        }
    }
    if (FootZ <= 0.0) {
        // A surface found exactly at the platform counts as the platform: the
        // mesh builders tell the two footings apart by the sign of FootZ.
        FootZ = -1.0;
        FootPoint = Vector3D(HeadEnd.x, HeadEnd.y, 0.0);
        TrunkFoot = FootPoint;
        FootNormal = Vector3D(0, 0, 1);
        return keepTrunkClear(mesh);
    }
    // On the model: the foot leans at most about 30 degrees from the vertical.
    if (FootNormal.z < 0.8660254) {
        FootNormal.z = 0.8660254;
        FootNormal.normalize();
    }
    FootPoint.z = FootZ;
    FootPoint -= FootNormal * (0.15 * r);
    FootTipCentre = FootPoint + FootNormal * (0.5 * r);
    TrunkFoot = FootPoint + FootNormal * (0.6 * HeadExtend);
    // Too short for its head and foot; a cylinder whose mesh could not be
    // drawn goes now, not when its mesh is built, so that it holds no place.
    if (TrunkFoot.z > HeadEnd.z || (ConeSupportType != 0 && trunkRunsBack())) {
        deleted = 1;
        return true;
    }
    return keepTrunkClear(mesh);
}

bool ConeShape::keepTrunkClear(const StlObject* mesh) {
    if (mesh == nullptr)
        return true;
    // The trunk as drawn, from the head end down to where it meets its foot: a
    // part of the model beside the trunk's axis, which the searches along the
    // axis do not see, must not be within its reach.
    double top = NeckRadius, bottom = BottomRadius;
    Vector3D foot(HeadEnd.x, HeadEnd.y, 0.0);
    if (FootZ > 0.0) {
        foot = TrunkFoot;
        if (ConeSupportType != 0)
            bottom = NeckRadius;
        else if (std::fabs(FootNormal.x) < 1e-6 && std::fabs(FootNormal.y) < 1e-6)
            foot = Vector3D(FootPoint.x, FootPoint.y, FootZ - 0.1 + 2.5 * ContactRadius);
    }
    if (ConeSupportType == 0) {
        top = std::hypot(top, 0.5 * CrossRadius);
        bottom = std::hypot(bottom, 0.5 * CrossRadius);
    }
    // Its ends, a radius long, are left out: there the foot meets the model on
    // purpose and the neck turns into the head, both drawn along their mitres.
    Vector3D axis = HeadEnd - foot;
    const double length = std::sqrt(axis.lengthSquared());
    if (!(length > bottom + top))
        return true;
    axis = axis / length;
    const Vector3D from = foot + axis * bottom, to = HeadEnd - axis * top;
    if (!mesh->truncatedConeHitsMesh(from.data(), bottom, to.data(), top) &&
        !runsThroughPart(*mesh, from, to))
        return true;
    deleted = 1;
    return false;
}

bool ConeShape::runsThroughPart(const StlObject& mesh, const Vector3D& from, const Vector3D& to) const {
    // On a closed surface a trunk that meets no facet lies outside the part.
    // On an open one it may enter where a face is missing, or hang from a face
    // wound the wrong way: its axis is sampled every millimetre.
    const SupportGen* gen = container();
    if (gen == nullptr || !gen->surfaceOpen())
        return false;
    const double length = std::sqrt((to - from).lengthSquared());
    const int n = static_cast<int>(std::min(std::ceil(length), 1000.0));
    for (int k = 0; k <= n; ++k) {
        const Vector3D p = from + (to - from) * (n > 0 ? static_cast<double>(k) / n : 0.0);
        if (mesh.isEnclosedUpAndDown(p.data()))
            return true;
    }
    return false;
}

void ConeShape::setDeleted(bool d, ShapeDeque* changes) {
    AbtShape::setDeleted(d, changes);
    for (AbtShape* link : links)
        link->setDeleted(d, changes);
}

void ConeShape::collectLive(ShapeDeque& out) {
    if (deleted)
        return;
    out.push_back(this);
    for (AbtShape* l : links) {
        if (l->isDeleted())
            continue;
        for (AbtShape* bar : static_cast<ColumnLink*>(l)->bars) {
            if (!bar->isDeleted())
                out.push_back(bar);
        }
    }
}

void ConeShape::appendTriangles(std::vector<topolib::StlTriangle*>& out, bool all) const {
    if (deleted)
        return;
    for (const AbtShape* l : links) {
        const auto* link = static_cast<const ColumnLink*>(l);
        if ((all || link->first == this) && !link->isDeleted())
            link->appendTriangles(out, false);
    }
    out.insert(out.end(), triangles.begin(), triangles.end());
}

void ConeShape::appendVertices(std::vector<topolib::StlVertex*>& out) const {
    for (const AbtShape* l : links) {
        const auto* link = static_cast<const ColumnLink*>(l);
        if (link->first == this)
            link->appendVertices(out);
    }
    out.insert(out.end(), vertices.begin(), vertices.end());
}

bool ConeShape::baseXY(double out[2]) const {
    if (deleted || FootZ > 0.0)
        return false;
    out[0] = FootPoint.x;
    out[1] = FootPoint.y;
    return true;
}

void ConeShape::dropIfEndsOnModel() {
    if (FootZ > 0.0)
        deleted = 1;
}

void ConeShape::clearMesh() {
    freeShapeMesh(vertices, triangles);
    for (AbtShape* l : links)
        static_cast<ColumnLink*>(l)->destroyBars();
}

void ConeShape::buildOwnMesh() {
    // The builders of a cone on the model draw its foot 0.1 below the surface
    // and lift a head end that comes too close to it. The placement itself
    // stays as placed: building again (another support type, a project read
    // back) draws the same mesh, and bars and links keep counting from it.
    const Vector3D foot = FootPoint, headEnd = HeadEnd;
    if (ConeSupportType != 0) {
        if (FootZ >= 0.0)
            buildCylinderOnModel();
        else if (GenerateBase)
            buildCylinderWithBase();
        else
            buildCylinderOnPlatform();
    } else if (FootZ >= 0.0) {
        buildCrossOnModel();
    } else {
        buildCrossOnPlatform();
        addCrossDisc();
    }
    FootPoint = foot;
    HeadEnd = headEnd;
}

// The link that carries the bars of the pair it joins: of the links between the
// same two cones (linking makes one; a container built by hand may hold more), the
// earliest made whose first cone is a cylinder support.
static const ColumnLink* barCarrier(const ConeShape* cone, const ColumnLink* link) {
    const ColumnLink* best = nullptr;
    const ConeShape* other = link->other(cone);
    for (const AbtShape* l : cone->links) {
        const auto* cand = static_cast<const ColumnLink*>(l);
        if (cand->other(cone) != other || cand->first == nullptr || cand->first->ConeSupportType == 0)
            continue;
        if (best == nullptr || cand->serial < best->serial)
            best = cand;
    }
    return best;
}

bool ConeShape::buildMesh(const PlacementParams& params) {
    if (deleted)
        return false;
    clearMesh();
    sanitise(*this);
    if (deleted)
        return false;
    if (!isPlaced())
        place();
    buildOwnMesh();
    if (ConeSupportType != 0)
        buildBars(params);
    // clearMesh took the bars of every link this cone takes part in, also of those
    // that the other cone carries: have those made again, so that every linked
    // pair keeps one set of bars whatever order the cones are rebuilt in.
    for (AbtShape* l : links) {
        auto* link = static_cast<ColumnLink*>(l);
        ConeShape* carrier = link->first;
        if (carrier != this && carrier != nullptr && link->bars.empty() && barCarrier(this, link) == link &&
            carrier->isPlaced())
            carrier->buildBars(params);
    }
    return true;
}

void ConeShape::trimLinks(std::vector<ColumnLink*>* removed) {
    if (links.size() <= kKeptLinks)
        return;
    auto rank = [this](const AbtShape* l) { return static_cast<const ColumnLink*>(l)->rankFrom(this); };
    // Stable, so that equal ranks (two links to one cone) keep their order.
    std::stable_sort(links.begin(), links.end(),
                     [&](const AbtShape* a, const AbtShape* b) { return rank(a) < rank(b); });
    SupportGen* gen = container();
    for (std::size_t i = kKeptLinks; i < links.size(); ++i) {
        auto* link = static_cast<ColumnLink*>(links[i]);
        if (ConeShape* other = link->other(this); other != nullptr && other != this)
            other->removeLink(link);
        if (removed != nullptr) {
            removed->push_back(link);
        } else if (gen != nullptr) {
            gen->retire(link);
        } else {
            delete link;
        }
    }
    links.resize(kKeptLinks);
}

// The walk up a cone's trunk that places the bars of its links: the support
// spacing D, the trunk's unit direction T and the step s between one link's
// bars. False when the trunk is too short for bars or does not rise.
struct BarWalk {
    double D = 0.0;
    Vector3D T;
    double s = 0.0;
};

static bool barWalkOf(const ConeShape& cone, const PlacementParams& params, BarWalk& walk) {
    walk.D = params.spacing;
    walk.T = cone.HeadEnd - cone.TrunkFoot;
    const double L = walk.T.normalize();
    if (!(L > 1.5 * walk.D) || !(walk.T.z > 1e-6))
        return false;
    walk.s = std::max(walk.D, static_cast<double>(cone.links.size()) * walk.D / 2.0);
    return true;
}

std::size_t ConeShape::barBound(const PlacementParams& params) const {
    BarWalk walk;
    if (!barWalkOf(*this, params, walk))
        return 0;
    const double D = walk.D, s = walk.s;
    const Vector3D& T = walk.T;
    // The walk starts no lower than the first link's start.
    const double start = TrunkFoot.z + T.z * (D / 2.0);
    std::size_t bound = 0;
    for (const AbtShape* l : links) {
        const auto* link = static_cast<const ColumnLink*>(l);
        const ConeShape* o = link->second;
        if (link->first != this || o == nullptr || o == this || !link->bars.empty() ||
            barCarrier(this, link) != link)
            continue;
        Vector3D To = o->HeadEnd - o->TrunkFoot;
        const double Lo = To.normalize();
        if (!(Lo > 1.5 * s) || !(std::fabs(To.z) >= 1e-6) || !(start < HeadEnd.z))
            continue;
        // Steps up this trunk, and steps before the other trunk's point passes
        // its head (it starts at least d above this one's, d >= 0).
        const double own = std::ceil((HeadEnd.z - start) / (T.z * s));
        const double other = To.z > 0.0 ? std::ceil((o->HeadEnd.z - start) / (To.z * s)) : double(kMaxBarSteps);
        const double steps = std::min({own, std::max(other, 0.0), double(kMaxBarSteps)});
        bound += std::isfinite(steps) && steps > 0.0 ? static_cast<std::size_t>(steps) : 0;
    }
    return bound;
}

void ConeShape::buildBars(const PlacementParams& params) {
    BarWalk walk;
    if (!barWalkOf(*this, params, walk))
        return;
    const double D = walk.D, s = walk.s;
    const Vector3D& T = walk.T;
    StlObject* mesh = area != nullptr ? area->mesh() : nullptr;
    const topolib::MeshOctree* tree = mesh != nullptr ? mesh->octree() : nullptr;
    // A cone deleted by placement or by its footing (not by the user, whose
    // deletion also marks the links) gets no bars and none lead to it.
    auto goneForGood = [](const ConeShape* c, const ColumnLink* link) {
        return c->deleted && !link->deleted;
    };

    Vector3D P = TrunkFoot + T * (D / 2.0);
    for (AbtShape* l : links) {
        auto* link = static_cast<ColumnLink*>(l);
        if (link->first != this || barCarrier(this, link) != link)
            continue;
        ConeShape* o = link->second;
        if (o == nullptr || o == this || goneForGood(o, link) || goneForGood(this, link))
            continue;
        const double d2 = planarDistSq(TrunkFoot, o->TrunkFoot);
        if ((2.1 * BottomRadius) * (2.1 * BottomRadius) > d2)
            continue;
        // Bar positions depend only on the two trunks and on the order of this
        // cone's links, never on which bars exist already: rebuilding in any order
        // gives the same bars.
        if (link->bars.empty()) {
            const double d = std::sqrt(d2);
            Vector3D To = o->HeadEnd - o->TrunkFoot;
            const double Lo = To.normalize();
            if (Lo > 1.5 * s && P.z < HeadEnd.z && std::fabs(To.z) >= 1e-6) {
                Vector3D Q = o->TrunkFoot + To * ((P.z + d - o->TrunkFoot.z) / To.z);
                Vector3D Pb = P;
                // A trunk that barely rises (a foot far off to the side) must not
                // make the walk up it endless.
                for (std::size_t steps = 0; Pb.z < HeadEnd.z && steps < kMaxBarSteps; ++steps) {
                    if (Pb.z > TrunkFoot.z && Q.z < o->HeadEnd.z && Q.z > o->TrunkFoot.z) {
                        Vector3D axis = Q - Pb;
                        const double len = axis.normalize();
                        const Vector3D mid = (Pb + Q) * 0.5;
                        const double cyl[8] = {BeamRadius, len, mid.x, mid.y, mid.z, axis.x, axis.y, axis.z};
                        if (tree == nullptr ||
                            !tree->anyTriangleInCylinder(mesh->octreeOrigin(), mesh->octreeEdge(), cyl)) {
                            auto* bar = new CylinderBar(BeamRadius, Pb, Q);
                            bar->buildPrism(shapeMemoryCheck());
                            link->bars.push_back(bar);
                        }
                    }
                    Pb += T * s;
                    Q += To * s;
                }
            }
        }
        P += T * (D / 2.0);
    }
}

} // namespace support

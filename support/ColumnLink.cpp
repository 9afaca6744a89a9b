#include "support/ColumnLink.h"

#include <algorithm>
#include <cmath>

#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/SupportGen.h"

namespace support {

double ColumnLink::footDistanceSq(const ConeShape* a, const ConeShape* b) {
    return (a->FootPoint - b->FootPoint).lengthSquared();
}

namespace {

bool pointBefore(const topolib::Vector3D& a, const topolib::Vector3D& b) {
    return std::lexicographical_compare(a.data(), a.data() + 3, b.data(), b.data() + 3);
}

bool pointsBefore(const topolib::Vector3D& footA, const topolib::Vector3D& contactA, const topolib::Vector3D& footB,
                  const topolib::Vector3D& contactB) {
    if (pointBefore(footA, footB))
        return true;
    if (pointBefore(footB, footA))
        return false;
    return pointBefore(contactA, contactB);
}

} // namespace

bool ColumnLink::Rank::operator<(const Rank& r) const {
    if (microns != r.microns)
        return microns < r.microns;
    return pointsBefore(foot, contact, r.foot, r.contact);
}

ColumnLink::Rank ColumnLink::rank(double lengthSq, const ConeShape* to) {
    Rank r;
    const double microns = std::sqrt(std::max(lengthSq, 0.0)) * 1000.0;
    // Any length beyond the build volume ranks last alike.
    r.microns = microns < 1e15 ? std::llround(microns) : static_cast<int64_t>(1e15);
    if (to != nullptr) {
        r.foot = to->FootPoint;
        r.contact = to->ContactPoint;
    }
    return r;
}

bool ColumnLink::standsBefore(const ConeShape* a, const ConeShape* b) {
    return pointsBefore(a->FootPoint, a->ContactPoint, b->FootPoint, b->ContactPoint);
}

ColumnLink::~ColumnLink() {
    for (AbtShape* b : bars)
        delete b;
}

void ColumnLink::appendTriangles(std::vector<topolib::StlTriangle*>& out, bool) const {
    for (const AbtShape* b : bars) {
        if (!b->isDeleted())
            b->appendTriangles(out, false);
    }
}

void ColumnLink::appendVertices(std::vector<topolib::StlVertex*>& out) const {
    for (const AbtShape* b : bars)
        b->appendVertices(out);
}

void ColumnLink::destroyBars() {
    SupportGen* gen = first != nullptr ? first->container() : nullptr;
    if (gen == nullptr && second != nullptr)
        gen = second->container();
    for (AbtShape* b : bars) {
        if (gen != nullptr)
            gen->retire(b);
        else
            delete b;
    }
    bars.clear();
}

} // namespace support

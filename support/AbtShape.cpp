#include "support/AbtShape.h"

#include "support/ConeShape.h"

namespace support {

AbtShape::~AbtShape() = default;

ConeShape* AbtShape::asCone() { return kind() == Kind::Cone ? static_cast<ConeShape*>(this) : nullptr; }

const ConeShape* AbtShape::asCone() const {
    return kind() == Kind::Cone ? static_cast<const ConeShape*>(this) : nullptr;
}

void AbtShape::setDeleted(bool d, ShapeDeque* changes) {
    const uint8_t value = d ? 1 : 0;
    if (changes != nullptr && value != deleted)
        changes->push_back(this);
    deleted = value;
}

void AbtShape::setCircleBase(bool) {}
void AbtShape::collectLive(ShapeDeque&) {}
bool AbtShape::buildMesh(const PlacementParams&) { return false; }
void AbtShape::appendTriangles(std::vector<topolib::StlTriangle*>&, bool) const {}
void AbtShape::appendVertices(std::vector<topolib::StlVertex*>&) const {}
bool AbtShape::baseXY(double[2]) const { return false; }
void AbtShape::dropIfEndsOnModel() {}

} // namespace support

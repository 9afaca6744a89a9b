// The object's support relays. Until the support container is available they
// relay to no container: no object has supports, every read-out is zero.
#include "scene/ObjectEx.h"

std::shared_ptr<support::SupportGen> ObjectEx::supportGen() {
    return m_support;
}

int ObjectEx::supportAreaCount() const {
    return 0;
}
int ObjectEx::supportBaseType() const {
    return 0;
}
double ObjectEx::supportDensity() const {
    return 0.0;
}
double ObjectEx::supportMaxAngle() const {
    return 0.0;
}
bool ObjectEx::supportRemoveInternal() const {
    return false;
}

void ObjectEx::setSupportType(uint8_t, bool) {}
void ObjectEx::setSupportBaseType(int, bool) {}
void ObjectEx::setSupportBaseSize(const double*) {}
void ObjectEx::setSupportBaseThickness(const double*) {}
void ObjectEx::setSupportBranchRadius(const double*) {}
void ObjectEx::setSupportTrunkRadius(const double*) {}
void ObjectEx::setSupportTipRadius(const double*) {}
void ObjectEx::setSupportHeadExtend(const double*) {}
void ObjectEx::setSupportDensity(const double*) {}
void ObjectEx::setSupportMaxAngle(const double*) {}
void ObjectEx::setSupportRemoveInternal(bool) {}

void ObjectEx::generateSupport() {
    resetTriangleGroups();
}

void ObjectEx::previewConeAt(topolib::StlTriangle*, const double*) {}
void ObjectEx::clearConePreview() {}

support::SupportAreaAbs* ObjectEx::takeConePreview() {
    return nullptr;
}

bool ObjectEx::takePointedSupport(support::ShapeDeque*) {
    return false;
}

void ObjectEx::deleteSupport() {
    m_support.reset();
    m_pointedSupport = nullptr;
}

void ObjectEx::appendSupportTriangles(std::vector<topolib::StlTriangle*>&) {}

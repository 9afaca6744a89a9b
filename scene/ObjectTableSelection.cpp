// Selection, the current object, ray picking and the support relays of the
// object list. Only ready objects take part.
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "topolib/GeometricPredicates.h"
#include "topolib/Vector3D.h"

#include <limits>

namespace {

// The view ray through the widget point p: false without a view.
bool viewRay(const QPoint& p, double origin[3], double dir[3]) {
    SceneHost* host = sceneHost();
    if (!host->unprojectScreenPoint(p, -1.0, origin))
        return false;
    host->viewAxis(dir);
    topolib::Vector3D axis(dir);
    if (axis.normalize() == 0.0)
        return false;
    dir[0] = axis.x;
    dir[1] = axis.y;
    dir[2] = axis.z;
    return true;
}

} // namespace

// ---- Selection ------------------------------------------------------------------

void ObjectTable::selectAll(bool on) {
    for (ObjectEx* obj : m_objects)
        if (obj->isReady())
            obj->setSelected(on);
}

int ObjectTable::selectObjectAtPoint(const QPoint& p, bool addToSelection) {
    double origin[3], dir[3], point[3];
    if (!viewRay(p, origin, dir))
        return 1;
    ObjectEx* hit = nullptr;
    rayPick(origin, dir, false, point, &hit, nullptr);
    if (!hit)
        return 1;
    if (!addToSelection)
        selectAll(false);
    hit->setSelected(true);
    return 1;
}

void ObjectTable::selectObjectsInRectangle(const QPoint& press, const QPoint& release, bool addToSelection) {
    SceneHost* host = sceneHost();
    double axis[3];
    host->viewAxis(axis);
    topolib::Vector3D normal(axis);
    if (normal.normalize() == 0.0)
        return;
    const int x0 = std::min(press.x(), release.x()), x1 = std::max(press.x(), release.x());
    const int y0 = std::min(press.y(), release.y()), y1 = std::max(press.y(), release.y());
    const QPoint corners[4] = {QPoint(x0, y0), QPoint(x1, y0), QPoint(x1, y1), QPoint(x0, y1)};
    const double planePoint[3] = {0.0, 0.0, 0.0};
    const double n[3] = {normal.x, normal.y, normal.z};
    double points[4][3];
    for (int i = 0; i < 4; ++i) {
        double world[3];
        if (!host->unprojectScreenPoint(corners[i], 0.001, world))
            return;
        topolib::projectPointOnPlane(world, planePoint, n, points[i]);
    }
    const std::vector<const double*> polygon = {points[0], points[1], points[2], points[3]};
    std::vector<ObjectEx*> hits;
    for (ObjectEx* obj : m_objects) {
        if (!obj->isReady() || !obj->isVisible())
            continue;
        obj->waitForJobs();
        if (obj->polygonCoversCell(polygon, n))
            hits.push_back(obj);
    }
    if (hits.empty())
        return;
    if (!addToSelection)
        selectAll(false);
    for (ObjectEx* obj : hits)
        obj->setSelected(true);
}

bool ObjectTable::pickObjectAtScreenPoint(const QPoint& p, bool selectedOnly) {
    double origin[3], dir[3];
    if (!viewRay(p, origin, dir))
        return false;
    for (ObjectEx* obj : m_objects) {
        if (!obj->isReady() || obj->isLocked() || (selectedOnly && !obj->isSelected()))
            continue;
        obj->waitForJobs();
        double hit[3];
        if (obj->pickTriangle(origin, dir, hit))
            return true;
    }
    return false;
}

void ObjectTable::setPointedObject(int id) {
    if (id < 0 || id >= count())
        return;
    for (int i = 0; i < count(); ++i)
        m_objects[size_t(i)]->setPointed(i == id);
}

int ObjectTable::selectedObjectCount() const {
    int n = 0;
    for (const ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected())
            ++n;
    return n;
}

ObjectEx* ObjectTable::firstSelectedObject() const {
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected())
            return obj;
    return nullptr;
}

bool ObjectTable::collectSelectedObjects(std::deque<ObjectEx*>& out) const {
    out.clear();
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected())
            out.push_back(obj);
    return true;
}

// ---- Ray picking ----------------------------------------------------------------

int ObjectTable::rayPick(const double origin[3], const double dir[3], bool selectedOnly, double point[3],
                         ObjectEx** object, topolib::StlTriangle** triangle) {
    double best = std::numeric_limits<double>::max();
    ObjectEx* bestObject = nullptr;
    topolib::StlTriangle* bestTriangle = nullptr;
    for (ObjectEx* obj : m_objects) {
        if (!obj->isReady() || !obj->isVisible() || (selectedOnly && !obj->isSelected()))
            continue;
        obj->waitForJobs();
        double hit[3];
        topolib::StlTriangle* t = obj->pickTriangle(origin, dir, hit);
        if (!t)
            continue;
        const double dx = hit[0] - origin[0], dy = hit[1] - origin[1], dz = hit[2] - origin[2];
        const double d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < best) {
            best = d2;
            bestObject = obj;
            bestTriangle = t;
            point[0] = hit[0];
            point[1] = hit[1];
            point[2] = hit[2];
        }
    }
    if (object)
        *object = bestObject;
    if (triangle)
        *triangle = bestTriangle;
    return bestObject && bestTriangle ? 1 : 0;
}

ObjectEx* ObjectTable::pickSurfacePoint(double originAndHit[3], const double dir[3], topolib::StlTriangle** triangle) {
    double point[3];
    ObjectEx* obj = nullptr;
    rayPick(originAndHit, dir, false, point, &obj, triangle);
    if (obj) {
        originAndHit[0] = point[0];
        originAndHit[1] = point[1];
        originAndHit[2] = point[2];
    }
    return obj;
}

bool ObjectTable::hitTestVisibleObjects(const double p[3], double tolerance) {
    for (ObjectEx* obj : m_objects) {
        if (!obj->isReady() || !obj->isVisible())
            continue;
        obj->waitForJobs();
        if (obj->hasTriangleUnderPoint(p, tolerance))
            return true;
    }
    return false;
}

// ---- Supports of the selection ------------------------------------------------------

namespace {

// Supports belong to what the user sees selected: a hidden selected object was
// not lifted to the support offset, so generation and the support relays leave
// it alone.
template <typename Fn>
void forEachSelected(const std::vector<ObjectEx*>& objects, Fn fn) {
    for (ObjectEx* obj : objects)
        if (obj->isReady() && obj->isSelected() && obj->isVisible())
            fn(obj);
}

} // namespace

void ObjectTable::generateSupportForSelected() {
    forEachSelected(m_objects, [](ObjectEx* o) {
        o->waitForJobs();
        o->generateSupport();
    });
}

void ObjectTable::deleteSupportOfSelected() {
    forEachSelected(m_objects, [](ObjectEx* o) { o->deleteSupport(); });
}

void ObjectTable::setSupportType(support::SupportType type, bool regenerate) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportType(type, regenerate); });
}
void ObjectTable::setSupportBaseType(support::BaseType type, bool regenerate) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportBaseType(type, regenerate); });
}
void ObjectTable::setSupportBaseSize(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportBaseSize(v); });
}
void ObjectTable::setSupportBaseThickness(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportBaseThickness(v); });
}
void ObjectTable::setSupportTipRadius(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportTipRadius(v); });
}
void ObjectTable::setSupportBranchRadius(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportBranchRadius(v); });
}
void ObjectTable::setSupportTrunkRadius(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportTrunkRadius(v); });
}
void ObjectTable::setSupportHeadExtend(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportHeadExtend(v); });
}
void ObjectTable::setSupportDensity(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportDensity(v); });
}
void ObjectTable::setSupportMaxAngle(const double* v) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportMaxAngle(v); });
}
void ObjectTable::setSupportRemoveInternal(bool on) {
    forEachSelected(m_objects, [&](ObjectEx* o) { o->setSupportRemoveInternal(on); });
}

void ObjectTable::previewConeAt(const double origin[3], const double dir[3]) {
    double point[3];
    ObjectEx* obj = nullptr;
    topolib::StlTriangle* triangle = nullptr;
    if (!rayPick(origin, dir, true, point, &obj, &triangle))
        return;
    obj->previewConeAt(triangle, point);
    if (m_conePreviewObject && m_conePreviewObject != obj)
        m_conePreviewObject->clearConePreview();
    m_conePreviewObject = obj;
}

void ObjectTable::clearConePreview() {
    if (m_conePreviewObject)
        m_conePreviewObject->clearConePreview();
    m_conePreviewObject = nullptr;
}

bool ObjectTable::takeConePreview(support::SupportAreaAbs** area, ObjectEx** object) {
    if (!m_conePreviewObject)
        return false;
    if (area)
        *area = m_conePreviewObject->takeConePreview();
    if (object)
        *object = m_conePreviewObject;
    m_conePreviewObject = nullptr;
    return true;
}

void ObjectTable::clearPointedSupports() {
    for (ObjectEx* o : m_objects)
        if (o->isReady())
            o->clearPointedSupport();
}

ObjectEx* ObjectTable::takePointedSupport(support::ShapeDeque* changes) {
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected() && obj->takePointedSupport(changes))
            return obj;
    return nullptr;
}

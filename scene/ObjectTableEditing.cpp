// Bounds and counts, display settings, list editing for the commands, the
// moves behind the commands, fitting to the platform, calibration and STL
// output of the object list.
#include "app/Log.h"
#include "fileIo/FileHandling.h"
#include "fileIo/PathEncoding.h"
#include "fileIo/ReplacementFile.h"
#include "fileIo/StlFileHandling.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>

// ---- Bounds and counts ----------------------------------------------------------

namespace {

// Widens [min, max] by the box of every ready object passing the filters;
// false when none counted.
template <typename Filter>
bool unionBox(const std::vector<ObjectEx*>& objects, Filter pass, double min[3], double max[3]) {
    bool any = false;
    for (ObjectEx* obj : objects) {
        double bmin[3], bmax[3];
        if (!obj->isReady() || !pass(obj) || !obj->readBox(bmin, bmax))
            continue;
        for (int k = 0; k < 3; ++k) {
            min[k] = any ? std::min(min[k], bmin[k]) : bmin[k];
            max[k] = any ? std::max(max[k], bmax[k]) : bmax[k];
        }
        any = true;
    }
    return any;
}

} // namespace

bool ObjectTable::visibleObjectsCenter(double out[3]) const {
    double min[3], max[3];
    if (!unionBox(m_objects, [](const ObjectEx* o) { return o->isVisible(); }, min, max)) {
        out[0] = out[1] = out[2] = 0.0;
        return false;
    }
    for (int k = 0; k < 3; ++k)
        out[k] = (min[k] + max[k]) / 2.0;
    return true;
}

bool ObjectTable::selectionBoundingBox(double min[3], double max[3]) const {
    double lo[3], hi[3];
    if (!unionBox(m_objects, [](const ObjectEx* o) { return o->isVisible() && o->isSelected(); }, lo, hi))
        return false;
    std::copy(lo, lo + 3, min);
    std::copy(hi, hi + 3, max);
    return true;
}

bool ObjectTable::minCorner(double out[3], bool visibleOnly, bool selectedOnly) const {
    double lo[3], hi[3];
    auto pass = [&](const ObjectEx* o) {
        return (!visibleOnly || o->isVisible()) && (!selectedOnly || o->isSelected());
    };
    if (!unionBox(m_objects, pass, lo, hi))
        return false;
    std::copy(lo, lo + 3, out);
    return true;
}

bool ObjectTable::maxCorner(double out[3], bool visibleOnly, bool selectedOnly) const {
    double lo[3], hi[3];
    auto pass = [&](const ObjectEx* o) {
        return (!visibleOnly || o->isVisible()) && (!selectedOnly || o->isSelected());
    };
    if (!unionBox(m_objects, pass, lo, hi))
        return false;
    std::copy(hi, hi + 3, out);
    return true;
}

bool ObjectTable::axisExtent(int axis, double range[2], bool selectedOnly) const {
    if (axis < 0 || axis > 2)
        return false;
    double lo[3], hi[3];
    auto pass = [&](const ObjectEx* o) { return o->isVisible() && (!selectedOnly || o->isSelected()); };
    if (!unionBox(m_objects, pass, lo, hi))
        return false;
    range[0] = lo[axis];
    range[1] = hi[axis];
    return true;
}

int ObjectTable::triangleCount(bool selectedOnly) const {
    long long n = 0;
    for (const ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isVisible() && (!selectedOnly || obj->isSelected()))
            n += obj->facetCount();
    return int(std::min<long long>(n, std::numeric_limits<int>::max()));
}

// ---- Display ----------------------------------------------------------------------

void ObjectTable::setTransparent(bool on) {
    for (ObjectEx* obj : m_objects)
        obj->setTransparent(on);
}

void ObjectTable::setViewMode(MeshStyle mode) {
    m_viewMode = mode;
    for (ObjectEx* obj : m_objects)
        obj->setViewMode(mode);
}

void ObjectTable::resetPendingTransforms() {
    for (ObjectEx* obj : m_objects)
        obj->resetTransform();
}

// ---- Editing the list -------------------------------------------------------------

void ObjectTable::removeObjectAt(int index, bool deleteObject) {
    if (index < 0 || index >= count())
        return;
    ObjectEx* obj = m_objects[size_t(index)];
    const bool wasPointed = obj->isPointed();
    if (!obj->isReady())
        forgetImport(obj);
    if (obj == m_conePreviewObject)
        m_conePreviewObject = nullptr;
    m_objects.erase(m_objects.begin() + index);
    renumberFrom(index);
    if (deleteObject)
        delete obj;
    if (wasPointed && !m_objects.empty())
        setPointedObject(index < count() ? index : count() - 1);
}

int ObjectTable::removeObject(ObjectEx* obj, bool deleteObject) {
    const int index = indexOf(obj);
    if (index < 0)
        return 1;
    removeObjectAt(index, deleteObject);
    return 0;
}

int ObjectTable::removeObjects(const std::vector<ObjectEx*>& objs, bool deleteObject) {
    for (ObjectEx* obj : objs)
        removeObject(obj, deleteObject);
    return 0;
}

void ObjectTable::removeSelectedObjects(std::vector<ObjectEx*>& out) {
    for (int i = count() - 1; i >= 0; --i) {
        ObjectEx* obj = m_objects[size_t(i)];
        if (!obj->isReady() || !obj->isSelected())
            continue;
        if (obj == m_conePreviewObject)
            m_conePreviewObject = nullptr;
        m_objects.erase(m_objects.begin() + i);
        out.push_back(obj);
    }
    renumberFrom(0);
}

bool ObjectTable::replaceObject(ObjectEx* old, ObjectEx* replacement) {
    const int index = indexOf(old);
    if (index < 0 || !replacement)
        return false;
    if (old == m_conePreviewObject)
        m_conePreviewObject = nullptr;
    admit(replacement);
    m_objects[size_t(index)] = replacement;
    replacement->setId(index);
    m_placementStale = true;
    return true;
}

// ---- Moves --------------------------------------------------------------------------

namespace {

void logTranslation(const ObjectEx* obj, const double offset[3]) {
    logString(obj->name().toStdString(), false);
    logText(". Translation dv: ", false);
    logPoint(offset, nullptr, true);
}

} // namespace

bool ObjectTable::staysWithinLimit(const ObjectEx* obj, const topolib::Matrix4D& m) {
    double min[3], max[3];
    if (!obj->readBox(min, max))
        return true;
    const double limit = topolib::kMaxImportCoordinate;
    for (int corner = 0; corner < 8; ++corner) {
        const double p[3] = {corner & 1 ? max[0] : min[0], corner & 2 ? max[1] : min[1], corner & 4 ? max[2] : min[2]};
        for (int r = 0; r < 3; ++r) {
            const double x = m.at(r, 0) * p[0] + m.at(r, 1) * p[1] + m.at(r, 2) * p[2] + m.at(r, 3);
            if (!(std::fabs(x) <= limit))
                return false;
        }
    }
    return true;
}

bool ObjectTable::changesStayWithinLimit(const MatrixRecord& changes) {
    for (const auto& change : changes) {
        if (staysWithinLimit(change.first, change.second))
            continue;
        logString(change.first->name().toStdString(), false);
        logText(": change refused, beyond the coordinate limit");
        sceneHost()->showMessage(
            QCoreApplication::translate("ObjectTable", "This change would carry \"%1\" beyond %2 mm from the origin, "
                                                       "farther than any file can hold. It was not made.")
                .arg(change.first->name())
                .arg(double(topolib::kMaxImportCoordinate), 0, 'f', 0),
            SceneMessage::Warning, SceneMessage::Ok, SceneMessage::Ok);
        // A handle that followed the refused change goes back to the selection.
        sceneHost()->updateSelectionBox();
        return false;
    }
    return true;
}

namespace {

topolib::Matrix4D translation(const std::array<double, 3>& offset) {
    topolib::Matrix4D m;
    for (int k = 0; k < 3; ++k)
        m.at(k, 3) = offset[size_t(k)];
    return m;
}

} // namespace

bool ObjectTable::translateSelected(const double offset[3], OffsetRecord& record) {
    OffsetRecord moves;
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected() && obj->isVisible())
            moves[obj] = {offset[0], offset[1], offset[2]};
    return applyMoves(moves, record, false);
}

bool ObjectTable::moveSelectedToPlatformCenter(OffsetRecord& record) {
    logText("------------Orientate: Move to center clicked.");
    double volume[3];
    sceneHost()->getBuildVolume(volume);
    double min[3] = {0.0, 0.0, 0.0}, max[3] = {0.0, 0.0, 0.0};
    selectionBoundingBox(min, max);
    const std::array<double, 3> offset = {volume[0] * 0.5 - (min[0] + max[0]) * 0.5,
                                          volume[1] * 0.5 - (min[1] + max[1]) * 0.5, -min[2]};
    OffsetRecord moves;
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected() && obj->isVisible())
            moves[obj] = offset;
    const bool moved = applyMoves(moves, record, true);
    logText("------------Orientate: Move to center end.");
    sceneHost()->updateSelectionBox();
    return moved;
}

bool ObjectTable::moveSelectedOntoPlatform(OffsetRecord& record) {
    logText("------------Orientate: Move to platform clicked.");
    OffsetRecord moves;
    for (ObjectEx* obj : m_objects) {
        double min[3], max[3];
        if (obj->isReady() && obj->isSelected() && obj->isVisible() && obj->readBox(min, max))
            moves[obj] = {0.0, 0.0, -min[2]};
    }
    const bool moved = applyMoves(moves, record, true);
    sceneHost()->updateSelectionBox();
    logText("------------Orientate: Move to platform end.");
    return moved;
}

bool ObjectTable::applyMoves(const OffsetRecord& moves, OffsetRecord& record, bool log) {
    MatrixRecord changes;
    for (const auto& move : moves)
        changes[move.first] = translation(move.second);
    if (!changesStayWithinLimit(changes))
        return false;
    // In list order, as the objects are drawn and logged.
    for (ObjectEx* obj : m_objects) {
        const auto it = moves.find(obj);
        if (it == moves.end())
            continue;
        obj->translate(it->second.data());
        record[obj] = it->second;
        m_modified = true;
        if (log)
            logTranslation(obj, it->second.data());
    }
    return true;
}

namespace {

// Moves the transform m along z so that the mesh's lowest point ends at
// height z. The same sum as the bake's, so the lowest vertex lands on z to
// the last bits.
void keepLowestPointAt(const ObjectEx& obj, double z, topolib::Matrix4D& m) {
    double lowest = std::numeric_limits<double>::infinity();
    for (const auto& v : obj.vertices())
        if (v)
            lowest = std::min(lowest, m.m[2] * v->x() + m.m[6] * v->y() + m.m[10] * v->z());
    if (std::isfinite(lowest))
        m.m[14] = z - lowest;
}

} // namespace

bool ObjectTable::rotateSelected(MatrixRecord& record) {
    MatrixRecord changes;
    for (ObjectEx* obj : m_objects) {
        double min[3], max[3];
        if (!obj->isReady() || !obj->isSelected() || !obj->isVisible())
            continue;
        obj->waitForJobs();
        // A turn about the selection's centre would sink a resting object
        // into the platform or lift it: an object that rested stays resting,
        // a lifted one keeps its height.
        topolib::Matrix4D m = obj->transform();
        if (obj->readBox(min, max))
            keepLowestPointAt(*obj, restsOnPlatform(min[2]) ? 0.0 : min[2], m);
        changes[obj] = m;
    }
    return bakeChanges(changes, record, true);
}

bool ObjectTable::bakeChanges(const MatrixRecord& changes, MatrixRecord& record, bool turns) {
    if (!changesStayWithinLimit(changes)) {
        for (const auto& change : changes)
            change.first->resetTransform();
        return false;
    }
    for (ObjectEx* obj : m_objects) {
        const auto it = changes.find(obj);
        if (it == changes.end())
            continue;
        record[obj] = it->second;
        if (turns)
            obj->turnByMatrix(it->second);
        else
            obj->rotateByMatrix(&it->second);
        m_modified = true;
    }
    return true;
}

void ObjectTable::setSelectedObjectsZOffset(const double* z, ZOffsetRecords& records) {
    for (ObjectEx* obj : m_objects) {
        double min[3], max[3];
        if (!obj->isReady() || !obj->isSelected() || !obj->isVisible() || !obj->readBox(min, max))
            continue;
        obj->waitForJobs();
        const std::array<double, 3> offset = {0.0, 0.0, *z - min[2]};
        obj->topolib::StlObject::translate(offset.data());
        records.emplace_back(obj, offset);
        m_modified = true;
    }
    sceneHost()->updateSelectionBox();
}

bool ObjectTable::fitSelectionToPlatform(const double volume[3], const double* margin, MatrixRecord& record) {
    double min[3], max[3];
    if (!selectionBoundingBox(min, max))
        return true;
    // Axes without extent (a flat object) say nothing about the factor.
    double f = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        const double size = max[k] - min[k];
        if (size > 0.0)
            f = std::min(f, (volume[k] - 2.0 * *margin) / size);
    }
    if (!std::isfinite(f) || !(f > 0.0))
        return true;
    // f min + (0 - f min) is exactly 0: a resting selection stays on the platform.
    const double lowest = restsOnPlatform(min[2]) ? 0.0 : 5.0;
    topolib::Matrix4D m;
    for (int k = 0; k < 3; ++k)
        m.at(k, k) = f;
    m.at(0, 3) = volume[0] * 0.5 - (min[0] + max[0]) * 0.5 * f;
    m.at(1, 3) = volume[1] * 0.5 - (min[1] + max[1]) * 0.5 * f;
    m.at(2, 3) = lowest - min[2] * f;
    MatrixRecord changes;
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && obj->isSelected() && obj->isVisible())
            changes[obj] = m;
    return bakeChanges(changes, record);
}

// ---- STL output -------------------------------------------------------------------------

bool ObjectTable::saveObjectsToStl(const QString& path, bool binary, bool selectedOnly, QString* note) {
    if (note)
        note->clear();
    std::vector<topolib::StlTriangle*> triangles;
    for (ObjectEx* obj : m_objects)
        if (obj->isReady() && (!selectedOnly || obj->isSelected()))
            obj->collectTriangles(triangles);
    if (triangles.empty())
        return false;
    // The STL readers refuse a file beyond the coordinate limit: such a file
    // is not written (supports may stand a little beyond their object).
    const double limit = topolib::kMaxImportCoordinate;
    for (const topolib::StlTriangle* t : triangles)
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                if (!(std::fabs(t->vertex(k)->pos.data()[a]) <= limit)) {
                    if (note)
                        *note = QCoreApplication::translate("ObjectTable",
                                                            "The objects reach beyond %1 mm from the origin, "
                                                            "farther than an STL file may hold.")
                                    .arg(limit, 0, 'f', 0);
                    return false;
                }
    const std::wstring file = fileIo::pathFromQString(path);
    fileIo::SaveReport report;
    const int result = binary ? fileIo::exportBinaryStl(file, triangles, &report)
                              : fileIo::exportAsciiStl(file, triangles, &report);
    if (note && result != fileIo::kSuccess)
        *note = QCoreApplication::translate("ObjectTable", fileIo::saveFailureText(report.failure));
    else if (note && report.linksLeftBehind)
        *note = QCoreApplication::translate("ObjectTable", "The file has other names (hard links); they still "
                                                           "show its previous content.");
    return result == fileIo::kSuccess;
}

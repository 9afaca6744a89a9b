#include "scene/SceneCommands.h"

#include "scene/ObjectEx.h"
#include "scene/SceneHost.h"
#include "support/SupportGen.h"

#include <algorithm>
#include <cmath>

namespace {

ObjectTable* table() {
    return ObjectTable::instance();
}

// Whether m moves no point by more than rounding: a factor of 100 % typed
// back, or a preview never made.
bool nearlyIdentity(const topolib::Matrix4D& m) {
    const topolib::Matrix4D identity;
    for (int i = 0; i < 16; ++i)
        if (std::fabs(m.m[i] - identity.m[i]) > 1e-12)
            return false;
    return true;
}

// Deletes obj unless it is back in the list (a command owns only what is out).
void deleteIfOutOfList(ObjectEx* obj) {
    if (obj && !table()->contains(obj))
        delete obj;
}

} // namespace

// ---- Import -------------------------------------------------------------------------

ImportObjectCmd::ImportObjectCmd(std::vector<ObjectEx*> batch) : m_batch(std::move(batch)) {}

ImportObjectCmd::~ImportObjectCmd() {
    if (state() == Undone)
        for (ObjectEx* obj : m_batch)
            deleteIfOutOfList(obj);
}

bool ImportObjectCmd::execute() {
    if (m_batch.empty())
        return false;
    sceneHost()->updateGLView();
    return true;
}

void ImportObjectCmd::undo() {
    table()->removeObjects(m_batch, false);
    table()->setModified(true);
    sceneHost()->updateGLView();
}

void ImportObjectCmd::redo() {
    for (ObjectEx* obj : m_batch)
        table()->addObject(obj);
    table()->setModified(true);
    sceneHost()->updateGLView();
}

bool pushImportCommand(const std::vector<ObjectEx*>& batch) {
    if (batch.empty())
        return false;
    return sceneHost()->pushCommand(new ImportObjectCmd(batch), false);
}

// ---- Unload -------------------------------------------------------------------------

UnloadObjectCmd::UnloadObjectCmd(int index) : m_index(index) {}

UnloadObjectCmd::~UnloadObjectCmd() {
    if (state() == Done)
        for (ObjectEx* obj : m_removed)
            deleteIfOutOfList(obj);
}

bool UnloadObjectCmd::execute() {
    if (m_index >= 0) {
        ObjectEx* obj = table()->objectAt(m_index);
        if (obj && obj->isReady()) {
            m_removed.push_back(obj);
            table()->removeObjectAt(m_index, false);
        }
    } else {
        table()->removeSelectedObjects(m_removed);
    }
    if (m_removed.empty())
        return false;
    table()->setModified(true);
    sceneHost()->refreshZSliceView();
    return true;
}

void UnloadObjectCmd::undo() {
    for (ObjectEx* obj : m_removed)
        table()->addObject(obj);
    table()->setModified(true);
    sceneHost()->updateGLView();
}

void UnloadObjectCmd::redo() {
    for (ObjectEx* obj : m_removed)
        table()->removeObject(obj, false);
    table()->setModified(true);
    sceneHost()->updateGLView();
}

// ---- Hollowing ----------------------------------------------------------------------

HollowCreationCmd::HollowCreationCmd(ObjectEx* source, ObjectEx* hollowed)
    : m_source(source), m_hollowed(hollowed) {}

HollowCreationCmd::~HollowCreationCmd() {
    // Done: the source is out of the list; undone, or never executed: the copy.
    deleteIfOutOfList(state() == Done ? m_source : m_hollowed);
}

bool HollowCreationCmd::execute() {
    if (!m_source || !m_hollowed || !table()->replaceObject(m_source, m_hollowed))
        return false;
    m_hollowed->setLoaded(true);
    table()->setModified(true);
    sceneHost()->updateGLView();
    return true;
}

void HollowCreationCmd::undo() {
    table()->replaceObject(m_hollowed, m_source);
    m_source->setModified();
    table()->setModified(true);
    sceneHost()->updateGLView();
}

void HollowCreationCmd::redo() {
    table()->replaceObject(m_source, m_hollowed);
    m_hollowed->setModified();
    table()->setModified(true);
    sceneHost()->updateGLView();
}

// ---- Supports taken by moves ----------------------------------------------------------

void KeptSupports::recordBefore() {
    m_entries.clear();
    for (ObjectEx* obj : table()->objects())
        m_entries[obj].before = obj->supportGenIfAny();
}

void KeptSupports::recordAfter() {
    for (auto& entry : m_entries)
        entry.second.after = entry.first->supportGenIfAny();
}

void KeptSupports::giveBack(bool before) const {
    for (const auto& entry : m_entries)
        entry.first->setSupportGen(before ? entry.second.before : entry.second.after);
}

// ---- Moves --------------------------------------------------------------------------

TranslateCmd::TranslateCmd(int mode, const double offset[3])
    : m_mode(mode), m_offset{offset ? offset[0] : 0.0, offset ? offset[1] : 0.0, offset ? offset[2] : 0.0} {}

bool TranslateCmd::execute() {
    m_supports.recordBefore();
    bool moved = true;
    switch (m_mode) {
    case ByOffset:
        moved = table()->translateSelected(m_offset.data(), m_record);
        break;
    case ToPlatformCenter:
        moved = table()->moveSelectedToPlatformCenter(m_record);
        break;
    case OntoPlatform:
        moved = table()->moveSelectedOntoPlatform(m_record);
        break;
    default:
        break;
    }
    m_supports.keepOnly(m_record);
    return moved;
}

void TranslateCmd::undo() {
    m_supports.recordAfter();
    for (auto& entry : m_record) {
        const double back[3] = {-entry.second[0], -entry.second[1], -entry.second[2]};
        entry.first->translate(back);
    }
    m_supports.giveBack(true);
    table()->setModified(true);
    sceneHost()->updateSelectionBox();
}

void TranslateCmd::redo() {
    for (auto& entry : m_record)
        entry.first->translate(entry.second.data());
    m_supports.giveBack(false);
    table()->setModified(true);
    sceneHost()->updateSelectionBox();
}

// ---- Rotation and scale -------------------------------------------------------------

void applyMatrixRecord(const MatrixRecord& record, bool inverse, bool turn) {
    for (const auto& entry : record) {
        topolib::Matrix4D m = entry.second;
        if (inverse)
            m.invert(); // throws on a singular matrix: the manager's failure rule
        if (turn)
            entry.first->turnByMatrix(m);
        else
            entry.first->rotateByMatrix(&m);
    }
    table()->setModified(true);
    sceneHost()->updateSelectionBox();
}

bool RoateCmd::execute() {
    m_turn = true;
    bool rotated = true;
    bake([&] { rotated = table()->rotateSelected(m_record); });
    return rotated;
}

void BakeTransformCmd::undo() {
    m_supports.recordAfter();
    applyMatrixRecord(m_record, true, m_turn);
    m_supports.giveBack(true);
}

void BakeTransformCmd::redo() {
    applyMatrixRecord(m_record, false, m_turn);
    m_supports.giveBack(false);
}

bool RescaleCmd::execute() {
    // Only what the preview changes: with none the command is refused and
    // the history and the project stay as they were.
    MatrixRecord changes;
    for (ObjectEx* obj : table()->objects())
        if (obj->isReady() && obj->isSelected() && !nearlyIdentity(obj->transform()))
            changes[obj] = obj->transform();
    if (changes.empty())
        return false;
    bool scaled = true;
    bake([&] { scaled = table()->bakeChanges(changes, m_record); });
    if (scaled)
        table()->setModified(true);
    return scaled;
}

bool FitToPlatformCmd::execute() {
    double volume[3];
    sceneHost()->getBuildVolume(volume);
    const double margin = kMargin;
    bool fitted = true;
    bake([&] { fitted = table()->fitSelectionToPlatform(volume, &margin, m_record); });
    if (!fitted || m_record.empty())
        return false;
    sceneHost()->updateSelectionBox();
    return true;
}

topolib::Matrix4D scaleInPlace(const double min[3], const double max[3], const double f[3]) {
    double pivot[3];
    for (int k = 0; k < 3; ++k)
        pivot[k] = (min[k] + max[k]) * 0.5;
    if (ObjectTable::restsOnPlatform(min[2]))
        pivot[2] = min[2];
    // x' = f (x - p) + p; the lowest point goes to f (min - p) + p.
    double t[3];
    for (int k = 0; k < 3; ++k)
        t[k] = pivot[k] - f[k] * pivot[k];
    const double lowest = f[2] * min[2] + t[2];
    if (lowest < 0.0)
        t[2] = -f[2] * min[2]; // exactly 0 for the lowest vertex: f min - f min
    topolib::Matrix4D m;
    for (int k = 0; k < 3; ++k) {
        m.at(k, k) = f[k];
        m.at(k, 3) = t[k];
    }
    return m;
}

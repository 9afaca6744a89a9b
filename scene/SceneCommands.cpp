#include "scene/SceneCommands.h"

#include "scene/ObjectEx.h"
#include "scene/SceneHost.h"

namespace {

ObjectTable* table() {
    return ObjectTable::instance();
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

HollowCreationCmd::HollowCreationCmd(int density, double offset, bool flag)
    : m_density(density), m_offset(offset), m_flag(flag) {}

HollowCreationCmd::~HollowCreationCmd() {
    // Done: the sources are out of the list; undone: the hollowed copies are.
    for (const auto& pair : m_pairs) {
        if (state() == Done)
            deleteIfOutOfList(pair.first);
        else if (state() == Undone)
            deleteIfOutOfList(pair.second);
    }
}

bool HollowCreationCmd::execute() {
    ObjectEx* source = nullptr;
    ObjectEx* hollowed = nullptr;
    if (!sceneHost()->takeHollowResult(&source, &hollowed) || !source || !hollowed)
        return false;
    if (!table()->replaceObject(source, hollowed)) {
        // The copy was handed over to this command; nobody else will free it.
        if (!table()->contains(hollowed))
            delete hollowed;
        return false;
    }
    hollowed->setLoaded(true);
    m_pairs.emplace_back(source, hollowed);
    table()->setModified(true);
    sceneHost()->updateGLView();
    return true;
}

void HollowCreationCmd::undo() {
    for (const auto& pair : m_pairs) {
        table()->replaceObject(pair.second, pair.first);
        pair.first->setModified();
    }
    table()->setModified(true);
    sceneHost()->updateGLView();
}

void HollowCreationCmd::redo() {
    for (const auto& pair : m_pairs) {
        table()->replaceObject(pair.first, pair.second);
        pair.second->setModified();
    }
    table()->setModified(true);
    sceneHost()->updateGLView();
}

// ---- Moves --------------------------------------------------------------------------

TranslateCmd::TranslateCmd(int mode, const double offset[3])
    : m_mode(mode), m_offset{offset ? offset[0] : 0.0, offset ? offset[1] : 0.0, offset ? offset[2] : 0.0} {}

bool TranslateCmd::execute() {
    switch (m_mode) {
    case ByOffset:
        table()->translateSelected(m_offset.data(), m_record);
        break;
    case ToPlatformCenter:
        table()->moveSelectedToPlatformCenter(m_record);
        break;
    case OntoPlatform:
        table()->moveSelectedOntoPlatform(m_record);
        break;
    default:
        break;
    }
    return true;
}

void TranslateCmd::undo() {
    for (auto& entry : m_record) {
        const double back[3] = {-entry.second[0], -entry.second[1], -entry.second[2]};
        entry.first->translate(back);
    }
    table()->setModified(true);
    sceneHost()->updateSelectionBox();
}

void TranslateCmd::redo() {
    for (auto& entry : m_record)
        entry.first->translate(entry.second.data());
    table()->setModified(true);
    sceneHost()->updateSelectionBox();
}

// ---- Rotation and scale -------------------------------------------------------------

void applyMatrixRecord(const MatrixRecord& record, bool inverse) {
    for (const auto& entry : record) {
        topolib::Matrix4D m = entry.second;
        if (inverse)
            m.invert(); // throws on a singular matrix: the manager's failure rule
        entry.first->rotateByMatrix(&m);
    }
    table()->setModified(true);
    sceneHost()->updateSelectionBox();
}

bool RoateCmd::execute() {
    table()->rotateSelected(m_record);
    return true;
}

void BakeTransformCmd::undo() {
    applyMatrixRecord(m_record, true);
}

void BakeTransformCmd::redo() {
    applyMatrixRecord(m_record, false);
}

bool RescaleCmd::execute() {
    for (ObjectEx* obj : table()->objects()) {
        if (!obj->isReady() || !obj->isSelected())
            continue;
        m_record[obj] = obj->transform();
        obj->rotateByMatrix(nullptr);
    }
    table()->setModified(true);
    return true;
}

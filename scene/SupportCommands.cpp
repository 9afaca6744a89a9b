#include "scene/SupportCommands.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "support/AbtShape.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"
#include "support/SupportParams.h"

namespace {

void markModified() {
    ObjectTable::instance()->setModified(true);
}

// The scene changed: the project is modified and the view draws it again.
void showChange() {
    markModified();
    sceneHost()->updateGLView();
}

// The selected visible objects that have supports.
std::vector<ObjectEx*> selectedWithSupports() {
    std::vector<ObjectEx*> out;
    for (ObjectEx* obj : ObjectTable::instance()->objects())
        if (obj->isReady() && obj->isSelected() && obj->isVisible() && obj->hasSupport())
            out.push_back(obj);
    return out;
}

// Every cone of the container with the value of one of its byte fields.
std::vector<std::pair<support::ConeShape*, uint8_t>> conesWith(const support::SupportGen& container,
                                                               uint8_t support::ConeShape::*field) {
    std::vector<std::pair<support::ConeShape*, uint8_t>> out;
    for (const support::SupportAreaAbs* area : container.areas)
        for (support::AbtShape* s : area->shapes)
            if (support::ConeShape* c = s->asCone())
                out.emplace_back(c, c->*field);
    return out;
}

} // namespace

// ---- SupportGenCmd -------------------------------------------------------------------

void SupportGenCmd::undo() {
    for (const Entry& e : m_entries) {
        e.object->waitForJobs();
        const double back[3] = {-e.offset[0], -e.offset[1], -e.offset[2]};
        e.object->topolib::StlObject::translate(back);
        e.object->setSupportGen(e.previous);
    }
    markModified();
    sceneHost()->updateSelectionBox();
}

void SupportGenCmd::redo() {
    for (const Entry& e : m_entries) {
        e.object->waitForJobs();
        e.object->topolib::StlObject::translate(e.offset.data());
        e.object->setSupportGen(e.generated);
    }
    markModified();
    sceneHost()->updateSelectionBox();
}

// ---- AddConeSupportCmd ----------------------------------------------------------------

bool AddConeSupportCmd::execute() {
    support::SupportAreaAbs* area = nullptr;
    ObjectEx* object = nullptr;
    // A preview that committed to nothing (a point that gets no cone) is
    // nothing to record.
    if (!ObjectTable::instance()->takeConePreview(&area, &object) || !area || !object)
        return false;
    m_object = object;
    m_added = area;
    m_container = object->supportGenIfAny();
    markModified();
    return m_container != nullptr;
}

void AddConeSupportCmd::undo() {
    // The cones get back the links and bars they had before the commit.
    m_container->setLinkEditCommitted(m_added, false);
    if (m_changed.empty()) {
        // Copy first: the list is the region's own.
        const std::vector<support::AbtShape*> shapes = m_added->shapes;
        for (support::AbtShape* s : shapes)
            s->setDeleted(true, &m_changed);
    } else {
        for (support::AbtShape* s : m_changed)
            s->setDeleted(true, nullptr);
    }
    finish();
}

void AddConeSupportCmd::redo() {
    m_container->setLinkEditCommitted(m_added, true);
    for (support::AbtShape* s : m_changed)
        s->setDeleted(false, nullptr);
    finish();
}

void AddConeSupportCmd::finish() {
    // Committing the point rebuilt the raft around the new cone; the raft
    // follows the cone's state so that undo and redo give back exactly the
    // supports before and after the click.
    m_container->buildBase();
    m_container->markChanged();
    m_object->clearPointedSupport();
    showChange();
}

// ---- DeleteConeSupportCmd -------------------------------------------------------------

bool DeleteConeSupportCmd::execute() {
    ObjectEx* object = ObjectTable::instance()->takePointedSupport(&m_changed);
    // A pointed support that was already deleted changes nothing.
    if (!object || m_changed.empty())
        return false;
    m_object = object;
    m_container = object->supportGenIfAny();
    if (m_container) {
        // The cones left standing link as a reopened project would link them.
        m_container->relinkAfterEdit(this);
        m_container->buildBase();
    }
    markModified();
    return m_container != nullptr;
}

void DeleteConeSupportCmd::undo() {
    m_container->setLinkEditCommitted(this, false);
    setChangedDeleted(false);
}

void DeleteConeSupportCmd::redo() {
    setChangedDeleted(true);
    m_container->setLinkEditCommitted(this, true);
}

void DeleteConeSupportCmd::setChangedDeleted(bool deleted) {
    for (support::AbtShape* s : m_changed)
        s->setDeleted(deleted, nullptr);
    // The raft stands under the live cones only, as after adding a point.
    m_container->buildBase();
    m_container->markChanged();
    m_object->clearPointedSupport();
    showChange();
}

// ---- SupportTypeCmd -------------------------------------------------------------------

SupportTypeCmd::~SupportTypeCmd() {
    // Retired, not deleted: other records may still name them while their
    // container lives.
    for (Entry& e : m_entries)
        for (auto& held : e.heldBars)
            for (support::AbtShape* bar : held.second)
                e.container->retire(bar);
}

bool SupportTypeCmd::execute() {
    for (ObjectEx* obj : selectedWithSupports()) {
        Entry e;
        e.object = obj;
        e.container = obj->supportGenIfAny();
        e.typeBefore = e.container->getSupportType();
        e.conesBefore = conesWith(*e.container, &support::ConeShape::ConeSupportType);
        m_entries.push_back(std::move(e));
    }
    if (m_entries.empty())
        return false;
    redo();
    return true;
}

void SupportTypeCmd::undo() {
    for (Entry& e : m_entries)
        switchTo(e, false);
    showChange();
}

void SupportTypeCmd::redo() {
    for (Entry& e : m_entries)
        switchTo(e, true);
    showChange();
}

void SupportTypeCmd::switchTo(Entry& e, bool after) {
    // Take every link's bars out first: the rebuild below then retires none
    // of them, and they come back untouched when the command switches back.
    std::map<support::ColumnLink*, std::vector<support::AbtShape*>> taken;
    for (const auto& cone : e.conesBefore)
        for (support::AbtShape* l : cone.first->links) {
            auto* link = static_cast<support::ColumnLink*>(l);
            if (!taken.count(link))
                taken[link] = std::move(link->bars);
            link->bars.clear();
        }
    for (const auto& cone : e.conesBefore)
        cone.first->ConeSupportType = after ? support::storedValue(m_type) : cone.second;
    e.container->setSupportType(after ? m_type : e.typeBefore, true);
    if (e.holdsBars) {
        // The bars this state had: the rebuild's new ones go.
        for (auto& held : e.heldBars) {
            if (!taken.count(held.first)) {
                // A link that no cone lists any more gets nothing back.
                for (support::AbtShape* bar : held.second)
                    e.container->retire(bar);
                continue;
            }
            held.first->destroyBars();
            held.first->bars = std::move(held.second);
        }
    }
    e.heldBars = std::move(taken);
    e.holdsBars = true;
    e.container->markChanged();
    e.object->clearPointedSupport();
}

// ---- SupportBaseTypeCmd ---------------------------------------------------------------

bool SupportBaseTypeCmd::execute() {
    for (ObjectEx* obj : selectedWithSupports()) {
        Entry e;
        e.object = obj;
        e.container = obj->supportGenIfAny();
        e.typeBefore = e.container->getBaseType();
        e.basesBefore = conesWith(*e.container, &support::ConeShape::GenerateBase);
        m_entries.push_back(std::move(e));
    }
    if (m_entries.empty())
        return false;
    redo();
    return true;
}

void SupportBaseTypeCmd::undo() {
    for (const Entry& e : m_entries)
        switchTo(e, false);
    showChange();
}

void SupportBaseTypeCmd::redo() {
    for (const Entry& e : m_entries)
        switchTo(e, true);
    showChange();
}

void SupportBaseTypeCmd::switchTo(const Entry& e, bool after) {
    for (const auto& [cone, base] : e.basesBefore)
        cone->GenerateBase = after ? (m_type == support::BaseType::Circle ? 1 : 0) : base;
    e.container->baseType = after ? m_type : e.typeBefore;
    e.container->rebuildShapeMeshesKeepingBars();
    e.container->buildBase();
    e.container->markChanged();
    e.object->clearPointedSupport();
}

// ---- ClearSupportCmd ------------------------------------------------------------------

bool ClearSupportCmd::execute() {
    for (ObjectEx* obj : selectedWithSupports())
        m_cleared.emplace_back(obj, obj->supportGenIfAny());
    if (m_cleared.empty())
        return false;
    redo();
    return true;
}

void ClearSupportCmd::undo() {
    for (const auto& [object, container] : m_cleared)
        object->setSupportGen(container);
    showChange();
}

void ClearSupportCmd::redo() {
    for (const auto& [object, container] : m_cleared)
        object->deleteSupport();
    showChange();
}

// ---- Generation -------------------------------------------------------------------------

int generateSupportsForSelection(const support::SupportParams& params, support::SupportType supportType,
                                 support::BaseType baseType) {
    using P = support::SupportParams;
    ObjectTable* table = ObjectTable::instance();
    ZOffsetRecords moves;
    const double z = params[P::ZOffset];
    table->setSelectedObjectsZOffset(&z, moves);

    std::vector<SupportGenCmd::Entry> entries;
    entries.reserve(moves.size());
    for (const auto& move : moves) {
        SupportGenCmd::Entry e;
        e.object = move.first;
        e.offset = move.second;
        e.previous = move.first->supportGenIfAny();
        e.generated = std::make_shared<support::SupportGen>(move.first);
        move.first->setSupportGen(e.generated);
        entries.push_back(std::move(e));
    }
    std::vector<ObjectEx*> lifted;
    lifted.reserve(entries.size());
    for (const SupportGenCmd::Entry& e : entries)
        lifted.push_back(e.object);
    // The new containers hold their parameters and types before the command
    // announces them: whoever follows the selection then reads what is built.
    for (ObjectEx* obj : lifted) {
        obj->setSupportParams(params);
        obj->setSupportType(supportType, false);
        obj->setSupportBaseType(baseType, false);
    }
    sceneHost()->pushCommand(new SupportGenCmd(std::move(entries)), false);
    int generated = 0;
    for (ObjectEx* obj : lifted)
        generated += obj->generateSupport() ? 1 : 0;
    if (!lifted.empty())
        table->setModified(true);
    return generated;
}

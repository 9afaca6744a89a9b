#pragma once
// Undoable support edits: a generation started by the support panel, one
// support point added in the 3D view and one support deleted there.
//
// Containers are shared between the objects and these commands: an object
// that loses its supports (move, rotate, scale, Clear) only drops its
// reference, so every container a command names stays alive, with all its
// shapes, for as long as the command does. Undo and redo of the point
// commands work on the container recorded at execute time, whether or not the
// object still holds it. Every execute, undo and redo sets the object list's
// modified flag.
#include "scene/AbtCommand.h"
#include "support/SupportTypes.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class ObjectEx;

namespace support {
class AbtShape;
class ColumnLink;
class ConeShape;
class SupportAreaAbs;
class SupportGen;
struct SupportParams;
using ShapeDeque = std::deque<AbtShape*>;
} // namespace support

// A generation: the lift of each object to the Z offset and the switch from
// its previous container (or none) to the one the generation filled. Undo
// moves back and restores the previous containers, redo moves again and puts
// the generated containers back without computing anything. Neither repaints.
class SupportGenCmd : public AbtCommand {
public:
    struct Entry {
        ObjectEx* object = nullptr;
        std::array<double, 3> offset{}; // the lift that was applied to the mesh
        std::shared_ptr<support::SupportGen> previous;  // null when it had none
        std::shared_ptr<support::SupportGen> generated;
    };

    explicit SupportGenCmd(std::vector<Entry> entries) : m_entries(std::move(entries)) {}

    // The lift and the containers were already applied: nothing to do, true.
    bool execute() override { return true; }
    void undo() override;
    void redo() override;

    const std::vector<Entry>& entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
};

// One support point added in the view: the object list's cone preview,
// committed, the live cones relinked as a reopened project would link them.
// Undo gives every cone its links and bars of before and marks the point's
// cone deleted (and keeps the list of what changed), redo gives it all back.
class AddConeSupportCmd : public AbtCommand {
public:
    // Commits the cone preview; false when there is none to commit.
    bool execute() override;
    void undo() override;
    void redo() override;

    ObjectEx* object() const { return m_object; }
    support::SupportAreaAbs* addedSupport() const { return m_added; }
    const std::shared_ptr<support::SupportGen>& container() const { return m_container; }

private:
    // Raft and render buffer follow the live cones; the view repaints.
    void finish();

    ObjectEx* m_object = nullptr;
    support::SupportAreaAbs* m_added = nullptr; // owned by m_container
    std::shared_ptr<support::SupportGen> m_container;
    std::deque<support::AbtShape*> m_changed;
};

// One support deleted in the view: the pointed support of the first selected
// object that has one, with the links of a cone; the cones left standing are
// relinked as a reopened project would link them. Undo gives back the links
// and bars of before, bit for bit.
class DeleteConeSupportCmd : public AbtCommand {
public:
    // False when no selected object points at a live support.
    bool execute() override;
    void undo() override;
    void redo() override;

    ObjectEx* object() const { return m_object; }
    const std::deque<support::AbtShape*>& changedShapes() const { return m_changed; }

private:
    void setChangedDeleted(bool deleted);

    ObjectEx* m_object = nullptr;
    std::shared_ptr<support::SupportGen> m_container;
    std::deque<support::AbtShape*> m_changed;
};

// The support panel's type button: the supports of every selected visible
// object that has some are rebuilt with the type, every
// cone included, and later cones get it too. Undo gives each cone its former
// type back and each link the very bars it had, deleted ones included (redo
// likewise), so the other commands' records of those shapes stay good.
// Refused when no selected visible object has supports.
class SupportTypeCmd : public AbtCommand {
public:
    explicit SupportTypeCmd(support::SupportType type) : m_type(type) {}
    // Frees the bars of the state the containers are not in.
    ~SupportTypeCmd() override;
    bool execute() override;
    void undo() override;
    void redo() override;

private:
    struct Entry {
        ObjectEx* object = nullptr;
        std::shared_ptr<support::SupportGen> container;
        support::SupportType typeBefore = support::SupportType::Cylinder;
        std::vector<std::pair<support::ConeShape*, uint8_t>> conesBefore;
        // Per link, the bars of the state the container is not in (owned
        // here); empty until the first switch.
        std::map<support::ColumnLink*, std::vector<support::AbtShape*>> heldBars;
        bool holdsBars = false;
    };
    // Rebuilds the entry's supports with the types after (true) or before the
    // command, swapping the bars with the held ones.
    void switchTo(Entry& e, bool after);

    support::SupportType m_type;
    std::vector<Entry> m_entries;
};

// The support panel's base-type button: the supports of every selected
// visible object that has some take the base type at once, and later cones get it too. Only
// the cones' footings and the raft are made again: every link keeps its very
// bars, deleted ones included. Undo gives each cone its former footing and
// the container its former type and raft. Refused when no selected visible
// object has supports.
class SupportBaseTypeCmd : public AbtCommand {
public:
    explicit SupportBaseTypeCmd(support::BaseType type) : m_type(type) {}
    bool execute() override;
    void undo() override;
    void redo() override;

private:
    struct Entry {
        ObjectEx* object = nullptr;
        std::shared_ptr<support::SupportGen> container;
        support::BaseType typeBefore = support::BaseType::None;
        std::vector<std::pair<support::ConeShape*, uint8_t>> basesBefore;
    };
    void switchTo(const Entry& e, bool after);

    support::BaseType m_type;
    std::vector<Entry> m_entries;
};

// The support panel's Clear: every selected visible object that has
// supports lets go of its container; undo gives each the very container back
// (cones, links, bars, points added and supports deleted by hand), redo takes
// it again. Refused when no selected visible object has supports.
class ClearSupportCmd : public AbtCommand {
public:
    bool execute() override;
    void undo() override;
    void redo() override;

private:
    std::vector<std::pair<ObjectEx*, std::shared_ptr<support::SupportGen>>> m_cleared;
};

// The support panel's Generate: lifts every selected visible object so that
// its lowest point is at the Z offset, gives each a new container, records
// one SupportGenCmd through the scene host, hands the parameters to those
// containers (sizes are diameters: radii are half of them) and generates on
// the calling thread. Selected hidden objects are left alone. Returns the
// number of objects that got new supports; an object whose generation
// refused or failed has shown why.
int generateSupportsForSelection(const support::SupportParams& params, support::SupportType supportType,
                                 support::BaseType baseType);

#pragma once
// The undoable commands that change the scene's objects. Each reaches the
// command manager through SceneHost::pushCommand, which executes it; all run
// on the GUI thread. A command that holds objects deletes, in its destructor,
// only those that its state says it owns and that are not in the object list.
#include "scene/AbtCommand.h"
#include "scene/ObjectTable.h"

#include <array>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class ObjectEx;

namespace support {
class SupportGen;
}

// The objects of one import batch (already in the list when it executes).
// Refuses an empty batch. Owns its objects while undone.
class ImportObjectCmd : public AbtCommand {
public:
    explicit ImportObjectCmd(std::vector<ObjectEx*> batch);
    ~ImportObjectCmd() override;
    bool execute() override;
    void undo() override;
    void redo() override;
    const std::vector<ObjectEx*>& objects() const { return m_batch; }

private:
    std::vector<ObjectEx*> m_batch;
};

// Removes the object at index, or with index -1 every selected object.
// Refuses when nothing was removed. Owns the removed objects while done.
class UnloadObjectCmd : public AbtCommand {
public:
    explicit UnloadObjectCmd(int index = -1);
    ~UnloadObjectCmd() override;
    bool execute() override;
    void undo() override;
    void redo() override;
    const std::vector<ObjectEx*>& removed() const { return m_removed; }

private:
    int m_index;
    std::vector<ObjectEx*> m_removed;
};

// Replaces the hollowing's source object by its hollowed copy, which the
// hollowing panel computed and hands over with the command: the command owns
// the copy from construction. Refuses a missing object, and a source that is
// not in the list (the copy is then deleted). Owns the sources while done and
// the copies while undone.
class HollowCreationCmd : public AbtCommand {
public:
    HollowCreationCmd(ObjectEx* source, ObjectEx* hollowed);
    ~HollowCreationCmd() override;
    bool execute() override;
    void undo() override;
    void redo() override;

private:
    ObjectEx* m_source;
    ObjectEx* m_hollowed;
};

// The supports a move, rotation or scale takes from its objects. The change
// drops each moved object's supports (they no longer fit the mesh); the
// command keeps those containers, with every cone, link, bar and user edit, so
// that undo gives each object exactly the supports it had before and redo the
// ones it had after (none, unless later commands, since undone, made some).
class KeptSupports {
public:
    // Before the change: what every object of the list holds (maybe nothing).
    void recordBefore();
    // After the change: forgets the objects it left alone.
    template <typename Record> void keepOnly(const Record& changed) {
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = changed.count(it->first) ? std::next(it) : m_entries.erase(it);
    }
    // Undo, before the geometry goes back: remembers what redo gives back.
    void recordAfter();
    // Hands each object the containers it had before (undo) or after (redo)
    // the change, once its geometry is back in that state.
    void giveBack(bool before) const;

private:
    struct Held {
        std::shared_ptr<support::SupportGen> before, after;
    };
    std::map<ObjectEx*, Held> m_entries;
};

// Moves the selection: mode 0 by the offset, 1 to the platform centre, 2 onto
// the platform (each object separately). Kept unless the move would carry an
// object beyond the coordinate limit (ObjectTable::staysWithinLimit).
class TranslateCmd : public AbtCommand {
public:
    enum Mode { ByOffset = 0, ToPlatformCenter = 1, OntoPlatform = 2 };
    TranslateCmd(int mode, const double offset[3]);
    bool execute() override;
    void undo() override;
    void redo() override;
    const OffsetRecord& record() const { return m_record; }

private:
    int m_mode;
    std::array<double, 3> m_offset;
    OffsetRecord m_record;
    KeptSupports m_supports;
};

// Base of the commands that bake matrices into meshes: undo applies the
// inverse of each recorded matrix, redo the matrix again (each then updates
// the selection box and sets the modified flag); both give the objects back
// the supports they had in that state.
class BakeTransformCmd : public AbtCommand {
public:
    void undo() override;
    void redo() override;
    const MatrixRecord& record() const { return m_record; }

protected:
    // Records what every object holds, runs change (which fills m_record) and
    // keeps the supports of the objects it baked.
    template <typename Change> void bake(Change change) {
        m_supports.recordBefore();
        change();
        m_supports.keepOnly(m_record);
    }

    MatrixRecord m_record;
    KeptSupports m_supports;
    // The matrices are turns: undo and redo keep the scale factors.
    bool m_turn = false;
};

// Bakes the pending rotation of every selected visible object. Kept unless it
// would carry an object beyond the coordinate limit (the pending rotations
// are then dropped).
class RoateCmd : public BakeTransformCmd {
public:
    bool execute() override;
};

// Bakes the pending scale of every selected object (visible or not). Kept,
// setting the list's modified flag, unless it would carry an object beyond
// the coordinate limit (the pending scales are then dropped).
class RescaleCmd : public BakeTransformCmd {
public:
    bool execute() override;
};

// Scales the selection to fit the host's build volume less kMargin on every
// side and centres it over the platform (ObjectTable::fitSelectionToPlatform).
// Refused when it changed nothing (or would leave the coordinate limit).
class FitToPlatformCmd : public BakeTransformCmd {
public:
    static constexpr double kMargin = 5.0;
    bool execute() override;
};

// The matrix that scales an object of box [min, max] by f per axis about the
// centre of its box, except in z for an object that rests on the platform
// (ObjectTable::restsOnPlatform): that one keeps its lowest point, so it still
// rests there. Whatever the scale would put below z = 0 is lifted onto it.
topolib::Matrix4D scaleInPlace(const double min[3], const double max[3], const double f[3]);

// The rotate and rescale undo / redo: applies each recorded matrix (inverted
// for undo) and updates the selection box; sets the modified flag. A turn
// keeps the objects' scale factors (ObjectEx::turnByMatrix).
void applyMatrixRecord(const MatrixRecord& record, bool inverse, bool turn);

// Pushes the import command of a finished batch (no repaint); false when the
// batch is empty or the command was refused.
bool pushImportCommand(const std::vector<ObjectEx*>& batch);

#pragma once
// The scene's one object list (a process-wide singleton, GUI thread only). It
// owns every object in it; an object's index is its id. Files are imported in
// batches on the objects' workers; each object is placed on the platform when
// its import completes, and each batch ends with its own allObjectImported().
//
// Readiness: objects still importing are in the list (and drawn once loaded)
// but take part in no selection, bound, count, command, slicing or saving
// until they were placed (ObjectEx::isReady). Every operation that reads or
// changes a mesh waits for that object's running jobs first.
#include "scene/PlacementIndex.h"
#include "scene/ViewMode.h"
#include "support/SupportTypes.h"
#include "topolib/Matrix4D.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

namespace fileIo {
class MeshFileRead;
}
class ObjectEx;

namespace topolib {
class StlTriangle;
}
namespace support {
class AbtShape;
class SupportAreaAbs;
using ShapeDeque = std::deque<AbtShape*>;
} // namespace support

// Offsets and matrices recorded by the move, rotate and scale commands, by
// object address.
using OffsetRecord = std::map<ObjectEx*, std::array<double, 3>>;
using MatrixRecord = std::map<ObjectEx*, topolib::Matrix4D>;
using ZOffsetRecords = std::deque<std::pair<ObjectEx*, std::array<double, 3>>>;

class ObjectTable : public QObject {
    Q_OBJECT
public:
    // The list, created on the first call (GUI thread) and never destroyed.
    static ObjectTable* instance();

    // ---- The list ---------------------------------------------------------------
    const std::vector<ObjectEx*>& objects() const { return m_objects; }
    int count() const { return static_cast<int>(m_objects.size()); }
    ObjectEx* objectAt(int index) const;
    int indexOf(const ObjectEx* obj) const; // -1 when not in the list
    bool contains(const ObjectEx* obj) const { return indexOf(obj) >= 0; }

    // Appends obj (id := its index) unless null or already in the list; a
    // Pointed object becomes the current one.
    void addObject(ObjectEx* obj);
    // Deletes every object (their imports are cancelled), forgets the cone
    // preview, style Filled. Batches still running end with what was placed.
    void deleteAllObjects();

    // ---- Import and placement -----------------------------------------------------
    // Starts a batch: one object per file, named after the file without its last
    // extension, listed at once and read on its worker, at most as many at a
    // time as there are cores. The batch has one progress (ImportProgress),
    // reported from the GUI thread: named after its files, only rising, closed
    // once when the batch has ended. An empty list does nothing.
    void importObjects(const QStringList& files);
    // Makes the read of each import started from now on (ObjectEx::setMeshReadMaker);
    // empty, the default: a plain read through the file layer's handlers.
    void setMeshReadMaker(std::function<std::unique_ptr<fileIo::MeshFileRead>()> make) {
        m_makeRead = std::move(make);
    }
    // The objects of the batch that just ended, in file order, failed ones left
    // out; valid while allObjectImported() is being delivered.
    const std::vector<ObjectEx*>& objectsBeingCalculated() const { return m_finishedBatch; }
    // Whether some import is still running or waiting.
    bool importsRunning() const;
    // Moves obj onto the platform beside the other placed objects (or centres it
    // when it is the only one; see PlacementIndex) and makes it count as
    // placed. False, and obj stays where it is, when that place would carry it
    // beyond the coordinate limit (staysWithinLimit): a model taller than the
    // limit cannot stand on the platform. Used by the import; public for the
    // tests.
    bool placeObject(ObjectEx* obj);

    // ---- Selection and the current object ----------------------------------------
    // Ray through the widget point p along the view axis; the nearest visible
    // hit becomes selected (the others deselected unless add). Nothing hit:
    // unchanged. Returns 1.
    int selectObjectAtPoint(const QPoint& p, bool addToSelection);
    // Rubber band from press to release (see the view's unprojection at depth
    // 0.001): every visible object with a cell inside is selected.
    void selectObjectsInRectangle(const QPoint& press, const QPoint& release, bool addToSelection);
    // True at the first object in list order (not locked; selected when asked)
    // whose mesh the ray through p hits.
    bool pickObjectAtScreenPoint(const QPoint& p, bool selectedOnly);
    // Pointed := (index == id) for every object; id out of range: nothing.
    void setPointedObject(int id);
    int selectedObjectCount() const;
    ObjectEx* firstSelectedObject() const;
    bool collectSelectedObjects(std::deque<ObjectEx*>& out) const;
    // Deselects (or selects) every ready object; locked ones never change.
    void selectAll(bool on);

    // ---- Ray picking --------------------------------------------------------------
    // The nearest hit over the visible (selected when asked) objects: point
    // written on a hit; 1 when both an object and a triangle were found.
    int rayPick(const double origin[3], const double dir[3], bool selectedOnly, double point[3],
                ObjectEx** object, topolib::StlTriangle** triangle);
    // rayPick over every visible object; on a hit the point replaces originAndHit.
    ObjectEx* pickSurfacePoint(double originAndHit[3], const double dir[3], topolib::StlTriangle** triangle);
    // True at the first visible object with a triangle under the point.
    bool hitTestVisibleObjects(const double p[3], double tolerance);

    // ---- Supports of the selection ---------------------------------------------------
    void generateSupportForSelected();
    void deleteSupportOfSelected();
    void setSupportType(support::SupportType type, bool regenerate);
    void setSupportBaseType(support::BaseType type, bool regenerate);
    void setSupportBaseSize(const double* v);
    void setSupportBaseThickness(const double* v);
    void setSupportTipRadius(const double* v);
    void setSupportBranchRadius(const double* v);
    void setSupportTrunkRadius(const double* v);
    void setSupportHeadExtend(const double* v);
    void setSupportDensity(const double* v);
    void setSupportMaxAngle(const double* v);
    void setSupportRemoveInternal(bool on);
    void previewConeAt(const double origin[3], const double dir[3]);
    void clearConePreview();
    bool takeConePreview(support::SupportAreaAbs** area, ObjectEx** object);
    void clearPointedSupports();
    ObjectEx* takePointedSupport(support::ShapeDeque* changes);
    // Lifts each selected visible object's mesh (not its supports) so that its
    // lowest point is at *z; records the offsets.
    void setSelectedObjectsZOffset(const double* z, ZOffsetRecords& records);

    // ---- Bounds and counts (ready objects only) ------------------------------------
    // Centre of the union of the visible boxes; (0, 0, 0) and false when none.
    bool visibleObjectsCenter(double out[3]) const;
    bool sceneCenter(const double*, const double*, double out[3]) const { return visibleObjectsCenter(out); }
    // Union of the boxes of the selected visible objects; false, untouched, when none.
    bool selectionBoundingBox(double min[3], double max[3]) const;
    // Corners over the objects passing both filters; out untouched when none.
    bool minCorner(double out[3], bool visibleOnly, bool selectedOnly) const;
    bool maxCorner(double out[3], bool visibleOnly, bool selectedOnly) const;
    // Extent of the visible (selected) objects along axis 0..2; false when none.
    bool axisExtent(int axis, double range[2], bool selectedOnly) const;
    int triangleCount(bool selectedOnly) const;

    // ---- Display ----------------------------------------------------------------
    // (The drawing of the list lives with the view: view/draw/SceneDraw.h.)
    void setTransparent(bool on);
    // The list's style and every object's.
    void setViewMode(MeshStyle mode);
    MeshStyle viewMode() const { return m_viewMode; }
    void resetPendingTransforms();
    bool transparentSupport() const { return m_transparentSupport; }
    void setTransparentSupport(bool on) { m_transparentSupport = on; }

    // ---- Editing the list (commands) ------------------------------------------------
    // Removes (and with deleteObject deletes) the object at index; renumbers the
    // rest; passes the current marker on.
    void removeObjectAt(int index, bool deleteObject);
    // 1 when obj is not in the list, else 0 after removing it.
    int removeObject(ObjectEx* obj, bool deleteObject);
    int removeObjects(const std::vector<ObjectEx*>& objs, bool deleteObject);
    // Removes every selected ready object (not deleted) into out, last index first.
    void removeSelectedObjects(std::vector<ObjectEx*>& out);
    // Puts replacement into old's slot; false when old is not in the list.
    bool replaceObject(ObjectEx* old, ObjectEx* replacement);

    // ---- Moves behind the commands ---------------------------------------------------
    // Each refuses the whole change, changes nothing and tells the user, when
    // it would carry an object of the selection beyond the coordinate limit
    // (staysWithinLimit); false then.
    bool translateSelected(const double offset[3], OffsetRecord& record);
    bool moveSelectedToPlatformCenter(OffsetRecord& record);
    bool moveSelectedOntoPlatform(OffsetRecord& record);
    // Bakes each selected visible object's pending rotation, moved along z so
    // that its lowest point stays where it was (on the platform for a resting
    // object), as a turn (ObjectEx::turnByMatrix), and records the matrix baked.
    bool rotateSelected(MatrixRecord& record);
    // Bakes each object's matrix (in list order; turns keep the scale factors,
    // ObjectEx::turnByMatrix) and records it, or, when one would leave the
    // coordinate limit, none: their pending transforms are then dropped.
    bool bakeChanges(const MatrixRecord& changes, MatrixRecord& record, bool turns = false);
    // Scales the selection uniformly to fit the volume less the margin on every
    // side and centres it over the platform: a selection that rested on the
    // platform (restsOnPlatform) rests on it after, any other has its lowest
    // point at z = 5. Bakes one matrix per selected visible object and records
    // it. Does nothing unless the factor is finite and above zero (zero extents
    // are left out of it).
    bool fitSelectionToPlatform(const double volume[3], const double* margin, MatrixRecord& record);
    // Whether obj's box, carried by m, stays within ±topolib::kMaxImportCoordinate
    // on every axis: the one coordinate limit of the program (the STL readers
    // refuse files beyond it, so an object beyond it could be saved but never
    // read again). The corners of the box bound any linear image of the mesh.
    static bool staysWithinLimit(const ObjectEx* obj, const topolib::Matrix4D& m);
    // Every change in changes stays within the limit; otherwise the user is
    // told that the change was not made.
    static bool changesStayWithinLimit(const MatrixRecord& changes);
    // Whether a lowest point at z = lowestZ counts as standing on the platform:
    // within kRestTolerance of z = 0 (what moves and undo leave of an exact 0).
    static constexpr double kRestTolerance = 1e-6;
    static bool restsOnPlatform(double lowestZ) { return std::fabs(lowestZ) <= kRestTolerance; }

    // ---- STL output ---------------------------------------------------------------
    // Writes the mesh and support triangles of every (or every selected) ready
    // object as one STL file; true only when every byte was written (a file
    // that was there is otherwise left as it was). note (optional) receives
    // why a save failed, or after a save over a file with other hard links
    // that those still show the old content; empty otherwise.
    bool saveObjectsToStl(const QString& path, bool binary, bool selectedOnly, QString* note = nullptr);

    // ---- Modified flag ------------------------------------------------------------
    bool isModified() const { return m_modified; }
    void setModified(bool on) { m_modified = on; }

signals:
    // Emitted once per batch after its last object was placed (or failed).
    void allObjectImported();

private slots:
    // Woken by the workers (a queued call): handles the imports that ended,
    // then reports the progress of the batch that shows it.
    void handleWorkerNews();

private:
    // Every object entering the list passes here (an import once placed, an
    // object added, one put in another's place): see ObjectEx::keepEntrySize.
    void admit(ObjectEx* obj);
    // Moves each object of moves by its offset (in list order) and records
    // it, or, when one would leave the coordinate limit, none; log: each
    // move goes to the log.
    bool applyMoves(const OffsetRecord& moves, OffsetRecord& record, bool log);

    // Worker threads: an import has ended / a batch's progress rose. Both
    // wake the GUI thread once for everything that arrived meanwhile.
    void postImportFinished(quint64 serial);
    void wakeGuiThread();
    void onImportFinished(quint64 serial);
    // The batch at the front of the list owns the progress dialog: its text
    // (naming its files) and its percentage whenever that rose.
    void showBatchProgress(bool start);

    struct ImportBatch;

    explicit ObjectTable(QObject* parent = nullptr);
    ~ObjectTable() override;

    void renumberFrom(int index);
    // Makes the placement index hold every placed object but `placing` when
    // the list or a box may have changed since it was made.
    void syncPlacementIndex(const ObjectEx* placing);
    // Forgets obj in the import bookkeeping (it left the list or is deleted).
    void forgetImport(ObjectEx* obj);
    void startWaitingImports();
    void finishBatchIfDone(const std::shared_ptr<ImportBatch>& batch);
    std::shared_ptr<ImportBatch> batchOf(const ObjectEx* obj) const;

    ObjectEx* m_conePreviewObject = nullptr;
    bool m_transparentSupport = true;
    bool m_modified = true;
    MeshStyle m_viewMode = MeshStyle::Filled;
    std::vector<ObjectEx*> m_objects;
    std::vector<ObjectEx*> m_finishedBatch;
    std::vector<std::shared_ptr<ImportBatch>> m_batches;
    std::deque<ObjectEx*> m_waitingImports;
    std::function<std::unique_ptr<fileIo::MeshFileRead>()> m_makeRead;
    std::vector<ObjectEx*> m_runningImports;

    // The footprints of the placed objects (ready, with a box), by list
    // position: valid while the list kept its order and no box changed
    // through ObjectEx (ObjectEx::geometryChanges) but by placements.
    PlacementIndex m_placement;
    std::unordered_set<quint64> m_placedSerials;
    quint64 m_placementChanges = 0;
    bool m_placementStale = true;

    // The hand-off from the workers: ended imports wait here, under the lock,
    // until the GUI thread takes them; one queued call is pending at most.
    std::mutex m_handOffMutex;
    std::vector<quint64> m_endedImports;
    bool m_wakePending = false;
};

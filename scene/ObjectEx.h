#pragma once
// One object of the scene: a triangle mesh (its base) with what the scene needs
// beyond the mesh: identity and name, display flags and colours, the pending
// 4 × 4 transform the view shows before it is baked into the mesh, the object's
// supports and nine workers (ObjectCalcThread) for the slow per-object jobs.
// A scene may hold a hundred thousand small objects: a worker is made when its
// job first starts, the supports when first asked for.
//
// The object list owns every object in it; a command owns an object that is out
// of the list (by the command's state).
//
// Threads. A worker job owns the mesh while it runs: the GUI thread calls
// waitForJobs() before it changes or queries the mesh (every operation below
// that touches the mesh does so itself). Loaded and Selected are the only
// fields a worker writes, and they are atomic. Deleting an object asks its
// jobs to stop and waits for them.
#include "scene/ObjectCalcThread.h"
#include "scene/ViewMode.h"
#include "support/SupportTypes.h"
#include "topolib/Matrix4D.h"
#include "topolib/StlObject.h"

#include <QColor>
#include <QMutex>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ProgressSink;

namespace fileIo {
class MeshFileRead;
}

namespace support {
class SupportGen;
struct SupportParams;
class AbtShape;
class SupportAreaAbs;
using ShapeDeque = std::deque<AbtShape*>;
} // namespace support

class ObjectEx : public topolib::StlObject {
public:
    static constexpr int kWorkerCount = 9;
    // Default shade colour (6, 203, 212) / 255.
    static constexpr float kDefaultShade[3] = {6.0f / 255.0f, 203.0f / 255.0f, 212.0f / 255.0f};

    // An empty mesh: Selected and Visible set, every other flag clear, identity
    // transform, no worker made yet.
    ObjectEx();
    // Stops and waits for every worker, then frees the supports and the mesh.
    ~ObjectEx() override;
    ObjectEx& operator=(const ObjectEx&) = delete;

    // A copy with id newId: header (box, centre, name), Visible, Transparency,
    // view mode, colours; with copyMesh the mesh and its edges, with copyOctree
    // (only together with copyMesh) the octree. Loaded clear, Selected set, no
    // supports, identity transform; the mesh's arrays keep `room` for records
    // appended next. Waits for this object's jobs first.
    ObjectEx* clone(int newId, bool copyMesh, bool copyOctree, const topolib::AppendRoom& room = {});

    // ---- Identity -------------------------------------------------------------
    int id() const { return StlObject::id(); }
    void setId(int id) { StlObject::setId(id); }
    // A number no other object of this process ever had (matches worker
    // signals to their object even after renumbering or deletion).
    quint64 serial() const { return m_serial; }
    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }

    // ---- File path (base hooks) -------------------------------------------------
    // Stores the path and starts nothing.
    void storeFilePath(const std::wstring& path) { m_filePath = path; }
    // Stores the path and starts the import job (worker 0), which reports to
    // the global progress report and tells nobody when it has ended.
    void setFilePath(const std::wstring& path) override;
    // Starts the import job (worker 0) of the stored path: it reports its
    // progress to `progress` and calls `done` on the worker thread when it has
    // ended, after a failure or a cancel too (then importResult() holds the
    // result). Whoever receives `done` takes the mesh over with
    // waitForJob(Job::Import) on the GUI thread.
    void startImport(const ProgressSink& progress, ObjectCalcThread::Completion done);
    std::wstring getFilePath() const override { return m_filePath; }
    std::wstring filePath() const { return m_filePath; }

    // ---- Flags and display ------------------------------------------------------
    bool isLoaded() const { return m_loaded.load(); }
    void setLoaded(bool on) { m_loaded.store(on); }
    bool isPointed() const { return m_pointed; }
    void setPointed(bool on) { m_pointed = on; }
    bool isLocked() const { return m_locked.load(); }
    void setLocked(bool on) { m_locked.store(on); }
    bool isSelected() const { return m_selected.load(); }
    // No effect on a locked object.
    void setSelected(bool on);
    // The worker's end-of-job selection (the caller checked the lock).
    void setSelectedByWorker(bool on) { m_selected.store(on); }
    bool isVisible() const { return m_visible; }
    void setVisible(bool on) { m_visible = on; }
    bool isTransparent() const { return m_transparency; }
    // Transparency on: alpha 0.35; off: 1.0.
    void setTransparent(bool on);
    float transparentValue() const { return m_transparentValue; }
    void setTransparentValue(float alpha) { m_transparentValue = alpha; }
    // How the drawing shows the mesh.
    MeshStyle viewMode() const { return m_viewMode; }
    void setViewMode(MeshStyle style) { m_viewMode = style; }
    // The shade colour (each float × 255 truncated, alpha 255) and its setter.
    QColor color() const;
    void setColor(const QColor& c);
    const float* shadeColor() const { return m_shade.data(); }

    // Readiness: set once the object's import completed and it was placed on
    // the GUI thread (always set for objects that were not imported, such as
    // project objects and clones). Only ready objects take part in selection,
    // bounds, counts, commands, slicing and saving.
    bool isReady() const { return !m_importPending; }
    void setImportPending(bool on) { m_importPending = on; }
    // The result of the last import job (Failure before it ended).
    topolib::LoadResult importResult() const { return m_importResult.load(); }
    // What the reader of the last import job found that the user should be
    // told (the cause of a failure, or what a successful read left out); read
    // once the job has ended.
    const QStringList& importNotes() const { return m_importNotes; }
    // Makes the read of the import job; empty (the default): a plain read
    // through the file layer's handlers.
    using MeshReadMaker = std::function<std::unique_ptr<fileIo::MeshFileRead>()>;
    void setMeshReadMaker(MeshReadMaker make) { m_makeRead = std::move(make); }

    // ---- Pending transform ------------------------------------------------------
    topolib::Matrix4D& transform() { return m_transform; }
    const topolib::Matrix4D& transform() const { return m_transform; }
    void setTransform(const topolib::Matrix4D& m) { m_transform = m; }
    void resetTransform() { m_transform = topolib::Matrix4D(); }

    // ---- Geometry changes (GUI thread; each waits for the object's jobs) -------
    // Counts the changes of any object's geometry made below (moves, turns,
    // bakes), so that whoever keeps the boxes of many objects knows when to
    // read them again. Changes made through the mesh's own interface
    // (topolib::StlObject) are not counted.
    static quint64 geometryChanges() { return s_geometryChanges.load(); }
    // Moves the mesh, deletes the supports, resets the transform to identity.
    void translate(const double offset[3]);
    // Bakes m (or, when null, the pending transform) into every vertex,
    // recomputes the normals, starts job 5 (box and octree), deletes the
    // supports and resets the transform.
    void rotateByMatrix(const topolib::Matrix4D* m);
    // Bakes a turn (rotateByMatrix with m) and keeps the scale read from the
    // box: the load-time box is resized so that each axis shows the factor it
    // showed before (a turn changes no scale; a uniformly scaled object keeps
    // one factor on every axis).
    void turnByMatrix(const topolib::Matrix4D& m);
    // An object without a load-time box (one read from a project, or made in
    // memory) takes its box now as that box, so that scale factors are
    // relative to the size it has when it enters the scene. An object with
    // one (an imported STL file, a copy) keeps it. Nothing while the box is
    // still empty.
    void keepEntrySize();

    // ---- Jobs -------------------------------------------------------------------
    // ObjectCalcThread::startJob on worker `job`. Returns 0.
    int startJob(ObjectCalcThread::Job job, bool flag);
    // Waits until the job's worker has ended (GUI thread); at once when it
    // never ran.
    void waitForJob(ObjectCalcThread::Job job) const;
    // Waits until no job of this object runs (GUI thread).
    void waitForJobs() const;
    // Waits for the jobs that write the bounding box (the import and the
    // rebuild after a bake); the octree build only reads it.
    void waitForBoxJobs() const;
    // The bounding box after waitForBoxJobs; false (out untouched) while it is
    // empty (no vertex yet).
    bool readBox(double min[3], double max[3]) const;
    // Asks every running job to stop (does not wait).
    void requestStopJobs();

    // ---- Supports -------------------------------------------------------------
    bool hasSupport() const { return m_support != nullptr; }
    // The container, created for this object when missing.
    std::shared_ptr<support::SupportGen> supportGen();
    // The container or null, without creating one.
    const std::shared_ptr<support::SupportGen>& supportGenIfAny() const { return m_support; }
    // Read-outs for the project writer (0 / false without supports).
    int supportAreaCount() const;
    double supportDensity() const;
    double supportMaxAngle() const;
    bool supportRemoveInternal() const;
    // Parameter relays; each creates the container when missing.
    void setSupportType(support::SupportType type, bool regenerate);
    void setSupportBaseType(support::BaseType type, bool regenerate);
    void setSupportBaseSize(const double* v);
    void setSupportBaseThickness(const double* v);
    void setSupportBranchRadius(const double* v);
    void setSupportTrunkRadius(const double* v);
    void setSupportTipRadius(const double* v);
    void setSupportHeadExtend(const double* v);
    void setSupportDensity(const double* v);
    void setSupportMaxAngle(const double* v);
    void setSupportRemoveInternal(bool on);
    // Every number of the panel's parameters and the remove-internal flag in
    // one hand-over (sizes are diameters there and become radii here); the
    // Z offset is the caller's (it lifts the object). Creates the container
    // when missing; rebuilds nothing.
    void setSupportParams(const support::SupportParams& params);
    // Resets the triangle groups and runs the generation on the calling thread.
    // When the generation refuses or fails (see SupportGen::generate), the
    // reason is logged and shown through the scene host; false.
    bool generateSupport();
    void previewConeAt(topolib::StlTriangle* facet, const double point[3]);
    void clearConePreview();
    // The support area made from the preview; null without supports.
    support::SupportAreaAbs* takeConePreview();
    // Marks the pointed support deleted (recorded in changes) and forgets it;
    // false when there is none.
    bool takePointedSupport(support::ShapeDeque* changes);
    support::AbtShape* pointedSupport() const { return m_pointedSupport; }
    void setPointedSupport(support::AbtShape* shape) { m_pointedSupport = shape; }
    void clearPointedSupport() { m_pointedSupport = nullptr; }
    // Drops the container (the drawing frees its buffers on its next paint).
    void deleteSupport();
    // Makes gen (null: none) the object's container. The container it
    // replaces is detached as by deleteSupport (its pending point dropped);
    // the pointed support is forgotten. The commands
    // that share containers put them back this way.
    void setSupportGen(std::shared_ptr<support::SupportGen> gen);
    // Appends every mesh triangle, then every support triangle.
    void collectTriangles(std::vector<topolib::StlTriangle*>& out);

protected:
    // Header copy used by clone.
    ObjectEx(const ObjectEx& other);

private:
    // The warning for a model above the platform that got no cone at all (empty
    // when it stands on the platform or has one).
    std::string floatingWithoutSupportText(const support::SupportGen& supports) const;
    // Starts job on its worker; job 1 first records the selection to restore
    // (set with flag, else the current Selected).
    void startWorker(ObjectCalcThread::Job job, bool flag, const ProgressSink& progress,
                     ObjectCalcThread::Completion done);
    // One job on its worker thread; every finished job leaves the object
    // selected as recorded (a locked object keeps its selection).
    void runJob(ObjectCalcThread::Job job, bool restoreSelection, const ObjectCalcThread& worker,
                const ProgressSink& progress);
    // The import job (worker thread): reads the file, building the octree beside
    // the edge and shell steps of a mesh file; on success sets Loaded. Returns
    // the load result.
    topolib::LoadResult importJob(const ObjectCalcThread& worker, const ProgressSink& progress);
    // True (once) when the import published its octree and the tree is still
    // there: the octree job after the import then has nothing to build.
    bool keepImportOctree();
    // Appends the supports' triangles (nothing without supports).
    void appendSupportTriangles(std::vector<topolib::StlTriangle*>& out);

    std::atomic<bool> m_loaded{false};
    bool m_pointed = false;
    std::atomic<bool> m_locked{false};
    std::atomic<bool> m_selected{true};
    bool m_visible = true;
    bool m_transparency = false;
    bool m_importPending = false;
    // Failure until the import job has ended.
    std::atomic<topolib::LoadResult> m_importResult{topolib::LoadResult::Failure};
    // Set by an import that published the octree it built beside the read; the
    // octree job that follows the import's placement (which only moves the
    // tree's cube) then keeps that tree.
    std::atomic<bool> m_octreeFromImport{false};
    QStringList m_importNotes;
    MeshReadMaker m_makeRead;
    std::shared_ptr<support::SupportGen> m_support;
    support::AbtShape* m_pointedSupport = nullptr;
    MeshStyle m_viewMode = MeshStyle::Filled;
    std::array<float, 3> m_shade{{kDefaultShade[0], kDefaultShade[1], kDefaultShade[2]}};
    float m_transparentValue = 1.0f;
    QString m_name;
    std::wstring m_filePath;
    // Serialises clone; a QMutex takes no memory of its own until it is contended.
    QMutex m_cloneMutex;
    // Worker i serves job i; made by the GUI thread when its job first starts.
    std::array<std::unique_ptr<ObjectCalcThread>, kWorkerCount> m_workers;
    topolib::Matrix4D m_transform;
    quint64 m_serial;
    static std::atomic<quint64> s_geometryChanges;
};

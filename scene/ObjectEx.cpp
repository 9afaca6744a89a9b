#include "scene/ObjectEx.h"

#include "app/Log.h"
#include "app/ProgressReport.h"
#include "fileIo/MeshFileLoad.h"
#include "topolib/OctreeBeside.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <QMutex>
#include <QMutexLocker>

#include <mutex>
#include <new>
#include <utility>

namespace {
std::atomic<quint64> g_nextSerial{1};

// An import's monitor: it reports into the file's slot of the batch and asks
// the read to stop once the worker is asked to (the object is deleted, or
// another job takes the worker).
class WorkerMonitor : public ProgressMonitor {
public:
    WorkerMonitor(const ProgressMonitor& slot, const ObjectCalcThread& worker)
        : m_slot(slot), m_worker(worker) {}
    void start(ProgressText stage, const std::wstring& name) const override { m_slot.start(stage, name); }
    void report(double fraction) const override { m_slot.report(fraction); }
    bool stopRequested() const override { return m_worker.stopRequested() || m_slot.stopRequested(); }
    void end() const override { m_slot.end(); }

private:
    const ProgressMonitor& m_slot;
    const ObjectCalcThread& m_worker;
};
} // namespace

std::atomic<quint64> ObjectEx::s_geometryChanges{0};

ObjectEx::ObjectEx() : m_serial(g_nextSerial.fetch_add(1)) {}

ObjectEx::ObjectEx(const ObjectEx& other)
    : topolib::StlObject(other), m_visible(other.m_visible), m_transparency(other.m_transparency),
      m_viewMode(other.m_viewMode), m_shade(other.m_shade), m_transparentValue(other.m_transparentValue),
      m_name(other.m_name), m_serial(g_nextSerial.fetch_add(1)) {}

ObjectEx::~ObjectEx() {
    // Jobs are asked to stop and waited for; a job is never killed, so the mesh
    // is never released under a running worker.
    requestStopJobs();
    waitForJobs();
    for (auto& worker : m_workers)
        worker.reset();
    m_support.reset();
}

ObjectEx* ObjectEx::clone(int newId, bool copyMesh, bool copyOctree, const topolib::AppendRoom& room) {
    QMutexLocker lock(&m_cloneMutex);
    waitForJobs();
    auto* copy = new ObjectEx(*this);
    copy->setId(newId);
    copy->setBoundingBox(bboxMin(), bboxMax());
    if (copyMesh) {
        // The copy takes the edges and the octree with the records.
        copyMeshTo(copy, room);
        if (!copyOctree)
            copy->releaseOctree();
    }
    return copy;
}

void ObjectEx::setFilePath(const std::wstring& path) {
    if (&path != &m_filePath)
        m_filePath = path;
    startImport(ProgressSink(), ObjectCalcThread::Completion());
}

void ObjectEx::startImport(const ProgressSink& progress, ObjectCalcThread::Completion done) {
    startWorker(ObjectCalcThread::Job::Import, false, progress, std::move(done));
}

void ObjectEx::setSelected(bool on) {
    if (!isLocked())
        m_selected.store(on);
}

void ObjectEx::setTransparent(bool on) {
    m_transparency = on;
    m_transparentValue = on ? 0.35f : 1.0f;
}

QColor ObjectEx::color() const {
    return QColor(int(m_shade[0] * 255.0f), int(m_shade[1] * 255.0f), int(m_shade[2] * 255.0f), 255);
}

void ObjectEx::setColor(const QColor& c) {
    m_shade = {float(c.red() / 255.0), float(c.green() / 255.0), float(c.blue() / 255.0)};
}

// Every job names a worker of its own.
static_assert(ObjectCalcThread::workerIndex(ObjectCalcThread::Job::BuildOctree) <
                  size_t(ObjectEx::kWorkerCount),
              "a job without a worker");

int ObjectEx::startJob(ObjectCalcThread::Job job, bool flag) {
    startWorker(job, flag, ProgressSink(), ObjectCalcThread::Completion());
    return 0;
}

void ObjectEx::startWorker(ObjectCalcThread::Job job, bool flag, const ProgressSink& progress,
                           ObjectCalcThread::Completion done) {
    std::unique_ptr<ObjectCalcThread>& slot = m_workers[ObjectCalcThread::workerIndex(job)];
    if (!slot)
        slot = std::make_unique<ObjectCalcThread>();
    ObjectCalcThread& worker = *slot;
    // The earlier run of this job must end before the selection is read.
    if (worker.isRunning())
        worker.requestStop();
    worker.waitForJob();
    const bool restoreSelection = job != ObjectCalcThread::Job::Select || flag || isSelected();
    worker.start([this, job, restoreSelection,
                  progress](const ObjectCalcThread& self) { runJob(job, restoreSelection, self, progress); },
                 std::move(done));
}

void ObjectEx::runJob(ObjectCalcThread::Job job, bool restoreSelection, const ObjectCalcThread& worker,
                      const ProgressSink& progress) {
    // A job that runs out of memory ends there; the program goes on.
    try {
        switch (job) {
        case ObjectCalcThread::Job::Import:
            importJob(worker, progress);
            break;
        case ObjectCalcThread::Job::RebuildOctree:
            if (!worker.stopRequested()) {
                computeBoundingBox();
                setBoundingBox(bboxMin(), bboxMax());
                rebuildOctree();
            }
            break;
        case ObjectCalcThread::Job::BuildOctree:
            if (!worker.stopRequested() && !keepImportOctree())
                buildOctree();
            break;
        default:
            break;
        }
    } catch (const std::bad_alloc&) {
        if (job != ObjectCalcThread::Job::Import) {
            releaseOctree(); // picking goes without it
        } else if (m_loaded.load()) {
            m_importResult.store(topolib::LoadResult::Success); // only its last log lines failed
        } else {
            // Refused as an import the memory check refused.
            releaseMesh();
            m_importResult.store(topolib::LoadResult::NotEnoughMemory);
        }
        logText("Not enough memory: the job of worker ", false);
        logInt(int(ObjectCalcThread::workerIndex(job)));
    }
    if (!isLocked())
        setSelectedByWorker(restoreSelection);
}

bool ObjectEx::keepImportOctree() {
    if (!m_octreeFromImport.exchange(false))
        return false;
    std::lock_guard<std::mutex> lock(octreeMutex());
    return octree() != nullptr;
}

void ObjectEx::waitForJobs() const {
    for (const auto& worker : m_workers)
        if (worker)
            worker->waitForJob();
}

void ObjectEx::waitForJob(ObjectCalcThread::Job job) const {
    if (const auto& worker = m_workers[ObjectCalcThread::workerIndex(job)])
        worker->waitForJob();
}

void ObjectEx::waitForBoxJobs() const {
    waitForJob(ObjectCalcThread::Job::Import);
    waitForJob(ObjectCalcThread::Job::RebuildOctree);
}

bool ObjectEx::readBox(double min[3], double max[3]) const {
    waitForBoxJobs();
    const double* lo = bboxMin();
    const double* hi = bboxMax();
    if (!(lo[0] <= hi[0] && lo[1] <= hi[1] && lo[2] <= hi[2]))
        return false;
    for (int k = 0; k < 3; ++k) {
        min[k] = lo[k];
        max[k] = hi[k];
    }
    return true;
}

void ObjectEx::requestStopJobs() {
    for (auto& worker : m_workers)
        if (worker && worker->isRunning())
            worker->requestStop();
}

topolib::LoadResult ObjectEx::importJob(const ObjectCalcThread& worker, const ProgressSink& progress) {
    logText("----- Import object: begin -----");
    logText("Object name:", false);
    logWString(m_filePath, true);
    m_loaded.store(false);
    // Deleting the object raises the stop flag before it waits for this job:
    // the reader then gives up within one block of records.
    using topolib::LoadResult;
    LoadResult result = LoadResult::Cancelled;
    m_importNotes.clear();
    m_octreeFromImport.store(false);
    if (!worker.stopRequested()) {
        // The octree is built on threads of its own while the edges and shells
        // are; a cancelled or failed import joins it and drops it.
        const WorkerMonitor monitor(progress, worker);
        std::unique_ptr<topolib::OctreeBeside> tree;
        const SideWork beside{[this, &tree, &monitor] {
                                  try {
                                      tree = std::make_unique<topolib::OctreeBeside>(*this, &monitor);
                                  } catch (const std::bad_alloc&) {
                                  }
                              },
                              [&tree] {
                                  if (tree)
                                      tree->join();
                              }};
        std::unique_ptr<fileIo::MeshFileRead> read = m_makeRead ? m_makeRead() : nullptr;
        const fileIo::LoadOutcome outcome =
            fileIo::loadMeshFile(*this, m_filePath, {&monitor, &beside, read.get()});
        result = outcome.result;
        if (result == LoadResult::Success && tree && tree->publish(*this))
            m_octreeFromImport.store(true);
        for (const std::string& note : outcome.notes)
            m_importNotes.push_back(QString::fromStdString(note));
        if (result == LoadResult::Failure && m_importNotes.isEmpty())
            m_importNotes.push_back(QString::fromUtf8(fileIo::readFailureText(outcome.failure)));
    }
    if (result == LoadResult::Success) {
        m_loaded.store(true);
        logInt(int(facetCount()), "Number triangle: ");
        logInt(int(vertexCount()), "Number Vertex: ");
    } else if (result == LoadResult::NotEnoughMemory) {
        logText("NOT ENOUGH MEMORY TO OPEN THIS OBJECT!");
    } else if (result == LoadResult::Cancelled) {
        logText("Load object cancelled");
    } else {
        logText("Load object fail!");
    }
    logText("----- Import object: end ----- ");
    logText("");
    m_importResult.store(result);
    return result;
}

void ObjectEx::translate(const double offset[3]) {
    waitForJobs();
    logText("----- Translate: begin -----");
    StlObject::translate(offset);
    s_geometryChanges.fetch_add(1);
    deleteSupport();
    logText("----- Translate: end ----- ");
    logText("");
    resetTransform();
}

void ObjectEx::rotateByMatrix(const topolib::Matrix4D* m) {
    waitForJobs();
    logText("----- Rotate by matrix: begin -----");
    const topolib::Matrix4D matrix = m ? *m : m_transform;
    for (topolib::StlVertex* v : vertices())
        v->transform(matrix.m);
    s_geometryChanges.fetch_add(1);
    for (topolib::StlTriangle* t : triangles())
        t->computeNormal();
    setModified();
    invalidateZSlabIndex(false);
    startJob(ObjectCalcThread::Job::RebuildOctree, false);
    deleteSupport();
    resetTransform();
    logText("----- Rotate by matrix: end ----- ");
    logText("");
}

void ObjectEx::turnByMatrix(const topolib::Matrix4D& m) {
    // The factor per axis before the turn; 0 where there is none to keep (a flat axis).
    double factor[3] = {0.0, 0.0, 0.0};
    double min[3], max[3];
    if (readBox(min, max))
        for (int k = 0; k < 3; ++k) {
            const double loaded = loadedBoxMax()[k] - loadedBoxMin()[k];
            const double size = max[k] - min[k];
            if (loaded > 0.0 && size > 0.0)
                factor[k] = size / loaded;
        }
    rotateByMatrix(&m);
    if (!readBox(min, max))
        return;
    double loadedMax[3];
    for (int k = 0; k < 3; ++k)
        loadedMax[k] = min[k] + (factor[k] > 0.0 ? (max[k] - min[k]) / factor[k] : max[k] - min[k]);
    setLoadedBox(min, loadedMax);
}

void ObjectEx::keepEntrySize() {
    double min[3], max[3];
    if (!hasLoadedBox() && readBox(min, max))
        setLoadedBox(min, max);
}

void ObjectEx::collectTriangles(std::vector<topolib::StlTriangle*>& out) {
    waitForJobs();
    out.reserve(out.size() + triangleCount());
    for (topolib::StlTriangle* t : triangles())
        if (t && !t->isDeleted())
            out.push_back(t);
    appendSupportTriangles(out);
}

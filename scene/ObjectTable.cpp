// The object list itself: membership, numbering, import batches and placement.
#include "scene/ObjectTable.h"

#include "app/ProgressReport.h"
#include "scene/ImportProgress.h"
#include "scene/ObjectEx.h"
#include "scene/SceneHost.h"

#include "fileIo/PathEncoding.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

// One import batch: the serials of its objects in file order (failed and
// forgotten ones taken out) and the objects whose import has not been placed
// yet. Placed objects are known by serial only: the batch never owns them,
// and one of them may be deleted (by a scene reset or by a command that took
// it out of the list) before the batch ends.
struct ObjectTable::ImportBatch {
    std::vector<quint64> objects;
    std::vector<ObjectEx*> pending;
    bool signalled = false;
    // The batch's one progress: a slot per file, in file order.
    std::vector<quint64> files;
    std::shared_ptr<ImportProgress> progress;
    std::wstring title;
    bool showsProgress = false;
};

namespace {

template <typename T> bool eraseValue(T& container, ObjectEx* obj) {
    auto it = std::find(container.begin(), container.end(), obj);
    if (it == container.end())
        return false;
    container.erase(it);
    return true;
}

void eraseSerial(std::vector<quint64>& serials, quint64 serial) {
    serials.erase(std::remove(serials.begin(), serials.end(), serial), serials.end());
}

size_t fileSlot(const std::vector<quint64>& files, quint64 serial) {
    return size_t(std::find(files.begin(), files.end(), serial) - files.begin());
}

// The file name without its last extension ("part.old.stl" gives "part.old").
QString objectNameForFile(const QString& file) {
    const QString fileName = QFileInfo(file).fileName();
    if (!fileName.contains(QLatin1Char('.')))
        return fileName;
    QStringList parts = fileName.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    parts.removeLast();
    return parts.join(QLatin1Char('.'));
}

// What the progress dialog names a batch by: the file's path for one file,
// the file names for several.
std::wstring batchTitle(const QStringList& files) {
    if (files.size() == 1)
        return files.front().toStdWString();
    QStringList names;
    for (const QString& file : files)
        names << QFileInfo(file).fileName();
    return names.join(QStringLiteral(", ")).toStdWString();
}

} // namespace

ObjectTable* ObjectTable::instance() {
    static ObjectTable* table = new ObjectTable();
    return table;
}

ObjectTable::ObjectTable(QObject* parent) : QObject(parent) {}

void ObjectTable::postImportFinished(quint64 serial) {
    {
        std::lock_guard<std::mutex> lock(m_handOffMutex);
        m_endedImports.push_back(serial);
    }
    wakeGuiThread();
}

void ObjectTable::wakeGuiThread() {
    std::lock_guard<std::mutex> lock(m_handOffMutex);
    if (m_wakePending)
        return;
    // Pending only once posted: posting can run out of memory.
    QMetaObject::invokeMethod(this, "handleWorkerNews", Qt::QueuedConnection);
    m_wakePending = true;
}

void ObjectTable::handleWorkerNews() {
    std::vector<quint64> ended;
    {
        std::lock_guard<std::mutex> lock(m_handOffMutex);
        ended.swap(m_endedImports);
        m_wakePending = false;
    }
    for (quint64 serial : ended)
        onImportFinished(serial);
    // Last: reporting lets the dialog process events, in which further news
    // may be handled.
    showBatchProgress(false);
}

void ObjectTable::showBatchProgress(bool start) {
    if (m_batches.empty())
        return;
    const std::shared_ptr<ImportBatch> batch = m_batches.front();
    const ProgressSink dialog;
    if (start || !batch->showsProgress) {
        batch->showsProgress = true;
        dialog.setText(ProgressText::ImportingObject, batch->title);
    }
    // Showing the dialog runs events, in which the whole batch may have been
    // placed and its dialog closed: a percentage now would open it again.
    if (batch->signalled)
        return;
    const std::optional<int> value = batch->progress->takeRise();
    if (value && *value > 0)
        dialog.setPercent(*value);
}

ObjectTable::~ObjectTable() {
    deleteAllObjects();
}

ObjectEx* ObjectTable::objectAt(int index) const {
    return index >= 0 && index < count() ? m_objects[size_t(index)] : nullptr;
}

int ObjectTable::indexOf(const ObjectEx* obj) const {
    auto it = std::find(m_objects.begin(), m_objects.end(), obj);
    return it == m_objects.end() ? -1 : int(it - m_objects.begin());
}

void ObjectTable::renumberFrom(int index) {
    for (int i = std::max(index, 0); i < count(); ++i)
        m_objects[size_t(i)]->setId(i);
}

void ObjectTable::addObject(ObjectEx* obj) {
    if (!obj || contains(obj))
        return;
    obj->setId(count());
    m_objects.push_back(obj);
    if (obj->isPointed())
        setPointedObject(obj->id());
}

void ObjectTable::deleteAllObjects() {
    std::vector<ObjectEx*> doomed;
    doomed.swap(m_objects);
    m_conePreviewObject = nullptr;
    m_viewMode = MeshStyle::Filled;
    for (ObjectEx* obj : doomed) {
        if (!obj->isReady())
            forgetImport(obj);
        delete obj;
    }
}

// ---- Import ---------------------------------------------------------------------

void ObjectTable::importObjects(const QStringList& files) {
    if (files.isEmpty())
        return;
    auto batch = std::make_shared<ImportBatch>();
    batch->progress = ImportProgress::create(size_t(files.size()), [this] { wakeGuiThread(); });
    batch->title = batchTitle(files);
    for (const QString& file : files) {
        auto* obj = new ObjectEx();
        obj->setName(objectNameForFile(file));
        obj->setId(count());
        obj->setImportPending(true);
        obj->storeFilePath(fileIo::pathFromQString(file));
        obj->setMeshReadMaker(m_makeRead);
        m_objects.push_back(obj);
        batch->objects.push_back(obj->serial());
        batch->files.push_back(obj->serial());
        batch->pending.push_back(obj);
        m_waitingImports.push_back(obj);
    }
    m_modified = true;
    m_batches.push_back(batch);
    startWaitingImports();
    if (m_batches.front() == batch)
        showBatchProgress(true);
}

bool ObjectTable::importsRunning() const {
    return !m_waitingImports.empty() || !m_runningImports.empty();
}

void ObjectTable::startWaitingImports() {
    // One file per core at most: each reader's memory check then sees the
    // memory that the readers already running have taken.
    const size_t limit = size_t(std::max(1, QThread::idealThreadCount()));
    while (m_runningImports.size() < limit && !m_waitingImports.empty()) {
        ObjectEx* obj = m_waitingImports.front();
        m_waitingImports.pop_front();
        m_runningImports.push_back(obj);
        ProgressSink progress;
        if (std::shared_ptr<ImportBatch> batch = batchOf(obj))
            progress = batch->progress->sinkForFile(fileSlot(batch->files, obj->serial()));
        const quint64 serial = obj->serial();
        obj->startImport(progress, [this, serial] { postImportFinished(serial); });
    }
}

std::shared_ptr<ObjectTable::ImportBatch> ObjectTable::batchOf(const ObjectEx* obj) const {
    for (const auto& batch : m_batches)
        if (std::find(batch->objects.begin(), batch->objects.end(), obj->serial()) != batch->objects.end())
            return batch;
    return nullptr;
}

void ObjectTable::forgetImport(ObjectEx* obj) {
    eraseValue(m_waitingImports, obj);
    const bool wasRunning = eraseValue(m_runningImports, obj);
    if (std::shared_ptr<ImportBatch> batch = batchOf(obj)) {
        batch->progress->finishFile(fileSlot(batch->files, obj->serial()));
        eraseSerial(batch->objects, obj->serial());
        eraseValue(batch->pending, obj);
        if (batch->pending.empty())
            QMetaObject::invokeMethod(
                this, [this, batch] { finishBatchIfDone(batch); }, Qt::QueuedConnection);
    }
    if (wasRunning)
        QMetaObject::invokeMethod(
            this, [this] { startWaitingImports(); }, Qt::QueuedConnection);
}

void ObjectTable::finishBatchIfDone(const std::shared_ptr<ImportBatch>& batch) {
    if (batch->signalled || !batch->pending.empty())
        return;
    batch->signalled = true;
    // The dialog closes once, when the batch that showed it has ended.
    if (batch->showsProgress)
        ProgressSink().finish();
    m_batches.erase(std::remove(m_batches.begin(), m_batches.end(), batch), m_batches.end());
    // Only the batch's objects still in the list: one that a command took out
    // after it was placed (an unload, a hollowing that replaced it) belongs to
    // that command, and one deleted by a scene reset is gone.
    m_finishedBatch.clear();
    for (quint64 serial : batch->objects) {
        auto it = std::find_if(m_objects.begin(), m_objects.end(),
                               [serial](const ObjectEx* o) { return o->serial() == serial; });
        if (it != m_objects.end())
            m_finishedBatch.push_back(*it);
    }
    emit allObjectImported();
    m_finishedBatch.clear();
    // A batch started while this one ran shows its progress now.
    if (batch->showsProgress && !m_batches.empty() && !m_batches.front()->showsProgress)
        showBatchProgress(true);
}

void ObjectTable::onImportFinished(quint64 serial) {
    // The object is matched by its serial: an object that left the list (and
    // maybe was deleted) since its import started is simply not found.
    auto it = std::find_if(m_runningImports.begin(), m_runningImports.end(),
                           [serial](const ObjectEx* o) { return o->serial() == serial; });
    if (it == m_runningImports.end())
        return;
    ObjectEx* obj = *it;
    m_runningImports.erase(it);
    obj->worker(ObjectCalcThread::Job::Import)->waitForJob();
    std::shared_ptr<ImportBatch> batch = batchOf(obj);
    if (batch)
        batch->progress->finishFile(fileSlot(batch->files, serial));
    const topolib::LoadResult result = obj->importResult();
    // The reader's findings follow the message, after the file's name.
    const QString file = QFileInfo(fileIo::pathToQString(obj->filePath())).fileName();
    const QString notes = obj->importNotes().join(QLatin1Char(' '));
    QString failure;
    if (result == topolib::LoadResult::Success) {
        if (!notes.isEmpty())
            failure = file + QStringLiteral(": ") + notes;
        placeObject(obj);
        obj->setImportPending(false);
        if (batch)
            eraseValue(batch->pending, obj);
        obj->startJob(ObjectCalcThread::Job::BuildOctree, false);
    } else {
        // A cancelled read was stopped by the user's own action: no message.
        if (result == topolib::LoadResult::NotEnoughMemory)
            failure = QStringLiteral("NOT ENOUGH MEMORY TO OPEN THIS OBJECT!");
        else if (result != topolib::LoadResult::Cancelled)
            failure = QStringLiteral("Load object fail!\n") + file + QStringLiteral(": ") + notes;
        if (batch) {
            eraseSerial(batch->objects, obj->serial());
            eraseValue(batch->pending, obj);
        }
        const int index = indexOf(obj);
        if (index >= 0) {
            // The object never took part in anything; it leaves without a trace.
            m_objects.erase(m_objects.begin() + index);
            renumberFrom(index);
        }
        delete obj;
    }
    startWaitingImports();
    // The message box runs an event loop in which further imports may end;
    // the bookkeeping above is complete before it opens.
    if (!failure.isEmpty())
        sceneHost()->showMessage(failure, SceneMessage::Warning, SceneMessage::Ok, SceneMessage::Ok);
    if (batch)
        finishBatchIfDone(batch);
}

// ---- Placement ------------------------------------------------------------------

namespace {

bool footprintsOverlap(const double aMin[2], const double aMax[2], const double bMin[2],
                       const double bMax[2]) {
    return aMin[0] < bMax[0] && aMin[1] < bMax[1] && bMin[0] < aMax[0] && bMin[1] < aMax[1];
}

} // namespace

void ObjectTable::placeObject(ObjectEx* obj) {
    double omin[3], omax[3];
    if (!obj->readBox(omin, omax))
        return;
    // Every other placed object; an object still importing has no place yet.
    struct Footprint {
        double min[2], max[2];
    };
    std::vector<Footprint> placed;
    for (ObjectEx* other : m_objects) {
        double bmin[3], bmax[3];
        if (other == obj || !other->isReady() || !other->readBox(bmin, bmax))
            continue;
        placed.push_back({{bmin[0], bmin[1]}, {bmax[0], bmax[1]}});
    }
    double offset[3];
    if (placed.empty()) {
        double volume[3];
        sceneHost()->getBuildVolume(volume);
        offset[0] = volume[0] * 0.5 - (omin[0] + omax[0]) * 0.5;
        offset[1] = volume[1] * 0.5 - (omin[1] + omax[1]) * 0.5;
    } else {
        const double w = omax[0] - omin[0];
        const double d = omax[1] - omin[1];
        double corner[2] = {0.0, 0.0};
        bool found = false;
        for (const Footprint& a : placed) {
            const double candidates[4][2] = {{a.max[0] + 3.0, a.min[1]},
                                             {a.min[0], a.max[1] + 3.0},
                                             {a.min[0] - w - 3.0, a.min[1]},
                                             {a.min[0], a.min[1] - d - 3.0}};
            for (const auto& c : candidates) {
                corner[0] = c[0];
                corner[1] = c[1];
                const double cmax[2] = {c[0] + w, c[1] + d};
                const bool free = std::none_of(placed.begin(), placed.end(), [&](const Footprint& b) {
                    return footprintsOverlap(corner, cmax, b.min, b.max);
                });
                if (free) {
                    found = true;
                    break;
                }
            }
            if (found)
                break;
        }
        // With no free candidate the last one tried is used.
        offset[0] = corner[0] - omin[0];
        offset[1] = corner[1] - omin[1];
    }
    offset[2] = -omin[2];
    // A place beside a very large object may lie beyond the coordinate limit:
    // the object is shifted back inside it (an imported object fits in it).
    const double limit = topolib::kMaxImportCoordinate;
    for (int k = 0; k < 2; ++k)
        offset[k] = std::max(std::min(offset[k], limit - omax[k]), -limit - omin[k]);
    obj->translate(offset);
}

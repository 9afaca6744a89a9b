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
#include <cassert>
#include <unordered_map>

// One import batch: the serials of its objects (failed and forgotten ones
// taken out) and the objects whose import has not been placed yet. Placed
// objects are known by serial only: the batch never owns them, and one of
// them may be deleted (by a scene reset or by a command that took it out of
// the list) before the batch ends. Sets and maps, not lists: a batch may
// hold thousands of files, each looked up as its import ends.
struct ObjectTable::ImportBatch {
    std::unordered_set<quint64> objects;
    std::unordered_set<const ObjectEx*> pending;
    bool signalled = false;
    // The batch's one progress: a slot per file, in file order.
    std::vector<quint64> files;
    std::unordered_map<quint64, size_t> fileSlots;
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

// The file name without its last extension ("part.old.stl" gives "part.old").
QString objectNameForFile(const QString& file) {
    const QString fileName = QFileInfo(file).fileName();
    if (!fileName.contains(QLatin1Char('.')))
        return fileName;
    QStringList parts = fileName.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    parts.removeLast();
    return parts.join(QLatin1Char('.'));
}

// Why a model read whole cannot be placed: standing on the platform it would
// reach beyond the coordinate limit.
QString beyondLimitText(const ObjectEx& obj) {
    double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    obj.readBox(min, max);
    return QCoreApplication::translate(
               "ObjectTable", "the model is %1 × %2 × %3 mm: placed on the platform it would reach beyond "
                              "the coordinate limit of ±%4 mm.")
        .arg(max[0] - min[0], 0, 'g', 7)
        .arg(max[1] - min[1], 0, 'g', 7)
        .arg(max[2] - min[2], 0, 'g', 7)
        .arg(double(topolib::kMaxImportCoordinate), 0, 'f', 0);
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
    // An object of the list sits at its id (the list numbers them), so
    // membership is one look, also for the many objects a project adds.
    const int id = obj ? obj->id() : -1;
    const int index = id >= 0 && id < count() && m_objects[size_t(id)] == obj ? id : -1;
    assert(index == int(std::find(m_objects.begin(), m_objects.end(), obj) - m_objects.begin()) ||
           (index < 0 && std::find(m_objects.begin(), m_objects.end(), obj) == m_objects.end()));
    return index;
}

void ObjectTable::renumberFrom(int index) {
    // The placed objects' positions in the list may have moved.
    m_placementStale = true;
    for (int i = std::max(index, 0); i < count(); ++i)
        m_objects[size_t(i)]->setId(i);
}

void ObjectTable::admit(ObjectEx* obj) {
    obj->keepEntrySize();
}

void ObjectTable::addObject(ObjectEx* obj) {
    if (!obj || contains(obj))
        return;
    admit(obj);
    obj->setId(count());
    m_objects.push_back(obj);
    m_placementStale = true;
    if (obj->isPointed())
        setPointedObject(obj->id());
}

void ObjectTable::deleteAllObjects() {
    std::vector<ObjectEx*> doomed;
    doomed.swap(m_objects);
    m_placement = PlacementIndex();
    m_placedSerials.clear();
    m_placementStale = true;
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
        batch->objects.insert(obj->serial());
        batch->fileSlots.emplace(obj->serial(), batch->files.size());
        batch->files.push_back(obj->serial());
        batch->pending.insert(obj);
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
            progress = batch->progress->sinkForFile(batch->fileSlots.at(obj->serial()));
        const quint64 serial = obj->serial();
        obj->startImport(progress, [this, serial] { postImportFinished(serial); });
    }
}

std::shared_ptr<ObjectTable::ImportBatch> ObjectTable::batchOf(const ObjectEx* obj) const {
    for (const auto& batch : m_batches)
        if (batch->objects.count(obj->serial()))
            return batch;
    return nullptr;
}

void ObjectTable::forgetImport(ObjectEx* obj) {
    eraseValue(m_waitingImports, obj);
    const bool wasRunning = eraseValue(m_runningImports, obj);
    if (std::shared_ptr<ImportBatch> batch = batchOf(obj)) {
        batch->progress->finishFile(batch->fileSlots.at(obj->serial()));
        batch->objects.erase(obj->serial());
        batch->pending.erase(obj);
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
    std::unordered_map<quint64, ObjectEx*> listed;
    for (ObjectEx* o : m_objects)
        if (batch->objects.count(o->serial()))
            listed.emplace(o->serial(), o);
    for (quint64 serial : batch->files) {
        const auto it = listed.find(serial);
        if (it != listed.end())
            m_finishedBatch.push_back(it->second);
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
    obj->waitForJob(ObjectCalcThread::Job::Import);
    std::shared_ptr<ImportBatch> batch = batchOf(obj);
    if (batch)
        batch->progress->finishFile(batch->fileSlots.at(serial));
    const topolib::LoadResult result = obj->importResult();
    // The reader's findings follow the message, after the file's name.
    const QString file = QFileInfo(fileIo::pathToQString(obj->filePath())).fileName();
    const QString notes = obj->importNotes().join(QLatin1Char(' '));
    QString failure;
    if (result == topolib::LoadResult::Success)
        admit(obj);
    const bool placed = result == topolib::LoadResult::Success && placeObject(obj);
    if (placed) {
        if (!notes.isEmpty())
            failure = file + QStringLiteral(": ") + notes;
        obj->setImportPending(false);
        if (batch)
            batch->pending.erase(obj);
        obj->startJob(ObjectCalcThread::Job::BuildOctree, false);
    } else {
        // A model read whole may still have no place within the coordinate
        // limit. A cancelled read was stopped by the user's own action: no
        // message.
        if (result == topolib::LoadResult::Success)
            failure =
                QStringLiteral("Load object fail!\n") + file + QStringLiteral(": ") + beyondLimitText(*obj);
        else if (result == topolib::LoadResult::NotEnoughMemory)
            failure = QStringLiteral("NOT ENOUGH MEMORY TO OPEN THIS OBJECT!");
        else if (result != topolib::LoadResult::Cancelled)
            failure = QStringLiteral("Load object fail!\n") + file + QStringLiteral(": ") + notes;
        if (batch) {
            batch->objects.erase(obj->serial());
            batch->pending.erase(obj);
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

void ObjectTable::syncPlacementIndex(const ObjectEx* placing) {
    if (!m_placementStale && m_placementChanges == ObjectEx::geometryChanges() &&
        !m_placedSerials.count(placing->serial()))
        return;
    m_placement = PlacementIndex();
    m_placedSerials.clear();
    // Every other placed object; an object still importing has no place yet.
    for (size_t i = 0; i < m_objects.size(); ++i) {
        ObjectEx* other = m_objects[i];
        double bmin[3], bmax[3];
        if (other == placing || !other->isReady() || !other->readBox(bmin, bmax))
            continue;
        m_placement.add(int64_t(i), {{bmin[0], bmin[1]}, {bmax[0], bmax[1]}});
        m_placedSerials.insert(other->serial());
    }
    m_placementStale = false;
    m_placementChanges = ObjectEx::geometryChanges();
}

bool ObjectTable::placeObject(ObjectEx* obj) {
    double omin[3], omax[3];
    if (!obj->readBox(omin, omax))
        return true;
    syncPlacementIndex(obj);
    double offset[3];
    if (m_placement.empty()) {
        double volume[3];
        sceneHost()->getBuildVolume(volume);
        offset[0] = volume[0] * 0.5 - (omin[0] + omax[0]) * 0.5;
        offset[1] = volume[1] * 0.5 - (omin[1] + omax[1]) * 0.5;
    } else {
        const std::array<double, 2> corner = m_placement.findCorner(omax[0] - omin[0], omax[1] - omin[1]);
        offset[0] = corner[0] - omin[0];
        offset[1] = corner[1] - omin[1];
    }
    offset[2] = -omin[2];
    // A place beside a very large object may lie beyond the coordinate limit:
    // the object is shifted back inside it (an imported object fits in it
    // across). Standing on the platform, a model taller than the limit does not.
    const double limit = topolib::kMaxImportCoordinate;
    for (int k = 0; k < 2; ++k)
        offset[k] = std::max(std::min(offset[k], limit - omax[k]), -limit - omin[k]);
    for (int k = 0; k < 3; ++k)
        if (!(std::fabs(omin[k] + offset[k]) <= limit && std::fabs(omax[k] + offset[k]) <= limit))
            return false;
    const quint64 changes = ObjectEx::geometryChanges();
    obj->translate(offset);
    // The object now counts as placed; the index takes it unless something
    // else moved meanwhile.
    double bmin[3], bmax[3];
    const int position = indexOf(obj);
    if (!m_placementStale && ObjectEx::geometryChanges() == changes + 1 && position >= 0 &&
        obj->readBox(bmin, bmax)) {
        m_placement.add(position, {{bmin[0], bmin[1]}, {bmax[0], bmax[1]}});
        m_placedSerials.insert(obj->serial());
        m_placementChanges = ObjectEx::geometryChanges();
    } else {
        m_placementStale = true;
    }
    return true;
}

#include "scene/ObjectCalcThread.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"

#include <cassert>

ObjectCalcThread::~ObjectCalcThread() {
    requestStop();
    waitForJob();
}

void ObjectCalcThread::setOwner(ObjectEx* owner, QMutex* sharedMutex) {
    m_owner = owner;
    m_sharedMutex = sharedMutex;
}

void ObjectCalcThread::waitForJob() {
    assert(!m_thread.joinable() || m_thread.get_id() != std::this_thread::get_id());
    if (m_thread.joinable())
        m_thread.join();
}

int ObjectCalcThread::startJob(int job, bool flag) {
    if (!m_owner)
        return 0;
    // The earlier job must end first, or the new one would be lost.
    if (isRunning())
        requestStop();
    waitForJob();
    if (job == SelectJob)
        m_restoreSelection.store(flag ? 1 : (m_owner->isSelected() ? 1 : 0));
    m_job.store(job);
    m_stop.store(false);
    m_finished.store(false);
    m_thread = std::thread([this] { run(); });
    return 0;
}

void ObjectCalcThread::run() {
    ObjectEx* owner = m_owner;
    switch (m_job.load()) {
    case ImportJob:
        owner->importJob(this);
        ObjectTable::postImportFinished(owner->serial());
        break;
    case RebuildOctreeJob:
        if (!stopRequested()) {
            owner->computeBoundingBox();
            owner->setBoundingBox(owner->bboxMin(), owner->bboxMax());
            owner->rebuildOctree();
        }
        break;
    case BuildOctreeJob:
        if (!stopRequested()) {
            owner->buildOctree();
        }
        break;
    default:
        break;
    }
    // Every finished job leaves its object selected unless job 1 recorded
    // otherwise; a locked object keeps its selection.
    if (!owner->isLocked())
        owner->setSelectedByWorker(m_restoreSelection.load() != 0);
    m_finished.store(true);
}

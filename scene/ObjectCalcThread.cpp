#include "scene/ObjectCalcThread.h"

#include "scene/ObjectEx.h"

ObjectCalcThread::ObjectCalcThread(QObject* parent) : QThread(parent) {}

ObjectCalcThread::~ObjectCalcThread() {
    requestStop();
    wait();
}

void ObjectCalcThread::setOwner(ObjectEx* owner, QMutex* sharedMutex) {
    m_owner = owner;
    m_sharedMutex = sharedMutex;
}

int ObjectCalcThread::startJob(int job, bool flag) {
    if (!m_owner)
        return 0;
    Q_ASSERT(QThread::currentThread() != this);
    // The earlier job must end first: QThread::start does nothing on a running
    // thread, and the new job would be lost.
    if (isRunning()) {
        requestStop();
        wait();
    }
    if (job == SelectJob)
        m_restoreSelection.store(flag ? 1 : (m_owner->isSelected() ? 1 : 0));
    m_job.store(job);
    start();
    return 0;
}

void ObjectCalcThread::run() {
    m_stop.store(false);
    ObjectEx* owner = m_owner;
    switch (m_job.load()) {
    case ImportJob:
        owner->importJob(this);
        emit importFinished(owner->serial());
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
            owner->buildVertexOctree(false);
            owner->buildTriangleOctree();
        }
        break;
    default:
        break;
    }
    // Every finished job leaves its object selected unless job 1 recorded
    // otherwise; a locked object keeps its selection.
    if (!owner->isLocked())
        owner->setSelectedByWorker(m_restoreSelection.load() != 0);
    emit calcCompleted();
}

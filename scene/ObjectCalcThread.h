#pragma once
// One worker thread of a scene object. Each object has nine; worker i serves
// job i. Jobs: 0 import the object's file, 5 recompute the bounding box and
// rebuild the octree (after a transform was baked), 7 build the octrees (after
// an import was placed); every other job does nothing.
//
// A job is never lost: startJob on a busy worker asks the running job to stop
// and waits until it has ended before starting the new one. Jobs stop
// cooperatively (stopRequested); nothing is ever terminated. Only the GUI
// thread starts jobs and waits for them.
//
// The worker is a plain std::thread and talks to the GUI thread only through
// the object list's completion queue (ObjectTable::postImportFinished), so the
// hand-over of a mesh is a join or a lock that every tool can see.
#include <QtGlobal>

#include <atomic>
#include <thread>

class ObjectEx;
class QMutex;

class ObjectCalcThread {
public:
    enum Job { ImportJob = 0, SelectJob = 1, NoWorkJob = 4, RebuildOctreeJob = 5, BuildOctreeJob = 7 };

    ObjectCalcThread() = default;
    ObjectCalcThread(const ObjectCalcThread&) = delete;
    ObjectCalcThread& operator=(const ObjectCalcThread&) = delete;
    // Asks the running job to stop and waits for it.
    ~ObjectCalcThread();

    // Set by the object's constructors.
    void setOwner(ObjectEx* owner, QMutex* sharedMutex);
    ObjectEx* owner() const { return m_owner; }

    // Starts job on this worker (GUI thread). Job 1 first records the selection
    // to restore: 1 with flag, else the owner's Selected. A running job is asked
    // to stop and waited for. Does nothing without an owner. Returns 0.
    int startJob(int job, bool flag);
    int job() const { return m_job.load(); }
    // Whether a job was started and has not been waited for yet.
    bool isRunning() const { return m_thread.joinable() && !m_finished.load(); }

    // Cooperative stop: set by startJob and by the owner's destruction, cleared
    // when a job starts.
    void requestStop() { m_stop.store(true); }
    bool stopRequested() const { return m_stop.load(); }
    // The flag itself, for readers that look at it while they run.
    const std::atomic<bool>* stopFlag() const { return &m_stop; }

    // Waits until the running job (if any) has ended (GUI thread).
    void waitForJob();

private:
    void run();

    ObjectEx* m_owner = nullptr;
    QMutex* m_sharedMutex = nullptr;
    std::atomic<int> m_restoreSelection{1};
    std::atomic<int> m_job{1};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{true};
    std::thread m_thread;
};

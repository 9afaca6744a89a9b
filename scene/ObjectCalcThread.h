#pragma once
// One worker thread of a scene object. Each object has nine; worker i serves
// job i. Jobs: 0 import the object's file, 5 recompute the bounding box and
// rebuild the octree (after a transform was baked), 7 build the octrees (after
// an import was placed); every other job does nothing. The object decides what
// a job does and hands it to start(); the worker only runs it.
//
// A job is never lost: start on a busy worker asks the running job to stop
// and waits until it has ended before starting the new one. Jobs stop
// cooperatively (stopRequested); nothing is ever terminated. Only the GUI
// thread starts jobs and waits for them.
//
// Each job runs on a std::thread of its own, detached: the thread gives its
// stack back when the job returns, whether or not anyone waits for it. It
// tells whoever started the job that the job has ended through the
// completion callback given to start(), called on the worker thread; the
// hand-over of what the job computed is then waitForJob (which waits for the
// job's end signal) or a lock that every tool can see.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ObjectCalcThread {
public:
    // The job names the worker that runs it: worker i serves job i.
    enum class Job : int { Import = 0, Select = 1, NoWork = 4, RebuildOctree = 5, BuildOctree = 7 };
    static constexpr size_t workerIndex(Job job) { return static_cast<size_t>(job); }
    // The work of one job; it may look at the worker's stop flag while it runs.
    using Task = std::function<void(const ObjectCalcThread& worker)>;
    // Called on the worker thread once the task has returned. When it throws
    // std::bad_alloc it is called again a little later, until it returns: it
    // must not do twice what it did before it threw.
    using Completion = std::function<void()>;

    ObjectCalcThread() = default;
    ObjectCalcThread(const ObjectCalcThread&) = delete;
    ObjectCalcThread& operator=(const ObjectCalcThread&) = delete;
    // Asks the running job to stop and waits for it.
    ~ObjectCalcThread();

    // Runs task on this worker's thread, then done (when set) (GUI thread). A
    // running job is asked to stop and waited for first.
    void start(Task task, Completion done = Completion());
    // Whether a job was started and has not ended yet.
    bool isRunning() const { return !m_finished.load(); }

    // Cooperative stop: set by start and by the owner's destruction, cleared
    // when a job starts.
    void requestStop() { m_stop.store(true); }
    bool stopRequested() const { return m_stop.load(); }

    // Waits until the running job (if any) has ended (GUI thread).
    void waitForJob();

private:
    // Calls done until it returns.
    static void deliver(const Completion& done);

    // The end signal of one job, shared by its thread and the worker: the
    // thread still holds it after the worker is gone.
    struct JobEnd {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{true};
    // The last job's end signal until waitForJob has seen it (GUI thread).
    std::shared_ptr<JobEnd> m_end;
    std::thread::id m_threadId;
};

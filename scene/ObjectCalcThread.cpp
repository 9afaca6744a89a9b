#include "scene/ObjectCalcThread.h"

#include <cassert>
#include <chrono>
#include <mutex>
#include <new>
#include <utility>

ObjectCalcThread::~ObjectCalcThread() {
    requestStop();
    waitForJob();
}

void ObjectCalcThread::waitForJob() {
    if (!m_end)
        return;
    assert(std::this_thread::get_id() != m_threadId);
    {
        std::unique_lock<std::mutex> lock(m_end->mutex);
        m_end->ended.wait(lock, [this] { return m_end->done; });
    }
    m_end.reset();
}

void ObjectCalcThread::start(Task task, Completion done) {
    // The earlier job must end first, or the new one would be lost.
    if (isRunning())
        requestStop();
    waitForJob();
    m_stop.store(false);
    m_finished.store(false);
    auto end = std::make_shared<JobEnd>();
    std::thread thread([this, end, task = std::move(task), done = std::move(done)]() mutable {
        task(*this);
        if (done)
            deliver(done);
        // What the job's callables hold goes before the job is told ended: a
        // waiter may release it right after. The worker is not touched past
        // the signal (it may be gone); the end record is this thread's too.
        task = nullptr;
        done = nullptr;
        m_finished.store(true);
        {
            std::lock_guard<std::mutex> lock(end->mutex);
            end->done = true;
        }
        end->ended.notify_all();
    });
    m_threadId = thread.get_id();
    // A detached thread gives its stack back as soon as it returns: a scene of
    // many objects whose jobs nobody waits for holds no stack (and no memory
    // mappings) per object.
    thread.detach();
    m_end = std::move(end);
}

void ObjectCalcThread::deliver(const Completion& done) {
    // Whoever waits for the job must learn that it has ended. A job that ran
    // out of memory has given back what it took; the little the completion
    // needs comes back soon.
    for (int pauseMs = 1;; pauseMs = std::min(2 * pauseMs, 100)) {
        try {
            done();
            return;
        } catch (const std::bad_alloc&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
    }
}

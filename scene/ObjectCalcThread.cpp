#include "scene/ObjectCalcThread.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

// Workers whose job has ended and whose thread nobody has joined yet. A
// finished thread keeps its stack mapped until it is joined: a scene of many
// objects whose jobs are never waited for would hold one stack (and two
// memory mappings) per object, until the kernel refuses new mappings.
std::mutex g_endedMutex;
std::vector<ObjectCalcThread*> g_ended;

} // namespace

ObjectCalcThread::~ObjectCalcThread() {
    requestStop();
    waitForJob();
    // Joined: the thread can no longer put this worker on the list.
    std::lock_guard<std::mutex> lock(g_endedMutex);
    g_ended.erase(std::remove(g_ended.begin(), g_ended.end(), this), g_ended.end());
}

void ObjectCalcThread::joinEndedWorkers() {
    std::vector<ObjectCalcThread*> ended;
    {
        std::lock_guard<std::mutex> lock(g_endedMutex);
        ended.swap(g_ended);
    }
    // Each has ended its job (or is returning from it): the joins are quick.
    for (ObjectCalcThread* worker : ended)
        worker->waitForJob();
}

void ObjectCalcThread::waitForJob() {
    assert(!m_thread.joinable() || m_thread.get_id() != std::this_thread::get_id());
    if (m_thread.joinable())
        m_thread.join();
}

void ObjectCalcThread::start(Task task, Completion done) {
    // This worker too, when its last job has ended, leaves the list of ended
    // workers here, before its thread is replaced.
    joinEndedWorkers();
    // The earlier job must end first, or the new one would be lost.
    if (isRunning())
        requestStop();
    waitForJob();
    m_stop.store(false);
    m_finished.store(false);
    m_thread = std::thread([this, task = std::move(task), done = std::move(done)] {
        task(*this);
        if (done)
            deliver(done);
        try {
            std::lock_guard<std::mutex> lock(g_endedMutex);
            g_ended.push_back(this);
        } catch (const std::bad_alloc&) {
            // Joined at the next start or at the end instead.
        }
        m_finished.store(true);
    });
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

#include "scene/ObjectCalcThread.h"

#include <cassert>
#include <utility>

ObjectCalcThread::~ObjectCalcThread() {
    requestStop();
    waitForJob();
}

void ObjectCalcThread::waitForJob() {
    assert(!m_thread.joinable() || m_thread.get_id() != std::this_thread::get_id());
    if (m_thread.joinable())
        m_thread.join();
}

void ObjectCalcThread::start(Task task, Completion done) {
    // The earlier job must end first, or the new one would be lost.
    if (isRunning())
        requestStop();
    waitForJob();
    m_stop.store(false);
    m_finished.store(false);
    m_thread = std::thread([this, task = std::move(task), done = std::move(done)] {
        task(*this);
        if (done)
            done();
        m_finished.store(true);
    });
}

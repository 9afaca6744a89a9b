#include "view/SlicingThread.h"

#include "view/SliceRender.h"

#include <chrono>

SlicingThread::SlicingThread(QObject* parent) : QThread(parent) {}

SlicingThread::~SlicingThread() {
    stop();
}

void SlicingThread::setHeight(const float* z) {
    std::unique_lock<std::mutex> locker(_lock);
    _requested = *z;
    _computed = *z + 1.0f;
    _wake.notify_all();
}

float SlicingThread::requestedHeight() const {
    std::unique_lock<std::mutex> locker(_lock);
    return _requested;
}

void SlicingThread::stop() {
    {
        std::unique_lock<std::mutex> locker(_lock);
        _stopRequested = true;
        if (_renderer)
            _renderer->setAbort(true);
        _wake.notify_all();
    }
    wait();
    std::unique_lock<std::mutex> locker(_lock);
    _stopRequested = false;
    if (_renderer)
        _renderer->setAbort(_pauseDepth > 0);
}

void SlicingThread::pause() {
    std::unique_lock<std::mutex> locker(_lock);
    ++_pauseDepth;
    if (_renderer)
        _renderer->setAbort(true);
    while (_computing)
        _idle.wait(locker);
}

void SlicingThread::resume() {
    std::unique_lock<std::mutex> locker(_lock);
    if (_pauseDepth == 0)
        return;
    if (--_pauseDepth > 0)
        return;
    if (_renderer)
        _renderer->setAbort(false);
    // The same height again must be cut again: the scene under it changed.
    _computed = _requested + 1.0f;
    _wake.notify_all();
}

bool SlicingThread::isPaused() const {
    std::unique_lock<std::mutex> locker(_lock);
    return _pauseDepth > 0;
}

int SlicingThread::finishedCount() const {
    std::unique_lock<std::mutex> locker(_lock);
    return _finished;
}

void SlicingThread::run() {
    std::unique_lock<std::mutex> locker(_lock);
    _running = true;
    for (;;) {
        if (_stopRequested)
            break;
        // The float heights compare exactly: setHeight sets them apart on purpose.
        if (_pauseDepth > 0 || !_renderer || _requested == _computed) {
            // A wake-up comes with every request; the timeout keeps an idle
            // poll as a safety net.
            _wake.wait_for(locker, std::chrono::milliseconds(100));
            continue;
        }
        const float height = _requested;
        _computing = true;
        locker.unlock();
        const bool done = _renderer->computeAt(height);
        locker.lock();
        _computing = false;
        _idle.notify_all();
        if (done && _pauseDepth == 0) {
            // A request that came in meanwhile keeps its own difference.
            if (_requested == height)
                _computed = height;
            ++_finished;
            locker.unlock();
            emit slicingFinish();
            locker.lock();
        }
    }
    _running = false;
    _idle.notify_all();
}

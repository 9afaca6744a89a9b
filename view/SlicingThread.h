#pragma once
// The slice preview's worker: it waits for a new requested height and cuts
// the scene there through its SliceRender. It is stopped by asking (stop), and
// paused around every change of the scene, so it never reads a mesh that the
// GUI thread is changing.
#include <QThread>

#include <condition_variable>
#include <mutex>

class SliceRender;

class SlicingThread : public QThread {
    Q_OBJECT
public:
    explicit SlicingThread(QObject* parent = nullptr);
    // Stops the loop and waits for it.
    ~SlicingThread() override;

    // The renderer that computes (not owned). Set before start.
    void setRenderer(SliceRender* renderer) { _renderer = renderer; }
    SliceRender* renderer() const { return _renderer; }

    // Requests a computation at *z. The computed height is set apart from it,
    // so that the same height asked again is cut again (GUI thread).
    void setHeight(const float* z);
    float requestedHeight() const;

    // Asks the loop to end and waits until it has (GUI thread). The thread can
    // be started again afterwards.
    void stop();

    // Pauses computing: returns once no computation runs, and none starts
    // until every pause has been matched by resume. A computation in progress
    // is abandoned at its next object. Pauses nest (GUI thread).
    void pause();
    // Ends one pause; the last one forces a computation at the requested
    // height, so that the preview follows the changed scene.
    void resume();
    bool isPaused() const;

    // Computations finished since construction (for tests and tools).
    int finishedCount() const;

signals:
    // A computation finished (emitted on the worker; the panel itself polls
    // finishedCount instead of receiving it).
    void slicingFinish();

protected:
    void run() override;

private:
    SliceRender* _renderer = nullptr;

    // Standard mutex and conditions: thread checkers see their ordering.
    mutable std::mutex _lock;      // guards everything below
    std::condition_variable _wake; // the loop waits here for a request, a resume or stop
    std::condition_variable _idle; // pause waits here for a computation to end
    float _requested = 9999999.0f;
    float _computed = 9999999.0f;
    bool _running = false;
    bool _stopRequested = false;
    bool _computing = false;
    int _pauseDepth = 0;
    int _finished = 0;
};

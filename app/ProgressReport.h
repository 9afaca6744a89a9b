#pragma once
// Progress and cancel for long work.
//
// ProgressMonitor is what one long operation is handed, per call: it tells
// how far the work got and asks whether it should stop. ProgressSink is the
// monitor that drives the progress dialog, through the global report the
// main window binds (ProgressCallback), or through a target of its own.
//
// The global report: value 0..100 is a percentage, or a ProgressValue:
// Finished (-1, the dialog closes), TextOnly (-2, change the text only),
// Refresh (-3, show the stored state again). textCode is a ProgressText, the
// stage the work is in; the window maps each stage to its text, into which
// the three texts go. A text of the one character U+0000 keeps the text
// shown so far in its slot.
//
// Safe to call from worker threads: a report from a worker never waits for
// the GUI thread.
#include <atomic>
#include <functional>
#include <string>
#include <utility>

using ProgressCallbackFunction =
    std::function<void(int value, unsigned int textCode, const std::wstring& text1, const std::wstring& text2,
                       const std::wstring& text3)>;

extern ProgressCallbackFunction ProgressCallback;

// Swaps callback into ProgressCallback. Called once, by the main window,
// before any worker runs.
void setProgressCallback(ProgressCallbackFunction callback);

// Calls ProgressCallback when it is set; does nothing otherwise.
void reportProgress(int value, unsigned int textCode = 0, const std::wstring& text1 = std::wstring(),
                    const std::wstring& text2 = std::wstring(), const std::wstring& text3 = std::wstring());

// The stages of long work, the global report's text codes. The window shows
// each stage with a text of its own (filled from the report's texts).
enum class ProgressText : unsigned int {
    None = 0,
    LoadingProject = 1,  // %1 the project's file name
    SavingProject = 2,   // %1 the project's file name
    ImportingObject = 3, // %1 the file or the batch
    SavingObject = 4,
    RemovingObject = 5,
    PreparingData = 6,
    ExportingGcode = 7,
    ConvertingSlc = 8,
    HollowPreview = 9,
};

// The report values that are not a percentage.
enum class ProgressValue : int { Finished = -1, TextOnly = -2, Refresh = -3 };

// The value a report carries for `value`.
constexpr int progressValue(ProgressValue value) {
    return static_cast<int>(value);
}

// What one long operation is handed by whoever started it, per call: the
// work says which stage it is in and how far it got, and asks whether it
// should stop. The work reports at coarse steps (tens of times, not
// millions), on its own thread, so an implementation must be safe there;
// stopRequested may be asked more often (every few thousand records) and by
// several of the work's threads at once, so it must be cheap and safe on any
// thread. This base does nothing and never asks to stop: work handed silent()
// runs quietly to its end.
class ProgressMonitor {
public:
    ProgressMonitor() = default;
    ProgressMonitor(const ProgressMonitor&) = default;
    ProgressMonitor& operator=(const ProgressMonitor&) = default;
    virtual ~ProgressMonitor() = default;

    // The work entered stage; name fills the stage's text.
    virtual void start(ProgressText /*stage*/, const std::wstring& /*name*/ = std::wstring()) const {}
    // The share of the work done, 0..1.
    virtual void report(double /*fraction*/) const {}
    // True once the work should stop: it then ends at its next check and
    // returns its own "stopped" result.
    virtual bool stopRequested() const { return false; }
    // The work has ended, on whichever path.
    virtual void end() const {}

    // The monitor that shows nothing and never stops the work.
    static const ProgressMonitor& silent();
};

// The whole percentages done for fraction (0..1): a share reported as
// percent / 100.0 comes back as percent.
int progressPercent(double fraction);

// A part of a larger work: the part's shares 0..1 become the shares from
// from to from + width of the whole; its stages and stop go to the whole,
// and its end is the whole's to make.
class ProgressSpan : public ProgressMonitor {
public:
    ProgressSpan(const ProgressMonitor& whole, double from, double width)
        : m_whole(whole), m_from(from), m_width(width) {}

    void start(ProgressText stage, const std::wstring& name = std::wstring()) const override;
    void report(double fraction) const override;
    bool stopRequested() const override;

private:
    const ProgressMonitor& m_whole;
    double m_from;
    double m_width;
};

// The monitor of the progress dialog. A sink without a target sends to the
// global report (reportProgress); one with a target calls it, with the
// global report's values and text codes, on the reporting thread, so the
// target must be safe there. A sink given a stop flag asks the work to stop
// once the flag is raised.
class ProgressSink : public ProgressMonitor {
public:
    ProgressSink() = default;
    explicit ProgressSink(ProgressCallbackFunction target, const std::atomic<bool>* stop = nullptr)
        : m_target(std::move(target)), m_stop(stop) {}

    // Shows `text` with %1, %2, %3 filled from the texts (U+0000 alone keeps
    // a slot's text); the percentage stays.
    void setText(ProgressText text, const std::wstring& text1 = std::wstring(),
                 const std::wstring& text2 = std::wstring(),
                 const std::wstring& text3 = std::wstring()) const;
    // A percentage, 0..100.
    void setPercent(int percent) const;
    // The work has ended: the dialog closes.
    void finish() const;

    void start(ProgressText stage, const std::wstring& name = std::wstring()) const override;
    void report(double fraction) const override;
    bool stopRequested() const override;
    void end() const override;

private:
    void send(int value, ProgressText text, const std::wstring& text1 = std::wstring(),
              const std::wstring& text2 = std::wstring(), const std::wstring& text3 = std::wstring()) const;

    ProgressCallbackFunction m_target;
    const std::atomic<bool>* m_stop = nullptr;
};

// `progress`, or the progress dialog's monitor (the global report) when it is
// null.
const ProgressMonitor& monitorOrDialog(const ProgressMonitor* progress);

// Ends the work's report (progress.end(), which closes the progress dialog
// for its sink) when the scope ends, on every path out of the work (its
// return, a failure, an exception). Work that shows the dialog holds one for
// as long as it reports, so no path can leave the dialog standing: a dialog
// that stays on screen blocks the window (it is modal to it) and keeps the
// program alive after its window closed.
class ProgressEnd {
public:
    explicit ProgressEnd(const ProgressMonitor& progress) : m_progress(progress) {}
    ~ProgressEnd() { m_progress.end(); }
    ProgressEnd(const ProgressEnd&) = delete;
    ProgressEnd& operator=(const ProgressEnd&) = delete;

private:
    const ProgressMonitor& m_progress;
};

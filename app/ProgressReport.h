#pragma once
// The global progress report. Long operations call it with a value and a
// text code; the main window binds it to its progress dialog. It is empty
// until then, so callers test it before calling (or use reportProgress).
//
// value: 0..100 percentage, or a ProgressValue: Finished (-1, the dialog
// closes), TextOnly (-2, change the text only), Refresh (-3, show the stored
// state again).
// textCode: a ProgressText: 0 no text, 1 " Loading Project <b>[%1]</b> ... ",
// 2 " Saving Project <b>[%1]</b> ... ", 3 "<b>[%1]</b>: Importing object...",
// 4 "Saving object...", 5 "Removing object...", 6 "Preparing data...",
// 7 "Exporting to gcode...", 8 "Converting SLC to Triangles...",
// 9 "Generating preview of hollow...". The three texts fill %1, %2, %3; a
// text of the one character U+0000 keeps the text shown so far in its slot.
//
// Safe to call from worker threads: a report from a worker never waits for
// the GUI thread.
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

// The texts of the progress dialog (the global report's text codes).
enum class ProgressText : unsigned int {
    None = 0,
    LoadingProject = 1,  // " Loading Project <b>[%1]</b> ... "
    SavingProject = 2,   // " Saving Project <b>[%1]</b> ... "
    ImportingObject = 3, // "<b>[%1]</b>: Importing object..."
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

// Where one piece of work sends its progress. The work is handed its sink by
// whoever started it; a default sink forwards to the global report
// (reportProgress). A sink with a target calls it, with the global report's
// values and text codes, on the reporting thread, so the target must be safe
// there.
class ProgressSink {
public:
    ProgressSink() = default;
    explicit ProgressSink(ProgressCallbackFunction target) : m_target(std::move(target)) {}

    // `sink`, or the global report's sink when it is null.
    static const ProgressSink& orGlobal(const ProgressSink* sink);

    // Shows `text` with %1, %2, %3 filled from the texts (U+0000 alone keeps
    // a slot's text); the percentage stays.
    void setText(ProgressText text, const std::wstring& text1 = std::wstring(),
                 const std::wstring& text2 = std::wstring(),
                 const std::wstring& text3 = std::wstring()) const;
    // A percentage, 0..100.
    void setPercent(int percent) const;
    // The work has ended: the dialog closes.
    void finish() const;

private:
    void send(int value, ProgressText text, const std::wstring& text1 = std::wstring(),
              const std::wstring& text2 = std::wstring(), const std::wstring& text3 = std::wstring()) const;

    ProgressCallbackFunction m_target;
};

// Ends the progress display when the scope ends, on every path out of the
// work that showed it (its return, a failure, an exception). Work that shows
// the dialog holds one for as long as it reports, so no path can leave the
// dialog standing: a dialog that stays on screen blocks the window (it is
// modal to it) and keeps the program alive after its window closed.
class ProgressScope {
public:
    explicit ProgressScope(ProgressSink sink = ProgressSink()) : m_sink(std::move(sink)) {}
    ~ProgressScope() { m_sink.finish(); }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

    // Where the work reports meanwhile.
    const ProgressSink& sink() const { return m_sink; }

private:
    ProgressSink m_sink;
};

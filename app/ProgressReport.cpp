#include "app/ProgressReport.h"

#include <cmath>
#include <utility>

ProgressCallbackFunction ProgressCallback;

void setProgressCallback(ProgressCallbackFunction callback) {
    std::swap(ProgressCallback, callback);
}

void reportProgress(int value, unsigned int textCode, const std::wstring& text1, const std::wstring& text2,
                    const std::wstring& text3) {
    if (ProgressCallback)
        ProgressCallback(value, textCode, text1, text2, text3);
}

void ProgressSink::send(int value, ProgressText text, const std::wstring& text1, const std::wstring& text2,
                        const std::wstring& text3) const {
    const auto code = static_cast<unsigned int>(text);
    if (m_target)
        m_target(value, code, text1, text2, text3);
    else
        reportProgress(value, code, text1, text2, text3);
}

void ProgressSink::setText(ProgressText text, const std::wstring& text1, const std::wstring& text2,
                           const std::wstring& text3) const {
    send(progressValue(ProgressValue::TextOnly), text, text1, text2, text3);
}

void ProgressSink::setPercent(int percent) const {
    send(percent, ProgressText::None);
}

void ProgressSink::finish() const {
    send(progressValue(ProgressValue::Finished), ProgressText::None);
}

const ProgressMonitor& monitorOrDialog(const ProgressMonitor* progress) {
    static const ProgressSink dialog;
    return progress ? *progress : dialog;
}

void ProgressSink::start(ProgressText stage, const std::wstring& name) const {
    setText(stage, name);
}

void ProgressSink::report(double fraction) const {
    setPercent(progressPercent(fraction));
}

bool ProgressSink::stopRequested() const {
    return m_stop != nullptr && m_stop->load();
}

void ProgressSink::end() const {
    finish();
}

const ProgressMonitor& ProgressMonitor::silent() {
    static const ProgressMonitor none;
    return none;
}

int progressPercent(double fraction) {
    // Whole percentages done: a share just below a whole percentage by the
    // rounding of its arithmetic still counts as that percentage.
    return static_cast<int>(std::floor(fraction * 100.0 + 1e-6));
}

void ProgressSpan::start(ProgressText stage, const std::wstring& name) const {
    m_whole.start(stage, name);
}

void ProgressSpan::report(double fraction) const {
    m_whole.report(m_from + fraction * m_width);
}

bool ProgressSpan::stopRequested() const {
    return m_whole.stopRequested();
}

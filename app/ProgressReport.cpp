#include "app/ProgressReport.h"

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

void ProgressSink::operator()(int value, unsigned int textCode, const std::wstring& text1,
                              const std::wstring& text2, const std::wstring& text3) const {
    if (m_target)
        m_target(value, textCode, text1, text2, text3);
    else
        reportProgress(value, textCode, text1, text2, text3);
}

const ProgressSink& ProgressSink::orGlobal(const ProgressSink* sink) {
    static const ProgressSink global;
    return sink ? *sink : global;
}

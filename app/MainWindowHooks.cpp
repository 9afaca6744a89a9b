#include "app/MainWindowHooks.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <mutex>
#include <utility>

namespace {

std::mutex hookMutex;
MessageBoxHook messageBoxHook;
FontUnitHook fontUnitHook;

} // namespace

void setMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    messageBoxHook = std::move(hook);
}

void setFontUnitHook(FontUnitHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    fontUnitHook = std::move(hook);
}

int showAppMessageBox(const QString& text, int icon, int buttons, int defaultButton,
                      const QString& informativeText, const QString& detailedText, quint32 windowFlags) {
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = messageBoxHook;
    }
    // The lock is not held while the box runs: it may take minutes.
    return hook ? hook(text, icon, buttons, defaultButton, informativeText, detailedText, windowFlags) : 0;
}

int appFontUnitHeight() {
    FontUnitHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = fontUnitHook;
    }
    if (hook)
        return hook();
    return QFontMetrics(QGuiApplication::font()).boundingRect(QLatin1Char('X')).height();
}

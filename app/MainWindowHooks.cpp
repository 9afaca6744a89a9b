#include "app/MainWindowHooks.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <mutex>
#include <utility>

namespace {

std::mutex hookMutex;
FontUnitHook fontUnitHook;

} // namespace

void setFontUnitHook(FontUnitHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    fontUnitHook = std::move(hook);
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

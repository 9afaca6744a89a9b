#pragma once
// What the frame needs of the main window, without depending on it: the main
// window installs these callables when it is built. Until then a message box
// request shows nothing and answers 0, and the text unit falls back to the
// application font.
#include <QString>
#include <functional>

using MessageBoxHook =
    std::function<int(const QString& text, int icon, int buttons, int defaultButton,
                      const QString& informativeText, const QString& detailedText, quint32 windowFlags)>;
using FontUnitHook = std::function<int()>;

void setMessageBoxHook(MessageBoxHook hook);
void setFontUnitHook(FontUnitHook hook);

// Shows a message box through the main window (safe from any thread; a worker
// waits for the answer). Returns the pressed button, or 0 without a window.
int showAppMessageBox(const QString& text, int icon, int buttons, int defaultButton,
                      const QString& informativeText, const QString& detailedText, quint32 windowFlags);

// The pixel height of the letter "X" in the main window's menu font; without
// a main window, in the application font (GUI thread only).
int appFontUnitHeight();

#pragma once
// What the frame needs of the main window, without depending on it: the
// text unit the tool panels are sized by (VlrBaseWidget), whose panels live
// in libraries below the window. The main window installs the callable when
// it is built; until then the text unit falls back to the application font.
#include <functional>

using FontUnitHook = std::function<int()>;

void setFontUnitHook(FontUnitHook hook);

// The pixel height of the letter "X" in the main window's menu font; without
// a main window, in the application font (GUI thread only).
int appFontUnitHeight();

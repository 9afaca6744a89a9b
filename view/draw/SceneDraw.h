#pragma once
// Drawing of the whole object list and the picking across it (GUI thread,
// the view's context current).
#include <QPoint>

class GLDrawCache;
class ObjectTable;

// Frees the GL names of objects and supports that left the list, then draws
// opaque objects, then (unless the supports are transparent) the supports,
// then transparent objects, then transparent supports blended, with the
// names of cache (the view's).
void renderObjects(const ObjectTable& table, bool useBuffers, GLDrawCache& cache);
// The support under the widget point p among the selected, ready, visible
// objects: the nearest becomes its object's pointed support, every other
// object's pointed support is cleared.
void pickSupportAtCursor(const ObjectTable& table, const QPoint& p);

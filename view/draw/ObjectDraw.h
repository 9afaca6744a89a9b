#pragma once
// Drawing and picking of one scene object and its supports (GUI thread, the
// view's context current). The GL names live in the view's GLDrawCache; the object's
// "needs re-upload" flags (the mesh's triangle-render flag, the supports'
// changed flag) say when they are built again.
#include <QPoint>

#include <cstdint>

class GLDrawCache;
class ObjectEx;

// Draws the mesh when the object is ready, loaded and visible, from vertex
// buffers when useBuffers and the entry points were resolved, else from two
// display lists; in the object's style, colour and transparency.
// The names drawn with are cache's.
void drawObject(ObjectEx& object, bool useBuffers, GLDrawCache& cache);
// Uploads the support triangles when they changed (with vertex buffers).
void uploadSupport(ObjectEx& object, GLDrawCache& cache);
// Draws the supports, the cone preview and the pointed support.
void drawObjectSupport(ObjectEx& object, const GLDrawCache& cache);
// The support shape under the widget point p: becomes the object's pointed
// support (cleared when nothing is hit); returns its smallest depth in the
// selection buffer, or UINT32_MAX when nothing was hit.
uint32_t pickSupport(ObjectEx& object, const QPoint& p);

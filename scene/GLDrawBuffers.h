#pragma once
// The vertex-buffer entry points the objects' drawing uses, resolved once by
// the 3D view through its context, and the queue of GL names that outlived
// their objects (freed by the next paint, when the context is current).
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>
#include <functional>
#include <vector>

class ObjectEx;

// Drawn without vertex buffers, an object holds this many consecutive display
// lists from its triangle name on: the triangles, then the edges.
constexpr int kDisplayListCount = 2;

struct GLBufferFunctions {
    PFNGLGENBUFFERSPROC genBuffers = nullptr;
    PFNGLBINDBUFFERPROC bindBuffer = nullptr;
    PFNGLBUFFERDATAPROC bufferData = nullptr;
    PFNGLBUFFERSUBDATAPROC bufferSubData = nullptr;
    PFNGLDELETEBUFFERSPROC deleteBuffers = nullptr;
    PFNGLGETBUFFERPARAMETERIVPROC getBufferParameteriv = nullptr;
    PFNGLMAPBUFFERPROC mapBuffer = nullptr;
    PFNGLUNMAPBUFFERPROC unmapBuffer = nullptr;
};

// The resolved entry points (all null until resolveGLBufferFunctions succeeded).
const GLBufferFunctions& glBufferFunctions();
// Fills the eight entry points through resolve, called with the base names
// ("glGenBuffers", ...; the caller adds a suffix when it wants one). True
// when all eight were found; otherwise every entry stays null.
bool resolveGLBufferFunctions(const std::function<void*(const char*)>& resolve);

// Queues every GL name an object holds (buffers, display list, support
// buffers, names already awaiting deletion) and zeroes them in the object.
// Needs no context.
void releaseObjectGLNames(ObjectEx* object);
// Deletes the queued names; call with the view's context current.
void flushDeletedGLNames();

// The names drawn for each object are also recorded by the object's serial,
// so that those of an object that left the list (deleted, or kept by the undo
// history) are given back without touching the object: records the object's
// current names (after it drew).
void recordObjectGLNames(const ObjectEx* object);
// Queues the recorded names of every object not in live and forgets them.
void releaseGLNamesOfObjectsNotIn(const std::vector<ObjectEx*>& live);
// An object whose names were given back while it was out of the list still
// holds them: clears them (they may belong to other objects by now) so that
// its next draw builds new ones. Call before drawing an object.
void dropStaleGLNames(ObjectEx* object);

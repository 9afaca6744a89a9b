#pragma once
// The vertex-buffer entry points the objects' drawing uses, resolved once by
// the 3D view through its context, and the queue of GL names that outlived
// their objects (freed by the next paint, when the context is current).
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>
#include <functional>

class ObjectEx;

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
// For an object that is being deleted; needs no context.
void releaseObjectGLNames(ObjectEx* object);
// Deletes the queued names; call with the view's context current.
void flushDeletedGLNames();

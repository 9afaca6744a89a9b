#include "scene/GLDrawBuffers.h"

#include "scene/ObjectEx.h"
#ifdef VELAR_HAVE_SUPPORT
#include "support/SupportGen.h"
#endif

#include <mutex>
#include <vector>

namespace {

GLBufferFunctions g_functions;

struct PendingNames {
    std::mutex mutex;
    std::vector<uint32_t> buffers;
    std::vector<uint32_t> lists;
};

PendingNames& pending() {
    static PendingNames p;
    return p;
}

} // namespace

const GLBufferFunctions& glBufferFunctions() { return g_functions; }

bool resolveGLBufferFunctions(const std::function<void*(const char*)>& resolve) {
    GLBufferFunctions f;
    f.genBuffers = reinterpret_cast<PFNGLGENBUFFERSPROC>(resolve("glGenBuffers"));
    f.bindBuffer = reinterpret_cast<PFNGLBINDBUFFERPROC>(resolve("glBindBuffer"));
    f.bufferData = reinterpret_cast<PFNGLBUFFERDATAPROC>(resolve("glBufferData"));
    f.bufferSubData = reinterpret_cast<PFNGLBUFFERSUBDATAPROC>(resolve("glBufferSubData"));
    f.deleteBuffers = reinterpret_cast<PFNGLDELETEBUFFERSPROC>(resolve("glDeleteBuffers"));
    f.getBufferParameteriv = reinterpret_cast<PFNGLGETBUFFERPARAMETERIVPROC>(resolve("glGetBufferParameteriv"));
    f.mapBuffer = reinterpret_cast<PFNGLMAPBUFFERPROC>(resolve("glMapBuffer"));
    f.unmapBuffer = reinterpret_cast<PFNGLUNMAPBUFFERPROC>(resolve("glUnmapBuffer"));
    if (!f.genBuffers || !f.bindBuffer || !f.bufferData || !f.bufferSubData || !f.deleteBuffers ||
        !f.getBufferParameteriv || !f.mapBuffer || !f.unmapBuffer)
        return false;
    g_functions = f;
    return true;
}

void releaseObjectGLNames(ObjectEx* object) {
    if (object == nullptr)
        return;
    PendingNames& p = pending();
    std::lock_guard<std::mutex> lock(p.mutex);
    // Without buffer entry points the triangle name is a display list.
    const bool buffers = g_functions.deleteBuffers != nullptr;
    for (uint32_t name : {object->glVertexBuffer, object->glEdgeBuffer})
        if (name)
            p.buffers.push_back(name);
    if (object->glTriangleBuffer)
        (buffers ? p.buffers : p.lists).push_back(object->glTriangleBuffer);
    object->glVertexBuffer = object->glTriangleBuffer = object->glEdgeBuffer = 0;
    for (uint32_t name : object->buffersToDelete())
        if (name)
            p.buffers.push_back(name);
    object->buffersToDelete().clear();
#ifdef VELAR_HAVE_SUPPORT
    if (const auto& gen = object->supportGenIfAny())
        gen->releaseRenderBuffers(p.buffers);
#endif
}

void flushDeletedGLNames() {
    PendingNames& p = pending();
    std::vector<uint32_t> buffers, lists;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        buffers.swap(p.buffers);
        lists.swap(p.lists);
    }
    if (!buffers.empty() && g_functions.deleteBuffers)
        g_functions.deleteBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
    for (uint32_t list : lists)
        glDeleteLists(list, 1);
}

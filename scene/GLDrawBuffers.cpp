#include "scene/GLDrawBuffers.h"

#include "scene/ObjectEx.h"
#include "support/SupportGen.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

GLBufferFunctions g_functions;

struct PendingNames {
    std::mutex mutex;
    std::vector<uint32_t> buffers;
    std::vector<uint32_t> lists;
};

// The names one object drew with; the triangle name is a display list when
// the object drew without vertex buffers.
struct ObjectNames {
    uint32_t vertex = 0, triangle = 0, edge = 0, supportVertex = 0, supportIndex = 0;
    bool triangleIsList = false;
};

// GUI thread only (drawing).
std::unordered_map<quint64, ObjectNames>& recorded() {
    static std::unordered_map<quint64, ObjectNames> names;
    return names;
}

PendingNames& pending() {
    static PendingNames p;
    return p;
}

} // namespace

const GLBufferFunctions& glBufferFunctions() {
    return g_functions;
}

bool resolveGLBufferFunctions(const std::function<void*(const char*)>& resolve) {
    GLBufferFunctions f;
    f.genBuffers = reinterpret_cast<PFNGLGENBUFFERSPROC>(resolve("glGenBuffers"));
    f.bindBuffer = reinterpret_cast<PFNGLBINDBUFFERPROC>(resolve("glBindBuffer"));
    f.bufferData = reinterpret_cast<PFNGLBUFFERDATAPROC>(resolve("glBufferData"));
    f.bufferSubData = reinterpret_cast<PFNGLBUFFERSUBDATAPROC>(resolve("glBufferSubData"));
    f.deleteBuffers = reinterpret_cast<PFNGLDELETEBUFFERSPROC>(resolve("glDeleteBuffers"));
    f.getBufferParameteriv =
        reinterpret_cast<PFNGLGETBUFFERPARAMETERIVPROC>(resolve("glGetBufferParameteriv"));
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
    recorded().erase(object->serial());
    PendingNames& p = pending();
    std::lock_guard<std::mutex> lock(p.mutex);
    // Drawn without vertex buffers, the triangle name is a display list.
    const bool buffers = g_functions.deleteBuffers != nullptr && object->glVertexBuffer != 0;
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
    if (const auto& gen = object->supportGenIfAny())
        gen->releaseRenderBuffers(p.buffers);
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
        glDeleteLists(list, kDisplayListCount);
}

void recordObjectGLNames(const ObjectEx* object) {
    ObjectNames n;
    n.vertex = object->glVertexBuffer;
    n.triangle = object->glTriangleBuffer;
    n.edge = object->glEdgeBuffer;
    n.triangleIsList = g_functions.deleteBuffers == nullptr || object->glVertexBuffer == 0;
    if (const auto& gen = object->supportGenIfAny()) {
        n.supportVertex = gen->vertexBuffer;
        n.supportIndex = gen->indexBuffer;
    }
    if (n.vertex || n.triangle || n.edge || n.supportVertex || n.supportIndex)
        recorded()[object->serial()] = n;
    else
        recorded().erase(object->serial());
}

void releaseGLNamesOfObjectsNotIn(const std::vector<ObjectEx*>& live) {
    auto& names = recorded();
    if (names.size() <= live.size()) {
        // Quick path: every recorded object is still listed.
        std::size_t found = 0;
        for (const ObjectEx* o : live)
            found += names.count(o->serial());
        if (found == names.size())
            return;
    }
    std::unordered_map<quint64, bool> listed;
    for (const ObjectEx* o : live)
        listed[o->serial()] = true;
    PendingNames& p = pending();
    std::lock_guard<std::mutex> lock(p.mutex);
    for (auto it = names.begin(); it != names.end();) {
        if (listed.count(it->first)) {
            ++it;
            continue;
        }
        const ObjectNames& n = it->second;
        for (uint32_t name : {n.vertex, n.edge, n.supportVertex, n.supportIndex})
            if (name)
                p.buffers.push_back(name);
        if (n.triangle)
            (n.triangleIsList ? p.lists : p.buffers).push_back(n.triangle);
        it = names.erase(it);
    }
}

void dropStaleGLNames(ObjectEx* object) {
    if (recorded().count(object->serial()))
        return;
    if (object->glVertexBuffer || object->glTriangleBuffer || object->glEdgeBuffer) {
        object->glVertexBuffer = object->glTriangleBuffer = object->glEdgeBuffer = 0;
        object->setTriangleRenderStale(true);
    }
    if (const auto& gen = object->supportGenIfAny(); gen && (gen->vertexBuffer || gen->indexBuffer)) {
        gen->vertexBuffer = gen->indexBuffer = 0;
        gen->triangleCount = 0;
        gen->markChanged();
    }
}

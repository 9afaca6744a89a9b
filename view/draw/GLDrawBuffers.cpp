#include "view/draw/GLDrawBuffers.h"

#include "scene/ObjectEx.h"
#include "support/SupportGen.h"

#include <unordered_set>

namespace {

GLBufferFunctions g_functions;

void deleteBuffers(std::initializer_list<GLuint> names) {
    for (GLuint name : names)
        if (name && g_functions.deleteBuffers)
            g_functions.deleteBuffers(1, &name);
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

const ObjectGLNames* GLDrawCache::find(const ObjectEx& object) const {
    const auto it = m_objects.find(object.serial());
    return it == m_objects.end() ? nullptr : &it->second;
}

ObjectGLNames& GLDrawCache::namesOf(const ObjectEx& object) {
    return m_objects[object.serial()];
}

const SupportGLNames* GLDrawCache::find(const support::SupportGen& gen) const {
    const auto it = m_supports.find(&gen);
    if (it == m_supports.end() || it->second.owner.lock().get() != &gen)
        return nullptr;
    return &it->second.names;
}

SupportGLNames& GLDrawCache::namesOf(const std::shared_ptr<support::SupportGen>& gen) {
    SupportRecord& record = m_supports[gen.get()];
    if (record.owner.lock() != gen) {
        release(record.names);
        record.owner = gen;
    }
    return record.names;
}

void GLDrawCache::keepOnly(const std::vector<ObjectEx*>& live) {
    std::unordered_set<uint64_t> serials;
    std::unordered_set<const support::SupportGen*> gens;
    for (const ObjectEx* o : live) {
        serials.insert(o->serial());
        if (const auto& gen = o->supportGenIfAny())
            gens.insert(gen.get());
    }
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (serials.count(it->first)) {
            ++it;
            continue;
        }
        release(it->second);
        it = m_objects.erase(it);
    }
    for (auto it = m_supports.begin(); it != m_supports.end();) {
        // A record whose container died while another took its address is
        // not that container's: it goes too.
        if (gens.count(it->first) && it->second.owner.lock().get() == it->first) {
            ++it;
            continue;
        }
        release(it->second.names);
        it = m_supports.erase(it);
    }
}

void GLDrawCache::release(ObjectGLNames& names) {
    if (names.asLists) {
        if (names.triangle)
            glDeleteLists(names.triangle, kDisplayListCount);
    } else {
        deleteBuffers({names.vertex, names.triangle, names.edge});
    }
    names = ObjectGLNames();
}

void GLDrawCache::release(SupportGLNames& names) {
    deleteBuffers({names.vertex, names.index});
    names = SupportGLNames();
}

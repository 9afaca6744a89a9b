#pragma once
// The vertex-buffer entry points the drawing uses, resolved once by the 3D
// view through its context, and the drawing's cache: the GL names drawn for
// each scene object (by its serial) and for each support container. The scene
// keeps only its "needs re-upload" marks; the float arrays are built at upload
// (topolib::RenderArrays), handed to GL and dropped, and every GL name lives
// in the cache of the view whose context made it.
//
// Threads: GUI thread only, and whatever makes or frees names needs the view's
// context current. Objects are destroyed on worker threads too, so the cache
// never follows an object pointer it did not get from the live list: the names
// of an object or container that went away stay here until the next paint's
// sweep (keepOnly) frees them with the context current.
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class ObjectEx;
namespace support {
class SupportGen;
}

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

// The names one object draws its mesh with (0 when absent).
struct ObjectGLNames {
    GLuint vertex = 0;   // positions, then normals
    GLuint triangle = 0; // index buffer, or the first display list (asLists)
    GLuint edge = 0;     // index buffer of the edges (not with lists)
    bool asLists = false;
    bool empty() const { return vertex == 0 && triangle == 0 && edge == 0; }
};

// The names one support container draws with.
struct SupportGLNames {
    GLuint vertex = 0; // positions, then normals, nine floats each per triangle
    GLuint index = 0;
    uint32_t triangleCount = 0;
};

class GLDrawCache {
public:
    // The names recorded for object, or null when it has none.
    const ObjectGLNames* find(const ObjectEx& object) const;
    // The names of object, an empty record created when missing.
    ObjectGLNames& namesOf(const ObjectEx& object);
    // The names of the container, or null when it has none (or the record
    // belongs to a container that lived at the same address before).
    const SupportGLNames* find(const support::SupportGen& gen) const;
    // The names of gen, an empty record created when missing; a record left by
    // a dead container at the same address is freed first.
    SupportGLNames& namesOf(const std::shared_ptr<support::SupportGen>& gen);

    // Frees the names of every object not in live and of every container
    // that none of them holds (context current).
    void keepOnly(const std::vector<ObjectEx*>& live);
    // Frees every name (context current): the context is going away, or the
    // drawing changes between vertex buffers and display lists.
    void clear() { keepOnly({}); }

    // Deletes names (context current) and zeroes them.
    static void release(ObjectGLNames& names);
    static void release(SupportGLNames& names);

private:
    struct SupportRecord {
        std::weak_ptr<support::SupportGen> owner;
        SupportGLNames names;
    };
    std::unordered_map<uint64_t, ObjectGLNames> m_objects;
    std::unordered_map<const support::SupportGen*, SupportRecord> m_supports;
};

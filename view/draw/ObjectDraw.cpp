#include "view/draw/ObjectDraw.h"

#include "scene/ObjectEx.h"
#include "support/AbtShape.h"
#include "support/SupportGen.h"
#include "topolib/RenderArrays.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "view/draw/GLDrawBuffers.h"
#include "view/draw/GLPick.h"

#include <GL/gl.h>

#include <vector>

namespace {

constexpr float kSelectedColour[3] = {6.0f / 255.0f, 203.0f / 255.0f, 212.0f / 255.0f};
constexpr float kUnselectedGrey = 1.0f / 3.0f;
constexpr float kBackShade = 0.6f;

uint32_t makeBuffer(GLenum target, const void* data, std::size_t bytes, GLenum usage) {
    const GLBufferFunctions& gl = glBufferFunctions();
    GLuint name = 0;
    gl.genBuffers(1, &name);
    gl.bindBuffer(target, name);
    gl.bufferData(target, static_cast<GLsizeiptr>(bytes), data, usage);
    gl.bindBuffer(target, 0);
    return name;
}

// The byte size of the buffer bound to target.
std::size_t bufferSize(GLenum target) {
    GLint bytes = 0;
    glBufferFunctions().getBufferParameteriv(target, GL_BUFFER_SIZE, &bytes);
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

// Immediate-mode triangles with their own normals.
void drawTrianglesImmediate(const std::vector<topolib::StlTriangle*>& triangles) {
    glBegin(GL_TRIANGLES);
    for (const topolib::StlTriangle* t : triangles) {
        glNormal3dv(t->normal.data());
        for (int k = 0; k < 3; ++k)
            glVertex3dv(t->vertices[k]->pos.data());
    }
    glEnd();
}

// Material and colour of the object's shaded surface; transparent objects
// blend and leave the depth buffer alone.
void beginSurface(const ObjectEx& o) {
    const float alpha = o.transparentValue();
    const GLfloat ambient[4] = {0.15f, 0.15f, 0.15f, 1.0f};
    const GLfloat diffuse[4] = {0.0f, 0.1f, 0.2f, alpha};
    const GLfloat specular[4] = {0.296648f, 0.296648f, 0.296648f, 1.0f};
    glEnable(GL_LIGHTING);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 128.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
    if (o.viewMode() == MeshStyle::FilledWithEdges) {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(0.4f, 1.0f);
    }
    if (o.isTransparent()) {
        glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glShadeModel(GL_SMOOTH);
        glDepthMask(GL_FALSE);
    } else {
        glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
        glDisable(GL_BLEND);
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
    }
    const float grey[3] = {kUnselectedGrey, kUnselectedGrey, kUnselectedGrey};
    const float* colour = o.isSelected() ? kSelectedColour : grey;
    // Back faces (all an inside-out model shows, the inside of a cut one)
    // take the selection colour too, darker: the user sees both whether the
    // object is selected and that its inside shows.
    const GLfloat back[4] = {colour[0] * kBackShade, colour[1] * kBackShade, colour[2] * kBackShade, alpha};
    glMaterialfv(GL_BACK, GL_AMBIENT_AND_DIFFUSE, back);
    glColor4f(colour[0], colour[1], colour[2], alpha);
}

void endSurface(const ObjectEx& o) {
    if (o.isTransparent()) {
        glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
        glDisable(GL_BLEND);
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
    }
    glDisable(GL_POLYGON_OFFSET_FILL);
}

void beginEdges() {
    glDisable(GL_LIGHTING);
    glColor3f(0, 0, 0);
    glLineWidth(1.0f);
}

// The object's flat arrays, built afresh: the drawing also rebuilds them when
// it switches between buffers and lists, with the mesh unchanged. They live
// only until they are handed to GL.
topolib::RenderArrays flatArrays(ObjectEx& o) {
    topolib::RenderArrays arrays;
    o.setTriangleRenderStale(true);
    o.buildFlatRenderArrays(arrays);
    return arrays;
}

// Vertex buffers: positions then normals in one buffer, the triangles and the
// edges as u32 index buffers.
void uploadMesh(ObjectEx& o, ObjectGLNames& names) {
    const GLBufferFunctions& gl = glBufferFunctions();
    const topolib::RenderArrays arrays = flatArrays(o);
    GLDrawCache::release(names);
    const std::size_t half = arrays.positions.size() * sizeof(float);
    names.vertex = makeBuffer(GL_ARRAY_BUFFER, nullptr, 2 * half, GL_STREAM_DRAW);
    gl.bindBuffer(GL_ARRAY_BUFFER, names.vertex);
    gl.bufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(half), arrays.positions.data());
    gl.bufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(half), static_cast<GLsizeiptr>(half),
                     arrays.normals.data());
    gl.bindBuffer(GL_ARRAY_BUFFER, 0);
    const std::vector<uint32_t>& lines = arrays.lineIndices;
    names.edge =
        makeBuffer(GL_ELEMENT_ARRAY_BUFFER, lines.data(), lines.size() * sizeof(uint32_t), GL_STATIC_DRAW);
    const std::vector<uint32_t>& tris = arrays.triangleIndices;
    names.triangle =
        makeBuffer(GL_ELEMENT_ARRAY_BUFFER, tris.data(), tris.size() * sizeof(uint32_t), GL_STATIC_DRAW);
}

// Without vertex buffers: two consecutive display lists, the triangles and
// the edges (each once, as in the buffer path).
void compileMeshLists(ObjectEx& o, ObjectGLNames& names) {
    GLDrawCache::release(names);
    const topolib::RenderArrays arrays = flatArrays(o);
    const std::vector<float>& pos = arrays.positions;
    const std::vector<float>& nor = arrays.normals;
    names.asLists = true;
    names.triangle = glGenLists(kDisplayListCount);
    glNewList(names.triangle, GL_COMPILE);
    glBegin(GL_TRIANGLES);
    for (uint32_t i : arrays.triangleIndices) {
        glNormal3fv(&nor[3 * i]);
        glVertex3fv(&pos[3 * i]);
    }
    glEnd();
    glEndList();
    glNewList(names.triangle + 1, GL_COMPILE);
    glBegin(GL_LINES);
    for (uint32_t i : arrays.lineIndices)
        glVertex3fv(&pos[3 * i]);
    glEnd();
    glEndList();
}

void drawMeshBuffers(const ObjectEx& o, const ObjectGLNames& names) {
    const GLBufferFunctions& gl = glBufferFunctions();
    glEnable(GL_DEPTH_TEST);
    gl.bindBuffer(GL_ARRAY_BUFFER, names.vertex);
    // The buffers know their sizes: normals start half-way, indices are u32.
    const std::size_t normalOffset = bufferSize(GL_ARRAY_BUFFER) / 2;
    glNormalPointer(GL_FLOAT, 0, reinterpret_cast<const void*>(normalOffset));
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    if (o.viewMode() != MeshStyle::EdgesOnly) {
        beginSurface(o);
        gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, names.triangle);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(bufferSize(GL_ELEMENT_ARRAY_BUFFER) / 4),
                       GL_UNSIGNED_INT, nullptr);
        endSurface(o);
    }
    beginEdges();
    if (o.viewMode() != MeshStyle::Filled && names.edge) {
        gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, names.edge);
        glDrawElements(GL_LINES, static_cast<GLsizei>(bufferSize(GL_ELEMENT_ARRAY_BUFFER) / 4),
                       GL_UNSIGNED_INT, nullptr);
    }
    glEnable(GL_LIGHTING);
    gl.bindBuffer(GL_ARRAY_BUFFER, 0);
    gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
}

// Colour and material are set around the lists as in the buffer path, so
// both paths look alike.
void drawMeshLists(const ObjectEx& o, const ObjectGLNames& names) {
    glEnable(GL_DEPTH_TEST);
    if (o.viewMode() != MeshStyle::EdgesOnly) {
        beginSurface(o);
        glCallList(names.triangle);
        endSurface(o);
    }
    if (o.viewMode() != MeshStyle::Filled) {
        beginEdges();
        glCallList(names.triangle + 1);
        glEnable(GL_LIGHTING);
    }
}

} // namespace

void drawObject(ObjectEx& o, bool useBuffers, GLDrawCache& cache) {
    // An import still waiting for its place on the platform is not shown yet.
    if (!o.isReady() || !o.isLoaded() || !o.isVisible())
        return;
    ObjectGLNames& names = cache.namesOf(o);
    // Built again after the mesh changed, and when the drawing switched
    // between buffers and lists.
    const bool buffers = useBuffers && glBufferFunctions().genBuffers;
    if (buffers) {
        if (o.triangleRenderStale() || names.vertex == 0 || names.asLists)
            uploadMesh(o, names);
        uploadSupport(o, cache);
    } else if (o.triangleRenderStale() || names.triangle == 0 || !names.asLists) {
        compileMeshLists(o, names);
    }
    glPushMatrix();
    glMultMatrixd(o.transform().data());
    if (!buffers)
        drawMeshLists(o, names);
    else if (names.vertex)
        drawMeshBuffers(o, names);
    glPopMatrix();
}

void uploadSupport(ObjectEx& object, GLDrawCache& cache) {
    const auto& gen = object.supportGenIfAny();
    if (!gen || !glBufferFunctions().genBuffers)
        return;
    const bool known = cache.find(*gen) != nullptr;
    if (known && !gen->changed)
        return;
    SupportGLNames& names = cache.namesOf(gen);
    // Supports that dropped to no triangle draw nothing rather than the old mesh.
    GLDrawCache::release(names);
    gen->changed = 0;
    std::vector<topolib::StlTriangle*> triangles;
    gen->appendAllTriangles(triangles);
    if (triangles.empty())
        return;
    const std::size_t n = triangles.size();
    std::vector<float> data(18 * n);
    std::vector<uint32_t> indices(3 * n);
    float* pos = data.data();
    float* nor = data.data() + 9 * n;
    for (std::size_t i = 0; i < n; ++i) {
        const topolib::StlTriangle* t = triangles[i];
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a) {
                pos[9 * i + 3 * k + a] = static_cast<float>(t->vertices[k]->pos[a]);
                nor[9 * i + 3 * k + a] = static_cast<float>(t->normal[a]);
            }
        for (int k = 0; k < 3; ++k)
            indices[3 * i + k] = static_cast<uint32_t>(3 * i + k);
    }
    names.vertex = makeBuffer(GL_ARRAY_BUFFER, data.data(), data.size() * sizeof(float), GL_STREAM_DRAW);
    names.index = makeBuffer(GL_ELEMENT_ARRAY_BUFFER, indices.data(), indices.size() * sizeof(uint32_t),
                             GL_STATIC_DRAW);
    names.triangleCount = static_cast<uint32_t>(n);
}

void drawObjectSupport(ObjectEx& object, const GLDrawCache& cache) {
    const auto& gen = object.supportGenIfAny();
    if (!gen)
        return;
    const GLBufferFunctions& gl = glBufferFunctions();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    if (object.isSelected())
        glColor4f(209.0f / 255.0f, 180.0f / 255.0f, 14.0f / 255.0f, 0.3f);
    else
        glColor4f(56.0f / 255.0f, 52.0f / 255.0f, 92.0f / 255.0f, 0.3f);
    const SupportGLNames* names = cache.find(*gen);
    if (names && names->triangleCount > 0 && names->vertex && gl.bindBuffer) {
        gl.bindBuffer(GL_ARRAY_BUFFER, names->vertex);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        glNormalPointer(GL_FLOAT, 0,
                        reinterpret_cast<const void*>(std::size_t(9) * names->triangleCount * sizeof(float)));
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, names->index);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(3 * names->triangleCount), GL_UNSIGNED_INT,
                       nullptr);
        gl.bindBuffer(GL_ARRAY_BUFFER, 0);
        gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
    } else if (!names || names->vertex == 0) {
        // Drawing without vertex buffers: the supports go directly.
        std::vector<topolib::StlTriangle*> triangles;
        gen->appendAllTriangles(triangles);
        drawTrianglesImmediate(triangles);
    }
    std::vector<topolib::StlTriangle*> pendingCone;
    gen->appendPendingTriangles(pendingCone);
    if (!pendingCone.empty()) {
        glColor4f(1.0f, 127.0f / 255.0f, 39.0f / 255.0f, 0.3f);
        drawTrianglesImmediate(pendingCone);
    }
    if (support::AbtShape* shape = object.pointedSupport(); shape && !shape->isDeleted()) {
        std::vector<topolib::StlTriangle*> triangles;
        shape->appendTriangles(triangles, false);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(-0.4f, -1.0f);
        glColor3f(230.0f / 255.0f, 30.0f / 255.0f, 30.0f / 255.0f);
        drawTrianglesImmediate(triangles);
        glDisable(GL_POLYGON_OFFSET_FILL);
    }
}

uint32_t pickSupport(ObjectEx& object, const QPoint& p) {
    const auto& gen = object.supportGenIfAny();
    if (!gen)
        return UINT32_MAX;
    support::ShapeDeque shapes;
    gen->collectLiveShapes(shapes);
    if (shapes.empty())
        return UINT32_MAX;
    const GLPickHit hit = pickNearest(p, shapes.size(), [&shapes](std::size_t i) {
        if (shapes[i]->isDeleted())
            return;
        std::vector<topolib::StlTriangle*> triangles;
        shapes[i]->appendTriangles(triangles, false);
        drawTrianglesImmediate(triangles);
    });
    object.clearPointedSupport();
    if (hit.index < 0)
        return UINT32_MAX;
    object.setPointedSupport(shapes[static_cast<std::size_t>(hit.index)]);
    return hit.depth;
}

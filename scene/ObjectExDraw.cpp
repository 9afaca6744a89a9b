// Drawing and picking of one scene object and its supports (GUI thread, the
// view's context current).
#include "scene/GLDrawBuffers.h"
#include "scene/ObjectEx.h"
#include "support/AbtShape.h"
#include "support/SupportGen.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <GL/glu.h>
#include <limits>
#include <vector>

namespace {

constexpr float kSelectedColour[3] = {6.0f / 255.0f, 203.0f / 255.0f, 212.0f / 255.0f};
constexpr float kUnselectedGrey = 1.0f / 3.0f;

void deleteBufferNames(std::vector<uint32_t>& names) {
    const GLBufferFunctions& gl = glBufferFunctions();
    for (uint32_t name : names)
        if (name && gl.deleteBuffers)
            gl.deleteBuffers(1, &name);
    names.clear();
}

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
    if (o.viewMode() == 1) {
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
    if (o.isSelected())
        glColor4f(kSelectedColour[0], kSelectedColour[1], kSelectedColour[2], alpha);
    else
        glColor4f(kUnselectedGrey, kUnselectedGrey, kUnselectedGrey, alpha);
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

} // namespace

void ObjectEx::draw(bool useBuffers, int /*flag*/) {
    const GLBufferFunctions& gl = glBufferFunctions();
    // Names handed back while the context was not current (dropped supports).
    deleteBufferNames(buffersToDelete());
    // An import still waiting for its place on the platform is not shown yet.
    if (!isReady() || !isLoaded() || !isVisible())
        return;
    if (useBuffers && gl.genBuffers) {
        if (triangleRenderStale() || glVertexBuffer == 0) {
            setTriangleRenderStale(true);
            buildFlatRenderArrays();
            std::vector<uint32_t> old = {glVertexBuffer, glTriangleBuffer, glEdgeBuffer};
            deleteBufferNames(old);
            // Positions, then normals, three floats each per array vertex.
            const std::vector<float>& pos = renderPositions();
            const std::vector<float>& nor = renderNormals();
            const std::size_t half = pos.size() * sizeof(float);
            glVertexBuffer = makeBuffer(GL_ARRAY_BUFFER, nullptr, 2 * half, GL_STREAM_DRAW);
            gl.bindBuffer(GL_ARRAY_BUFFER, glVertexBuffer);
            gl.bufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(half), pos.data());
            gl.bufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(half), static_cast<GLsizeiptr>(half),
                             nor.data());
            gl.bindBuffer(GL_ARRAY_BUFFER, 0);
            const std::vector<uint32_t>& lines = renderLineIndices();
            glEdgeBuffer = makeBuffer(GL_ELEMENT_ARRAY_BUFFER, lines.data(), lines.size() * sizeof(uint32_t),
                                      GL_STATIC_DRAW);
            const std::vector<uint32_t>& tris = renderTriangleIndices();
            glTriangleBuffer = makeBuffer(GL_ELEMENT_ARRAY_BUFFER, tris.data(),
                                          tris.size() * sizeof(uint32_t), GL_STATIC_DRAW);
            freeRenderArrays();
        }
        buildSupportBuffer();
        recordObjectGLNames(this);
        glPushMatrix();
        glMultMatrixd(transform().data());
        if (glVertexBuffer) {
            glEnable(GL_DEPTH_TEST);
            gl.bindBuffer(GL_ARRAY_BUFFER, glVertexBuffer);
            // The buffers know their sizes: normals start half-way, indices are u32.
            const std::size_t normalOffset = bufferSize(GL_ARRAY_BUFFER) / 2;
            glNormalPointer(GL_FLOAT, 0, reinterpret_cast<const void*>(normalOffset));
            glVertexPointer(3, GL_FLOAT, 0, nullptr);
            glEnableClientState(GL_VERTEX_ARRAY);
            glEnableClientState(GL_NORMAL_ARRAY);
            if (viewMode() != 2) {
                beginSurface(*this);
                gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, glTriangleBuffer);
                glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(bufferSize(GL_ELEMENT_ARRAY_BUFFER) / 4),
                               GL_UNSIGNED_INT, nullptr);
                endSurface(*this);
            }
            beginEdges();
            if (viewMode() != 0 && glEdgeBuffer) {
                gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, glEdgeBuffer);
                glDrawElements(GL_LINES, static_cast<GLsizei>(bufferSize(GL_ELEMENT_ARRAY_BUFFER) / 4),
                               GL_UNSIGNED_INT, nullptr);
            }
            glEnable(GL_LIGHTING);
            gl.bindBuffer(GL_ARRAY_BUFFER, 0);
            gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
            glDisableClientState(GL_VERTEX_ARRAY);
            glDisableClientState(GL_NORMAL_ARRAY);
        }
        glPopMatrix();
        return;
    }

    // Without vertex buffers: two consecutive display lists, the triangles
    // and the edges (each once, as in the buffer path), compiled again only
    // after the mesh changed; colour and material are set around them as in
    // the buffer path, so both paths look alike.
    if (glTriangleBuffer == 0 || triangleRenderStale()) {
        if (glTriangleBuffer)
            glDeleteLists(glTriangleBuffer, kDisplayListCount);
        setTriangleRenderStale(true);
        buildFlatRenderArrays();
        const std::vector<float>& pos = renderPositions();
        const std::vector<float>& nor = renderNormals();
        glTriangleBuffer = glGenLists(kDisplayListCount);
        glNewList(glTriangleBuffer, GL_COMPILE);
        glBegin(GL_TRIANGLES);
        for (uint32_t i : renderTriangleIndices()) {
            glNormal3fv(&nor[3 * i]);
            glVertex3fv(&pos[3 * i]);
        }
        glEnd();
        glEndList();
        glNewList(glTriangleBuffer + 1, GL_COMPILE);
        glBegin(GL_LINES);
        for (uint32_t i : renderLineIndices())
            glVertex3fv(&pos[3 * i]);
        glEnd();
        glEndList();
        freeRenderArrays();
        recordObjectGLNames(this);
    }
    glPushMatrix();
    glMultMatrixd(transform().data());
    glEnable(GL_DEPTH_TEST);
    if (viewMode() != 2) {
        beginSurface(*this);
        glCallList(glTriangleBuffer);
        endSurface(*this);
    }
    if (viewMode() != 0) {
        beginEdges();
        glCallList(glTriangleBuffer + 1);
        glEnable(GL_LIGHTING);
    }
    glPopMatrix();
}

void ObjectEx::buildSupportBuffer() {
    const auto& gen = supportGenIfAny();
    const GLBufferFunctions& gl = glBufferFunctions();
    if (!gen || !gen->changed || !gl.genBuffers)
        return;
    std::vector<topolib::StlTriangle*> triangles;
    gen->appendAllTriangles(triangles);
    // Supports that dropped to no triangle draw nothing rather than the old mesh.
    std::vector<uint32_t> old = {gen->vertexBuffer, gen->indexBuffer};
    deleteBufferNames(old);
    gen->vertexBuffer = gen->indexBuffer = 0;
    gen->triangleCount = 0;
    gen->changed = 0;
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
    gen->vertexBuffer = makeBuffer(GL_ARRAY_BUFFER, data.data(), data.size() * sizeof(float), GL_STREAM_DRAW);
    gen->indexBuffer = makeBuffer(GL_ELEMENT_ARRAY_BUFFER, indices.data(), indices.size() * sizeof(uint32_t),
                                  GL_STATIC_DRAW);
    gen->triangleCount = static_cast<uint32_t>(n);
}

void ObjectEx::drawSupport() {
    const auto& gen = supportGenIfAny();
    if (!gen)
        return;
    const GLBufferFunctions& gl = glBufferFunctions();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    if (isSelected())
        glColor4f(209.0f / 255.0f, 180.0f / 255.0f, 14.0f / 255.0f, 0.3f);
    else
        glColor4f(56.0f / 255.0f, 52.0f / 255.0f, 92.0f / 255.0f, 0.3f);
    if (gen->triangleCount > 0 && gen->vertexBuffer && gl.bindBuffer) {
        gl.bindBuffer(GL_ARRAY_BUFFER, gen->vertexBuffer);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        glNormalPointer(GL_FLOAT, 0,
                        reinterpret_cast<const void*>(std::size_t(9) * gen->triangleCount * sizeof(float)));
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, gen->indexBuffer);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(3 * gen->triangleCount), GL_UNSIGNED_INT, nullptr);
        gl.bindBuffer(GL_ARRAY_BUFFER, 0);
        gl.bindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
    } else if (gen->vertexBuffer == 0) {
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
    if (support::AbtShape* shape = pointedSupport(); shape && !shape->isDeleted()) {
        std::vector<topolib::StlTriangle*> triangles;
        shape->appendTriangles(triangles, false);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(-0.4f, -1.0f);
        glColor3f(230.0f / 255.0f, 30.0f / 255.0f, 30.0f / 255.0f);
        drawTrianglesImmediate(triangles);
        glDisable(GL_POLYGON_OFFSET_FILL);
    }
}

uint32_t ObjectEx::pickSupportGL(MainGLWidget* /*view*/, const QPoint& p) {
    constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
    const auto& gen = supportGenIfAny();
    if (!gen)
        return kNone;
    support::ShapeDeque shapes;
    gen->collectLiveShapes(shapes);
    if (shapes.empty())
        return kNone;
    std::vector<GLuint> buffer(4 * shapes.size() + 20);
    glSelectBuffer(static_cast<GLsizei>(buffer.size()), buffer.data());
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(0);
    // The pick region times the projection the view's last paint loaded.
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPickMatrix(p.x(), viewport[3] - p.y(), 2.0, 2.0, viewport);
    glMultMatrixd(projection);
    glMatrixMode(GL_MODELVIEW);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        if (shapes[i]->isDeleted())
            continue;
        glLoadName(static_cast<GLuint>(i));
        std::vector<topolib::StlTriangle*> triangles;
        shapes[i]->appendTriangles(triangles, false);
        drawTrianglesImmediate(triangles);
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glFlush();
    const GLint hits = glRenderMode(GL_RENDER);
    clearPointedSupport();
    uint32_t best = kNone;
    const GLuint* rec = buffer.data();
    const GLuint* end = buffer.data() + buffer.size();
    for (GLint i = 0; i < hits && rec + 3 <= end; ++i) {
        const GLuint count = rec[0];
        if (count > 0 && rec + 3 < end && rec[1] < best) {
            best = rec[1];
            setPointedSupport(shapes[rec[3]]);
        }
        rec += 3 + count;
    }
    return best;
}

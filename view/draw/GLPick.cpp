#include "view/draw/GLPick.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <vector>

GLPickHit pickNearest(const QPoint& p, std::size_t count,
                      const std::function<void(std::size_t)>& drawCandidate) {
    GLPickHit best;
    if (count == 0)
        return best;
    // Four words per hit record with one name, and room to spare.
    std::vector<GLuint> buffer(4 * count + 20);
    glSelectBuffer(static_cast<GLsizei>(buffer.size()), buffer.data());
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glRenderMode(GL_SELECT);
    glInitNames();
    glPushName(0);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPickMatrix(p.x(), viewport[3] - p.y(), 2.0, 2.0, viewport);
    glMultMatrixd(projection);
    glMatrixMode(GL_MODELVIEW);
    for (std::size_t i = 0; i < count; ++i) {
        glLoadName(static_cast<GLuint>(i));
        drawCandidate(i);
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glFlush();
    const GLint hits = glRenderMode(GL_RENDER);
    // Records: name count, smallest depth, largest depth, the names.
    const GLuint* rec = buffer.data();
    const GLuint* end = buffer.data() + buffer.size();
    for (GLint h = 0; h < hits && rec + 3 <= end; ++h) {
        const GLuint names = rec[0];
        if (names > 0 && rec + 3 < end && (best.index < 0 || rec[1] < best.depth)) {
            best.depth = rec[1];
            best.index = static_cast<long>(rec[3]);
        }
        rec += 3 + names;
    }
    return best;
}

// Drawing order of the scene: opaque objects, then (unless transparent)
// supports, then transparent objects, then transparent supports blended.
#include "scene/GLDrawBuffers.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"

#include <GL/gl.h>

void ObjectTable::renderObjects(bool useBuffers, int flag) {
    // Objects that left the list give their GL names back now, while the
    // view's context is current.
    releaseGLNamesOfObjectsNotIn(m_objects);
    flushDeletedGLNames();
    for (ObjectEx* o : m_objects)
        dropStaleGLNames(o);
    for (ObjectEx* o : m_objects)
        if (!o->isTransparent())
            o->draw(useBuffers, flag);
    if (!m_transparentSupport)
        for (ObjectEx* o : m_objects)
            o->drawSupport();
    for (ObjectEx* o : m_objects)
        if (o->isTransparent())
            o->draw(useBuffers, flag);
    if (m_transparentSupport) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDepthMask(GL_FALSE);
        for (ObjectEx* o : m_objects)
            o->drawSupport();
        glDisable(GL_BLEND);
        glDepthMask(GL_TRUE);
    }
}

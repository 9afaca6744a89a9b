#include "view/draw/SceneDraw.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "view/draw/GLDrawBuffers.h"
#include "view/draw/ObjectDraw.h"

#include <GL/gl.h>

void renderObjects(const ObjectTable& table, bool useBuffers, GLDrawCache& cache) {
    const std::vector<ObjectEx*>& objects = table.objects();
    // Objects that left the list give their GL names back now, while the
    // view's context is current.
    cache.keepOnly(objects);
    for (ObjectEx* o : objects)
        if (!o->isTransparent())
            drawObject(*o, useBuffers, cache);
    if (!table.transparentSupport())
        for (ObjectEx* o : objects)
            drawObjectSupport(*o, cache);
    for (ObjectEx* o : objects)
        if (o->isTransparent())
            drawObject(*o, useBuffers, cache);
    if (table.transparentSupport()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDepthMask(GL_FALSE);
        for (ObjectEx* o : objects)
            drawObjectSupport(*o, cache);
        glDisable(GL_BLEND);
        glDepthMask(GL_TRUE);
    }
}

void pickSupportAtCursor(const ObjectTable& table, const QPoint& p) {
    uint32_t best = UINT32_MAX;
    ObjectEx* bestObject = nullptr;
    for (ObjectEx* o : table.objects()) {
        if (!o->isReady() || !o->isSelected() || !o->isVisible())
            continue;
        const uint32_t depth = pickSupport(*o, p);
        if (depth < best) {
            if (bestObject)
                bestObject->clearPointedSupport();
            best = depth;
            bestObject = o;
        } else {
            o->clearPointedSupport();
        }
    }
}

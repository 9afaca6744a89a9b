// The hollowing panel's drawing and hole picking (fixed-function OpenGL, called
// while the view's context is current). The preview is drawn from client-side
// vertex arrays; the holes' side walls triangle by triangle.

#include "src/Features/lcm/HollowDlg.h"

#include "src/Features/lcm/HollowContext.h"
#include "view/draw/GLPick.h"

#include <QCheckBox>
#include <QPoint>

#include <GL/gl.h>

#include <vector>

namespace {

// The first 2N triangles of a hole's mesh: its side wall.
void drawHoleWall(const lcm::DrainHole& hole) {
    uint32_t count = 0, side = 0;
    const double *v = nullptr, *n = nullptr;
    const uint32_t* idx = nullptr;
    hole.meshArrays(&count, &side, &v, &n, &idx);
    if (count == 0)
        return;
    glBegin(GL_TRIANGLES);
    for (uint32_t t = 0; t < side && 3 * t + 2 < hole.indices().size(); ++t)
        for (int k = 0; k < 3; ++k) {
            const uint32_t i = idx[3 * t + static_cast<uint32_t>(k)];
            glNormal3dv(n + 3 * i);
            glVertex3dv(v + 3 * i);
        }
    glEnd();
}

} // namespace

void HollowDlg::drawPreview() {
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glShadeModel(GL_SMOOTH);
    glDepthMask(GL_FALSE);
    if (m_context && !m_previewPositions.empty()) {
        glEnable(GL_LIGHTING);
        glColor4f(0.0f, 0.55f, 0.35f, 0.6f);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, m_previewPositions.data());
        glNormalPointer(GL_FLOAT, 0, m_previewNormals.data());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(m_previewPositions.size() / 3));
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
    }
    if (m_context && _checkMakeHoles->isChecked()) {
        glEnable(GL_LIGHTING);
        if (const lcm::DrainHole* pending = m_context->pendingHole()) {
            glColor4f(0.9f, 0.0f, 0.0f, 0.4f);
            drawHoleWall(*pending);
        }
        glEnable(GL_DEPTH_TEST);
        glColor4f(0.9f, 0.5f, 0.1f, 0.4f);
        for (const auto& hole : m_context->holes()) {
            drawHoleWall(*hole);
            hole->buffersDirty = 0;
        }
    }
    glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
}

bool HollowDlg::removeHoleAt(const QPoint& p) {
    if (!m_context || m_context->holes().empty())
        return false;
    const auto& holes = m_context->holes();
    const GLPickHit hit = pickNearest(p, holes.size(), [&holes](std::size_t i) { drawHoleWall(*holes[i]); });
    return hit.index >= 0 && m_context->removeHole(static_cast<int>(hit.index));
}

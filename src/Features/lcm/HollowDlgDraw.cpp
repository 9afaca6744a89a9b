// The hollowing panel's drawing and hole picking (fixed-function OpenGL, called
// while the view's context is current). The preview is drawn from client-side
// vertex arrays; the holes' side walls triangle by triangle, each committed
// hole with its number beside it.

#include "src/Features/lcm/HollowDlg.h"

#include "src/Features/lcm/HollowContext.h"
#include "view/draw/GLPick.h"

#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPoint>

#include <GL/gl.h>

#include <algorithm>
#include <memory>
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

// The label of drain hole `number`: the number in black on a yellow box,
// rows bottom first as glDrawPixels takes them.
QImage holeLabel(int number, int textUnit) {
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(12, textUnit * 15 / 16));
    const QString text = QString::number(number);
    const QFontMetrics metrics(font);
    const QSize size(metrics.horizontalAdvance(text) + 10, metrics.height() + 4);
    QImage image(size, QImage::Format_RGBA8888);
    image.fill(QColor(255, 221, 0));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawRect(QRect(QPoint(0, 0), size - QSize(1, 1)));
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, text);
    painter.end();
    return image.mirrored();
}

// Draws the labels of the committed holes, each up and to the right of the
// point where its hole was placed, over everything: the warnings of Ok name
// holes by these numbers, their places in the list. A hole whose point lies
// outside the view gets none (the raster position is invalid there).
void drawHoleLabels(const std::vector<std::unique_ptr<lcm::DrainHole>>& holes, int textUnit) {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    const int offset = std::max(4, textUnit / 2);
    for (std::size_t k = 0; k < holes.size(); ++k) {
        const QImage label = holeLabel(static_cast<int>(k + 1), textUnit);
        glRasterPos3dv(holes[k]->position);
        glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(offset), static_cast<GLfloat>(offset), nullptr);
        glDrawPixels(label.width(), label.height(), GL_RGBA, GL_UNSIGNED_BYTE, label.constBits());
    }
    glEnable(GL_LIGHTING);
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
        drawHoleLabels(m_context->holes(), scaledToTextUnit(16));
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

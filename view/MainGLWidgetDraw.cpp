// The view's fixed parts: background, axes, platform with grid and build-volume
// box, selection rectangle and orientation cube, and its GL-selection picking.
#include "view/MainGLWidget.h"

#include "app/PrinterVolume.h"
#include "scene/ObjectTable.h"
#include "topolib/GeometricPredicates.h"
#include "view/GLPrimitives.h"
#include "view/ViewTools.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QOpenGLTexture>
#include <QPainter>

#include <GL/glu.h>
#include <algorithm>
#include <cmath>

namespace {

struct PrinterImages {
    const char* background;
    const char* platform;
};

PrinterImages printerImages() {
    switch (currentPrinter()) {
    case PRINTER_TARN:
        return {":/bkground/Resources/bkground/stone_graphite_tarn.png",
                ":/bkground/Resources/bkground/platformBgr_tarn.png"};
    case PRINTER_TARN_200:
        return {":/bkground/Resources/bkground/stone_graphite_tarn_200.png",
                ":/bkground/Resources/bkground/platformBgr_tarn200.png"};
    default:
        return {":/bkground/Resources/bkground/stone_graphite.png",
                ":/bkground/Resources/bkground/platformBgr.png"};
    }
}

} // namespace

// A side × side image in the fill colour with the text centred in black.
void renderLabelImage(QImage& out, const QString& text, const QFont& font, int side, QRgb fill) {
    out = QImage(side, side, QImage::Format_RGB32);
    out.fill(fill);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, text);
}

void MainGLWidget::drawBackground() {
    disableSmoothBlend();
    glDisable(GL_DEPTH_TEST);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glShadeModel(GL_SMOOTH);
    const double hw = _camera.width * 0.5 / _camera.zoom;
    const double hh = _camera.height * 0.5 / _camera.zoom;
    glEnable(GL_TEXTURE_2D);
    if (_reloadTextures) {
        if (_backgroundTexture)
            deleteTexture(_backgroundTexture);
        if (_platformTexture)
            deleteTexture(_platformTexture);
        _backgroundTexture = _platformTexture = 0;
    }
    if (!_backgroundTexture) {
        _backgroundTexture =
            bindTexture(QImage(QString::fromLatin1(printerImages().background)), GL_TEXTURE_2D, GL_RGBA);
        _reloadTextures = false;
    } else {
        glBindTexture(GL_TEXTURE_2D, _backgroundTexture);
    }
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glTexCoord2d(0, 0);
    glVertex2d(-hw, -hh);
    glTexCoord2d(1, 0);
    glVertex2d(hw, -hh);
    glTexCoord2d(1, 1);
    glVertex2d(hw, hh);
    glTexCoord2d(0, 1);
    glVertex2d(-hw, hh);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glPopMatrix();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
}

void MainGLWidget::drawAxes() {
    glDisable(GL_LIGHTING);
    glLineWidth(2.0f);
    const double len = 50.0 / _camera.zoom;
    glBegin(GL_LINES);
    glColor3d(1, 0, 0);
    glVertex3d(0, 0, 0);
    glVertex3d(len, 0, 0);
    glColor3d(0, 1, 0);
    glVertex3d(0, 0, 0);
    glVertex3d(0, len, 0);
    glColor3d(0, 0, 1);
    glVertex3d(0, 0, 0);
    glVertex3d(0, 0, len);
    glEnd();
    glEnable(GL_LIGHTING);
}

void MainGLWidget::drawPlatform() {
    const double X = _buildVolume[0], Y = _buildVolume[1], Z = _buildVolume[2];
    glPushMatrix();
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_LINE);
    glLineWidth(1.0f);

    const double m = X * 0.02;
    glColor4ub(220, 240, 230, 255);
    glBegin(GL_QUADS);
    glVertex3d(-m, -m, -0.03);
    glVertex3d(X + m, -m, -0.03);
    glVertex3d(X + m, Y + m, -0.03);
    glVertex3d(-m, Y + m, -0.03);
    glEnd();

    const double t = X * 0.0423728813559322;
    glEnable(GL_TEXTURE_2D);
    if (!_platformTexture)
        _platformTexture =
            bindTexture(QImage(QString::fromLatin1(printerImages().platform)), GL_TEXTURE_2D, GL_RGBA);
    else
        glBindTexture(GL_TEXTURE_2D, _platformTexture);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glTexCoord2d(0, 0);
    glVertex3d(-t, -t, -0.02);
    glTexCoord2d(1, 0);
    glVertex3d(X + t, -t, -0.02);
    glTexCoord2d(1, 1);
    glVertex3d(X + t, Y + t, -0.02);
    glTexCoord2d(0, 1);
    glVertex3d(-t, Y + t, -0.02);
    glEnd();
    glDisable(GL_TEXTURE_2D);

    enableSmoothBlend();
    drawPlatformGrid();

    glLineWidth(1.0f);
    glColor4ub(255, 255, 255, 255);
    glBegin(GL_LINES);
    const double corners[4][2] = {{0, 0}, {X, 0}, {0, Y}, {X, Y}};
    for (const auto& c : corners) {
        glVertex3d(c[0], c[1], 0);
        glVertex3d(c[0], c[1], Z);
    }
    const double top[4][6] = {{0, 0, Z, X, 0, Z}, {0, 0, Z, 0, Y, Z}, {0, Y, Z, X, Y, Z}, {X, 0, Z, X, Y, Z}};
    for (const auto& e : top) {
        glVertex3d(e[0], e[1], e[2]);
        glVertex3d(e[3], e[4], e[5]);
    }
    glEnd();

    disableSmoothBlend();
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glPopMatrix();
}

void MainGLWidget::drawPlatformGrid() {
    const double X = _buildVolume[0], Y = _buildVolume[1];
    auto line = [](int index, double ax, double ay, double bx, double by) {
        const bool major = index % 5 == 0;
        glLineWidth(major ? 1.3f : 0.2f);
        glColor4d(0, 0, 0, major ? 0.5 : 0.2);
        glBegin(GL_LINES);
        glVertex3d(ax, ay, 0);
        glVertex3d(bx, by, 0);
        glEnd();
    };
    int i = 0;
    for (double y = 0; y <= Y; y += 5, ++i)
        line(i, 0, y, X + 0.0001, y);
    i = 0;
    for (double x = 0; x <= X; x += 5, ++i)
        line(i, x, 0, x, Y + 0.0001);
}

void MainGLWidget::drawSelectionRectangle(const QPoint& a, const QPoint& b) {
    if (std::abs(a.x() - b.x()) < 3 && std::abs(a.y() - b.y()) < 3)
        return;
    const QPoint screen[4] = {a, QPoint(a.x(), b.y()), b, QPoint(b.x(), a.y())};
    const double origin[3] = {0, 0, 0};
    double corners[4][3];
    for (int i = 0; i < 4; ++i)
        _camera.screenPointOnPlane(screen[i].x(), screen[i].y(), origin, corners[i]);
    glPushMatrix();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glColor4d(0.36, 0.79, 0.93, 0.25);
    glBegin(GL_QUADS);
    for (const auto& c : corners)
        glVertex3dv(c);
    glEnd();
    glDisable(GL_BLEND);
    glColor3d(0.0, 0.42, 0.6);
    glLineWidth(1.0f);
    glBegin(GL_LINE_LOOP);
    for (const auto& c : corners)
        glVertex3dv(c);
    glEnd();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glPopMatrix();
}

// ---- Orientation cube ---------------------------------------------------------

void MainGLWidget::placeOrientationCube() {
    // The cube is drawn in pixel units: a camera of zoom 1 with the scene's
    // rotation places it.
    ViewCamera pixels = _camera;
    pixels.zoom = 1.0;
    const double s = _cubeSize;
    const double origin[3] = {0, 0, 0};
    pixels.screenPointOnPlane(_camera.width - std::lround(s), std::lround(s), origin, _cubeAnchor);
    double* c0 = _cubeCorners[0];
    for (int a = 0; a < 3; ++a)
        c0[a] = _cubeAnchor[a] - s / 2;
    const double offsets[8][3] = {{0, 0, 0}, {s, 0, 0}, {s, s, 0}, {0, s, 0},
                                  {0, 0, s}, {s, 0, s}, {s, s, s}, {0, s, s}};
    for (int k = 0; k < 8; ++k)
        for (int a = 0; a < 3; ++a)
            _cubeCorners[k][a] = c0[a] + offsets[k][a];
}

void MainGLWidget::drawOrientationCube() {
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    const float w = float(_camera.width), h = float(_camera.height);
    glOrtho(-w / 2, w / 2, -h / 2, h / 2, -10000, 10000);
    glMatrixMode(GL_MODELVIEW);
    placeOrientationCube();
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    drawCubeFaces(false);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

void MainGLWidget::drawCubeFaces(bool selectionMode) {
    if (selectionMode)
        glPushName(0);
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    for (int face = 1; face <= 6; ++face) {
        QOpenGLTexture* tex = _faceTextures[face == _hoveredFace ? face + 5 : face - 1];
        if (tex)
            tex->bind();
        if (selectionMode)
            glLoadName(face);
        const int* k = kCubeFaces[face - 1];
        glBegin(GL_QUADS);
        glTexCoord2d(0, 0);
        glVertex3dv(_cubeCorners[k[0]]);
        glTexCoord2d(1, 0);
        glVertex3dv(_cubeCorners[k[1]]);
        glTexCoord2d(1, 1);
        glVertex3dv(_cubeCorners[k[2]]);
        glTexCoord2d(0, 1);
        glVertex3dv(_cubeCorners[k[3]]);
        glEnd();
    }
    glDisable(GL_TEXTURE_2D);
    if (selectionMode)
        glPopName();
    disableSmoothBlend();
}

void MainGLWidget::buildCubeTextures() {
    static const char* const labels[6] = {"X-", "X+", "Y-", "Y+", "Z-", "Z+"};
    const QFont font(QStringLiteral("Arial"), 20, 75);
    const QFontMetrics metrics(font);
    int side = 1;
    for (const char* l : labels)
        side = std::max(side, metrics.horizontalAdvance(QString::fromLatin1(l)) + 3);
    const QRgb colours[3] = {qRgb(255, 128, 128), qRgb(128, 255, 128), qRgb(128, 128, 255)};
    for (int i = 0; i < 12; ++i) {
        const int face = i % 6;
        QImage image;
        renderLabelImage(image, QString::fromLatin1(labels[face]), font, side,
                         i < 6 ? colours[face / 2] : qRgb(255, 255, 0));
        auto* tex = new QOpenGLTexture(image.mirrored(false, true));
        tex->setMinificationFilter(QOpenGLTexture::Linear);
        tex->setMagnificationFilter(QOpenGLTexture::Linear);
        _faceTextures[i] = tex;
    }
}

void MainGLWidget::freeCubeTextures() {
    for (QOpenGLTexture*& t : _faceTextures) {
        delete t;
        t = nullptr;
    }
}

// ---- Picking --------------------------------------------------------------------

int MainGLWidget::pickNearest(const QPoint& pos, double regionSize, double scale,
                              void (MainGLWidget::*draw)()) {
    if (!isValid() || _camera.width <= 0)
        return 0;
    makeCurrent();
    GLuint buffer[104];
    glSelectBuffer(104, buffer);
    glRenderMode(GL_SELECT);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPickMatrix(pos.x(), viewport[3] - pos.y(), regionSize, regionSize, viewport);
    const double w = _camera.width, h = _camera.height;
    glOrtho(-w / 2 / scale, w / 2 / scale, -h / 2 / scale, h / 2 / scale, -10000, 10000);
    glInitNames();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixd(_camera.modelView);
    (this->*draw)();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glFlush();
    const int hits = glRenderMode(GL_RENDER);
    GLuint best = 0xFFFFFFFFu;
    int name = 0;
    // Each record: name count, minimum depth, maximum depth, names.
    const GLuint* p = buffer;
    for (int i = 0; i < hits && p + 3 < buffer + 104; ++i) {
        const GLuint count = p[0];
        if (count > 0 && p[1] < best) {
            best = p[1];
            name = static_cast<int>(p[3]);
        }
        p += 3 + count;
    }
    return name;
}

int MainGLWidget::pickCubeFace(const QPoint& pos) {
    return pickNearest(pos, 1.0, 1.0, &MainGLWidget::drawCubeFacesForSelection);
}

bool MainGLWidget::pickStandardView(const QPoint& pos, bool hoverOnly) {
    const int face = pickCubeFace(pos);
    if (face < 1 || face > 7) {
        _hoveredFace = 0;
        return false;
    }
    if (!hoverOnly) {
        setStandardView(face);
        return pickStandardView(pos, true);
    }
    _hoveredFace = face;
    return true;
}

void MainGLWidget::drawManipulatorForSelection() {
    if (_mode == ViewMode::Transform && _manipulatorShown && _manipulator)
        _manipulator->draw(true);
}

int MainGLWidget::pickManipulatorPart(const QPoint& pos) {
    const int part = pickNearest(pos, 6.0, _camera.zoom, &MainGLWidget::drawManipulatorForSelection);
    if (part != 0)
        return part;
    return ObjectTable::instance()->pickObjectAtScreenPoint(pos, true) ? 8 : 0;
}

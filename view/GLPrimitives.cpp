#include "view/GLPrimitives.h"

#include "topolib/Vector3D.h"

#include <GL/gl.h>
#include <cmath>

using topolib::Vector3D;

void enableSmoothBlend() {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_LINE_SMOOTH);
}

void disableSmoothBlend() {
    glDisable(GL_BLEND);
    glDisable(GL_POINT_SMOOTH);
    glDisable(GL_LINE_SMOOTH);
}

int sectorSegmentCount(double angle) {
    return 1 - static_cast<int>(std::lround(angle / -0.017453292516666667));
}

void drawSector(const double centre[3], const double startDir[3], const double normal[3], const double* angle,
                const double* radius) {
    const Vector3D c(centre), s(startDir), n(normal);
    Vector3D w = n.cross(s);
    w.normalize();
    const int segments = sectorSegmentCount(*angle);
    const double step = *angle / segments;
    glBegin(GL_TRIANGLE_FAN);
    glNormal3dv(normal);
    glVertex3dv(c.data());
    glVertex3dv((c + s * *radius).data());
    for (int k = 1; k <= segments; ++k) {
        const Vector3D p = c + (s * std::cos(k * step) + w * std::sin(k * step)) * *radius;
        glVertex3dv(p.data());
    }
    glEnd();
}

void drawPointCone(const double base[3], const double tip[3], const double* size) {
    const Vector3D b(base), t(tip);
    Vector3D d = t - b;
    const double length = std::sqrt(d.lengthSquared());
    if (length <= 0.0 || *size <= 0.1)
        return;
    d /= length;
    const double step = length / (1.7 * *size);
    const double grow = (*size - 0.1) / (1.7 * *size);
    double pointSize = 0.1;
    Vector3D p = t;
    while (pointSize < *size) {
        glPointSize(static_cast<float>(pointSize));
        glBegin(GL_POINTS);
        glVertex3dv(p.data());
        glEnd();
        pointSize += grow;
        p -= d * step;
    }
}

void circleSegmentAngles(int k, double* from, double* to) {
    if (k == 71) {
        *from = 0.0;
        *to = 355.0;
        return;
    }
    *from = k * 5.0;
    *to = (k + 1) * 5.0;
}

void drawCircleSegments(const double* radius, const double* colour, int first, int count) {
    if (colour)
        glColor3dv(colour);
    else
        glColor3d(0, 0, 1);
    glBegin(GL_LINES);
    for (int k = first; k < first + count; ++k) {
        double a0, a1;
        circleSegmentAngles(k, &a0, &a1);
        a0 *= M_PI / 180.0;
        a1 *= M_PI / 180.0;
        glVertex3d(*radius * std::cos(a0), *radius * std::sin(a0), 0.0);
        glVertex3d(*radius * std::cos(a1), *radius * std::sin(a1), 0.0);
    }
    glEnd();
}

void drawRing(const double centre[3], const double axis[3], const double* radius, const double* colour) {
    const Vector3D z(0, 0, 1), a(axis);
    const Vector3D about = z.cross(a);
    const double len = std::sqrt(a.lengthSquared());
    const double cosAngle = len > 0 ? a.z / len : 1.0;
    const double degrees = std::acos(std::max(-1.0, std::min(1.0, cosAngle))) * 180.0 / 3.141592653;
    glPushMatrix();
    glTranslated(centre[0], centre[1], centre[2]);
    if (about.lengthSquared() > 0)
        glRotated(degrees, about.x, about.y, about.z);
    else if (cosAngle < 0)
        glRotated(180.0, 1, 0, 0);
    drawCircleSegments(radius, colour, 0, 100);
    glPopMatrix();
}

void drawStippledLine(const double a[3], const double b[3], const double colour[3], const float* width,
                      int factor, unsigned short pattern) {
    glLineWidth(*width);
    glDisable(GL_LIGHTING);
    if (factor > 0) {
        glLineStipple(factor, pattern);
        glEnable(GL_LINE_STIPPLE);
    }
    glColor3dv(colour);
    glBegin(GL_LINES);
    glVertex3dv(a);
    glVertex3dv(b);
    glEnd();
    glDisable(GL_LINE_STIPPLE);
}

void drawStippledRectangle(const double a[3], const double b[3], const double colour[3], int plane,
                           double width, bool stippled) {
    glLineWidth(static_cast<float>(width));
    glDisable(GL_LIGHTING);
    if (stippled) {
        glLineStipple(3, 0xAAAA);
        glEnable(GL_LINE_STIPPLE);
    }
    glColor3dv(colour);
    glBegin(GL_LINE_LOOP);
    glVertex3dv(a);
    if (plane == 1) {
        glVertex3d(b[0], a[1], a[2]);
        glVertex3d(b[0], a[1], b[2]);
        glVertex3d(a[0], a[1], b[2]);
    } else if (plane == 0) {
        glVertex3d(a[0], a[1], b[2]);
        glVertex3d(a[0], b[1], b[2]);
        glVertex3d(a[0], b[1], a[2]);
    } else {
        glVertex3d(a[0], b[1], a[2]);
        glVertex3d(b[0], b[1], a[2]);
        glVertex3d(b[0], a[1], a[2]);
    }
    glEnd();
    glDisable(GL_LINE_STIPPLE);
}

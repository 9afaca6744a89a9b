#include "view/ViewCamera.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/Matrix4D.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr double kCos30 = 0.8660254037844384;
constexpr double kSin20 = 0.3420201433256688;
constexpr double kCos20 = 0.9396926207859083;

void identity(double m[16]) {
    std::memset(m, 0, 16 * sizeof(double));
    m[0] = m[5] = m[10] = m[15] = 1.0;
}

// out := a × b (column order); out may alias neither.
void mul(const double a[16], const double b[16], double out[16]) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[4 * k + r] * b[4 * c + k];
            out[4 * c + r] = s;
        }
}

// The matrix glRotated(angle, x, y, z) multiplies with.
void rotationMatrix(double angleDeg, const double axis[3], double m[16]) {
    identity(m);
    const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    if (len <= 0.0)
        return;
    const double x = axis[0] / len, y = axis[1] / len, z = axis[2] / len;
    const double a = angleDeg * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a), t = 1.0 - c;
    m[0] = x * x * t + c;
    m[1] = y * x * t + z * s;
    m[2] = x * z * t - y * s;
    m[4] = x * y * t - z * s;
    m[5] = y * y * t + c;
    m[6] = y * z * t + x * s;
    m[8] = x * z * t + y * s;
    m[9] = y * z * t - x * s;
    m[10] = z * z * t + c;
}

void translationMatrix(double x, double y, double z, double m[16]) {
    identity(m);
    m[12] = x;
    m[13] = y;
    m[14] = z;
}

bool allFinite(const double* v, int n) {
    return std::all_of(v, v + n, [](double x) { return std::isfinite(x); });
}

// How far the model-view matrix carries the world origin from the eye.
double eyeDistance(const double m[16]) {
    return std::sqrt(m[12] * m[12] + m[13] * m[13] + m[14] * m[14]);
}

// The eye may be as far from the world origin as a framed box's centre can
// lie (each coordinate within kMaxCoordinate), and no farther.
constexpr double kMaxEyeDistance = 2.0 * ViewCamera::kMaxCoordinate;

} // namespace

bool ViewCamera::isSanePoint(const double p[3]) {
    return allFinite(p, 3) &&
           std::all_of(p, p + 3, [](double x) { return std::fabs(x) <= kMaxCoordinate; });
}

bool ViewCamera::setRenderCenter(const double c[3]) {
    if (!isSanePoint(c))
        return false;
    std::copy(c, c + 3, renderCenter);
    return true;
}

bool ViewCamera::setRotationCenter(const double c[3]) {
    if (!isSanePoint(c))
        return false;
    std::copy(c, c + 3, rotationCenter);
    return true;
}

bool ViewCamera::setZoom(double z) {
    if (!std::isfinite(z) || z <= 0.0)
        return false;
    zoom = std::clamp(z, kMinZoom, kMaxZoom);
    return true;
}

bool ViewCamera::setModelView(const double m[16]) {
    if (!allFinite(m, 16) || eyeDistance(m) > kMaxEyeDistance)
        return false;
    std::copy(m, m + 16, modelView);
    return true;
}

CameraState ViewCamera::state() const {
    CameraState s;
    s.zoom = zoom;
    std::copy(modelView, modelView + 16, s.modelView);
    std::copy(renderCenter, renderCenter + 3, s.renderCenter);
    return s;
}

void ViewCamera::setState(const CameraState& s) {
    zoom = std::clamp(s.zoom, kMinZoom, kMaxZoom);
    std::copy(s.modelView, s.modelView + 16, modelView);
    std::copy(s.renderCenter, s.renderCenter + 3, renderCenter);
}

template <class Move>
void ViewCamera::guarded(Move&& move) {
    const ViewCamera before = *this;
    move();
    const bool farther = eyeDistance(modelView) > std::max(kMaxEyeDistance, eyeDistance(before.modelView));
    if (!allFinite(modelView, 16) || farther || !std::isfinite(zoom) || zoom <= 0.0)
        *this = before;
}

ViewCamera::ViewCamera() {
    identity(modelView);
}

void ViewCamera::orthoBounds(double out[6]) const {
    const double w = width, h = height, z = zoom;
    const double hw = w * 0.5 / z, hh = h * 0.5 / z;
    const double* c = renderCenter;
    const double lo = std::min({c[0] - 5000, c[1] - 5000, c[2] - 5000});
    const double hi = std::max({c[0] + 5000, c[1] + 5000, c[2] + 5000});
    const double mid = (lo + hi) / 2;
    const double span = std::max(h / z, w / z);
    const double e = (2 * span > 2 * (hi - lo)) ? span + mid : 2 * hi - mid;
    const double* r = rotationCenter;
    const double rmax = std::max({std::fabs(r[0]), std::fabs(r[1]), std::fabs(r[2])});
    const double d = std::max(2 * rmax, 2 * e);
    out[0] = -hw;
    out[1] = hw;
    out[2] = -hh;
    out[3] = hh;
    out[4] = -2 * d;
    out[5] = d;
}

void ViewCamera::projectionMatrix(double m[16]) const {
    double b[6];
    orthoBounds(b);
    identity(m);
    const double l = b[0], r = b[1], bo = b[2], t = b[3], n = b[4], f = b[5];
    m[0] = 2.0 / (r - l);
    m[5] = 2.0 / (t - bo);
    m[10] = -2.0 / (f - n);
    m[12] = -(r + l) / (r - l);
    m[13] = -(t + bo) / (t - bo);
    m[14] = -(f + n) / (f - n);
}

void ViewCamera::combined(double out[16]) const {
    double p[16];
    projectionMatrix(p);
    mul(p, modelView, out);
}

bool ViewCamera::projectToWindow(const double p[3], double win[3]) const {
    double pm[16];
    combined(pm);
    double v[4];
    for (int r = 0; r < 4; ++r)
        v[r] = pm[r] * p[0] + pm[4 + r] * p[1] + pm[8 + r] * p[2] + pm[12 + r];
    if (v[3] == 0.0)
        return false;
    for (int r = 0; r < 3; ++r)
        v[r] /= v[3];
    win[0] = width * (v[0] * 0.5 + 0.5);
    win[1] = height * (v[1] * 0.5 + 0.5);
    win[2] = v[2] * 0.5 + 0.5;
    return true;
}

bool ViewCamera::unprojectWindow(double x, double y, double depth, double out[3]) const {
    topolib::Matrix4D pm;
    combined(pm.m);
    try {
        pm.invert();
    } catch (const std::runtime_error&) {
        return false;
    }
    if (width <= 0 || height <= 0)
        return false;
    const double in[4] = {x / width * 2.0 - 1.0, y / height * 2.0 - 1.0, depth * 2.0 - 1.0, 1.0};
    double v[4];
    for (int r = 0; r < 4; ++r)
        v[r] = pm.m[r] * in[0] + pm.m[4 + r] * in[1] + pm.m[8 + r] * in[2] + pm.m[12 + r] * in[3];
    if (v[3] == 0.0)
        return false;
    for (int r = 0; r < 3; ++r)
        out[r] = v[r] / v[3];
    return true;
}

void ViewCamera::projectToScreen(const double p[3], int out[2]) const {
    const double q[3] = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
    double win[3] = {0, 0, 0};
    projectToWindow(q, win);
    out[0] = static_cast<int>(std::lround(win[0]));
    out[1] = static_cast<int>(std::lround(height - win[1]));
}

bool ViewCamera::unprojectScreen(double x, double y, double depth, double out[3]) const {
    return unprojectWindow(x, height - y, depth, out);
}

void ViewCamera::viewAxis(double out[3]) const {
    out[0] = modelView[2];
    out[1] = modelView[6];
    out[2] = modelView[10];
}

void ViewCamera::screenPointOnPlane(double x, double y, const double planePoint[3], double out[3]) const {
    double p[3] = {0, 0, 0};
    unprojectScreen(x, y, kNearDepth, p);
    double axis[3];
    viewAxis(axis);
    topolib::projectPointOnPlane(p, planePoint, axis, out);
}

void ViewCamera::resize(int w, int h) {
    if (width > 0 && height > 0) {
        const double rx = std::fabs(double(w - width)) / width;
        const double ry = std::fabs(double(h - height)) / height;
        const float factor = rx > ry ? float(h) / float(height) : float(w) / float(width);
        if (factor > 0.0001f && std::isfinite(factor))
            zoom = std::clamp(zoom * factor, kMinZoom, kMaxZoom);
    }
    width = w;
    height = h;
}

bool ViewCamera::resetView(const double boxMin[3], const double boxMax[3], const double sceneCenter[3]) {
    if (!isSanePoint(boxMin) || !isSanePoint(boxMax))
        return false;
    double s[3], c[3];
    for (int a = 0; a < 3; ++a) {
        s[a] = boxMax[a] - boxMin[a];
        c[a] = boxMin[a] + s[a] / 2;
    }
    const double L = std::sqrt(s[0] * s[0] + s[1] * s[1]);
    const double across = std::fabs(kCos20 * L * 0.5) + std::fabs(s[2] * kCos20);
    double z = std::min(L > 0 ? (width - 5) / L : HUGE_VAL, across > 0 ? (height - 5) / across : HUGE_VAL);
    // An empty or flat scene has nothing to fit: keep the current zoom.
    if (!std::isfinite(z) || z <= 0)
        z = zoom;
    zoom = std::clamp(z, kMinZoom, kMaxZoom);

    standardViewMatrix(0, modelView);
    for (int r = 0; r < 3; ++r)
        modelView[12 + r] = -(modelView[r] * c[0] + modelView[4 + r] * c[1] + modelView[8 + r] * c[2]);

    double render[3];
    screenPointOnPlane(width / 2, height / 2, isSanePoint(sceneCenter) ? sceneCenter : c, render);
    if (!setRenderCenter(render))
        setRenderCenter(c);
    // A rotation centre is chosen at every rotation start; until then it
    // must not stretch the depth range beyond the framed box.
    if (!isSanePoint(rotationCenter))
        setRotationCenter(c);
    return true;
}

void ViewCamera::multiply(const double m[16]) {
    guarded([&] {
        double out[16];
        mul(modelView, m, out);
        std::memcpy(modelView, out, sizeof out);
    });
}

void ViewCamera::rotateAbout(const double c[3], double angleDeg, const double axis[3]) {
    double t[16], r[16], tr[16], back[16], all[16];
    translationMatrix(c[0], c[1], c[2], t);
    rotationMatrix(angleDeg, axis, r);
    translationMatrix(-c[0], -c[1], -c[2], back);
    mul(t, r, tr);
    mul(tr, back, all);
    multiply(all);
}

void ViewCamera::rotateDrag(int dx, int dy) {
    if (width <= 0 || height <= 0)
        return;
    if (std::abs(dx) > std::abs(dy)) {
        float angle = float(dx) * 380.0f / float(width);
        while (angle > 180.0f)
            angle -= 360.0f;
        while (angle < -180.0f)
            angle += 360.0f;
        const double up[3] = {0, 0, 1};
        rotateAbout(rotationCenter, angle, up);
    } else {
        float angle = float(dy) * 380.0f / float(height);
        if (angle > 360.0f)
            angle -= 360.0f;
        else if (angle < -360.0f)
            angle += 360.0f;
        // The screen's x axis in world coordinates, laid into the platform plane.
        const double axis[3] = {modelView[0], modelView[4], 0.0};
        if (axis[0] == 0.0 && axis[1] == 0.0)
            return;
        rotateAbout(rotationCenter, angle, axis);
    }
}

void ViewCamera::pan(double ax, double ay, double bx, double by) {
    const double origin[3] = {0, 0, 0};
    double a[3], b[3];
    screenPointOnPlane(ax, ay, origin, a);
    screenPointOnPlane(bx, by, origin, b);
    double t[16];
    translationMatrix(float(b[0] - a[0]), float(b[1] - a[1]), float(b[2] - a[2]), t);
    multiply(t);
}

void ViewCamera::zoomDrag(int lastY, int targetY) {
    const float factor = static_cast<float>(std::pow(2.0, (lastY - targetY) * 0.005));
    if (std::isfinite(factor))
        zoom = std::clamp(zoom * factor, kMinZoom, kMaxZoom);
}

void ViewCamera::wheelZoom(int x, int y, int delta) {
    // One step as a whole: a pan that is refused must not leave the zoom
    // about another point.
    guarded([&] {
        const int d = delta / 3;
        pan(x, y, width / 2, height / 2);
        zoomDrag(y, y - d);
        pan(width / 2, height / 2, x, y);
    });
}

void ViewCamera::standardViewMatrix(int face, double m[16]) {
    // Rows of the rotation: screen x, screen y, towards the viewer.
    static const double rows[6][9] = {
        {0, -1, 0, 0, 0, 1, -1, 0, 0}, // X-: from -X, -y to the right
        {0, 1, 0, 0, 0, 1, 1, 0, 0},   // X+: from +X, +y to the right
        {1, 0, 0, 0, 0, 1, 0, -1, 0},  // Y-: the front
        {-1, 0, 0, 0, 0, 1, 0, 1, 0},  // Y+: the back
        {1, 0, 0, 0, -1, 0, 0, 0, -1}, // Z-: from below, -y up
        {1, 0, 0, 0, 1, 0, 0, 0, 1},   // Z+: from above
    };
    identity(m);
    if (face >= 1 && face <= 6) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                m[4 * c + r] = rows[face - 1][3 * r + c];
        return;
    }
    // The default oblique view from the front left and above.
    const double cols[3][3] = {{kCos30, kSin20 * 0.5, -kCos20 * 0.5},
                               {-0.5, kSin20 * kCos30, -kCos20 * kCos30},
                               {0, kCos20, kSin20}};
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            m[4 * c + r] = cols[c][r];
}

void ViewCamera::setStandardView(int face) {
    if (face < 1 || face >= 8)
        return;
    guarded([&] {
        standardViewMatrix(face, modelView);
        int p[2];
        projectToScreen(renderCenter, p);
        pan(p[0], p[1], std::lround(width * 0.5), height / 2);
    });
}

bool ViewCamera::isWellInside(const double p[3], int margin) const {
    int s[2];
    projectToScreen(p, s);
    return s[0] >= margin && s[1] >= margin && s[0] <= width - margin && s[1] <= height - margin;
}

// The camera without a GL context: projection, unprojection and every move,
// against values worked out by hand.
#include "view/ViewCamera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kCos20 = 0.9396926207859083;
constexpr double kSin20 = 0.3420201433256688;
constexpr double kCos30 = 0.8660254037844384;

ViewCamera cameraOfSize(int w, int h, double zoom = 2.0) {
    ViewCamera c;
    c.width = w;
    c.height = h;
    c.zoom = zoom;
    return c;
}

void expectVec(const double* v, double x, double y, double z, double tol = 1e-9) {
    EXPECT_NEAR(v[0], x, tol);
    EXPECT_NEAR(v[1], y, tol);
    EXPECT_NEAR(v[2], z, tol);
}

TEST(ViewCamera, projectsWorldPointsToPixelsAndBack) {
    ViewCamera c = cameraOfSize(800, 600);
    // Identity model-view: the eye origin at the window centre, 2 px per mm.
    const double p[3] = {100, 50, 7};
    int s[2];
    c.projectToScreen(p, s);
    EXPECT_EQ(s[0], 600);
    EXPECT_EQ(s[1], 200); // y down
    double win[3];
    ASSERT_TRUE(c.projectToWindow(p, win));
    double back[3];
    ASSERT_TRUE(c.unprojectWindow(win[0], win[1], win[2], back));
    expectVec(back, 100, 50, 7, 1e-6);
    // The depth range with the centres at the origin is [-40000, 20000].
    double b[6];
    c.orthoBounds(b);
    EXPECT_DOUBLE_EQ(b[0], -200);
    EXPECT_DOUBLE_EQ(b[3], 150);
    EXPECT_DOUBLE_EQ(b[4], -40000);
    EXPECT_DOUBLE_EQ(b[5], 20000);
    // The near depth lies towards the viewer (+z in eye space).
    ASSERT_TRUE(c.unprojectScreen(600, 200, ViewCamera::kNearDepth, back));
    EXPECT_NEAR(back[0], 100, 1e-6);
    EXPECT_NEAR(back[1], 50, 1e-6);
    EXPECT_GT(back[2], 19000);
}

TEST(ViewCamera, resetViewFramesTheBuildVolumeObliquely) {
    ViewCamera c = cameraOfSize(1000, 800);
    const double lo[3] = {0, 0, 0}, hi[3] = {130, 130, 180}, none[3] = {0, 0, 0};
    c.resetView(lo, hi, none);
    const double L = std::sqrt(130.0 * 130.0 * 2);
    const double expected = std::min(995 / L, 795 / (kCos20 * L * 0.5 + 180 * kCos20));
    EXPECT_NEAR(c.zoom, expected, 1e-12);
    // The box centre sits at the window centre.
    const double centre[3] = {65, 65, 90};
    int s[2];
    c.projectToScreen(centre, s);
    EXPECT_EQ(s[0], 500);
    EXPECT_EQ(s[1], 400);
    double axis[3];
    c.viewAxis(axis);
    expectVec(axis, -kCos20 * 0.5, -kCos20 * kCos30, kSin20);
    // The render centre: the window centre on the plane through the scene
    // centre (the origin) perpendicular to the view axis.
    const double* r = c.renderCenter;
    EXPECT_NEAR(r[0] * axis[0] + r[1] * axis[1] + r[2] * axis[2], 0.0, 1e-6);
    c.projectToScreen(r, s);
    EXPECT_EQ(s[0], 500);
    EXPECT_EQ(s[1], 400);

    // An empty or flat box keeps a finite zoom.
    const double flat[3] = {10, 10, 0};
    c.zoom = 3.5;
    c.resetView(flat, flat, none);
    EXPECT_DOUBLE_EQ(c.zoom, 3.5);
}

TEST(ViewCamera, dragsRotateAboutTheRotationCentre) {
    ViewCamera c = cameraOfSize(500, 380);
    ViewCamera::standardViewMatrix(3, c.modelView); // front view
    double axis[3];
    // A horizontal drag over the whole width is 380 degrees, i.e. 20.
    c.rotateDrag(500, 0);
    c.viewAxis(axis);
    expectVec(axis, -kSin20, -kCos20, 0, 1e-6);
    // The rotation centre stays where it was on screen.
    ViewCamera d = cameraOfSize(500, 380);
    ViewCamera::standardViewMatrix(3, d.modelView);
    const double centre[3] = {30, 40, 10};
    std::copy(centre, centre + 3, d.rotationCenter);
    int before[2], after[2];
    d.projectToScreen(centre, before);
    d.rotateDrag(-120, 5);
    d.projectToScreen(centre, after);
    EXPECT_EQ(before[0], after[0]);
    EXPECT_EQ(before[1], after[1]);
    // A vertical drag of 90 pixels over 380 tilts the front view to the top view.
    ViewCamera e = cameraOfSize(500, 380);
    ViewCamera::standardViewMatrix(3, e.modelView);
    e.rotateDrag(0, 90);
    e.viewAxis(axis);
    expectVec(axis, 0, 0, 1, 1e-6);
}

TEST(ViewCamera, panAndWheelKeepThePointUnderTheCursor) {
    ViewCamera c = cameraOfSize(800, 600);
    ViewCamera::standardViewMatrix(0, c.modelView);
    double a[3];
    const double origin[3] = {0, 0, 0};
    c.screenPointOnPlane(10, 10, origin, a);
    c.pan(10, 10, 60, 30);
    int s[2];
    c.projectToScreen(a, s);
    EXPECT_EQ(s[0], 60);
    EXPECT_EQ(s[1], 30);

    // One wheel notch: zoom × 2^0.2, the point under the cursor stays put.
    double under[3];
    c.unprojectScreen(100, 150, 0.5, under);
    const double before = c.zoom;
    c.wheelZoom(100, 150, 120);
    EXPECT_NEAR(c.zoom / before, std::pow(2.0, 0.2), 1e-6);
    c.projectToScreen(under, s);
    EXPECT_NEAR(s[0], 100, 1);
    EXPECT_NEAR(s[1], 150, 1);
    // Zoom drags are clamped.
    c.zoomDrag(0, 1000000);
    EXPECT_DOUBLE_EQ(c.zoom, ViewCamera::kMinZoom);
}

TEST(ViewCamera, resizeKeepsTheExtentOfTheLessChangedDirection) {
    ViewCamera c = cameraOfSize(800, 600, 4.0);
    c.resize(800, 300); // height halved, width unchanged: the width's extent stays
    EXPECT_DOUBLE_EQ(c.zoom, 4.0);
    c.resize(1600, 330); // width doubled (rx 1.0 > ry 0.1): the height's extent stays
    EXPECT_NEAR(c.zoom, 4.0 * 1.1, 1e-6);
    ViewCamera fresh;
    fresh.resize(640, 480); // no previous size: the zoom stays
    EXPECT_DOUBLE_EQ(fresh.zoom, 2.0);
}

TEST(ViewCamera, standardViewsShowEachFaceUpright) {
    // face, world direction to the right, world direction up, towards the viewer.
    struct Row {
        int face;
        double right[3], up[3], toViewer[3];
    };
    const Row rows[] = {
        {1, {0, -1, 0}, {0, 0, 1}, {-1, 0, 0}}, {2, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
        {3, {1, 0, 0}, {0, 0, 1}, {0, -1, 0}},  {4, {-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {5, {1, 0, 0}, {0, -1, 0}, {0, 0, -1}}, {6, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.face);
        ViewCamera c = cameraOfSize(400, 400, 1.0);
        const double centre[3] = {20, 30, 40};
        std::copy(centre, centre + 3, c.renderCenter);
        c.setStandardView(r.face);
        EXPECT_DOUBLE_EQ(c.zoom, 1.0);
        int s0[2], sr[2], su[2];
        c.projectToScreen(centre, s0);
        EXPECT_EQ(s0[0], 200);
        EXPECT_EQ(s0[1], 200);
        double pr[3], pu[3];
        for (int a = 0; a < 3; ++a) {
            pr[a] = centre[a] + 10 * r.right[a];
            pu[a] = centre[a] + 10 * r.up[a];
        }
        c.projectToScreen(pr, sr);
        c.projectToScreen(pu, su);
        EXPECT_EQ(sr[0] - s0[0], 10);
        EXPECT_EQ(sr[1] - s0[1], 0);
        EXPECT_EQ(su[0] - s0[0], 0);
        EXPECT_EQ(su[1] - s0[1], -10);
        double axis[3];
        c.viewAxis(axis);
        expectVec(axis, r.toViewer[0], r.toViewer[1], r.toViewer[2]);
    }
}

// A sane camera stays sane: non-finite or absurdly far centres, zooms and
// matrices are refused, a box it cannot frame leaves it as it was, and moves
// that would break it are not made.
TEST(ViewCamera, refusesNonFiniteOrAbsurdValuesAndStaysAsItWas) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    ViewCamera c = cameraOfSize(800, 600);
    const double lo[3] = {0, 0, 0}, hi[3] = {130, 130, 180}, mid[3] = {65, 65, 90};
    ASSERT_TRUE(c.resetView(lo, hi, mid));
    const ViewCamera framed = c;
    auto expectUnchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(c.modelView[i], framed.modelView[i]) << i;
        EXPECT_EQ(c.zoom, framed.zoom);
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(c.renderCenter[a], framed.renderCenter[a]);
            EXPECT_EQ(c.rotationCenter[a], framed.rotationCenter[a]);
        }
    };
    const double badPoints[][3] = {{nan, 0, 0}, {0, inf, 0}, {0, 0, -inf}, {-3e23, -3e23, -3e23}, {2e6, 0, 0}};
    for (const auto& p : badPoints) {
        EXPECT_FALSE(c.setRenderCenter(p));
        EXPECT_FALSE(c.setRotationCenter(p));
        // A box with such a corner is not framed.
        EXPECT_FALSE(c.resetView(p, hi, mid));
        EXPECT_FALSE(c.resetView(lo, p, mid));
    }
    for (double z : {nan, inf, -inf, 0.0, -2.0})
        EXPECT_FALSE(c.setZoom(z));
    double m[16];
    std::copy(framed.modelView, framed.modelView + 16, m);
    m[5] = nan;
    EXPECT_FALSE(c.setModelView(m));
    m[5] = framed.modelView[5];
    m[13] = 3e23;
    EXPECT_FALSE(c.setModelView(m));
    expectUnchanged("after refused values");

    // A move that would carry the eye there is not made.
    c.pan(0, 0, 1e9, 0);
    expectUnchanged("after a pan by a billion pixels");

    // A scene centre that is not sane: the render centre is taken on the
    // plane through the box's centre.
    const double far[3] = {-3e23, -3e23, -3e23};
    ASSERT_TRUE(c.resetView(lo, hi, far));
    EXPECT_TRUE(ViewCamera::isSanePoint(c.renderCenter));
    int s[2];
    c.projectToScreen(mid, s);
    EXPECT_EQ(s[0], 400);
    EXPECT_EQ(s[1], 300);

    // Values within reach are taken (a large zoom is clamped).
    const double near[3] = {-5e5, 1e3, 7};
    EXPECT_TRUE(c.setRotationCenter(near));
    EXPECT_TRUE(c.setZoom(1e12));
    EXPECT_EQ(c.zoom, ViewCamera::kMaxZoom);
}

} // namespace

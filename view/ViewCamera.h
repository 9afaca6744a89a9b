#pragma once
// The 3D view's camera as plain data: the model-view matrix, the orthographic
// projection's parameters (view size, zoom, render centre, rotation centre)
// and every move the view makes with them. Nothing here needs a GL context:
// the view loads projectionMatrix() and modelView into GL before it draws,
// and projection and unprojection are computed here exactly as gluProject and
// gluUnProject would with those matrices and the viewport (0, 0, w, h).
//
// Widget points have x to the right and y down; window points (as GL uses
// them) have y up. Angles are in degrees unless said otherwise.
//
// Through its setters, framing and moves the camera never takes a
// non-finite value, nor a centre or a distance absurdly far beyond any build
// volume: the setters refuse them, a box out of reach is not framed and a
// move that would produce one is not made. Such a camera would show nothing
// at all (not even the platform), since the depth range and the
// single-precision GL matrices are sized by those centres. Code that writes
// the fields directly must keep to the same bounds.
#include "scene/CameraState.h"
#include "topolib/StlObject.h"

class ViewCamera {
public:
    ViewCamera();

    // ---- State ---------------------------------------------------------------
    double modelView[16]; // column order, as GL_MODELVIEW_MATRIX
    double zoom = 2.0;    // pixels per millimetre
    double renderCenter[3] = {0, 0, 0};
    double rotationCenter[3] = {0, 0, 0};
    int width = -1; // -1 until the first size is given
    int height = -1;

    static constexpr double kMinZoom = 0.0001;
    static constexpr double kMaxZoom = 1000000.0;
    // Window depth of the near side: where rays into the scene start.
    static constexpr double kNearDepth = 0.001;
    // The farthest any coordinate of a centre or a framed box may lie from the
    // origin (mm): the program's one coordinate limit, a kilometre, thousands
    // of times any build volume, while the depth buffer still tells apart
    // points a millimetre apart.
    static constexpr double kMaxCoordinate = topolib::kMaxImportCoordinate;

    // True when every coordinate is finite and within kMaxCoordinate.
    static bool isSanePoint(const double p[3]);
    // Setters that refuse (false, nothing changed) a point that is not sane,
    // a zoom that is not finite and positive (a finite one is clamped to
    // [kMinZoom, kMaxZoom]), or a matrix with a non-finite entry or a
    // translation beyond the centres' reach.
    bool setRenderCenter(const double c[3]);
    bool setRotationCenter(const double c[3]);
    bool setZoom(double z);
    bool setModelView(const double m[16]);

    // What a project keeps of the camera: zoom, model-view matrix, render centre.
    CameraState state() const;
    // Takes a kept state back: the zoom clamped to [kMinZoom, kMaxZoom], the
    // matrix and the centre as given (the project reader has bounded them).
    // The rotation centre and the view size stay.
    void setState(const CameraState& s);

    // ---- Projection -------------------------------------------------------------
    // The six glOrtho arguments (left, right, bottom, top, near, far): a view
    // of width / zoom by height / zoom millimetres centred on the eye origin,
    // deep enough for the render and rotation centres and the scene around them.
    void orthoBounds(double out[6]) const;
    // The glOrtho matrix of those bounds (column order).
    void projectionMatrix(double out[16]) const;

    // gluProject: the window point (x, y up, depth 0..1) of a world point.
    // False when the matrices cannot place the point (w = 0).
    bool projectToWindow(const double p[3], double win[3]) const;
    // gluUnProject: the world point at window (x, y up, depth). False for a
    // singular matrix.
    bool unprojectWindow(double x, double y, double depth, double out[3]) const;
    // The widget point of a world point: the point is rounded to float first,
    // x rounded, y = height - window y rounded.
    void projectToScreen(const double p[3], int out[2]) const;
    // The world point under the widget point (x, y down) at the window depth.
    bool unprojectScreen(double x, double y, double depth, double out[3]) const;
    // The direction towards the viewer in world coordinates: the third row of
    // the model-view rotation (not normalised).
    void viewAxis(double out[3]) const;
    // The widget point unprojected at the near depth and moved along the view
    // axis onto the plane through planePoint perpendicular to the view axis.
    void screenPointOnPlane(double x, double y, const double planePoint[3], double out[3]) const;

    // ---- Moves ----------------------------------------------------------------
    // A new view size. With a positive previous size the zoom is scaled so that
    // the visible extent along the direction that changed less stays the same.
    void resize(int w, int h);
    // The default oblique view of the box (min, max), fitted to the view; the
    // render centre becomes the window centre's point on the plane through
    // sceneCenter (the box centre when sceneCenter is not sane). Keeps a
    // finite, positive zoom for an empty or flat box. A box with a corner
    // that is not sane is not framed: false, and the camera is unchanged.
    bool resetView(const double boxMin[3], const double boxMax[3], const double sceneCenter[3]);
    // A drag step by (dx, dy) pixels: horizontal turns about the vertical line
    // through the rotation centre (380 degrees per view width), vertical tilts
    // about the screen's horizontal axis laid into the platform plane.
    void rotateDrag(int dx, int dy);
    // Moves the scene so that the point under widget point a ends under b.
    void pan(double ax, double ay, double bx, double by);
    // Zoom by 2^((lastY - targetY) * 0.005), clamped.
    void zoomDrag(int lastY, int targetY);
    // One wheel event at widget point (x, y): zooms by 2^((delta / 3) * 0.005)
    // keeping the point under the cursor in place.
    void wheelZoom(int x, int y, int delta);
    // The rotation-only matrix of a standard view: faces 1..6 of the
    // orientation cube (X-, X+, Y-, Y+, Z-, Z+); any other value the default
    // oblique view.
    static void standardViewMatrix(int face, double m[16]);
    // Loads a face's matrix and pans so that the render centre lands on the
    // window centre; the zoom stays. Faces outside 1..7 change nothing.
    void setStandardView(int face);
    // True when the world point projects at least margin pixels inside every
    // edge of the view.
    bool isWellInside(const double p[3], int margin) const;

    // modelView := modelView × m.
    void multiply(const double m[16]);
    // modelView := modelView × T(c) × R(angle, axis) × T(-c) (axis need not be unit).
    void rotateAbout(const double c[3], double angleDeg, const double axis[3]);

private:
    // projection × model-view (column order).
    void combined(double out[16]) const;
    // Runs a move; when it left a non-finite value or carried the eye farther
    // beyond the centres' reach, the camera goes back to where it was.
    template <class Move>
    void guarded(Move&& move);
};

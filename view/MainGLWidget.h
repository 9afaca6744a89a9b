#pragma once
// The one OpenGL view of the main window (fixed-function GL with GLU). It
// draws the background, the platform with its grid and build-volume box, the
// axes, every object with its supports, the hollowing and slice previews, the
// manipulator and the orientation cube, and turns mouse, wheel and key events
// into camera moves, selection, manipulator drags, support-point editing and
// drain-hole placing, according to the mode the tool panels set.
//
// Modes: see ViewMode (scene/ViewMode.h).
//
// The camera is a ViewCamera loaded into GL by every paint; only depth reads
// and GL-selection picking need the context, and each routine that needs it
// makes it current itself.
#include "scene/ViewMode.h"
#include "view/ViewCamera.h"
#include "view/ViewHost.h"

#include <QGLWidget>
#include <QPixmap>
#include <QPoint>

#include <array>
#include <memory>
#include <vector>

class GLDrawCache;
class ManipulatorTool;
class QOpenGLTexture;
class SlicePreviewTool;

class MainGLWidget : public QGLWidget {
public:
    MainGLWidget(QGLContext* context, QWidget* parent = nullptr, const QGLWidget* share = nullptr,
                 Qt::WindowFlags flags = Qt::WindowFlags());
    ~MainGLWidget() override;

    // ---- Mode and tools ---------------------------------------------------------
    ViewMode mode() const { return _mode; }
    void setMode(ViewMode mode);
    // The window's services to the view: drain holes and support points
    // (not owned; null: none).
    void setViewHost(ViewHost* host) { _viewHost = host ? host : &_noViewHost; }
    // The manipulator driven in the transform mode (not owned; null: that
    // mode selects only).
    void setManipulator(ManipulatorTool* tool) { _manipulator = tool; }
    ManipulatorTool* manipulator() const { return _manipulator; }
    bool manipulatorShown() const { return _manipulatorShown; }
    void setManipulatorShown(bool on) { _manipulatorShown = on; }
    // The slice preview drawn after the objects (not owned; null: none).
    void setSlicePreview(SlicePreviewTool* preview) { _slicePreview = preview; }
    // The selection's box goes to the manipulator.
    void updateSelectionBox();

    // ---- Camera -----------------------------------------------------------------
    ViewCamera& camera() { return _camera; }
    const ViewCamera& camera() const { return _camera; }
    void setBuildVolume(const double size[3]);
    void getBuildVolume(double out[3]) const;
    // Centre, zoom and matrix as the camera takes them: values it refuses
    // (ViewCamera's setters) leave it unchanged.
    void setRenderCenter(const double c[3]);
    double zoom() const { return _camera.zoom; }
    void setZoom(double z) { _camera.setZoom(z); }
    // Multiplies the current GL matrix by the view's orthographic projection.
    void loadProjection();
    // The default oblique view fitted to the visible objects (or the build
    // volume when none, or when they reach absurdly far); repaints.
    void resetView();
    // The world point under a widget point: at the depth read from the depth
    // buffer unless useGivenDepth; where nothing was drawn (depth 1.0) at the
    // near depth 0.001.
    void unprojectScreenPoint(const QPoint& pos, double out[3], bool useGivenDepth, double depth);
    void projectToScreen(const double p[3], int out[2]) const;
    void viewAxis(double out[3]) const;
    // The depth buffer's value under a widget point (1.0 where nothing was drawn).
    float readDepth(const QPoint& pos);

    // ---- Standard views and picking -------------------------------------------
    int pickCubeFace(const QPoint& pos);
    bool pickStandardView(const QPoint& pos, bool hoverOnly);
    static void standardViewMatrix(int face, double m[16]) { ViewCamera::standardViewMatrix(face, m); }
    void setStandardView(int face);
    int pickManipulatorPart(const QPoint& pos);
    int hoveredFace() const { return _hoveredFace; }
    // The world corners of the orientation cube as last placed.
    const double (*cubeCorners() const)[3] { return _cubeCorners; }
    double cubeSize() const { return _cubeSize; }
    // The height of the top-right corner that belongs to the orientation cube
    // (pixels from the view's top).
    int cubeCornerHeight() const;

    // ---- Vertex buffers ----------------------------------------------------------
    bool vertexBuffersSupported() const { return _vertexBuffers; }
    // Forces drawing without vertex buffers (the display-list path), or
    // allows them again for the next checkVertexBufferSupport. Objects drawn
    // before are built again in the other form at their next draw.
    void setVertexBuffersAllowed(bool allowed) {
        _vertexBuffers = false;
        _vertexBuffersForcedOff = !allowed;
    }
    void disableVertexBuffers() { setVertexBuffersAllowed(false); }
    bool checkVertexBufferSupport();
    // The GL names the objects and supports are drawn with, made in this
    // view's context (the context must be current to make or free them).
    GLDrawCache& drawCache() { return *_drawCache; }

    // The printer changed: the next paint reloads the background and platform
    // images.
    void setReloadTextures() { _reloadTextures = true; }

    // ---- Transform mode -------------------------------------------------------
    void updateHoveredPart(const QPoint& pos);
    // No handle part is hovered: none is drawn highlighted.
    void clearHoveredPart();
    void beginManipulation(const QPoint& pos);
    void startManipulatorDrag(const QPoint& pos);
    void dragManipulator(const QPoint& pos);
    void releaseInTransformMode(const QPoint& pos);
    void endManipulation(const QPoint& pos, bool updateHover);
    // Abandons the manipulator's open operation (a typed value waiting for
    // Return) without a command; its preview goes. Leaving the transform mode does it.
    void cancelManipulation();

    // ---- Keys: the main window passes its key events on -------------------------
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

    QSize sizeHint() const override { return QSize(400, 400); }
    QSize minimumSizeHint() const override { return QSize(50, 50); }

    // How long one wheel step of 120 units blocks (ms); tests shorten it.
    void setWheelStepPause(int ms) { _wheelPauseMs = ms; }

protected:
    bool event(QEvent* event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent*) override {}
    void wheelEvent(QWheelEvent* event) override;
    // The cursor left the view: the hole that followed it goes.
    void leaveEvent(QEvent* event) override;

private:
    // Drawing of the fixed parts (MainGLWidgetDraw.cpp).
    void drawBackground();
    void drawAxes();
    void drawPlatform();
    void drawPlatformGrid();
    void drawSelectionRectangle(const QPoint& a, const QPoint& b);
    void drawOrientationCube();
    void placeOrientationCube();
    void drawCubeFaces(bool selectionMode);
    void buildCubeTextures();
    void freeCubeTextures();
    void loadCameraIntoGL();
    // GL selection at a widget point: nearest hit's name, 0 without hits.
    int pickNearest(const QPoint& pos, double regionSize, double scale, void (MainGLWidget::*draw)());
    void drawCubeFacesForSelection() { drawCubeFaces(true); }
    void drawManipulatorForSelection();

    // Events (MainGLWidget.cpp).
    void updateRotationCenter();
    void selectAtRelease(const QPoint& pos, bool addToSelection);
    void updateModeCursor();
    void previewHoleCutterAt(const QPoint& pos);
    void addHoleCutterAt(const QPoint& pos);
    bool inCubeCorner(const QPoint& pos) const;
    void closeManipulation();

    SlicePreviewTool* _slicePreview = nullptr;
    ManipulatorTool* _manipulator = nullptr;
    ViewHost _noViewHost;
    ViewHost* _viewHost = &_noViewHost;
    ViewMode _mode = ViewMode::Select;
    ViewMode _previousMode = ViewMode::Select;
    enum class DragAction { None = 0, Rotate = 1, Zoom = 2, Pan = 3 };
    DragAction _dragAction = DragAction::None;
    int _pressedButton = 0; // 0 none, 1 left, 2 right, 3 middle
    int _hoveredPart = 0;
    bool _reloadTextures = true;
    unsigned _backgroundTexture = 0;
    unsigned _platformTexture = 0;
    bool _manipulatorShown = false;
    bool _mousePressed = false;
    bool _siblingsRepainted = false; // the floating widgets were repainted after the first frame
    ViewCamera _camera;
    QPoint _lastPos, _currentPos, _pressPos;
    Qt::KeyboardModifiers _releaseModifiers; // of the release being handled
    bool _vertexBuffers = false;
    bool _vertexBuffersForcedOff = false;
    std::unique_ptr<GLDrawCache> _drawCache;
    double _buildVolume[3] = {130, 130, 180};
    QPixmap _rotateCursor;
    QPixmap _panCursor;
    int _wheelPauseMs = 75;
    int _wheelRemainder = 0; // angle delta not yet making a whole step

    // Orientation cube.
    double _cubeSize = 40;
    int _hoveredFace = 0;
    std::array<QOpenGLTexture*, 12> _faceTextures{};
    double _cubeAnchor[3] = {0, 0, 0};
    double _cubeCorners[8][3] = {};
    static const int kCubeFaces[6][4];
};

// The view's camera glue, modes, mouse, wheel and keys.
#include "view/MainGLWidget.h"

#include "app/Constants.h"
#include "app/Log.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "topolib/GeometricPredicates.h"
#include "topolib/StlTriangle.h"
#include "view/GLDriverInfo.h"
#include "view/GLPrimitives.h"
#include "view/ViewTools.h"
#include "view/draw/GLDrawBuffers.h"
#include "view/draw/SceneDraw.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLTexture>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include <GL/glu.h>
#include <algorithm>
#include <cmath>
#include <string>

const int MainGLWidget::kCubeFaces[6][4] = {{3, 0, 4, 7}, {1, 2, 6, 5}, {0, 1, 5, 4},
                                            {2, 3, 7, 6}, {3, 2, 1, 0}, {4, 5, 6, 7}};

namespace {

bool controlHeld(Qt::KeyboardModifiers m) {
    return m & Qt::ControlModifier;
}

bool isClick(const QPoint& a, const QPoint& b) {
    return std::abs(a.x() - b.x()) <= 2 && std::abs(a.y() - b.y()) <= 2;
}

} // namespace

MainGLWidget::MainGLWidget(QGLContext* context, QWidget* parent, const QGLWidget* share,
                           Qt::WindowFlags flags)
    : QGLWidget(context, parent, share, flags),
      // The images live in the application's resources, registered once here.
      _rotateCursor((initResources(), QStringLiteral(":/cursors/Resources/cursor/object_rotate_left.png"))),
      _panCursor(QStringLiteral(":/cursors/Resources/cursor/panning_m_24.png")) {
    _drawCache = std::make_unique<GLDrawCache>();
    setAcceptDrops(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAttribute(Qt::WA_MouseTracking, true);
    setMouseTracking(true);
    setMinimumSize(50, 50);
    if (qEnvironmentVariableIsSet("VELAR_DISABLE_VBO"))
        disableVertexBuffers();
}

MainGLWidget::~MainGLWidget() {
    if (isValid() && context()) {
        makeCurrent();
        freeCubeTextures();
        // The objects' names die with this context; objects drawn again by
        // another view build new ones.
        _drawCache->clear();
    }
}

// ---- Mode ---------------------------------------------------------------------

void MainGLWidget::setMode(ViewMode mode) {
    if (_mode == ViewMode::Transform && mode != ViewMode::Transform) {
        _manipulatorShown = false;
        cancelManipulation();
        clearHoveredPart();
    }
    updateSelectionBox();
    _previousMode = _mode;
    const bool tracked = mode == ViewMode::Select || mode == ViewMode::Transform ||
                         mode == ViewMode::DeleteSupport || mode == ViewMode::AddSupport ||
                         mode == ViewMode::PlaceHoles;
    setMouseTracking(tracked);
    _mode = mode;
    updateModeCursor();
}

void MainGLWidget::updateSelectionBox() {
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    ObjectTable::instance()->minCorner(lo, true, true);
    ObjectTable::instance()->maxCorner(hi, true, true);
    if (_manipulator)
        _manipulator->setBox(lo, hi);
}

void MainGLWidget::updateModeCursor() {
    if (_mode == ViewMode::Pan) {
        setCursor(QCursor(_panCursor));
    } else if (_mode == ViewMode::Rotate) {
        setCursor(QCursor(_rotateCursor));
    } else if (_mode == ViewMode::DeleteSupport) {
        setCursor(
            QCursor(QPixmap(QStringLiteral(":/cursors/Resources/cursor/delete_column_support.png")), 5, 5));
    } else if (_mode == ViewMode::AddSupport) {
        setCursor(
            QCursor(QPixmap(QStringLiteral(":/cursors/Resources/cursor/add_column_support.png")), 5, 5));
    } else {
        if (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        unsetCursor();
    }
}

// ---- Camera -------------------------------------------------------------------

void MainGLWidget::setBuildVolume(const double size[3]) {
    std::copy(size, size + 3, _buildVolume);
}

void MainGLWidget::getBuildVolume(double out[3]) const {
    std::copy(_buildVolume, _buildVolume + 3, out);
}

void MainGLWidget::setRenderCenter(const double c[3]) {
    _camera.setRenderCenter(c);
}

void MainGLWidget::loadProjection() {
    double p[16];
    _camera.projectionMatrix(p);
    glMultMatrixd(p);
}

void MainGLWidget::loadCameraIntoGL() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadProjection();
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(_camera.modelView);
}

void MainGLWidget::resetView() {
    if (isValid())
        makeCurrent();
    if (_camera.width < 0 || _camera.height < 0) {
        _camera.width = width();
        _camera.height = height();
    }
    double lo[3] = {0, 0, 0};
    double hi[3] = {_buildVolume[0], _buildVolume[1], _buildVolume[2]};
    ObjectTable* table = ObjectTable::instance();
    table->minCorner(lo, true, false);
    table->maxCorner(hi, true, false);
    double centre[3];
    table->sceneCenter(nullptr, nullptr, centre);
    // A scene that reaches absurdly far (or holds non-finite points) cannot be
    // framed: the platform is, so that the user still sees where things are.
    if (!_camera.resetView(lo, hi, centre)) {
        const double platformMin[3] = {0, 0, 0};
        const double platformCentre[3] = {_buildVolume[0] / 2, _buildVolume[1] / 2, _buildVolume[2] / 2};
        _camera.resetView(platformMin, _buildVolume, platformCentre);
    }
    update();
}

float MainGLWidget::readDepth(const QPoint& pos) {
    if (!isValid())
        return 1.0f;
    makeCurrent();
    float depth = 1.0f;
    glReadPixels(pos.x(), _camera.height - pos.y(), 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    return depth;
}

void MainGLWidget::unprojectScreenPoint(const QPoint& pos, double out[3], bool useGivenDepth, double depth) {
    if (!useGivenDepth) {
        depth = readDepth(pos);
        // Nothing drawn there: start at the near side as rays do.
        if (depth >= 1.0)
            depth = ViewCamera::kNearDepth;
    }
    _camera.unprojectScreen(pos.x(), pos.y(), depth, out);
}

void MainGLWidget::projectToScreen(const double p[3], int out[2]) const {
    _camera.projectToScreen(p, out);
}

void MainGLWidget::viewAxis(double out[3]) const {
    _camera.viewAxis(out);
}

void MainGLWidget::setStandardView(int face) {
    if (face < 1 || face >= 8)
        return;
    _camera.setStandardView(face);
    // Picking before the next paint sees the cube as it will be drawn.
    placeOrientationCube();
    update();
}

// ---- GL set-up --------------------------------------------------------------------

bool MainGLWidget::checkVertexBufferSupport() {
    if (_vertexBuffers)
        return true;
    OpenGLDriverInfo info;
    if (!queryOpenGLDriverInfo(info)) {
        _vertexBuffers = false;
        logText("Video card does NOT support VBO.");
        // Never open a box inside initializeGL: post it.
        QTimer::singleShot(0, [] {
            sceneHost()->showMessage(
                QStringLiteral(
                    "Your video card doesn't support minimum OpenGL version require to run this Software!"),
                QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok);
        });
        return false;
    }
    bool ok = false;
    if (!_vertexBuffersForcedOff && driverHasVertexBuffers(info)) {
        QOpenGLContext* ctx = QOpenGLContext::currentContext();
        const bool arb = isExtensionSupported(info, "GL_ARB_vertex_buffer_object");
        ok = ctx && resolveGLBufferFunctions([ctx, arb](const char* name) -> void* {
                 const std::string full = std::string(name) + (arb ? "ARB" : "");
                 return reinterpret_cast<void*>(ctx->getProcAddress(full.c_str()));
             });
    }
    _vertexBuffers = ok;
    logText(ok ? "Video card supports GL_ARB_vertex_buffer_object."
               : "Video card does NOT support GL_ARB_vertex_buffer_object.");
    printOpenGLDriverInfo(info);
    return ok;
}

void MainGLWidget::initializeGL() {
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_POLYGON_SMOOTH);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
    glHint(GL_POLYGON_SMOOTH_HINT, GL_NICEST);
    checkVertexBufferSupport();
    resetView();
}

void MainGLWidget::resizeGL(int w, int h) {
    _camera.resize(w, h);
    glViewport(0, 0, w, h);
    loadCameraIntoGL();
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    _cubeSize = (s ? s->geometry().height() : 1024) / 22.5;
    if (!_faceTextures[0])
        buildCubeTextures();
}

void MainGLWidget::paintGL() {
    makeCurrent();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    loadCameraIntoGL();
    drawBackground();
    drawAxes();
    drawPlatform();
    drawOrientationCube();
    if (_slicePreview)
        _slicePreview->setClipPlane();
    renderObjects(*ObjectTable::instance(), _vertexBuffers, *_drawCache);
    _viewHost->drawHollowPreview();
    glDisable(GL_CLIP_PLANE1);
    if (_slicePreview) {
        enableSmoothBlend();
        _slicePreview->draw();
        disableSmoothBlend();
    }
    if (_mode == ViewMode::Transform && _manipulatorShown && _manipulator) {
        _manipulator->draw(false);
        _manipulator->drawRotationArc();
        _manipulator->drawGuides();
        _manipulator->drawBoxes();
    }
    if (_mousePressed && _pressedButton == 1 &&
        (_mode == ViewMode::Select ||
         (_mode == ViewMode::Transform && (!_manipulator || _manipulator->operation == 0))))
        drawSelectionRectangle(_pressPos, _lastPos);
    if (!_siblingsRepainted) {
        // The tool buttons and panels floating over the view are native
        // windows of their own; under load X can map one after its first
        // contents were flushed, leaving it black until it repaints. One
        // repaint of them shortly after the view's first frame shows them.
        _siblingsRepainted = true;
        QTimer::singleShot(250, this, [this] {
            if (QWidget* frame = parentWidget())
                for (QWidget* w : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                    if (w != this && w->isVisible())
                        w->update();
        });
    }
}

// ---- Rotation centre -------------------------------------------------------------

void MainGLWidget::updateRotationCenter() {
    ObjectTable* table = ObjectTable::instance();
    double centre[3];
    const double volumeCentre[3] = {_buildVolume[0] * 0.5, _buildVolume[1] * 0.5, _buildVolume[2] * 0.5};
    if (!table->visibleObjectsCenter(centre)) {
        _camera.setRotationCenter(volumeCentre);
        return;
    }
    double axis[3];
    viewAxis(axis);
    const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    if (len > 0)
        for (double& v : axis)
            v /= len;
    double q[3];
    unprojectScreenPoint(_pressPos, q, false, 0);
    const double tolerance = std::max(0.01, 1.1 / _camera.zoom);
    if (table->hitTestVisibleObjects(q, tolerance) && _camera.setRotationCenter(q))
        return;
    if (_camera.isWellInside(_camera.rotationCenter, 15))
        return;
    // The window centre on the plane through the objects' centre; objects
    // absurdly far away give no usable plane, the build volume's centre does.
    double onPlane[3];
    _camera.screenPointOnPlane(int(_camera.width * 0.5), _camera.height / 2,
                               ViewCamera::isSanePoint(centre) ? centre : volumeCentre, onPlane);
    if (!_camera.setRotationCenter(onPlane))
        _camera.setRotationCenter(volumeCentre);
}

// ---- Mouse ----------------------------------------------------------------------

bool MainGLWidget::event(QEvent* event) {
    // The window system turns the right button into a context-menu request on
    // its own (X11 on the press, before any drag). The view decides at the
    // release instead: a drag turns the camera, a click on a drain hole in
    // the hole mode removes it, any other click opens the menu. Requests from the
    // keyboard's menu key still open it.
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Mouse) {
        event->accept();
        return true;
    }
    return QGLWidget::event(event);
}

void MainGLWidget::mousePressEvent(QMouseEvent* event) {
    // A click in the view ends typing in a panel's field: the keys go to the
    // shortcuts and the view again.
    if (QWidget* focus = QApplication::focusWidget())
        if (focus != this)
            focus->clearFocus();
    _mousePressed = true;
    _lastPos = _pressPos = _currentPos = event->pos();
    switch (event->button()) {
    case Qt::LeftButton:
        _pressedButton = 1;
        if (_mode == ViewMode::Pan) {
            _dragAction = DragAction::Pan;
        } else if (_mode == ViewMode::Rotate) {
            updateRotationCenter();
            _dragAction = DragAction::Rotate;
        } else if (_mode == ViewMode::Transform && _manipulator) {
            if (_manipulator->operation != 0)
                endManipulation(event->pos(), true);
            if (_hoveredPart != 0)
                beginManipulation(event->pos());
        }
        break;
    case Qt::RightButton:
        _pressedButton = 2;
        updateRotationCenter();
        _dragAction = DragAction::Rotate;
        break;
    case Qt::MiddleButton:
        _pressedButton = 3;
        _dragAction = DragAction::Pan;
        break;
    default:
        break;
    }
}

bool MainGLWidget::inCubeCorner(const QPoint& pos) const {
    return pos.x() > _camera.width - 3.5 * _cubeSize && pos.y() < 3.5 * _cubeSize;
}

int MainGLWidget::cubeCornerHeight() const {
    return static_cast<int>(std::ceil(3.5 * _cubeSize));
}

void MainGLWidget::mouseMoveEvent(QMouseEvent* event) {
    _currentPos = event->pos();
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & (Qt::MiddleButton | Qt::RightButton)) {
        bool applied = true;
        switch (_dragAction) {
        case DragAction::Rotate:
            _camera.rotateDrag(_currentPos.x() - _lastPos.x(), _currentPos.y() - _lastPos.y());
            break;
        case DragAction::Zoom:
            _camera.zoomDrag(_lastPos.y(), _currentPos.y());
            break;
        case DragAction::Pan:
            _camera.pan(_lastPos.x(), _lastPos.y(), _currentPos.x(), _currentPos.y());
            break;
        case DragAction::None:
            applied = false;
            break;
        }
        if (applied)
            _lastPos = _currentPos;
        update(); // coalesced: many moves, one paint
    } else if (buttons == Qt::NoButton) {
        if (_mode == ViewMode::Transform) {
            updateHoveredPart(_currentPos);
        } else if (_mode == ViewMode::AddSupport) {
            double origin[3], axis[3];
            unprojectScreenPoint(_currentPos, origin, true, ViewCamera::kNearDepth);
            viewAxis(axis);
            ObjectTable::instance()->previewConeAt(origin, axis);
        } else if (_mode == ViewMode::DeleteSupport) {
            makeCurrent();
            pickSupportAtCursor(*ObjectTable::instance(), _currentPos);
        } else if (_mode == ViewMode::PlaceHoles) {
            previewHoleCutterAt(_currentPos);
        }
        if (_mode == ViewMode::DeleteSupport || _mode == ViewMode::AddSupport ||
            _mode == ViewMode::PlaceHoles)
            update();
        if (inCubeCorner(_currentPos)) {
            const int before = _hoveredFace;
            pickStandardView(_currentPos, true);
            if (before != _hoveredFace)
                update();
            if (_hoveredFace != 0)
                return;
        } else if (_hoveredFace != 0) {
            _hoveredFace = 0;
            update();
        }
    } else if (buttons == Qt::LeftButton) {
        if (_mode == ViewMode::Transform && _manipulator && _manipulator->operation != 0) {
            if (!_manipulator->numberEntry)
                dragManipulator(_currentPos);
        } else if (_mode == ViewMode::Select || _mode == ViewMode::Transform) {
            update();
        } else if (_dragAction == DragAction::Pan) {
            _camera.pan(_lastPos.x(), _lastPos.y(), _currentPos.x(), _currentPos.y());
            update();
        } else if (_dragAction == DragAction::Rotate) {
            _camera.rotateDrag(_currentPos.x() - _lastPos.x(), _currentPos.y() - _lastPos.y());
            update();
        }
    }
    _lastPos = event->pos();
}

void MainGLWidget::mouseReleaseEvent(QMouseEvent* event) {
    _releaseModifiers = event->modifiers();
    _mousePressed = false;
    _pressedButton = 0;
    const QPoint pos = event->pos();
    switch (event->button()) {
    case Qt::LeftButton: {
        _dragAction = DragAction::None;
        if (pickCubeFace(pos) != 0) {
            pickStandardView(pos, false);
            update();
            return;
        }
        _hoveredFace = 0;
        switch (_mode) {
        case ViewMode::Select:
            selectAtRelease(pos, controlHeld(event->modifiers()));
            break;
        case ViewMode::Transform:
            releaseInTransformMode(pos);
            break;
        case ViewMode::DeleteSupport:
            _viewHost->pushDeleteConeSupportCmd();
            break;
        case ViewMode::AddSupport:
            if (isClick(pos, _pressPos))
                _viewHost->pushAddConeSupportCmd();
            break;
        case ViewMode::PlaceHoles:
            addHoleCutterAt(pos);
            break;
        default:
            break;
        }
        update();
        break;
    }
    case Qt::RightButton:
        _dragAction = DragAction::None;
        if (_mode == ViewMode::PlaceHoles && _viewHost->pickHole(pos)) {
            update();
            return;
        }
        if (isClick(pos, _pressPos))
            emit customContextMenuRequested(pos);
        update();
        break;
    case Qt::MiddleButton:
        _dragAction = DragAction::None;
        update();
        break;
    default:
        break;
    }
}

void MainGLWidget::leaveEvent(QEvent* event) {
    QGLWidget::leaveEvent(event);
    // The pointer is on none of the handles any more (no move reaches the
    // view until it comes back).
    if (_mode == ViewMode::Transform)
        clearHoveredPart();
    if (_mode != ViewMode::PlaceHoles)
        return;
    _viewHost->dropPendingHole();
    update();
}

void MainGLWidget::wheelEvent(QWheelEvent* event) {
    const ViewMode saved = _mode;
    _mode = ViewMode::ZoomStep;
    const QPoint pos = event->position().toPoint();
    const int delta = event->angleDelta().y();
    _camera.wheelZoom(pos.x(), pos.y(), delta);
    _dragAction = DragAction::None;
    repaint();
    // The pause belongs to whole notches: a touchpad's small deltas add up
    // to steps instead of pausing on every event.
    _wheelRemainder += delta;
    int steps = 0;
    while (std::abs(_wheelRemainder) >= 120) {
        _wheelRemainder -= _wheelRemainder > 0 ? 120 : -120;
        ++steps;
    }
    if (steps > 0 && _wheelPauseMs > 0)
        QThread::msleep(static_cast<unsigned long>(steps * _wheelPauseMs));
    _mode = saved;
    update();
    event->accept();
}

void MainGLWidget::selectAtRelease(const QPoint& pos, bool add) {
    ObjectTable* table = ObjectTable::instance();
    if (isClick(pos, _pressPos)) {
        table->selectObjectAtPoint(pos, add);
    } else {
        QPoint release = pos;
        if (std::abs(release.x() - _pressPos.x()) < 2)
            release.setX(_pressPos.x() + 1);
        else if (std::abs(release.y() - _pressPos.y()) < 2)
            release.setY(_pressPos.y() + 1);
        table->selectObjectsInRectangle(_pressPos, release, add);
    }
    updateSelectionBox();
}

// ---- Transform mode -----------------------------------------------------------

void MainGLWidget::updateHoveredPart(const QPoint& pos) {
    _hoveredPart = pickManipulatorPart(pos);
    if (_manipulator)
        _manipulator->setHoveredPart(_hoveredPart);
    if (_hoveredPart == 1 || _hoveredPart == 2 || _hoveredPart == 3 || _hoveredPart == 8)
        setCursor(QCursor(_panCursor));
    else if (_hoveredPart >= 9 && _hoveredPart <= 11)
        setCursor(QCursor(_rotateCursor));
    else
        unsetCursor();
    update();
}

void MainGLWidget::clearHoveredPart() {
    _hoveredPart = 0;
    if (_manipulator)
        _manipulator->setHoveredPart(0);
    unsetCursor();
    update();
}

void MainGLWidget::beginManipulation(const QPoint& pos) {
    if (!_manipulator)
        return;
    if (_manipulator->operation != 0)
        endManipulation(pos, true);
    startManipulatorDrag(pos);
    _manipulator->beginAt(pos);
    _manipulator->activePart = _hoveredPart;
}

void MainGLWidget::startManipulatorDrag(const QPoint& pos) {
    if (!_manipulator)
        return;
    const int p = _hoveredPart;
    if (p == 1 || p == 2 || p == 3 || p == 8)
        _manipulator->operation = 1;
    else if (p >= 9 && p <= 11)
        _manipulator->operation = 2;
    _manipulator->started = false;
    _manipulator->saveStartState();
    if (p == 0) {
        double origin[3], axis[3], hit[3];
        unprojectScreenPoint(pos, origin, true, ViewCamera::kNearDepth);
        viewAxis(axis);
        ObjectEx* object = nullptr;
        ObjectTable::instance()->rayPick(origin, axis, false, hit, &object, nullptr);
        if (object) {
            object->setSelected(true);
            updateSelectionBox();
            _manipulator->operation = 1;
        } else {
            _manipulator->operation = 0;
        }
        _manipulator->setHoveredPart(object ? 8 : 0);
        update();
    }
}

void MainGLWidget::dragManipulator(const QPoint& pos) {
    if (!_manipulator)
        return;
    if (_manipulator->operation == 1)
        _manipulator->dragMove(pos);
    else if (_manipulator->operation == 2)
        _manipulator->dragRotate(this, pos);
    _manipulator->updateNumberBoxes();
    update();
}

void MainGLWidget::releaseInTransformMode(const QPoint& pos) {
    const bool add = _releaseModifiers & Qt::ControlModifier;
    if (!_manipulator || _manipulator->operation == 0 || isClick(pos, _pressPos)) {
        selectAtRelease(pos, add);
        if (_manipulator) {
            _manipulator->numberEntry = false;
            _manipulator->operation = 0;
            _manipulator->started = false;
        }
        return;
    }
    if (_manipulator->numberEntry)
        return;
    if (add) {
        _manipulator->numberEntry = true;
        _manipulator->openNumberBox(0);
    } else {
        endManipulation(pos, true);
    }
}

void MainGLWidget::endManipulation(const QPoint& pos, bool updateHover) {
    if (!_manipulator)
        return;
    if (_manipulator->operation == 1)
        _manipulator->finishMove();
    else if (_manipulator->operation == 2)
        _manipulator->finishRotate();
    _manipulator->numberEntry = false;
    _manipulator->operation = 0;
    _manipulator->started = false;
    if (updateHover)
        updateHoveredPart(pos);
    _manipulator->activePart = 0;
    update();
}

void MainGLWidget::cancelManipulation() {
    if (!_manipulator)
        return;
    _manipulator->cancel();
    update();
}

void MainGLWidget::closeManipulation() {
    update();
    if (_manipulator) {
        if (_manipulator->operation == 1)
            _manipulator->finishMove();
        else if (_manipulator->operation == 2)
            _manipulator->finishRotate();
        _manipulator->numberEntry = false;
        _manipulator->activePart = 0;
        _manipulator->operation = 0;
        _manipulator->started = false;
    }
    update();
}

// ---- Keys -------------------------------------------------------------------------

void MainGLWidget::keyPressEvent(QKeyEvent* event) {
    if (_mode != ViewMode::Transform)
        return;
    const int key = event->key();
    // Control, Meta and AltGr alone keep a drag going: they switch snapping off
    // or lead into number entry.
    if (key == Qt::Key_Control || key == Qt::Key_Meta || key == Qt::Key_AltGr)
        return;
    if (key == Qt::Key_Shift) {
        closeManipulation();
        return;
    }
    const bool numberKey = (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Minus ||
                           key == Qt::Key_Period || key == Qt::Key_Escape || key == Qt::Key_Tab ||
                           key == Qt::Key_Backspace || key == Qt::Key_Return || key == Qt::Key_Enter ||
                           key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
                           key == Qt::Key_Down || key == Qt::Key_Alt;
    if (numberKey) {
        if (_manipulator && _manipulator->numberEntry) {
            _manipulator->keyInput(event);
            if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)
                endManipulation(_currentPos, true);
        }
        return;
    }
    closeManipulation();
}

void MainGLWidget::keyReleaseEvent(QKeyEvent* event) {
    if (_mode == ViewMode::Transform && event->key() == Qt::Key_Tab && _manipulator &&
        _manipulator->numberEntry && !event->isAutoRepeat())
        _manipulator->keyInput(event);
}

// ---- Drain holes ----------------------------------------------------------------

void MainGLWidget::previewHoleCutterAt(const QPoint& pos) {
    double p[3], axis[3];
    unprojectScreenPoint(pos, p, false, 0);
    viewAxis(axis);
    topolib::StlTriangle* triangle = nullptr;
    if (ObjectTable::instance()->pickSurfacePoint(p, axis, &triangle) && triangle) {
        const double dir[3] = {-triangle->normal[0], -triangle->normal[1], -triangle->normal[2]};
        _viewHost->addHoleAt(p, dir);
    } else {
        // Off the model there is nowhere to drill: no hole is shown.
        _viewHost->dropPendingHole();
    }
    update();
}

void MainGLWidget::addHoleCutterAt(const QPoint& pos) {
    double p[3], axis[3];
    unprojectScreenPoint(pos, p, false, 0);
    viewAxis(axis);
    topolib::StlTriangle* triangle = nullptr;
    if (ObjectTable::instance()->pickSurfacePoint(p, axis, &triangle) && triangle) {
        logText("----- Add hole cutter -----");
        logInt(static_cast<int>(triangle->id), "Triangle position: ");
        const double dir[3] = {-triangle->normal[0], -triangle->normal[1], -triangle->normal[2]};
        _viewHost->addHoleAt(p, dir);
        _viewHost->commitPendingHole();
        logText("-----------------------------\n\n", false);
    }
    update();
}

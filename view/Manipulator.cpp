#include "view/Manipulator.h"

#include "app/Log.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"
#include "topolib/GeometricPredicates.h"
#include "topolib/Matrix4D.h"
#include "topolib/Vector3D.h"
#include "view/GLPrimitives.h"
#include "view/MainGLWidget.h"
#include "view/ViewCamera.h"
#include "view/VlDoubleSpinBox.h"

#include <GL/gl.h>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>
#include <deque>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadToDeg = 57.29577951308232;
constexpr double kDegToRad = 0.017453292519943295;
// A ring seen within 5 degrees of edge-on gives no usable angle.
constexpr double kMinRingFacing = 0.08715574;

double dot(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool normalise(double v[3]) {
    const double n = std::sqrt(dot(v, v));
    if (!(n > 1e-12) || !std::isfinite(n))
        return false;
    for (int i = 0; i < 3; ++i)
        v[i] /= n;
    return true;
}

bool nearZero(const double v[3]) {
    return std::fabs(v[0]) <= 1e-6 && std::fabs(v[1]) <= 1e-6 && std::fabs(v[2]) <= 1e-6;
}

// Whole degrees, then the nearest multiple of 5 (3 and 4 round up, 1 and 2
// down); a full turn is no turn.
double snapDegrees(double d) {
    const double whole = std::round(d);
    double snapped = std::round(whole / 5.0) * 5.0;
    snapped = std::fmod(snapped, 360.0);
    if (snapped < 0.0)
        snapped += 360.0;
    return snapped;
}

const float kTextColor[3] = {0.0f, 0.21f, 0.31f};
const float kBackground[3] = {1.0f, 1.0f, 1.0f};

} // namespace

TransformHandle::TransformHandle(MainGLWidget* view) : QObject(nullptr), _view(view) {
    if (_view)
        _view->installEventFilter(this);
}

TransformHandle::~TransformHandle() {
    if (_view) {
        _view->removeEventFilter(this);
        if (_view->manipulator() == this)
            _view->setManipulator(nullptr);
    }
}

TransformHandle* TransformHandle::install(MainGLWidget* view) {
    auto* handle = new TransformHandle(view);
    // The handle goes with the view. It is not the view's child: children are
    // deleted inside the widget's destructor, when the view is no longer a
    // view to detach from.
    QObject::connect(view, &QObject::destroyed, [handle] {
        handle->_view = nullptr;
        delete handle;
    });
    view->setManipulator(handle);
    view->updateSelectionBox();
    return handle;
}

bool TransformHandle::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* input = static_cast<QInputEvent*>(event);
        _modifiers = input->modifiers();
        break;
    }
    default:
        break;
    }
    return false;
}

void TransformHandle::setBox(const double min[3], const double max[3]) {
    for (int i = 0; i < 3; ++i) {
        _min[i] = min[i];
        _max[i] = max[i];
        _center[i] = (min[i] + max[i]) / 2.0;
        for (int k = 0; k < 3; ++k)
            _axes[i][k] = _startAxes[i][k] = i == k ? 1.0 : 0.0;
    }
    emit selectionBoxChanged();
}

void TransformHandle::setHoveredPart(int part) {
    _part = part;
}

void TransformHandle::beginAt(const QPoint& pos) {
    _start = pos;
    started = true;
    // The free move learns its part only after the press picked an object.
    if (_part == 8)
        saveStartState();
}

void TransformHandle::ensureBoxes() {
    static const char* const names[3] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i) {
        if (_boxes[i])
            continue;
        _boxes[i] = new VlDoubleSpinBox(this);
        _boxes[i]->setObjectName(QString::fromLatin1(names[i]));
        _boxes[i]->setColors(kTextColor, kBackground);
        _boxes[i]->setVisible(true);
        _boxes[i]->setDecimals(2);
        _boxes[i]->setView(_view);
    }
}

void TransformHandle::saveStartState() {
    ensureBoxes();
    for (VlDoubleSpinBox* b : _boxes) {
        b->setRange(-1e29, 1e29);
        b->setEdited(false);
        b->setFocused(false);
    }
    static const QString labels[3] = {QStringLiteral("X :"), QStringLiteral("Y :"), QStringLiteral("Z :")};
    _activeCount = 0;
    int axis = -1;
    if (_part == 1 || _part == 9)
        axis = 0;
    else if (_part == 2 || _part == 10)
        axis = 1;
    else if (_part == 3 || _part == 11)
        axis = 2;
    if (axis >= 0) {
        _active[0] = _boxes[axis];
        _labels[0] = labels[axis];
        _activeCount = 1;
    } else if (_part == 8) {
        for (int i = 0; i < 3; ++i) {
            _active[i] = _boxes[i];
            _labels[i] = labels[i];
        }
        _activeCount = 3;
    }
}

bool TransformHandle::raysOnPlane(const QPoint& pos, const double normal[3], double s[3], double p[3]) const {
    if (!_view)
        return false;
    double a[3];
    _view->viewAxis(a);
    if (!normalise(a))
        return false;
    double s0[3], p0[3];
    _view->unprojectScreenPoint(_start, s0, true, ViewCamera::kNearDepth);
    _view->unprojectScreenPoint(pos, p0, true, ViewCamera::kNearDepth);
    // A plane seen edge-on gives no intersection worth using.
    if (std::fabs(dot(a, normal)) < 1e-6)
        return false;
    return topolib::intersectLinePlane(s0, a, _center, normal, s) == 1 &&
           topolib::intersectLinePlane(p0, a, _center, normal, p) == 1 && std::isfinite(s[0] + s[1] + s[2]) &&
           std::isfinite(p[0] + p[1] + p[2]);
}

void TransformHandle::dragMove(const QPoint& pos) {
    if (_start.x() < 0 || _start.y() < 0) {
        _start = pos;
        return;
    }
    const int part = activePart != 0 ? activePart : _part;
    double s[3], p[3];
    if (part >= 1 && part <= 3) {
        const int k = part - 1;
        const double* axis = handleAxis(k);
        double a[3] = {0, 0, 1};
        if (_view)
            _view->viewAxis(a);
        normalise(a);
        // The working plane holds the axis; of the two other axes the one the
        // view faces more is its normal. An axis seen end-on has neither.
        const double* n1 = handleAxis((k + 1) % 3);
        const double* n2 = handleAxis((k + 2) % 3);
        const double* normal = std::fabs(dot(a, n1)) >= std::fabs(dot(a, n2)) ? n1 : n2;
        if (std::fabs(dot(a, axis)) > 1.0 - 1e-9 || !raysOnPlane(pos, normal, s, p))
            return;
        const double d[3] = {p[0] - s[0], p[1] - s[1], p[2] - s[2]};
        const double along = dot(axis, d);
        for (int i = 0; i < 3; ++i)
            _offset[i] = axis[i] * along;
        if (part == 1)
            logText("PAP_MOVE_OX");
    } else if (part == 8) {
        double a[3] = {0, 0, 1};
        if (_view)
            _view->viewAxis(a);
        if (!normalise(a) || !raysOnPlane(pos, a, s, p))
            return;
        _offset[0] = p[0] - s[0];
        _offset[1] = p[1] - s[1];
        _offset[2] = 0.0;
    } else {
        return;
    }
    if (snapping()) {
        _offset[0] = std::round(static_cast<float>(_offset[0]));
        _offset[1] = std::round(static_cast<float>(_offset[1]));
    }
    updatePendingTransforms();
}

void TransformHandle::dragRotate(MainGLWidget* view, const QPoint& pos) {
    if (view && view != _view)
        _view = view;
    if (_start.x() < 0 || _start.y() < 0) {
        _start = pos;
        return;
    }
    const int part = activePart != 0 ? activePart : _part;
    if (part < 9 || part > 11 || !_view)
        return;
    const int k = part - 9;
    double axis[3] = {_axes[k][0], _axes[k][1], _axes[k][2]};
    double a[3];
    _view->viewAxis(a);
    if (!normalise(a) || !normalise(axis) || std::fabs(dot(a, axis)) < kMinRingFacing)
        return;
    double s[3], p[3];
    if (!raysOnPlane(pos, axis, s, p))
        return;
    double from[3] = {s[0] - _center[0], s[1] - _center[1], s[2] - _center[2]};
    double to[3] = {p[0] - _center[0], p[1] - _center[1], p[2] - _center[2]};
    if (!normalise(from) || !normalise(to))
        return;
    for (int i = 0; i < 3; ++i) {
        _rotationAxis[i] = axis[i];
        _startDir[i] = from[i];
        _currentDir[i] = to[i];
    }
    double angle = topolib::vecSignedAngleAbout(from, to, axis, true);
    if (!std::isfinite(angle))
        return;
    double d = std::fmod(angle * kRadToDeg, 360.0);
    if (snapping())
        d = snapDegrees(d);
    _angle = d * kDegToRad;
    // The two other handle axes turn with the drag.
    for (int j = 0; j < 3; ++j) {
        if (j == k)
            continue;
        for (int i = 0; i < 3; ++i)
            _axes[j][i] = _startAxes[j][i];
        topolib::vecRotateAboutAxis(_axes[j], axis, &_angle);
    }
    for (int i = 0; i < 3; ++i)
        _rotationValue[i] = axis[i] * d;
    updatePendingTransforms();
}

void TransformHandle::updatePendingTransforms() {
    std::deque<ObjectEx*> selected;
    ObjectTable::instance()->collectSelectedObjects(selected);
    topolib::Matrix4D m;
    if (operation == 1) {
        m.multiplyByTranslation(_offset);
    } else if (operation == 2) {
        topolib::makeAxisRotationMatrix(&_angle, _center, _rotationAxis, m);
    }
    for (ObjectEx* obj : selected)
        obj->setTransform(m);
}

void TransformHandle::resetPendingTransforms() {
    std::deque<ObjectEx*> selected;
    ObjectTable::instance()->collectSelectedObjects(selected);
    for (ObjectEx* obj : selected)
        obj->resetTransform();
}

bool TransformHandle::finishMove() {
    started = false;
    const bool finite = std::isfinite(_offset[0]) && std::isfinite(_offset[1]) && std::isfinite(_offset[2]);
    if (!finite || nearZero(_offset)) {
        _offset[0] = _offset[1] = _offset[2] = 0.0;
        resetPendingTransforms();
        return false;
    }
    const double offset[3] = {_offset[0], _offset[1], _offset[2]};
    _offset[0] = _offset[1] = _offset[2] = 0.0;
    resetPendingTransforms();
    // The box follows the move before the command runs: a host that places
    // the box on the moved selection itself has the last word.
    for (int i = 0; i < 3; ++i) {
        _min[i] += offset[i];
        _max[i] += offset[i];
        _center[i] += offset[i];
    }
    sceneHost()->pushCommand(new TranslateCmd(TranslateCmd::ByOffset, offset), true);
    operation = 0;
    activePart = 0;
    sceneHost()->refreshZSliceView();
    return true;
}

void TransformHandle::clearRotation() {
    _rotationValue[0] = _rotationValue[1] = _rotationValue[2] = 0.0;
    _angle = 0.0;
}

bool TransformHandle::finishRotate() {
    started = false;
    // A full turn (typed or dragged) is no turn: nothing is baked and the
    // supports stay.
    const double turn = std::fmod(_angle, 2.0 * kPi);
    const bool fullTurn = std::fabs(turn) <= 1e-9 || std::fabs(std::fabs(turn) - 2.0 * kPi) <= 1e-9;
    if (!std::isfinite(_angle) || nearZero(_rotationValue) || fullTurn) {
        clearRotation();
        resetPendingTransforms();
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i)
                _axes[j][i] = _startAxes[j][i];
        return false;
    }
    // The command bakes the pending transforms, so they stay until it ran.
    sceneHost()->pushCommand(new RoateCmd(), true);
    clearRotation();
    resetPendingTransforms();
    // As after every transform command (its Undo and Redo included), the
    // handle goes to the selection's new box along the world axes.
    sceneHost()->updateSelectionBox();
    sceneHost()->refreshZSliceView();
    operation = 0;
    _part = 0;
    activePart = 0;
    return true;
}

void TransformHandle::cancel() {
    for (VlDoubleSpinBox* b : _boxes) {
        if (!b)
            continue;
        b->setEdited(false);
        b->setFocused(false);
    }
    if (operation != 0 || numberEntry)
        resetPendingTransforms();
    _offset[0] = _offset[1] = _offset[2] = 0.0;
    clearRotation();
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            _axes[j][i] = _startAxes[j][i];
    _start = QPoint(-1, -1);
    operation = 0;
    activePart = 0;
    numberEntry = false;
    started = false;
}

void TransformHandle::applyBoxValue(VlDoubleSpinBox* box) {
    int i = -1;
    for (int k = 0; k < 3; ++k)
        if (_boxes[k] == box)
            i = k;
    if (i < 0)
        return;
    if (operation == 1) {
        _offset[i] = box->value();
    } else if (operation == 2) {
        _rotationValue[i] = box->value();
        _angle = box->value() * kPi / 180.0;
    }
    updatePendingTransforms();
    sceneHost()->updateGLView();
}

void TransformHandle::openNumberBox(int index) {
    for (int i = 0; i < _activeCount; ++i)
        _active[i]->setFocused(false);
    if (index >= 0 && index < _activeCount)
        _active[index]->setFocused(true);
}

void TransformHandle::keyInput(QKeyEvent* event) {
    ensureBoxes();
    if (event->key() == Qt::Key_Escape) {
        for (VlDoubleSpinBox* b : _boxes) {
            b->setEdited(false);
            b->setValue(0.0);
        }
        if (operation == 1)
            _offset[0] = _offset[1] = _offset[2] = 0.0;
        else if (operation == 2)
            clearRotation();
        updatePendingTransforms();
        return;
    }
    int focused = -1;
    for (int i = 0; i < _activeCount; ++i)
        if (_active[i]->isFocused())
            focused = i;
    if (event->key() == Qt::Key_Tab) {
        if (_activeCount == 0)
            return;
        if (focused >= 0) {
            _active[focused]->setFocused(false);
            _active[focused]->commit();
            applyBoxValue(_active[focused]);
        }
        _active[(focused + 1) % _activeCount]->setFocused(true);
        if (_view)
            _view->update();
        return;
    }
    if (focused < 0)
        return;
    if (_active[focused]->keyPress(event))
        applyBoxValue(_active[focused]);
    else if (_view)
        _view->update();
}

void TransformHandle::updateNumberBoxes() {
    ensureBoxes();
    for (int i = 0; i < 3; ++i) {
        if (_boxes[i]->isEdited())
            continue;
        _boxes[i]->setValue(operation == 2 ? _rotationValue[i] : _offset[i]);
    }
}

// ---- Drawing ------------------------------------------------------------------------

namespace {

// Arrow heads: a point cone of 8 pixels at its base, half as long again,
// from the end of the arrow's line outwards.
constexpr double kHeadSize = 8.0;
constexpr double kHeadLength = 1.5;

const double kAxisColours[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const double kHovered[3] = {1, 1, 0};
const double kGuideColour[3] = {0.203125, 0.390625, 0.578125};

void pointAt(const double p[3], float size) {
    glPointSize(size);
    glBegin(GL_POINTS);
    glVertex3dv(p);
    glEnd();
}

} // namespace

void TransformHandle::draw(bool selectionMode) {
    if (_min[0] == _max[0] && _min[1] == _max[1] && _min[2] == _max[2])
        return;
    const double zoom = _view ? _view->zoom() : 1.0;
    _ringRadius = 100.0 / zoom;
    const double r = _ringRadius;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    enableSmoothBlend();
    glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    if (selectionMode) {
        glInitNames();
        glPushName(0);
    }
    for (int k = 0; k < 3; ++k) {
        const bool hovered = !selectionMode && _part == k + 1;
        const double width = hovered ? 1.3 : 1.0;
        const double* colour = hovered ? kHovered : kAxisColours[k];
        if (selectionMode)
            glLoadName(static_cast<GLuint>(k + 1));
        const double* axis = _axes[k];
        const double len = 30.0 / zoom * width;
        const double headSize = kHeadSize * width;
        const double headLength = kHeadLength * headSize / zoom;
        const float lineWidth = static_cast<float>(1.3 * width);
        for (int side = -1; side <= 1; side += 2) {
            double a[3], b[3], tip[3];
            for (int i = 0; i < 3; ++i) {
                a[i] = _center[i] + side * axis[i] * r;
                b[i] = _center[i] + side * axis[i] * (r + len);
                tip[i] = b[i] + side * axis[i] * headLength;
            }
            drawStippledLine(a, b, colour, &lineWidth, 0, 0);
            drawPointCone(b, tip, &headSize);
        }
    }
    for (int k = 0; k < 3; ++k) {
        const bool hovered = !selectionMode && _part == k + 9;
        if (selectionMode)
            glLoadName(static_cast<GLuint>(k + 9));
        glLineWidth(hovered ? 2.0f : 1.0f);
        drawRing(_center, _axes[k], &r, hovered ? kHovered : kAxisColours[k]);
    }
    if (selectionMode) {
        glPopName();
    } else {
        glColor3f(1.0f, 0.6f, 0.3f);
        pointAt(_center, 9.0f);
    }
    glPopAttrib();
}

void TransformHandle::drawRotationArc() {
    if (!started || activePart < 9 || activePart > 11 || std::fabs(_angle) <= 0.001)
        return;
    const double r = _ringRadius;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4d(0.7686274509803922, 0.9411764705882353, 0.38823529411764707, 0.35);
    drawSector(_center, _startDir, _rotationAxis, &_angle, &r);
    glPopAttrib();
    if (_view && _activeCount > 0) {
        double half = _angle / 2.0;
        if (_angle > kPi)
            half += kPi;
        double d[3] = {_startDir[0], _startDir[1], _startDir[2]};
        topolib::vecRotateAboutAxis(d, _rotationAxis, &half);
        const double p[3] = {_center[0] + r * d[0], _center[1] + r * d[1], _center[2] + r * d[2]};
        int s[2];
        _view->projectToScreen(p, s);
        _boxPositions[0] = QPoint(s[0], s[1]);
    }
}

void TransformHandle::drawGuides() {
    if (!started || operation != 1)
        return;
    const int part = activePart != 0 ? activePart : _part;
    double P[3];
    for (int i = 0; i < 3; ++i)
        P[i] = _offset[i] > 0 ? _min[i] : _max[i];
    if (part == 1)
        P[1] = _min[1], P[2] = _max[2];
    else if (part == 2)
        P[0] = _min[0], P[2] = _max[2];
    else if (part == 3)
        P[0] = _min[0], P[1] = _min[1];
    const double Q[3] = {P[0] + _offset[0], P[1] + _offset[1], P[2] + _offset[2]};
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    enableSmoothBlend();
    const float width = 1.0f;
    if (part == 8) {
        drawStippledRectangle(P, Q, kGuideColour, 2, width, true);
        const double foot[3] = {Q[0], Q[1], P[2]};
        drawStippledLine(foot, Q, kGuideColour, &width, 3, 0xAAAA);
    } else {
        drawStippledLine(P, Q, kGuideColour, &width, 3, 0xAAAA);
    }
    pointAt(P, 5.0f);
    glPopAttrib();
    if (!_view)
        return;
    auto place = [&](int box, double x, double y, double z) {
        const double p[3] = {x, y, z};
        int s[2];
        _view->projectToScreen(p, s);
        _boxPositions[box] = QPoint(s[0], s[1]);
    };
    if (part == 8) {
        place(0, P[0] + _offset[0] / 2, P[1], P[2]);
        place(1, P[0], P[1] + _offset[1] / 2, P[2]);
        place(2, Q[0], Q[1], Q[2] - _offset[2] / 2);
    } else {
        place(0, (P[0] + Q[0]) / 2, (P[1] + Q[1]) / 2, (P[2] + Q[2]) / 2);
    }
}

void TransformHandle::drawBoxes() {
    if (!started && !numberEntry)
        return;
    updateNumberBoxes();
    for (int i = 0; i < _activeCount; ++i) {
        _active[i]->setView(_view);
        _active[i]->setPosition(_boxPositions[i]);
        _active[i]->draw();
    }
}

#pragma once
// The move-and-rotate manipulator of the 3D view's transform mode: two arrows
// per axis move the selection along X, Y or Z, three rings rotate it about
// them, and dragging a selected object moves it in the platform plane. While
// a drag runs the selected objects show it through their pending transforms;
// its end becomes one undoable command. Number boxes in the view show the
// offset or angle and take typed values.
//
// Modifiers (Control switches snapping off) are taken from the view's own
// mouse and key events, as they arrive, through an event filter.
#include "view/ViewTools.h"

#include <QObject>
#include <QPoint>
#include <QString>

class MainGLWidget;
class VlDoubleSpinBox;

class TransformHandle : public QObject, public ManipulatorTool {
    Q_OBJECT
public:
    // view: the widget whose camera and events the handle uses (may be null in
    // tests that give no view).
    explicit TransformHandle(MainGLWidget* view);
    ~TransformHandle() override;

    // Makes a handle the view's manipulator; it is deleted with the view.
    static TransformHandle* install(MainGLWidget* view);

    void setBox(const double min[3], const double max[3]) override;
    void setHoveredPart(int part) override;
    void beginAt(const QPoint& pos) override;
    void saveStartState() override;
    void dragMove(const QPoint& pos) override;
    void dragRotate(MainGLWidget* view, const QPoint& pos) override;
    void updateNumberBoxes() override;
    bool finishMove() override;
    bool finishRotate() override;
    void cancel() override;
    void keyInput(QKeyEvent* event) override;
    void openNumberBox(int index) override;
    void draw(bool selectionMode) override;
    void drawRotationArc() override;
    void drawGuides() override;
    void drawBoxes() override;

    void updatePendingTransforms();
    void resetPendingTransforms();
    void applyBoxValue(VlDoubleSpinBox* box);

    // Read-outs.
    int hoveredPart() const { return _part; }
    const double* moveOffset() const { return _offset; }
    double angle() const { return _angle; }
    const double* boxCenter() const { return _center; }
    // Handle axis 0, 1 or 2 (X, Y, Z) as drawn: turned while a ring is dragged.
    const double* handleAxis(int index) const { return _axes[index]; }
    VlDoubleSpinBox* box(int axis) const { return _boxes[axis]; }
    // The modifiers of the last mouse or key event the view received.
    Qt::KeyboardModifiers modifiers() const { return _modifiers; }

signals:
    // setBox ran: the selection or its box changed.
    void selectionBoxChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ensureBoxes();
    // s' and p': the view rays through the start and current positions met
    // with the plane through the box centre with the given normal; false when
    // a ray runs parallel to it.
    bool raysOnPlane(const QPoint& pos, const double normal[3], double s[3], double p[3]) const;
    bool snapping() const { return !(_modifiers & Qt::ControlModifier); }
    void clearRotation();

    MainGLWidget* _view = nullptr;
    int _part = 0;
    QPoint _start{-1, -1};
    double _ringRadius = 50.0;
    double _angle = 0.0;
    double _center[3] = {0, 0, 0};
    double _min[3] = {0, 0, 0};
    double _max[3] = {0, 0, 0};
    double _offset[3] = {0, 0, 0};
    double _rotationAxis[3] = {0, 0, 1};
    double _rotationValue[3] = {0, 0, 0};
    double _startDir[3] = {1, 0, 0};
    double _currentDir[3] = {1, 0, 0};
    double _axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double _startAxes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    int _activeCount = 0;
    VlDoubleSpinBox* _active[3] = {nullptr, nullptr, nullptr};
    VlDoubleSpinBox* _boxes[3] = {nullptr, nullptr, nullptr};
    QPoint _boxPositions[3];
    QString _labels[3];
    Qt::KeyboardModifiers _modifiers = Qt::NoModifier;
};

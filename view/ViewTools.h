#pragma once
// The entry points through which the 3D view drives its move-and-rotate
// manipulator in transform mode (ViewMode::Transform). The manipulator implements them; the
// view owns none of its drawing or geometry, only when each is called.
#include <QPoint>

class MainGLWidget;
class QKeyEvent;

class ManipulatorTool {
public:
    virtual ~ManipulatorTool() = default;

    // State the view reads and writes between events.
    int operation = 0;        // 0 none, 1 move, 2 rotate
    int activePart = 0;       // the part being dragged (1, 2, 3, 8, 9, 10, 11)
    bool numberEntry = false; // a value is being typed into the number box
    bool started = false;     // a drag has begun

    // The selection's box; the handle places itself on it.
    virtual void setBox(const double min[3], const double max[3]) = 0;
    virtual void setHoveredPart(int part) = 0;
    // Records the press position of a new operation.
    virtual void beginAt(const QPoint& pos) = 0;
    // Prepares the number boxes at an operation's start.
    virtual void saveStartState() = 0;
    virtual void dragMove(const QPoint& pos) = 0;
    virtual void dragRotate(MainGLWidget* view, const QPoint& pos) = 0;
    // Moves the number boxes with the drag.
    virtual void updateNumberBoxes() = 0;
    // End an operation; each pushes its command when something changed.
    virtual bool finishMove() = 0;
    virtual bool finishRotate() = 0;
    // Abandons the open operation (a drag or a typed value) without a
    // command: its value and its preview on the objects go, the state above
    // is cleared.
    virtual void cancel() = 0;
    // Keys while a number is typed.
    virtual void keyInput(QKeyEvent* event) = 0;
    virtual void openNumberBox(int index) = 0;
    // Drawing passes in paint order; draw(true) also serves picking, with the
    // part numbers as GL names.
    virtual void draw(bool selectionMode) = 0;
    virtual void drawRotationArc() = 0;
    virtual void drawGuides() = 0;
    virtual void drawBoxes() = 0;
};

// The slice preview as the view's paint uses it: the clip plane before the
// objects are drawn, the cross-section after them.
class SlicePreviewTool {
public:
    virtual ~SlicePreviewTool() = default;
    // Sets and enables GL_CLIP_PLANE1 at the previewed height when enabled.
    virtual void setClipPlane() = 0;
    // Draws the cross-section (blending and smoothing are on).
    virtual void draw() = 0;
};

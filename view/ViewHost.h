#pragma once
// What the 3D view needs of the window that holds it, beyond the scene's
// services (SceneHost): the forwarders to the hollowing panel, which places,
// picks and draws the drain holes, and the support-point commands that a
// click in the support modes makes. The main window implements it and
// installs itself in its view (MainGLWidget::setViewHost); a view without a
// host (tools, tests) places, picks and draws no hole and pushes no command.
class QPoint;

class ViewHost {
public:
    virtual ~ViewHost() = default;

    // Forwarders to the hollowing panel; each does nothing (false) while the
    // panel is absent or hidden.
    // The hole following the cursor is placed for good (a click on the model).
    virtual void commitPendingHole() {}
    // The hole following the cursor moves to the model point under it.
    virtual void addHoleAt(const double position[3], const double direction[3]) {}
    // The hole following the cursor goes: the cursor is off the model.
    virtual void dropPendingHole() {}
    // Removes the hole under the widget point p; true when there was one.
    virtual bool pickHole(const QPoint& p) { return false; }
    virtual void drawHollowPreview() {}

    // Push the support-point commands built from the object list's state.
    virtual void pushAddConeSupportCmd() {}
    virtual void pushDeleteConeSupportCmd() {}
};

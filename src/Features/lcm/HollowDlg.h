#pragma once
// The hollowing panel: works on exactly one object, shows the inner offset
// surface for a wall thickness ("Offset") and a mesh density, lets the user
// place and remove drain holes by clicking in the view, and on "Ok" computes a
// hollowed copy and records one undoable HollowCreationCmd that replaces the
// object by it.
//
// The panel does not know the view (the hollowing library is not linked by the
// view, nor does it link it): the main window installs a hook that switches the
// view's mode (7 placing holes, 8 idle), repaints go through the scene host,
// and the main window forwards the view's requests (placeHole, commitHole,
// removeHoleAt, drawPreview) to the panel while it is shown.
//
// The object. The panel holds its object only while that object is in the
// object list: every use looks it up there (by address and serial), so an
// object that left the list (scene replaced, import undone, unloaded) is never
// touched; the main window should still close the panel first
// (closeIfObjectGone) so that the user sees it go.

#include "app/VlrBaseWidget.h"
#include "scene/ViewMode.h"

#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class ObjectEx;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPoint;
class QPushButton;
class QSlider;

namespace lcm {
class HollowContext;
}

class HollowDlg : public VlrBaseWidget {
    Q_OBJECT
public:
    explicit HollowDlg(QWidget* parent = nullptr);
    ~HollowDlg() override;

    // The panel behind the main window's panel pointer when it exists and is
    // shown, else null: the forwarders act only then.
    static HollowDlg* ifShown(QWidget* panel);

    // Switches the view's mode (7 or 8); installed by the main window.
    void setViewModeHook(std::function<void(ViewMode)> hook) { m_setViewMode = std::move(hook); }
    // Called at the end of every close (Ok, Cancel, hiding by the window), so
    // that the window can uncheck its tool button.
    void setCloseHook(std::function<void()> hook) { m_closeHook = std::move(hook); }

    // ---- Operations for the main window ------------------------------------------
    // The Hollow tool button: with exactly one selected object, makes it
    // see-through (alpha 0.3), takes it, creates the context (first preview),
    // shows the panel and sets the hole group and view mode; true. With none or
    // several the user is told and false is returned (the caller unchecks the
    // button).
    bool openTool();
    // The object to hollow (the one selected when the tool opened); not owned.
    void setObject(ObjectEx* object);
    // The object while it is still in the object list, else null.
    ObjectEx* object() const;
    // Creates the hollowing context and runs the update rule.
    void createContext();
    // The hole group's height while "Make Holes" is unchecked, else 0.
    int hiddenHoleGroupHeight() const;
    // The hole following the cursor: radius = size / 2, length = Offset,
    // taper = Taper. Nothing without a context.
    void placeHole(const double position[3], const double direction[3]);
    // Commits the hole following the cursor.
    void commitHole();
    // Removes the hole following the cursor (the cursor left the model).
    void dropHole();
    // Removes the committed hole under the widget point (GL selection with the
    // projection of the view's last paint; the view's context must be current).
    bool removeHoleAt(const QPoint& p);
    // Draws the inner-surface preview and the holes (while the view paints).
    void drawPreview();
    // The hollowed copy for Ok's HollowCreationCmd: the source object and its
    // clone hollowed by the hollowing driver (HollowContext::hollowedCopy),
    // whose rule alone decides whether there is a copy. False (and a message
    // to the user) when there is no object or the driver gave none. Holes that
    // do not reach the cavity are told to the user too, and so are the
    // source's supports, which the copy does not take: a copy that stood on
    // them is set down onto the platform.
    bool createHollowedObject(ObjectEx** source, ObjectEx** hollowed);
    // Closes the panel when its object has left the object list.
    void closeIfObjectGone();

    lcm::HollowContext* context() const { return m_context.get(); }
    int lastDensity() const { return m_lastDensity; }
    // How many previews the panel computed (tests count recomputations).
    int previewCount() const { return m_previewCount; }

public slots:
    void onCheckBoxMakeHoleClicked(bool flag);
    void changeDensityValue(int val);
    void onHoleRadiusValueChanged(double val);
    void onHoleTaperValueChanged(double val);
    void onBtnUpdateClicked();
    void onBtnOKClicked();
    void onBtnCancelClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildForm();
    void setViewMode(ViewMode mode);
    // Flat triangles of the preview (positions and normals) for vertex arrays.
    void rebuildPreviewArrays();

    std::function<void(ViewMode)> m_setViewMode;
    std::function<void()> m_closeHook;
    std::unique_ptr<lcm::HollowContext> m_context;
    ObjectEx* m_object = nullptr;
    quint64 m_objectSerial = 0;
    int m_holeGroupHeight = 0;
    int m_fullHeight = 0;
    double m_lastOffset = -1.0;
    int m_lastDensity = -1;
    int m_previewCount = 0;
    bool m_openEdgesTold = false; // open edges are told once per opening
    std::vector<float> m_previewPositions;
    std::vector<float> m_previewNormals;

    QLabel* _labelDensity = nullptr;
    QDoubleSpinBox* _dsbOffset = nullptr;
    QSlider* _sliderDensity = nullptr;
    QCheckBox* _checkMakeHoles = nullptr;
    QWidget* _holeParameters = nullptr;
    QDoubleSpinBox* _dsbHoleSize = nullptr;
    QDoubleSpinBox* _dsbHoleTaper = nullptr;
    QPushButton* _btnUpdate = nullptr;
    QPushButton* _btnOk = nullptr;
    QPushButton* _btnCancel = nullptr;
};

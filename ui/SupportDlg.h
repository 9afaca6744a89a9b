#pragma once
// The support tool's side panel: nine parameter boxes and "Remove Internal ",
// the support-type and base-type buttons, Add and Delete (the view's modes
// AddSupport and DeleteSupport for single support points), Generate, Clear
// and Preset.
//
// Every change of a box reaches the selected objects' containers at once
// through the object list's relays. Generate lifts the visible selected
// objects to the Z offset and generates for them as one undoable command,
// then stores the parameters in the parameter file. Clear and the two type
// buttons change existing supports as one undoable command each and mark the
// scene modified. Repaints go through the scene host.
#include "app/VlrBaseWidget.h"
#include "scene/ViewMode.h"
#include "support/SupportParams.h"
#include "support/SupportTypes.h"

#include <array>
#include <cstdint>
#include <functional>

class MainGLWidget;
class ZSliceDlg;
class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QPushButton;
class QScrollArea;

class SupportDlg : public VlrBaseWidget {
    Q_OBJECT
public:
    explicit SupportDlg(QWidget* parent = nullptr);
    ~SupportDlg() override;

    // The view whose mode Add and Delete switch (not owned; null: they do nothing).
    void setGLWidget(MainGLWidget* view) { m_view = view; }
    // Run when the panel closes itself; the main window unchecks its tool buttons.
    void setCloseHook(std::function<void()> hook) { m_closeHook = std::move(hook); }
    // The slice preview to pause while Generate lifts the selection (null or
    // unset: none is open).
    void setSlicePreview(std::function<ZSliceDlg*()> panel) { m_slicePreview = std::move(panel); }
    // Subtracted from the panel's height while the parameters are hidden.
    int paramGroupHeight() const { return m_paramGroupHeight; }
    // Check Add (Delete) and run its slot (keys A and D).
    void activateAddItem();
    void activateDeleteItem();
    // The parameter file: read into the boxes (each value forwarded as any
    // change is), written from them.
    void loadParams();
    void saveParams();

    // The boxes' and the check box's values; setting them goes through the
    // boxes (clamped, forwarded).
    support::SupportParams params() const;
    void setParams(const support::SupportParams& params);
    support::SupportType supportType() const { return m_supportType; }
    support::BaseType baseType() const { return m_baseType; }
    // The two types become those of the first selected object with supports
    // (after an undo or a redo, or a new selection), so that the buttons and
    // the next Generate follow what that object holds; without one the panel
    // keeps its own.
    void followSelection();

public slots:
    void onBtnShowHideParamClicked();
    void onBtnAddItemClicked();
    void onBtnDeleteItemClicked();
    void onBtnCloseClicked();
    void onBtnSupportTypeClicked();
    void onBtnBaseTypeClicked();
    void onTipSizeValueChanged(double val);
    void onBottomSizeValueChanged(double val);
    void onBeamSizeValueChanged(double val);
    void onHeadExtendValueChanged(double val);
    void onZOffsetValueChanged(double val);
    void onBaseThicknessValueChanged(double val);
    void onBaseSizeValueChanged(double val);
    void onDensityValueChanged(double val);
    void onAngleValueChanged(double val);
    void onBtnGenerateClicked();
    void onBtnClearClicked();
    void onBtnPresetClicked();

private:
    QDoubleSpinBox* box(support::SupportParams::Index i) const { return m_boxes[i]; }
    // A relay of one box: reads the box's current value.
    void forward(support::SupportParams::Index i);
    void setViewMode(ViewMode mode);
    // Icon and tool tip of the type buttons for the current types.
    void showSupportType();
    void showBaseType();

    support::SupportType m_supportType = support::SupportType::Cylinder;
    bool m_paramsShown = false;
    // Set after a failed write of the parameter file, cleared by a good one.
    bool m_paramWriteFailureLogged = false;
    support::BaseType m_baseType = support::BaseType::Raft;
    int m_paramGroupHeight = 0;
    MainGLWidget* m_view = nullptr;
    std::function<void()> m_closeHook;
    std::function<ZSliceDlg*()> m_slicePreview;

    std::array<QDoubleSpinBox*, support::SupportParams::kCount> m_boxes{};
    QGroupBox* _groupParameters = nullptr;
    QScrollArea* _scrollParameters = nullptr; // holds _groupParameters
    QPushButton* _btnShowHideParam = nullptr;
    QCheckBox* _removeInternal = nullptr;
    QPushButton* _btnSupportType = nullptr;
    QPushButton* _btnBaseType = nullptr;
    QPushButton* _btnAddItem = nullptr;
    QPushButton* _btnDeleteItem = nullptr;
};

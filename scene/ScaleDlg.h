#pragma once
// The scale panel: shows the size of the first selected object (in mm, or as
// a percentage of its size when it was loaded), previews a new size or factor
// on every selected object through its pending transform, applies the preview
// as one undoable rescale, fits the selection to the platform (not undoable)
// and resets the factors. Hiding the panel, switching tabs and changing the
// selection drop an unapplied preview.
#include "app/VlrBaseWidget.h"

#include <array>
#include <vector>

class QCheckBox;
class QDoubleSpinBox;
class QPushButton;
class QScreen;
class QTabWidget;
class ObjectEx;

class ScaleDlg : public VlrBaseWidget {
    Q_OBJECT
public:
    // Sizes and load-time sizes below this are treated as flat: that axis
    // keeps the factor 1 and its boxes are disabled, so no division by a
    // vanishing size reaches a mesh.
    static constexpr double kFlatSize = 1e-9;

    explicit ScaleDlg(QWidget* parent = nullptr);
    ~ScaleDlg() override;

    // Shows the first selected object's factors and sizes (no handler runs);
    // with no selection the boxes keep their values.
    void refreshFields();
    // Sets every selected object's pending transform to the scale the boxes
    // show, about the centre of its box.
    void updatePreview();

    QTabWidget* tabs() const { return _tabWidget; }
    QDoubleSpinBox* sizeBox(int axis) const { return _size[axis]; }
    QDoubleSpinBox* factorBox(int axis) const { return _factor[axis]; }
    QCheckBox* uniformCheck() const { return _checkUniform; }

signals:
    void closeRequested();
    // Fit To Platform is about to change meshes directly, and has changed them.
    void meshesAboutToChange();
    void meshesChanged();

public slots:
    void onXSizeValueChanged(double value);
    void onYSizeValueChanged(double value);
    void onZSizeValueChanged(double value);
    void onFactorXValueChanged(double value);
    void onFactorYValueChanged(double value);
    void onFactorZValueChanged(double value);
    void onBtnApplyClicked();
    void onBtnFitClicked();
    void onBtnResetClicked();
    void onCurrentTabChange(int index);
    void onBtnCloseClicked();
    // The selection (or its box) may have changed: a preview shown on other
    // objects than the selected ones is dropped, and the boxes are re-read.
    void selectionChanged();
    void wscreenChanged(QScreen* ssc);

protected:
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void sizeChanged(int axis, double value);
    void factorChanged(int axis, double value);
    // Drops the preview on every object and repaints.
    void dropPreview();

    QTabWidget* _tabWidget = nullptr;
    std::array<QDoubleSpinBox*, 3> _size{};
    std::array<QDoubleSpinBox*, 3> _factor{};
    QCheckBox* _checkUniform = nullptr;
    QPushButton* _btnFitPlatform = nullptr;
    QPushButton* _btnApply = nullptr;
    QPushButton* _btnReset = nullptr;
    // The objects the shown preview was given to (compared by address only).
    std::vector<const ObjectEx*> _previewed;
};

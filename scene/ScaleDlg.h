#pragma once
// The scale panel: shows the size of the first selected object (in mm, or as
// a percentage of its size when it was loaded), previews a new size or factor
// on every selected object through its pending transform, applies the preview
// as one undoable rescale, fits the selection to the platform (one undoable
// command too) and resets the factors. Hiding the panel, switching tabs and
// changing the selection drop an unapplied preview.
//
// The panel keeps what the user set at full precision: a box shows its value
// rounded, and an axis nobody set since the boxes were last read keeps the
// factor 1 exactly. With "Maintain ratio" every axis is scaled by the one
// factor the changed axis asks for, so the object keeps its proportions.
#include "app/VlrBaseWidget.h"
#include "topolib/StlObject.h"

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
    // The range of the size boxes (mm): the smallest size they show, and the
    // largest an object within the coordinate limit can have. A size or
    // factor that would carry the object beyond the limit is refused by
    // Apply (RescaleCmd) with a message.
    static constexpr double kSmallestSize = 0.001;
    static constexpr double kLargestSize = 2.0 * double(topolib::kMaxImportCoordinate);

    explicit ScaleDlg(QWidget* parent = nullptr);
    ~ScaleDlg() override;

    // Shows the first selected object's factors and sizes (no handler runs);
    // with no selection the boxes are empty and disabled.
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

protected:
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Which boxes the kept values came from.
    enum class Kind { Size, Factor };
    // A value typed into (or linked to) a box of that kind on axis.
    void valueSet(Kind kind, int axis, double value);
    // Shows, in every box but the one the user is typing in, what the kept
    // values make of the first selected object.
    void showValues(Kind kind, int editedAxis);
    // The factor the kept values give an object on each axis.
    void factorsFor(const ObjectEx* obj, double f[3]) const;
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
    // What the user set since the boxes were last read, at full precision.
    Kind _kind = Kind::Factor;
    std::array<double, 3> _value{{100.0, 100.0, 100.0}};
    std::array<bool, 3> _set{};
    // The axis whose value gives the one factor of every axis ("Maintain
    // ratio" was checked when it was set); -1 when each axis has its own.
    int _uniformAxis = -1;
};

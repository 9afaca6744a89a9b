#include "scene/ScaleDlg.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/OrientateDlg.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

struct Sizes {
    double current[3];
    double loaded[3];
    double min[3];
    double max[3];
};

// The object's box after its box jobs ended; an empty mesh is flat on every axis.
Sizes sizesOf(const ObjectEx* obj) {
    Sizes s{};
    double min[3], max[3];
    if (!obj->readBox(min, max))
        return s;
    for (int i = 0; i < 3; ++i) {
        s.current[i] = max[i] - min[i];
        s.loaded[i] = obj->loadedBoxMax()[i] - obj->loadedBoxMin()[i];
        s.min[i] = min[i];
        s.max[i] = max[i];
    }
    return s;
}

bool flat(const Sizes& s, int axis) {
    return !(s.current[axis] >= ScaleDlg::kFlatSize) || !(s.loaded[axis] >= ScaleDlg::kFlatSize);
}

// The factor from the current size to a size box value (mm) or to a factor
// box value (% of the load-time size).
double factorOf(const Sizes& s, int axis, bool size, double value) {
    return size ? value / s.current[axis] : value * 0.01 * s.loaded[axis] / s.current[axis];
}

// What a box of that kind shows for the factor f.
double shownFor(const Sizes& s, int axis, bool size, double f) {
    return size ? s.current[axis] * f : s.current[axis] * f / s.loaded[axis] * 100.0;
}

QDoubleSpinBox* makeBox(QWidget* parent, const char* name, int decimals, double min, double max) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setDecimals(decimals);
    box->setRange(min, max);
    return box;
}

// A tab with the rows X, Y, Z: a box and its unit each.
QWidget* makeTab(QWidget* parent, std::array<QDoubleSpinBox*, 3>& boxes, const QString& unit) {
    auto* tab = new QWidget(parent);
    auto* form = new QFormLayout(tab);
    const char* axes[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        boxes[i]->setParent(tab);
        auto* row = new QHBoxLayout();
        row->addWidget(boxes[i]);
        row->addWidget(new QLabel(unit, tab));
        form->addRow(new QLabel(QString::fromLatin1(axes[i]), tab), row);
    }
    return tab;
}

} // namespace

ScaleDlg::ScaleDlg(QWidget* parent) : VlrBaseWidget(parent) {
    setObjectName(QStringLiteral("ScaleDlg"));
    setWindowTitle(tr("ScaleDlg"));
    panelWidth = scaledToTextUnit(194);
    panelHeight = scaledToTextUnit(350);

    auto* layout = new QVBoxLayout(this);
    QPushButton* close = addPanelTitle(this, layout, tr("Scale"));

    const char* sizeNames[3] = {"_dsbXSize", "_dsbYSize", "_dsbZSize"};
    const char* factorNames[3] = {"_dsbFactorX", "_dsbFactorY", "_dsbFactorZ"};
    for (int i = 0; i < 3; ++i) {
        _size[i] = makeBox(this, sizeNames[i], 3, kSmallestSize, kLargestSize);
        _size[i]->setButtonSymbols(QAbstractSpinBox::NoButtons);
        // The widest value the range allows must not set the panel's width.
        _size[i]->setSizePolicy(QSizePolicy::Ignored, _size[i]->sizePolicy().verticalPolicy());
        _factor[i] = makeBox(this, factorNames[i], 0, 1.0, 10000.0);
        _factor[i]->setSingleStep(1.0);
        _factor[i]->setValue(100.0);
    }
    _tabWidget = new QTabWidget(this);
    _tabWidget->setObjectName(QStringLiteral("tabWidget"));
    _tabWidget->addTab(makeTab(_tabWidget, _size, tr("mm")), tr("Size"));
    _tabWidget->addTab(makeTab(_tabWidget, _factor, tr("%")), tr("Factor"));
    _tabWidget->setCurrentIndex(1);
    layout->addWidget(_tabWidget);

    _checkUniform = new QCheckBox(tr("Maintain ratio"), this);
    _checkUniform->setObjectName(QStringLiteral("_checkUniform"));
    _checkUniform->setChecked(true);
    layout->addWidget(_checkUniform);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    layout->addWidget(line);
    _btnFitPlatform = new QPushButton(tr("Fit To Platform"), this);
    _btnFitPlatform->setObjectName(QStringLiteral("_btnFitPlatform"));
    _btnApply = new QPushButton(tr("Apply"), this);
    _btnApply->setObjectName(QStringLiteral("_btnApply"));
    _btnReset = new QPushButton(tr("Reset"), this);
    _btnReset->setObjectName(QStringLiteral("_btnReset"));
    layout->addWidget(_btnFitPlatform);
    layout->addWidget(_btnApply);
    layout->addWidget(_btnReset);
    layout->addStretch();

    using Handler = void (ScaleDlg::*)(double);
    const Handler sizeHandlers[3] = {&ScaleDlg::onXSizeValueChanged, &ScaleDlg::onYSizeValueChanged,
                                     &ScaleDlg::onZSizeValueChanged};
    const Handler factorHandlers[3] = {&ScaleDlg::onFactorXValueChanged, &ScaleDlg::onFactorYValueChanged,
                                       &ScaleDlg::onFactorZValueChanged};
    for (int i = 0; i < 3; ++i) {
        connect(_size[i], QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, sizeHandlers[i]);
        connect(_factor[i], QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, factorHandlers[i]);
    }
    connect(_btnApply, &QPushButton::clicked, this, &ScaleDlg::onBtnApplyClicked);
    connect(_btnFitPlatform, &QPushButton::clicked, this, &ScaleDlg::onBtnFitClicked);
    connect(_btnReset, &QPushButton::clicked, this, &ScaleDlg::onBtnResetClicked);
    connect(_tabWidget, &QTabWidget::currentChanged, this, &ScaleDlg::onCurrentTabChange);
    connect(close, &QPushButton::clicked, this, &ScaleDlg::onBtnCloseClicked);
}

ScaleDlg::~ScaleDlg() = default;

void ScaleDlg::refreshFields() {
    _set = {};
    _uniformAxis = -1;
    _kind = _tabWidget->currentIndex() == 0 ? Kind::Size : Kind::Factor;
    const ObjectEx* obj = ObjectTable::instance()->firstSelectedObject();
    if (!obj) {
        // Nothing to scale: the boxes show nothing rather than an object that
        // is no longer selected (or no longer there).
        for (QDoubleSpinBox* box : {_factor[0], _factor[1], _factor[2], _size[0], _size[1], _size[2]}) {
            const QSignalBlocker block(box);
            box->clear();
            box->setEnabled(false);
        }
        return;
    }
    const Sizes s = sizesOf(obj);
    for (int i = 0; i < 3; ++i) {
        const bool isFlat = flat(s, i);
        const QSignalBlocker factorBlock(_factor[i]);
        const QSignalBlocker sizeBlock(_size[i]);
        _factor[i]->setValue(isFlat ? 100.0 : shownFor(s, i, false, 1.0));
        _size[i]->setValue(s.current[i]);
        _factor[i]->setEnabled(!isFlat);
        _size[i]->setEnabled(!isFlat);
    }
}

void ScaleDlg::factorsFor(const ObjectEx* obj, double f[3]) const {
    const Sizes s = sizesOf(obj);
    const bool size = _kind == Kind::Size;
    const bool uniform = _uniformAxis >= 0 && !flat(s, _uniformAxis);
    const double common = uniform ? factorOf(s, _uniformAxis, size, _value[_uniformAxis]) : 1.0;
    for (int i = 0; i < 3; ++i) {
        if (flat(s, i))
            f[i] = 1.0;
        else if (_uniformAxis >= 0)
            f[i] = common;
        else
            f[i] = _set[i] ? factorOf(s, i, size, _value[i]) : 1.0;
    }
}

void ScaleDlg::updatePreview() {
    _previewed.clear();
    for (ObjectEx* obj : ObjectTable::instance()->objects()) {
        if (!obj->isReady() || !obj->isSelected())
            continue;
        _previewed.push_back(obj);
        const Sizes s = sizesOf(obj);
        double f[3];
        factorsFor(obj, f);
        obj->setTransform(scaleInPlace(s.min, s.max, f));
    }
}

void ScaleDlg::valueSet(Kind kind, int axis, double value) {
    if (kind != _kind) {
        // Values of the other tab say nothing about these boxes.
        _set = {};
        _uniformAxis = -1;
        _kind = kind;
    }
    _value[axis] = value;
    _set[axis] = true;
    _uniformAxis = _checkUniform->isChecked() ? axis : -1;
    showValues(kind, axis);
    updatePreview();
    sceneHost()->updateGLView();
}

void ScaleDlg::showValues(Kind kind, int editedAxis) {
    const ObjectEx* first = ObjectTable::instance()->firstSelectedObject();
    if (!first) {
        // Without an object the ratio can only link percentages.
        if (_uniformAxis >= 0 && kind == Kind::Factor)
            for (int i = 0; i < 3; ++i) {
                const QSignalBlocker block(_factor[i]);
                _value[i] = _value[_uniformAxis];
                _set[i] = true;
                if (i != editedAxis)
                    _factor[i]->setValue(_value[i]);
            }
        return;
    }
    const Sizes s = sizesOf(first);
    double f[3];
    factorsFor(first, f);
    for (int i = 0; i < 3; ++i) {
        if (flat(s, i))
            continue;
        if (_uniformAxis >= 0 && i != _uniformAxis) {
            // The linked axes hold what the common factor makes of them.
            _value[i] = shownFor(s, i, kind == Kind::Size, f[i]);
            _set[i] = true;
        }
        const QSignalBlocker sizeBlock(_size[i]);
        const QSignalBlocker factorBlock(_factor[i]);
        if (!(kind == Kind::Size && i == editedAxis))
            _size[i]->setValue(shownFor(s, i, true, f[i]));
        if (!(kind == Kind::Factor && i == editedAxis))
            _factor[i]->setValue(shownFor(s, i, false, f[i]));
    }
}

void ScaleDlg::onXSizeValueChanged(double value) {
    valueSet(Kind::Size, 0, value);
}
void ScaleDlg::onYSizeValueChanged(double value) {
    valueSet(Kind::Size, 1, value);
}
void ScaleDlg::onZSizeValueChanged(double value) {
    valueSet(Kind::Size, 2, value);
}
void ScaleDlg::onFactorXValueChanged(double value) {
    valueSet(Kind::Factor, 0, value);
}
void ScaleDlg::onFactorYValueChanged(double value) {
    valueSet(Kind::Factor, 1, value);
}
void ScaleDlg::onFactorZValueChanged(double value) {
    valueSet(Kind::Factor, 2, value);
}

void ScaleDlg::onBtnApplyClicked() {
    sceneHost()->pushCommand(new RescaleCmd(), true);
    _previewed.clear();
    refreshFields();
}

void ScaleDlg::onBtnFitClicked() {
    // The fit bakes its own matrix: a shown preview is not part of it.
    _previewed.clear();
    sceneHost()->pushCommand(new FitToPlatformCmd(), true);
    refreshFields();
}

void ScaleDlg::onBtnResetClicked() {
    // Back to the load-time size: with "Maintain ratio" by the factor X asks
    // for, else every axis by its own.
    {
        const QSignalBlocker block(_factor[0]);
        _factor[0]->setValue(100.0);
    }
    valueSet(Kind::Factor, 0, 100.0);
    if (!_checkUniform->isChecked())
        for (int i = 1; i < 3; ++i) {
            const QSignalBlocker block(_factor[i]);
            _factor[i]->setValue(100.0);
            valueSet(Kind::Factor, i, 100.0);
        }
}

void ScaleDlg::dropPreview() {
    _previewed.clear();
    ObjectTable::instance()->resetPendingTransforms();
    sceneHost()->updateGLView();
}

void ScaleDlg::onCurrentTabChange(int) {
    refreshFields();
    dropPreview();
}

void ScaleDlg::onBtnCloseClicked() {
    hide();
    emit closeRequested();
}

void ScaleDlg::selectionChanged() {
    std::vector<const ObjectEx*> selected;
    for (const ObjectEx* obj : ObjectTable::instance()->objects())
        if (obj->isReady() && obj->isSelected())
            selected.push_back(obj);
    if (!_previewed.empty() && selected != _previewed)
        dropPreview();
    refreshFields();
}

void ScaleDlg::hideEvent(QHideEvent* event) {
    dropPreview();
    VlrBaseWidget::hideEvent(event);
}

void ScaleDlg::showEvent(QShowEvent* event) {
    refreshFields();
    VlrBaseWidget::showEvent(event);
}

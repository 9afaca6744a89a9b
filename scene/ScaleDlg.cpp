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
    double center[3];
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
        s.center[i] = (min[i] + max[i]) * 0.5;
    }
    return s;
}

bool flat(const Sizes& s, int axis) {
    return !(s.current[axis] >= ScaleDlg::kFlatSize) || !(s.loaded[axis] >= ScaleDlg::kFlatSize);
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
        _size[i] = makeBox(this, sizeNames[i], 3, 0.1, 999.0);
        _size[i]->setButtonSymbols(QAbstractSpinBox::NoButtons);
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
    const ObjectEx* obj = ObjectTable::instance()->firstSelectedObject();
    if (!obj)
        return;
    const Sizes s = sizesOf(obj);
    for (int i = 0; i < 3; ++i) {
        const bool isFlat = flat(s, i);
        const QSignalBlocker factorBlock(_factor[i]);
        const QSignalBlocker sizeBlock(_size[i]);
        _factor[i]->setValue(isFlat ? 100.0 : s.current[i] / s.loaded[i] * 100.0);
        _size[i]->setValue(s.current[i]);
        _factor[i]->setEnabled(!isFlat);
        _size[i]->setEnabled(!isFlat);
    }
}

void ScaleDlg::updatePreview() {
    const bool sizeTab = _tabWidget->currentIndex() == 0;
    _previewed.clear();
    for (ObjectEx* obj : ObjectTable::instance()->objects()) {
        if (!obj->isReady() || !obj->isSelected())
            continue;
        _previewed.push_back(obj);
        const Sizes s = sizesOf(obj);
        double f[3];
        const double* c = s.center;
        for (int i = 0; i < 3; ++i) {
            if (flat(s, i)) {
                f[i] = 1.0;
                continue;
            }
            // (box / loaded size) / (current / loaded size): the factor from the
            // current size to the one shown.
            f[i] = sizeTab ? _size[i]->value() / s.current[i]
                           : _factor[i]->value() * 0.01 * s.loaded[i] / s.current[i];
        }
        topolib::Matrix4D m;
        m.multiplyByTranslation(c);
        topolib::Matrix4D scale;
        scale.at(0, 0) = f[0];
        scale.at(1, 1) = f[1];
        scale.at(2, 2) = f[2];
        m = m * scale;
        const double back[3] = {-c[0], -c[1], -c[2]};
        m.multiplyByTranslation(back);
        obj->setTransform(m);
    }
}

void ScaleDlg::sizeChanged(int axis, double value) {
    const ObjectEx* first = ObjectTable::instance()->firstSelectedObject();
    if (_checkUniform->isChecked() && first) {
        const Sizes s = sizesOf(first);
        if (!flat(s, axis)) {
            for (int i = 0; i < 3; ++i) {
                if (i == axis || flat(s, i))
                    continue;
                const QSignalBlocker block(_size[i]);
                _size[i]->setValue(s.current[i] * value / s.current[axis]);
            }
        }
    }
    updatePreview();
    sceneHost()->updateGLView();
}

void ScaleDlg::factorChanged(int axis, double value) {
    if (_checkUniform->isChecked()) {
        for (int i = 0; i < 3; ++i) {
            if (i == axis)
                continue;
            const QSignalBlocker block(_factor[i]);
            _factor[i]->setValue(value);
        }
    }
    updatePreview();
    sceneHost()->updateGLView();
}

void ScaleDlg::onXSizeValueChanged(double value) {
    sizeChanged(0, value);
}
void ScaleDlg::onYSizeValueChanged(double value) {
    sizeChanged(1, value);
}
void ScaleDlg::onZSizeValueChanged(double value) {
    sizeChanged(2, value);
}
void ScaleDlg::onFactorXValueChanged(double value) {
    factorChanged(0, value);
}
void ScaleDlg::onFactorYValueChanged(double value) {
    factorChanged(1, value);
}
void ScaleDlg::onFactorZValueChanged(double value) {
    factorChanged(2, value);
}

void ScaleDlg::onBtnApplyClicked() {
    sceneHost()->pushCommand(new RescaleCmd(), true);
}

void ScaleDlg::onBtnFitClicked() {
    double volume[3];
    sceneHost()->getBuildVolume(volume);
    const double margin = 5.0;
    emit meshesAboutToChange();
    ObjectTable::instance()->fitSelectionToPlatform(volume, &margin);
    emit meshesChanged();
    refreshFields();
    sceneHost()->updateGLView();
}

void ScaleDlg::onBtnResetClicked() {
    for (QDoubleSpinBox* box : _factor)
        box->setValue(100.0);
    updatePreview();
    sceneHost()->updateGLView();
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

void ScaleDlg::wscreenChanged(QScreen*) {}

void ScaleDlg::hideEvent(QHideEvent* event) {
    dropPreview();
    VlrBaseWidget::hideEvent(event);
}

void ScaleDlg::showEvent(QShowEvent* event) {
    refreshFields();
    VlrBaseWidget::showEvent(event);
}

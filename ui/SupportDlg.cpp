#include "ui/SupportDlg.h"

#include "app/Log.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "scene/SupportCommands.h"
#include "support/SupportGen.h"
#include "ui/SupportParamFile.h"
#include "view/MainGLWidget.h"
#include "view/ZSliceDlg.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using P = support::SupportParams;

namespace {

const QString kIcons = QStringLiteral(":/Dialog/Resources/Dialog/");

// Shows the panel image file on b; where the program's resources lack it, a
// short text instead, so that no button is left blank and unusable.
void setImage(QPushButton* b, const char* file, const QString& fallback) {
    const QString path = kIcons + QLatin1String(file);
    const bool present = QFile::exists(path);
    b->setIcon(present ? QIcon(path) : QIcon());
    b->setText(present ? QString() : fallback);
}

// Label and object name of each number box, in parameter order.
struct BoxForm {
    const char* label;
    const char* name;
};
constexpr BoxForm kBoxForms[P::kCount] = {
    {QT_TRANSLATE_NOOP("SupportDlg", "Tip Size"), "_dsbTipSize"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Trunk Size"), "_dsbBottomSize"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Branch Size"), "_dsbBeamSize"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Head Extend"), "_dsbHeadExtend"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Z - Offset"), "_dsbZOffset"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Bottom Size"), "_dsbBaseSize"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Base Thickness"), "_dsbBaseThickness"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Density"), "_dsbDensity"},
    {QT_TRANSLATE_NOOP("SupportDlg", "Angle"), "_dsbAngle"},
};

QFrame* line(QWidget* parent, const char* name) {
    auto* f = new QFrame(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, bool checkable) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setCheckable(checkable);
    return b;
}

QHBoxLayout* row(QWidget* a, QWidget* b) {
    auto* r = new QHBoxLayout();
    r->addWidget(a);
    r->addWidget(b);
    return r;
}

// The tool tip names what the next click selects.
QString baseTypeName(support::BaseType type) {
    switch (type) {
    case support::BaseType::None:
        return SupportDlg::tr("No Base");
    case support::BaseType::Raft:
        return SupportDlg::tr("Full Base");
    case support::BaseType::Circle:
        break;
    }
    return SupportDlg::tr("Circle Base");
}

const char* baseTypeIcon(support::BaseType type) {
    switch (type) {
    case support::BaseType::None:
        return "SupportNoBase.png";
    case support::BaseType::Raft:
        return "SupportBaseFull.png";
    case support::BaseType::Circle:
        break;
    }
    return "SupportBaseCircle.png";
}

// The button's cycle: full, circle, none, full.
support::BaseType nextBaseType(support::BaseType type) {
    switch (type) {
    case support::BaseType::None:
        return support::BaseType::Raft;
    case support::BaseType::Raft:
        return support::BaseType::Circle;
    case support::BaseType::Circle:
        break;
    }
    return support::BaseType::None;
}

void markModifiedAndRepaint() {
    ObjectTable::instance()->setModified(true);
    sceneHost()->updateGLView();
}

} // namespace

SupportDlg::SupportDlg(QWidget* parent) : VlrBaseWidget(parent) {
    setObjectName(QStringLiteral("SupportDlg"));
    setWindowTitle(tr("Support Setting"));
    panelWidth = scaledToTextUnit(226);
    panelHeight = scaledToTextUnit(520);
    m_paramGroupHeight = scaledToTextUnit(236);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("Support"), this);
    title->setObjectName(QStringLiteral("label"));
    auto* close = button(this, "_btnClose", QString(), false);
    close->setFlat(true);
    setImage(close, "close.png", QStringLiteral("\u00d7"));
    layout->addLayout(row(title, close));
    layout->addWidget(line(this, "line"));

    auto* paramLabel = new QLabel(tr("Parameter"), this);
    paramLabel->setObjectName(QStringLiteral("label_9"));
    _btnShowHideParam = button(this, "_btnShowHideParam", QString(), false);
    _btnShowHideParam->setFlat(true);
    layout->addLayout(row(paramLabel, _btnShowHideParam));

    _groupParameters = new QGroupBox(this);
    _groupParameters->setObjectName(QStringLiteral("_groupParameters"));
    _groupParameters->setFlat(true);
    auto* params = new QGridLayout(_groupParameters);
    for (int i = 0; i < P::kCount; ++i) {
        const support::SupportParamRange& range = support::supportParamRange(P::Index(i));
        auto* b = new QDoubleSpinBox(_groupParameters);
        b->setObjectName(QString::fromLatin1(kBoxForms[i].name));
        b->setDecimals(2);
        b->setButtonSymbols(QAbstractSpinBox::NoButtons);
        b->setRange(range.minimum, range.maximum);
        b->setSingleStep(range.step);
        b->setValue(range.preset);
        m_boxes[i] = b;
        params->addWidget(new QLabel(tr(kBoxForms[i].label), _groupParameters), i, 0);
        params->addWidget(b, i, 1);
    }
    auto* preset = button(_groupParameters, "_btnPresetParams", tr("Preset"), false);
    auto* presetRow = new QHBoxLayout();
    presetRow->addStretch();
    presetRow->addWidget(preset);
    params->addLayout(presetRow, P::kCount, 0, 1, 2);
    // In a window too short for the whole panel the parameters scroll, and
    // the rows below them stay in sight.
    _scrollParameters = new QScrollArea(this);
    _scrollParameters->setObjectName(QStringLiteral("_scrollParameters"));
    _scrollParameters->setFrameShape(QFrame::NoFrame);
    _scrollParameters->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    _scrollParameters->setWidgetResizable(true);
    _scrollParameters->setWidget(_groupParameters);
    layout->addWidget(_scrollParameters);

    _removeInternal = new QCheckBox(tr("Remove Internal "), this);
    _removeInternal->setObjectName(QStringLiteral("_removeInternal"));
    layout->addWidget(line(this, "line_3"));
    layout->addWidget(_removeInternal);
    layout->addWidget(line(this, "line_2"));

    _btnSupportType = button(this, "_btnSupportType", QString(), true);
    showSupportType();
    _btnBaseType = button(this, "_btnBaseType", QString(), false);
    layout->addLayout(row(_btnSupportType, _btnBaseType));
    layout->addWidget(line(this, "line_5"));

    _btnAddItem = button(this, "_btnAddItem", tr("Add"), true);
    _btnDeleteItem = button(this, "_btnDeleteItem", tr("Delete"), true);
    layout->addLayout(row(_btnAddItem, _btnDeleteItem));
    layout->addWidget(line(this, "line_6"));

    auto* generate = button(this, "_btnGenerate", tr("Generate"), false);
    auto* clear = button(this, "_btnClear", tr("Clear"), false);
    layout->addLayout(row(generate, clear));
    layout->addStretch();

    connect(_btnShowHideParam, &QPushButton::clicked, this, &SupportDlg::onBtnShowHideParamClicked);
    connect(_btnAddItem, &QPushButton::clicked, this, &SupportDlg::onBtnAddItemClicked);
    connect(_btnDeleteItem, &QPushButton::clicked, this, &SupportDlg::onBtnDeleteItemClicked);
    connect(close, &QPushButton::clicked, this, &SupportDlg::onBtnCloseClicked);
    connect(_btnSupportType, &QPushButton::clicked, this, &SupportDlg::onBtnSupportTypeClicked);
    connect(_btnBaseType, &QPushButton::clicked, this, &SupportDlg::onBtnBaseTypeClicked);
    void (SupportDlg::*const valueSlots[P::kCount])(double) = {
        &SupportDlg::onTipSizeValueChanged,    &SupportDlg::onBottomSizeValueChanged,
        &SupportDlg::onBeamSizeValueChanged,   &SupportDlg::onHeadExtendValueChanged,
        &SupportDlg::onZOffsetValueChanged,    &SupportDlg::onBaseSizeValueChanged,
        &SupportDlg::onBaseThicknessValueChanged, &SupportDlg::onDensityValueChanged,
        &SupportDlg::onAngleValueChanged,
    };
    for (int i = 0; i < P::kCount; ++i)
        connect(m_boxes[i], QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, valueSlots[i]);
    connect(generate, &QPushButton::clicked, this, &SupportDlg::onBtnGenerateClicked);
    connect(clear, &QPushButton::clicked, this, &SupportDlg::onBtnClearClicked);
    connect(preset, &QPushButton::clicked, this, &SupportDlg::onBtnPresetClicked);

    showBaseType();
    setImage(_btnShowHideParam, "TriangleShow.png", QStringLiteral("\u25be"));
    _btnShowHideParam->setToolTip(tr("Show parameters"));
    _groupParameters->hide();
    _scrollParameters->hide();
}

SupportDlg::~SupportDlg() = default;

// ---- Parameters --------------------------------------------------------------------------

support::SupportParams SupportDlg::params() const {
    P p;
    for (int i = 0; i < P::kCount; ++i)
        p.values[i] = m_boxes[i]->value();
    p.removeInternal = _removeInternal->isChecked();
    return p;
}

void SupportDlg::setParams(const support::SupportParams& p) {
    for (int i = 0; i < P::kCount; ++i)
        m_boxes[i]->setValue(p.values[i]);
    _removeInternal->setChecked(p.removeInternal);
}

void SupportDlg::loadParams() {
    P p = params();
    if (support::readSupportParamFile(support::supportParamFilePath(), p))
        setParams(p);
}

void SupportDlg::saveParams() {
    support::writeSupportParamFile(support::supportParamFilePath(), params(), &m_paramWriteFailureLogged);
}

void SupportDlg::onBtnPresetClicked() {
    // The check box and the two types keep their state.
    const P preset = support::presetSupportParams();
    for (int i = 0; i < P::kCount; ++i)
        m_boxes[i]->setValue(preset.values[i]);
}

void SupportDlg::forward(P::Index i) {
    ObjectTable* table = ObjectTable::instance();
    const double v = m_boxes[i]->value();
    const double half = v / 2.0;
    switch (i) {
    case P::TipSize:
        table->setSupportTipRadius(&half);
        break;
    case P::TrunkSize:
        table->setSupportTrunkRadius(&half);
        break;
    case P::BranchSize:
        table->setSupportBranchRadius(&half);
        break;
    case P::HeadExtend:
        table->setSupportHeadExtend(&v);
        break;
    case P::BottomSize:
        table->setSupportBaseSize(&v);
        break;
    case P::BaseThickness:
        table->setSupportBaseThickness(&v);
        break;
    case P::Density:
        table->setSupportDensity(&v);
        break;
    case P::Angle:
        table->setSupportMaxAngle(&v);
        break;
    default: // the Z offset is used by Generate only
        break;
    }
}

void SupportDlg::onTipSizeValueChanged(double) {
    forward(P::TipSize);
}
void SupportDlg::onBottomSizeValueChanged(double) {
    forward(P::TrunkSize);
}
void SupportDlg::onBeamSizeValueChanged(double) {
    forward(P::BranchSize);
}
void SupportDlg::onHeadExtendValueChanged(double) {
    forward(P::HeadExtend);
}
void SupportDlg::onZOffsetValueChanged(double) {}
void SupportDlg::onBaseThicknessValueChanged(double) {
    forward(P::BaseThickness);
}
void SupportDlg::onBaseSizeValueChanged(double) {
    forward(P::BottomSize);
}
void SupportDlg::onDensityValueChanged(double) {
    forward(P::Density);
}
void SupportDlg::onAngleValueChanged(double) {
    forward(P::Angle);
}

// ---- Generate and Clear ------------------------------------------------------------------

void SupportDlg::onBtnGenerateClicked() {
    logText("------------ Start Generate Support --------");
    {
        // The lift to the Z offset moves meshes outside a command: the slice
        // preview's worker must not cut them meanwhile.
        const ZSliceDlg::SceneChange sliceGuard(m_slicePreview ? m_slicePreview() : nullptr);
        generateSupportsForSelection(params(), m_supportType, m_baseType);
    }
    sceneHost()->updateGLView();
    saveParams();
    logText("------------ End Generate Support --------");
}

void SupportDlg::onBtnClearClicked() {
    // One undoable step, which marks the scene modified and repaints; nothing
    // is recorded when no selected object has supports.
    sceneHost()->pushCommand(new ClearSupportCmd(), false);
}

// ---- Types -------------------------------------------------------------------------------

void SupportDlg::onBtnSupportTypeClicked() {
    m_supportType = m_supportType == support::SupportType::Cross ? support::SupportType::Cylinder
                                                                 : support::SupportType::Cross;
    showSupportType();
    // Existing supports take the type at once, as one undoable step; the
    // selected objects' support points added later get it as well.
    sceneHost()->pushCommand(new SupportTypeCmd(m_supportType), false);
    ObjectTable::instance()->setSupportType(m_supportType, false);
    markModifiedAndRepaint();
}

void SupportDlg::onBtnBaseTypeClicked() {
    m_baseType = nextBaseType(m_baseType);
    showBaseType();
    // Existing supports take the type at once, as one undoable step that keeps
    // every bar as it is; the selected objects' support points added later
    // get it as well.
    const bool recorded = sceneHost()->pushCommand(new SupportBaseTypeCmd(m_baseType), false);
    ObjectTable::instance()->setSupportBaseType(m_baseType, false);
    if (!recorded)
        markModifiedAndRepaint();
}

void SupportDlg::showSupportType() {
    if (m_supportType == support::SupportType::Cylinder) {
        setImage(_btnSupportType, "CircleSupport24.png", tr("Cylinder"));
        _btnSupportType->setToolTip(tr("Cross Support"));
    } else {
        setImage(_btnSupportType, "CrossSupport24.png", tr("Cross"));
        _btnSupportType->setToolTip(tr("Cylinder Support"));
    }
}

void SupportDlg::followSelection() {
    for (const ObjectEx* obj : ObjectTable::instance()->objects()) {
        if (!obj->isReady() || !obj->isSelected() || !obj->hasSupport())
            continue;
        const support::SupportGen& supports = *obj->supportGenIfAny();
        m_supportType = supports.getSupportType();
        m_baseType = supports.getBaseType();
        showSupportType();
        showBaseType();
        return;
    }
}

void SupportDlg::showBaseType() {
    setImage(_btnBaseType, baseTypeIcon(m_baseType), baseTypeName(m_baseType));
    _btnBaseType->setToolTip(baseTypeName(nextBaseType(m_baseType)));
}

// ---- Modes, parameters shown, close ---------------------------------------------------------

void SupportDlg::setViewMode(ViewMode mode) {
    if (m_view)
        m_view->setMode(mode);
}

void SupportDlg::onBtnAddItemClicked() {
    if (!m_view)
        return;
    if (_btnAddItem->isChecked()) {
        setViewMode(ViewMode::AddSupport);
        _btnDeleteItem->setChecked(false);
    } else {
        setViewMode(ViewMode::Select);
    }
    ObjectTable::instance()->clearPointedSupports();
}

void SupportDlg::onBtnDeleteItemClicked() {
    if (!m_view)
        return;
    if (_btnDeleteItem->isChecked()) {
        setViewMode(ViewMode::DeleteSupport);
        _btnAddItem->setChecked(false);
    } else {
        setViewMode(ViewMode::Select);
        ObjectTable::instance()->clearPointedSupports();
    }
}

void SupportDlg::activateAddItem() {
    _btnAddItem->setChecked(true);
    onBtnAddItemClicked();
}

void SupportDlg::activateDeleteItem() {
    _btnDeleteItem->setChecked(true);
    onBtnDeleteItemClicked();
}

void SupportDlg::onBtnShowHideParamClicked() {
    int height = panelHeight;
    if (m_paramsShown) {
        setImage(_btnShowHideParam, "TriangleShow.png", QStringLiteral("\u25be"));
        _btnShowHideParam->setToolTip(tr("Show parameters"));
        _groupParameters->hide();
        _scrollParameters->hide();
        height = panelHeight - m_paramGroupHeight;
    } else {
        setImage(_btnShowHideParam, "TriangleHide.png", QStringLiteral("\u25b4"));
        _btnShowHideParam->setToolTip(tr("Hide parameters"));
        _groupParameters->show();
        _scrollParameters->show();
    }
    m_paramsShown = !m_paramsShown;
    placeInParent(54, 150, panelWidth, height);
}

void SupportDlg::onBtnCloseClicked() {
    close();
    if (m_closeHook)
        m_closeHook();
    ObjectTable::instance()->clearPointedSupports();
    setViewMode(ViewMode::Select);
    _btnAddItem->setChecked(false);
    _btnDeleteItem->setChecked(false);
}

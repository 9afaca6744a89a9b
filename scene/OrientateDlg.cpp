#include "scene/OrientateDlg.h"

#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QPushButton* addPanelTitle(QWidget* panel, QVBoxLayout* layout, const QString& title) {
    auto* row = new QHBoxLayout();
    auto* label = new QLabel(title, panel);
    label->setObjectName(QStringLiteral("_lbTitle"));
    QFont font = label->font();
    font.setPointSize(11);
    label->setFont(font);
    auto* close = new QPushButton(panel);
    close->setObjectName(QStringLiteral("_btnClose"));
    close->setFlat(true);
    close->setIcon(QIcon(QStringLiteral(":/Dialog/Resources/Dialog/close.png")));
    close->setToolTip(QObject::tr("Close"));
    row->addWidget(label);
    row->addStretch();
    row->addWidget(close);
    layout->addLayout(row);
    auto* line = new QFrame(panel);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    return close;
}

OrientateDlg::OrientateDlg(QWidget* parent) : VlrBaseWidget(parent) {
    setObjectName(QStringLiteral("OrientateDlg"));
    setWindowTitle(tr("OrientateDlg"));
    panelWidth = scaledToTextUnit(150);
    panelHeight = scaledToTextUnit(174);

    auto* layout = new QVBoxLayout(this);
    QPushButton* close = addPanelTitle(this, layout, tr("Orientate"));
    _btnCenter = new QPushButton(tr("Center"), this);
    _btnCenter->setObjectName(QStringLiteral("_btnCenter"));
    _btnPlatform = new QPushButton(tr("To Platform"), this);
    _btnPlatform->setObjectName(QStringLiteral("_btnPlatform"));
    _btnAuto = new QPushButton(tr("Auto Layout"), this);
    _btnAuto->setObjectName(QStringLiteral("_btnAuto"));
    _btnAuto->setEnabled(false);
    layout->addWidget(_btnCenter);
    layout->addWidget(_btnPlatform);
    layout->addWidget(_btnAuto);
    layout->addStretch();

    connect(_btnCenter, &QPushButton::clicked, this, &OrientateDlg::onBtnCenterClicked);
    connect(_btnPlatform, &QPushButton::clicked, this, &OrientateDlg::onBtnPlatformClicked);
    connect(_btnAuto, &QPushButton::clicked, this, &OrientateDlg::onBtnAutoClicked);
    connect(close, &QPushButton::clicked, this, &OrientateDlg::onBtnCloseClicked);
}

OrientateDlg::~OrientateDlg() = default;

void OrientateDlg::onBtnCenterClicked() {
    const double none[3] = {0.0, 0.0, 0.0};
    sceneHost()->pushCommand(new TranslateCmd(TranslateCmd::ToPlatformCenter, none), true);
}

void OrientateDlg::onBtnPlatformClicked() {
    const double none[3] = {0.0, 0.0, 0.0};
    sceneHost()->pushCommand(new TranslateCmd(TranslateCmd::OntoPlatform, none), true);
}

void OrientateDlg::onBtnAutoClicked() {}

void OrientateDlg::onBtnCloseClicked() {
    hide();
    emit closeRequested();
}

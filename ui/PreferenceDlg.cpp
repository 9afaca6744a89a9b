#include "ui/PreferenceDlg.h"

#include "app/PrinterVolume.h"
#include "app/Settings.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

PreferenceDlg::PreferenceDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PreferenceDlg"));
    setWindowTitle(tr("Preferences"));
    setWindowModality(Qt::WindowModal);
    resize(176, 185);

    auto* outer = new QVBoxLayout(this);
    outer->setObjectName(QStringLiteral("verticalLayout_2"));
    outer->setSpacing(6);
    outer->setContentsMargins(11, 11, 11, 11);
    auto* group = new QGroupBox(tr("Select printer"), this);
    group->setObjectName(QStringLiteral("groupBox"));
    auto* inner = new QVBoxLayout(group);
    inner->setObjectName(QStringLiteral("verticalLayout"));
    inner->setSpacing(6);
    inner->setContentsMargins(11, 11, 11, 11);
    _cbbSelectPrinter = new QComboBox(group);
    _cbbSelectPrinter->setObjectName(QStringLiteral("_cbbSelectPrinter"));
    inner->addWidget(_cbbSelectPrinter);

    struct Row {
        const char* layout;
        const char* label;
        const char* text;
        const char* box;
        const char* unit;
        double initial;
    };
    const Row rows[3] = {
        {"horizontalLayout", "label", "X:", "_dsbBuildSizeX", "label_4", 130.0},
        {"horizontalLayout_3", "label_2", "Y:", "_dsbBuildSizeY", "label_5", 130.0},
        {"horizontalLayout_2", "label_3", "Z:", "_dsbBuildSizeZ", "label_6", 180.0},
    };
    for (int i = 0; i < 3; ++i) {
        auto* row = new QHBoxLayout();
        row->setObjectName(QString::fromLatin1(rows[i].layout));
        row->setSpacing(6);
        auto* label = new QLabel(tr(rows[i].text), group);
        label->setObjectName(QString::fromLatin1(rows[i].label));
        label->setTextFormat(Qt::AutoText);
        label->setAlignment(Qt::AlignCenter);
        label->setMargin(3);
        auto* box = new QDoubleSpinBox(group);
        box->setObjectName(QString::fromLatin1(rows[i].box));
        box->setButtonSymbols(QAbstractSpinBox::NoButtons);
        box->setDecimals(2);
        // A build volume below a centimetre or beyond the box's three digits
        // is no printer: the range keeps such values out of the settings.
        box->setRange(10.0, 999.0);
        box->setValue(rows[i].initial);
        auto* unit = new QLabel(tr("mm"), group);
        unit->setObjectName(QString::fromLatin1(rows[i].unit));
        row->addWidget(label);
        row->addWidget(box);
        row->addWidget(unit);
        inner->addLayout(row);
        _sizeBoxes[i] = box;
    }
    outer->addWidget(group);

    auto* buttons = new QHBoxLayout();
    buttons->setObjectName(QStringLiteral("horizontalLayout_4"));
    buttons->setSpacing(6);
    _btnOk = new QPushButton(tr("OK"), this);
    _btnOk->setObjectName(QStringLiteral("_btnOk"));
    _btnCancel = new QPushButton(tr("Cancel"), this);
    _btnCancel->setObjectName(QStringLiteral("_btnCancel"));
    buttons->addWidget(_btnOk);
    buttons->addWidget(_btnCancel);
    outer->addLayout(buttons);

    connect(_btnOk, &QPushButton::clicked, this, &PreferenceDlg::onBtnOKClicked);
    connect(_btnCancel, &QPushButton::clicked, this, &PreferenceDlg::onBtnCancelClicked);
    connect(_cbbSelectPrinter, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &PreferenceDlg::onComboPrinterIndexChanged);
}

PreferenceDlg::~PreferenceDlg() = default;

void PreferenceDlg::initPrinterList() {
    {
        const QSignalBlocker block(_cbbSelectPrinter);
        _cbbSelectPrinter->clear();
        _cbbSelectPrinter->addItem(tr("Tarn"));
        _cbbSelectPrinter->addItem(tr("Tarn 200"));
        _cbbSelectPrinter->addItem(tr("Custom"));
    }
    const int printer = currentPrinter();
    {
        const QSignalBlocker block(_cbbSelectPrinter);
        _cbbSelectPrinter->setCurrentIndex(printer);
    }
    onComboPrinterIndexChanged(printer);
}

void PreferenceDlg::onComboPrinterIndexChanged(int index) {
    double volume[3];
    const bool fixed = fixedPrinterVolume(index, volume);
    if (!fixed)
        storedBuildSize(volume);
    for (int i = 0; i < 3; ++i) {
        _sizeBoxes[i]->setReadOnly(fixed);
        _sizeBoxes[i]->setValue(volume[i]);
    }
}

void PreferenceDlg::onBtnOKClicked() {
    setGeneralInt(GENERAL_CURRENT_PRINTER, _cbbSelectPrinter->currentIndex());
    const double x = _sizeBoxes[0]->value();
    const double y = _sizeBoxes[1]->value();
    const double z = _sizeBoxes[2]->value();
    if (_applier)
        _applier(x, y, z);
    accept();
}

void PreferenceDlg::onBtnCancelClicked() {
    const int printer = currentPrinter();
    onComboPrinterIndexChanged(printer);
    reject();
}

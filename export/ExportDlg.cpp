#include "export/ExportDlg.h"

#include "app/FileTypes.h"
#include "app/Settings.h"
#include "export/GcodeExport.h"
#include "export/SceneExport.h"
#include "scene/ObjectTable.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

constexpr int kBaseWidth = 240;
constexpr int kBaseHeight = 341;

// Base names of the files "*<suffix>" in folder, in directory order.
QStringList profileNames(const QString& folder, const QString& suffix) {
    QStringList names;
    QDirIterator it(folder, QStringList{QStringLiteral("*") + suffix}, QDir::Files);
    while (it.hasNext()) {
        it.next();
        names << it.fileInfo().completeBaseName();
    }
    return names;
}

// A stored index beyond the list (a profile was removed) selects the first entry.
void selectStoredIndex(QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : 0);
}

QGroupBox* groupWith(const QString& title, QWidget* child, const char* name) {
    auto* box = new QGroupBox(title);
    box->setObjectName(QLatin1String(name));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(child);
    return box;
}

} // namespace

ExportDlg::ExportDlg(QWidget* parent) : VlrBaseWidget(parent) {
    setObjectName(QStringLiteral("ExportDlg"));
    setWindowTitle(QStringLiteral("ExportDlg"));
    m_appDir = QCoreApplication::applicationDirPath();

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    layout->setContentsMargins(11, 11, 11, 11);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    label = new QLabel(tr("Export"));
    label->setObjectName(QStringLiteral("label"));
    QFont bold = label->font();
    bold.setPointSize(11);
    bold.setWeight(75);
    label->setFont(bold);
    label->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Minimum);
    _btnClose = new QPushButton;
    _btnClose->setObjectName(QStringLiteral("_btnClose"));
    const QString closeIcon = QStringLiteral(":/Dialog/Resources/Dialog/close.png");
    _btnClose->setIcon(QIcon(closeIcon));
    // Without the image the button would be blank.
    if (!QFile::exists(closeIcon))
        _btnClose->setText(QStringLiteral("x"));
    titleRow->addWidget(label);
    titleRow->addWidget(_btnClose);
    layout->addLayout(titleRow);

    auto* line = new QFrame;
    line->setObjectName(QStringLiteral("line"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    _cbbExportProfile = new QComboBox;
    _cbbExportProfile->setObjectName(QStringLiteral("_cbbExportProfile"));
    _cbbExportProfile->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Fixed);
    layout->addWidget(groupWith(tr("Profile"), _cbbExportProfile, "groupBox_2"));

    _cbbCalibration = new QComboBox;
    _cbbCalibration->setObjectName(QStringLiteral("_cbbCalibration"));
    layout->addWidget(groupWith(tr("Calibration"), _cbbCalibration, "groupBox_3"));

    auto* objectBox = new QGroupBox(tr("Export Object"));
    objectBox->setObjectName(QStringLiteral("groupBox"));
    auto* objectRow = new QHBoxLayout(objectBox);
    _rbtSelected = new QRadioButton(tr("Selected"));
    _rbtSelected->setObjectName(QStringLiteral("_rbtSelected"));
    _rbtSelected->setChecked(true);
    _rbtAll = new QRadioButton(tr("All"));
    _rbtAll->setObjectName(QStringLiteral("_rbtAll"));
    objectRow->addWidget(_rbtSelected);
    objectRow->addWidget(_rbtAll);
    layout->addWidget(objectBox);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    _btnExport = new QPushButton(tr("Export"));
    _btnExport->setObjectName(QStringLiteral("_btnExport"));
    buttonRow->addWidget(_btnExport);
    layout->addLayout(buttonRow);

    connect(_btnClose, &QPushButton::clicked, this, &ExportDlg::onBtnCloseClicked);
    connect(_btnExport, &QPushButton::clicked, this, &ExportDlg::onBtnExportClicked);

    panelWidth = scaledToTextUnit(kBaseWidth);
    panelHeight = scaledToTextUnit(kBaseHeight);
    placeInParent(54, 150, panelWidth, panelHeight);

    m_export = new gcodeexport::GcodeExport(this);
    m_export->setMessageHandler([this](const QString& text) {
        QMessageBox::information(parentWidget() ? parentWidget() : this, tr("error"), text, QMessageBox::Ok);
    });
}

ExportDlg::~ExportDlg() = default;

void ExportDlg::loadProfileList() {
    _cbbExportProfile->clear();
    _cbbExportProfile->addItems(profileNames(m_appDir + QStringLiteral("/profile"), QStringLiteral(".vfg")));
    selectStoredIndex(_cbbExportProfile, getGeneralInt(GENERAL_CURA_ENGINE_PROFILE_INDEX, 0));
}

void ExportDlg::loadCalibrationList() {
    _cbbCalibration->clear();
    _cbbCalibration->addItem(tr("None"));
    _cbbCalibration->addItems(profileNames(m_appDir + QStringLiteral("/calib"), QStringLiteral(".vcp")));
    selectStoredIndex(_cbbCalibration, getGeneralInt(GENERAL_CALIB_PROFILE_INDEX, 0));
}

void ExportDlg::onBtnCloseClicked() {
    close();
}

void ExportDlg::onBtnExportClicked() {
    // The folder G-code was last written to, with the proposed name.
    const QString folder = dialogStartFolder(PATH_SAVED_GCODE);
    const QString proposed = m_proposeName ? m_proposeName() : QString();
    const QString start = proposed.isEmpty() ? folder + QStringLiteral("/")
                                             : QDir(folder).filePath(proposed + QStringLiteral(".gcode"));
    const QString caption = tr("Exported file");
    const QString filter = tr("G-code File (*.gcode)");
    // A name typed without an extension gets the G-code one.
    const QString name =
        withDefaultExtension(m_saveDialog ? m_saveDialog(caption, start, filter)
                                          : QFileDialog::getSaveFileName(this, caption, start, filter),
                             QStringLiteral(".gcode"));
    if (name.isEmpty())
        return;
    // Only a chosen name moves the dialog's starting folder.
    setPathSetting(PATH_SAVED_GCODE, QFileInfo(name).absolutePath());
    exportTo(name);
}

bool ExportDlg::exportTo(const QString& gcodePath) {
    const bool selectedOnly = _rbtSelected->isChecked();
    gcodeexport::GcodeExportRequest request;
    request.applicationDir = m_appDir;
    request.profilePath = gcodeexport::GcodeExport::profilePath(m_appDir, _cbbExportProfile->currentText());
    if (_cbbCalibration->currentIndex() > 0)
        request.calibrationPath =
            gcodeexport::GcodeExport::calibrationPath(m_appDir, _cbbCalibration->currentText());
    request.targetPath = gcodePath;
    const gcodeexport::ExportScene scene =
        gcodeexport::gatherExportScene(*ObjectTable::instance(), selectedOnly);
    emit exportStarting();
    const bool started = m_export->start(request, scene);
    // The calibration choice is kept only when its profile could be used.
    if (m_export->calibrationApplied())
        setGeneralInt(GENERAL_CALIB_PROFILE_INDEX, _cbbCalibration->currentIndex());
    if (!started)
        return false;
    setGeneralInt(GENERAL_CURA_ENGINE_PROFILE_INDEX, _cbbExportProfile->currentIndex());
    close();
    return true;
}

void ExportDlg::closeEvent(QCloseEvent* event) {
    VlrBaseWidget::closeEvent(event);
    // Every way of closing reaches the window, which unchecks its tool button.
    emit panelClosed();
}

ExportDlg* createExportDlg(QWidget* parent) {
    return new ExportDlg(parent);
}

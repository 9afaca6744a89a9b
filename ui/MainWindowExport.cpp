// The main window's G-code export: the "Export to gcode" tool button and its panel.
#include "export/ExportDlg.h"
#include "export/GcodeExport.h"
#include "scene/ObjectTable.h"
#include "ui/FileDialogProvider.h"
#include "ui/MainWindow.h"
#include "ui/ProgressBar.h"
#include "ui/ProjectManager.h"
#include "view/MainGLWidget.h"

#include <QFileInfo>
#include <QFrame>
#include <QPushButton>

ExportDlg* MainWindow::exportPanel() {
    if (!_exportDlg) {
        ExportDlg* panel = createExportDlg(_glFrame);
        panel->setAutoFillBackground(true);
        panel->hide();
        connect(panel, &ExportDlg::panelClosed, this, &MainWindow::onExportDlgClosed);
        // Cancel in the progress dialog stops the slicer; the target file stays.
        connect(panel, &ExportDlg::exportStarting, this, [this] { setProgressCancelButton(true); });
        connect(_progressBar, &ProgressBar::cancelRequested, panel->exporter(), &gcodeexport::GcodeExport::cancel);
        panel->setSaveDialog(
            [this, panel](const QString& caption, const QString& start, const QString& filter) {
                return askSaveFileName(panel, caption, start, filter, nullptr);
            });
        // G-code is named as the project is, or as Save Project would name it.
        panel->setNameProposal([this] {
            return _projectManager->isNewProject()
                       ? _projectManager->suggestProjectName(false)
                       : QFileInfo(_projectManager->projectPath()).completeBaseName();
        });
        _exportDlg = panel;
    }
    return static_cast<ExportDlg*>(_exportDlg);
}

void MainWindow::onBtnExportGcodeClicked() {
    // Read first: closing an open export panel unchecks the button.
    const bool checked = _btnExportGcode->isChecked();
    closeSidePanels();
    ExportDlg* panel = exportPanel();
    if (checked) {
        panel->loadProfileList();
        panel->loadCalibrationList();
        panel->show();
        panel->raise();
        makeActiveToolButton(_btnExportGcode);
    } else {
        panel->hide();
        toolPanelClosed(_btnExportGcode);
    }
    resetToolButtons(_btnExportGcode);
}

void MainWindow::onExportDlgClosed() {
    toolPanelClosed(_btnExportGcode);
}

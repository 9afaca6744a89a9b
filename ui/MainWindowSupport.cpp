// The main window's support tool: the "Generate Support" button, the context
// menu's "Auto Support" (also key G), keys A and D, and the view's requests
// for the support-point commands.
#include "scene/ObjectTable.h"
#include "scene/SupportCommands.h"
#include "ui/MainWindow.h"
#include "ui/SupportDlg.h"
#include "view/MainGLWidget.h"

#include <QFrame>
#include <QPushButton>

SupportDlg* MainWindow::supportPanel() {
    if (!_supportDlg) {
        auto* panel = new SupportDlg(_glFrame);
        panel->setAutoFillBackground(true);
        // The parameters start hidden: the panel starts that much shorter.
        panel->placeInParent(54, 150, panel->panelWidth, panel->panelHeight - panel->paramGroupHeight());
        panel->setGLWidget(_glWidget);
        panel->setCloseHook([this] { toolPanelClosed(_btnGenerateSupport); });
        panel->setSlicePreview([this] { return zSlicePanelIfAny(); });
        panel->hide();
        _supportDlg = panel;
        notifyOnSelectionChange(panel, [panel] { panel->followSelection(); });
    }
    return static_cast<SupportDlg*>(_supportDlg);
}

void MainWindow::onBtnGenerateSupportClicked() {
    closeSidePanels();
    SupportDlg* panel = supportPanel();
    if (_btnGenerateSupport->isChecked()) {
        panel->followSelection();
        panel->show();
        panel->raise();
        panel->onBtnPresetClicked();
        panel->loadParams();
        makeActiveToolButton(_btnGenerateSupport);
        _glWidget->setMode(ViewMode::Select);
    } else {
        panel->hide();
        toolPanelClosed(_btnGenerateSupport);
    }
    resetToolButtons(_btnGenerateSupport);
}

void MainWindow::cmdContextAutoSupport() {
    closeSidePanels();
    SupportDlg* panel = supportPanel();
    _btnGenerateSupport->setChecked(true);
    panel->followSelection();
    panel->show();
    panel->raise();
    panel->onBtnPresetClicked();
    makeActiveToolButton(_btnGenerateSupport);
    panel->loadParams();
    _glWidget->setMode(ViewMode::Select);
    resetToolButtons(_btnGenerateSupport);
    panel->onBtnGenerateClicked();
    _glWidget->update();
}

void MainWindow::activateSupportItem(bool add) {
    // Adding or deleting support points is the support tool's: nothing while its panel is closed.
    if (!_supportDlg || _supportDlg->isHidden())
        return;
    if (add)
        supportPanel()->activateAddItem();
    else
        supportPanel()->activateDeleteItem();
}

// The main window's hollowing tool: the "Create Hollow and Holes" button and the
// forwarders through which the view (which does not know the hollowing)
// reaches the hollowing panel.
#include "scene/ObjectTable.h"
#include "src/Features/lcm/HollowDlg.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"

#include <QFrame>
#include <QPushButton>

HollowDlg* MainWindow::hollowPanel() {
    if (!_hollowDlg) {
        auto* panel = new HollowDlg(_glFrame);
        panel->setAutoFillBackground(true);
        panel->placeInParent(54, 150, panel->panelWidth, panel->panelHeight);
        panel->setViewModeHook([this](ViewMode mode) { _glWidget->setMode(mode); });
        // Ok, Cancel and every other close leave the view in the hollowing's
        // idle mode: the window takes it back to selecting.
        panel->setCloseHook([this] { toolPanelClosed(_btnHollow); });
        panel->hide();
        _hollowDlg = panel;
    }
    return static_cast<HollowDlg*>(_hollowDlg);
}

void MainWindow::closeHollowPanelIfObjectGone() {
    if (HollowDlg* panel = HollowDlg::ifShown(_hollowDlg))
        panel->closeIfObjectGone();
}

void MainWindow::onBtnHollowClicked() {
    // Read first: closing an open hollowing panel unchecks the button.
    const bool checked = _btnHollow->isChecked();
    closeSidePanels();
    if (!checked) {
        // Closing the panel (above) ended the tool.
        toolPanelClosed(_btnHollow);
        resetToolButtons(_btnHollow);
        return;
    }
    HollowDlg* panel = hollowPanel();
    if (!panel->openTool()) {
        // None or several objects selected: the user was told. The panel that
        // was open is closed all the same, so its button goes too.
        _btnHollow->setChecked(false);
        if (_activeToolButton && _activeToolButton != _btnHollow)
            _activeToolButton->setChecked(false);
        _activeToolButton = nullptr;
        _glWidget->setMode(ViewMode::Select);
        resetToolButtons(_btnHollow);
        return;
    }
    panel->raise();
    makeActiveToolButton(_btnHollow);
    resetToolButtons(_btnHollow);
    _glWidget->update();
}

void MainWindow::commitPendingHole() {
    if (HollowDlg* panel = HollowDlg::ifShown(_hollowDlg))
        panel->commitHole();
}

void MainWindow::addHoleAt(const double* position, const double* direction) {
    if (HollowDlg* panel = HollowDlg::ifShown(_hollowDlg))
        panel->placeHole(position, direction);
}

void MainWindow::dropPendingHole() {
    if (HollowDlg* panel = HollowDlg::ifShown(_hollowDlg))
        panel->dropHole();
}

bool MainWindow::pickHole(const QPoint& p) {
    HollowDlg* panel = HollowDlg::ifShown(_hollowDlg);
    if (!panel)
        return false;
    _glWidget->makeCurrent();
    return panel->removeHoleAt(p);
}

void MainWindow::drawHollowPreview() {
    if (HollowDlg* panel = HollowDlg::ifShown(_hollowDlg))
        panel->drawPreview();
}

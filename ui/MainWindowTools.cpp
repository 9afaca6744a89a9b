// The main window's direct tools: the Orientate button (orientation panel and
// the manipulator), the Scale button, the slice preview's button, and the
// context menu's Rotate/Move.
#include "scene/ObjectTable.h"
#include "scene/OrientateDlg.h"
#include "scene/ScaleDlg.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"
#include "view/Manipulator.h"
#include "view/SliceRender.h"
#include "view/ZSliceDlg.h"

#include <QFrame>
#include <QPushButton>

namespace {

// The least height of the slice panel below the tool buttons: less leaves its
// slider too short to pick a height with.
constexpr int kMinSlicePanelHeight = 320;

template <class Panel> void placePanel(Panel* panel) {
    panel->setAutoFillBackground(true);
    panel->placeInParent(54, 150, panel->panelWidth, panel->panelHeight);
    panel->hide();
}

// Transform mode with the manipulator on the selection, and the orientation panel.
void showWithManipulator(MainGLWidget* view, QWidget* panel) {
    view->setMode(ViewMode::Transform);
    view->updateSelectionBox();
    view->setManipulatorShown(true);
    panel->show();
    panel->raise();
}

} // namespace

OrientateDlg* MainWindow::orientatePanel() {
    if (!_orientateDlg) {
        auto* panel = new OrientateDlg(_glFrame);
        placePanel(panel);
        connect(panel, &OrientateDlg::closeRequested, this, [this] { toolPanelClosed(_btnTranslate); });
        _orientateDlg = panel;
        if (!_glWidget->manipulator())
            TransformHandle::install(_glWidget);
    }
    return static_cast<OrientateDlg*>(_orientateDlg);
}

ScaleDlg* MainWindow::scalePanel() {
    if (!_scaleDlg) {
        auto* panel = new ScaleDlg(_glFrame);
        placePanel(panel);
        connect(panel, &ScaleDlg::closeRequested, this, [this] { toolPanelClosed(_btnRescale); });
        _scaleDlg = panel;
        notifyOnSelectionChange(panel, [panel] { panel->selectionChanged(); });
    }
    return static_cast<ScaleDlg*>(_scaleDlg);
}

void MainWindow::notifyOnSelectionChange(QWidget* panel, const std::function<void()>& follow) {
    // The view tells the manipulator of every selection change, and every
    // command, undo and redo tells the view.
    auto* handle = dynamic_cast<TransformHandle*>(_glWidget->manipulator());
    if (!handle)
        handle = TransformHandle::install(_glWidget);
    connect(handle, &TransformHandle::selectionBoxChanged, panel, [panel, follow] {
        if (!panel->isHidden())
            follow();
    });
}

ZSliceDlg* MainWindow::zSlicePanelIfAny() const {
    return static_cast<ZSliceDlg*>(_zSliceDlg);
}

ZSliceDlg* MainWindow::zSlicePanel() {
    if (!_zSliceDlg) {
        auto* panel = new ZSliceDlg(_glFrame);
        panel->setAutoFillBackground(true);
        panel->hide();
        panel->setView(_glWidget);
        _zSliceDlg = panel;
        placeSlicePanel();
        panel->startPreview();
        _glWidget->setSlicePreview(panel->renderer());
    }
    return static_cast<ZSliceDlg*>(_zSliceDlg);
}

void MainWindow::placeSlicePanel() {
    ZSliceDlg* panel = zSlicePanelIfAny();
    if (!panel)
        return;
    // Below the tool buttons down to the view's bottom, as the window is now
    // (the slider takes what the panel's buttons leave): each millimetre of a
    // tall scene gets as many pixels as the window allows. In a window too
    // short for that the panel stands at the view's right edge instead, below
    // the orientation cube, down to the bottom.
    const int below = (kToolButtonSpacing + 44) * kToolButtonCount + 155;
    const int bottom = _glFrame->height() - 10;
    if (bottom - below >= kMinSlicePanelHeight) {
        panel->setGeometry(5, below, panel->panelWidth, bottom - below);
        return;
    }
    const int top = std::max(150, _glWidget->cubeCornerHeight() + 5);
    panel->setGeometry(_glFrame->width() - panel->panelWidth - 5, top, panel->panelWidth,
                       std::max(bottom - top, kMinSlicePanelHeight / 2));
}

void MainWindow::onBtnTranslateClicked() {
    closeSidePanels();
    OrientateDlg* panel = orientatePanel();
    if (_btnTranslate->isChecked()) {
        showWithManipulator(_glWidget, panel);
        makeActiveToolButton(_btnTranslate);
    } else {
        panel->hide();
        toolPanelClosed(_btnTranslate);
    }
    resetToolButtons(_btnTranslate);
    updateGLView();
}

void MainWindow::cmdContextRotateMove() {
    closeSidePanels();
    OrientateDlg* panel = orientatePanel();
    _btnTranslate->setChecked(true);
    showWithManipulator(_glWidget, panel);
    makeActiveToolButton(_btnTranslate);
    resetToolButtons(_btnTranslate);
    updateGLView();
}

void MainWindow::onBtnRescaleClicked() {
    closeSidePanels();
    ScaleDlg* panel = scalePanel();
    if (_btnRescale->isChecked()) {
        panel->refreshFields();
        panel->show();
        panel->raise();
        makeActiveToolButton(_btnRescale);
        _glWidget->setMode(ViewMode::Select);
    } else {
        panel->hide();
        toolPanelClosed(_btnRescale);
    }
    resetToolButtons(_btnRescale);
}

void MainWindow::onBtnZSliceViewClicked() {
    ZSliceDlg* panel = zSlicePanel();
    if (_btnZSliceView->isChecked()) {
        panel->initSlicing();
        panel->show();
        panel->raise();
    } else {
        panel->hide();
        panel->stopSlicing();
    }
    updateGLView();
}

void MainWindow::refreshZSliceView() {
    ZSliceDlg* panel = zSlicePanelIfAny();
    if (!panel || !_btnZSliceView->isChecked())
        return;
    panel->updateRange();
    updateGLView();
}

// The main window's services to the scene: the one road of new commands to
// the undo history, Undo and Redo, the end of an import batch, message boxes,
// repaints and the forwarders to the panels.
#include "app/Log.h"
#include "app/PrinterVolume.h"
#include "scene/CommandManager.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SupportCommands.h"
#include "ui/MainWindow.h"
#include "ui/ProgressBar.h"
#include "view/MainGLWidget.h"
#include "view/ZSliceDlg.h"

#include <QAction>
#include <QCoreApplication>
#include <QApplication>
#include <QScreen>
#include <QWindow>
#include <QWidget>

namespace {
// Window flags of every message box: a dialog with a fixed-size hint.
constexpr quint32 kMessageBoxFlags = 259;
} // namespace

void MainWindow::installSceneServices() {
    _ownCommandManager = std::make_shared<CommandManager>();
    _commandManager = _ownCommandManager.get();
    setSceneHost(this);
    connect(ObjectTable::instance(), &ObjectTable::allObjectImported, this, &MainWindow::afterAllObjectImported);
}

// ---- Commands ------------------------------------------------------------------

CommandManager* MainWindow::commandManager() {
    return _commandManager;
}

void MainWindow::setCommandManager(CommandManager* manager) {
    _commandManager = manager ? manager : _ownCommandManager.get();
    updateUndoRedoActions();
}

void MainWindow::updateUndoRedoActions() {
    if (_menuEditUndo)
        _menuEditUndo->setEnabled(_commandManager->canUndo());
    if (_menuEditRedo)
        _menuEditRedo->setEnabled(_commandManager->canRedo());
}

bool MainWindow::pushCommand(AbtCommand* cmd, bool repaint) {
    // The slice preview's worker must not read meshes while a command changes them.
    const ZSliceDlg::SceneChange sliceGuard(zSlicePanelIfAny());
    if (!_commandManager->addCommand(cmd)) {
        delete cmd;
        // An exception in execute empties the history: the actions follow it.
        if (!_commandManager->canUndo() && !_commandManager->canRedo())
            updateUndoRedoActions();
        return false;
    }
    updateUndoRedoActions();
    closeHollowPanelIfObjectGone();
    // A command may have changed the list or the selection: the manipulator
    // follows what is selected now.
    updateSelectionBox();
    if (repaint)
        updateGLView();
    return true;
}

void MainWindow::menuEditUndo() {
    const ZSliceDlg::SceneChange sliceGuard(zSlicePanelIfAny());
    if (_glWidget)
        _glWidget->cancelManipulation();
    _commandManager->undo();
    updateUndoRedoActions();
    closeHollowPanelIfObjectGone();
    updateSelectionBox();
    updateGLView();
}

void MainWindow::menuEditRedo() {
    const ZSliceDlg::SceneChange sliceGuard(zSlicePanelIfAny());
    if (_glWidget)
        _glWidget->cancelManipulation();
    _commandManager->redo();
    updateUndoRedoActions();
    closeHollowPanelIfObjectGone();
    updateSelectionBox();
    updateGLView();
}

void MainWindow::afterAllObjectImported() {
    const std::vector<ObjectEx*> batch = ObjectTable::instance()->objectsBeingCalculated();
    if (batch.empty())
        return;
    if (pushImportCommand(batch)) {
        if (_glWidget)
            _glWidget->resetView();
        refreshZSliceView();
        updateGLView();
    }
}

// ---- Messages --------------------------------------------------------------------

static_assert(SceneMessage::Information == QMessageBox::Information &&
                  SceneMessage::Warning == QMessageBox::Warning &&
                  SceneMessage::Critical == QMessageBox::Critical && SceneMessage::Ok == QMessageBox::Ok,
              "the scene's message values are QMessageBox's");

int MainWindow::showMessage(const QString& text, int icon, int buttons, int defaultButton) {
    return showMessageBoxDialog(text, icon, QMessageBox::StandardButtons(buttons),
                                QMessageBox::StandardButton(defaultButton), QString(), QString(), kMessageBoxFlags);
}

// ---- View ------------------------------------------------------------------------
// The window's 3D view answers (null only while the window is being built).

void MainWindow::updateGLView() {
    if (_glWidget)
        _glWidget->update();
}

void MainWindow::updateSelectionBox() {
    if (_glWidget)
        _glWidget->updateSelectionBox();
}

// The platform the view draws, set from the current printer, is the one
// objects are placed on, centred on and fitted to.
void MainWindow::getBuildVolume(double out[3]) {
    if (_glWidget)
        _glWidget->getBuildVolume(out);
    else
        currentBuildVolume(out);
}

bool MainWindow::unprojectScreenPoint(const QPoint& p, double depth, double out[3]) {
    if (!_glWidget)
        return false;
    _glWidget->unprojectScreenPoint(p, out, depth >= 0, depth);
    return true;
}

void MainWindow::viewAxis(double out[3]) {
    if (_glWidget) {
        _glWidget->viewAxis(out);
        return;
    }
    out[0] = 0.0;
    out[1] = 0.0;
    out[2] = -1.0;
}

// ---- Support-point commands requested by the view's add and delete clicks ---------

void MainWindow::pushAddConeSupportCmd() {
    pushCommand(new AddConeSupportCmd(), false);
}

void MainWindow::pushDeleteConeSupportCmd() {
    pushCommand(new DeleteConeSupportCmd(), false);
}

// ---- Files and sizes ----------------------------------------------------------------

void MainWindow::reportStlSaveFailure(const QString& path, const QString& why) {
    logText("Saving objects as STL failed: ", false);
    logString(path.toStdString() + (why.isEmpty() ? std::string() : " - " + why.toStdString()), true);
    const QString text = tr("The objects could not be saved to %1.").arg(path);
    showMessage(why.isEmpty() ? text : text + QStringLiteral("<br>") + why, QMessageBox::Warning, QMessageBox::Ok,
                QMessageBox::Ok);
}

QString MainWindow::applicationDirPath() const {
    return QCoreApplication::applicationDirPath();
}

QString MainWindow::defaultProjectName() const {
    return tr("Velarproject");
}

void MainWindow::setProgressCancelButton(bool show) {
    if (_progressBar)
        _progressBar->setCancelButtonShown(show);
}

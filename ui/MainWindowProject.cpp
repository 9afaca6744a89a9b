// The main window's project commands: New, Open, Save, Save As and the
// question to save changes when the window closes. The project manager owns
// the undo history; the window only routes its menus and panels to it.
#include "app/Log.h"
#include "scene/ObjectTable.h"
#include "ui/FileDialogProvider.h"
#include "ui/MainWindow.h"
#include "ui/ProjectManager.h"
#include "view/MainGLWidget.h"
#include "view/ZSliceDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QPushButton>

void MainWindow::createProjectManager() {
    _projectManager = new ProjectManager(this);
    _projectManager->setParent(this);
    setCommandManager(_projectManager->commandManager());
    _projectManager->setProjectName(ProjectManager::defaultProjectName());
    _projectManager->attachView(&_glWidget->camera(), [this] { _glWidget->update(); });
    _projectManager->setWindowHooks(
        {[this] { closePanelsForNewScene(); }, [this] { updateUndoRedoActions(); },
         [this](const QString& text, int icon, int buttons, int defaultButton, const QString& informativeText,
                const QString& detailedText, quint32 flags) {
             return showMessageBoxDialog(text, icon, QMessageBox::StandardButtons(buttons),
                                         QMessageBox::StandardButton(defaultButton), informativeText,
                                         detailedText, flags);
         }});
    _projectManager->setFileDialogs(
        [this](const QString& caption, const QString& start, const QString& filter) {
            return projectFileDialog(true, caption, start, filter);
        },
        [this](const QString& caption, const QString& start, const QString& filter) {
            return projectFileDialog(false, caption, start, filter);
        });
}

QString MainWindow::projectFileDialog(bool save, const QString& caption, const QString& start,
                                      const QString& filter) {
    if (_fileDialogs && _fileDialogs != _qtFileDialogs.get()) {
        if (save)
            return askSaveFileName(this, caption, start, filter, nullptr);
        const QStringList files = askOpenFileNames(this, caption, start, filter);
        return files.isEmpty() ? QString() : files.first();
    }
    const QString path = save ? ProjectManager::askSaveFileName(this, caption, start, filter)
                              : ProjectManager::askOpenFileName(this, caption, start, filter);
    focusView();
    return path;
}

void MainWindow::closePanelsForNewScene() {
    closeSidePanels();
    for (QAbstractButton* b : _toolButtons)
        if (b != _btnZSliceView)
            toolPanelClosed(b);
}

void MainWindow::newProject() {
    // The slice preview's worker must not read the objects being deleted.
    {
        const ZSliceDlg::SceneChange sliceGuard(zSlicePanelIfAny());
        if (!_projectManager->newProject())
            return;
    }
    refreshZSliceView();
}

void MainWindow::menuActionFileNew() {
    newProject();
    updateGLView();
}

void MainWindow::menuActionFileOpenProj() {
    logText("PROJECT-OPEN");
    {
        const ZSliceDlg::SceneChange sliceGuard(zSlicePanelIfAny());
        _projectManager->openProjectDialog();
    }
    refreshZSliceView();
}

void MainWindow::menuActionFileSaveProj() {
    _projectManager->saveProject(false);
}

void MainWindow::menuActionFileSaveAsProj() {
    _projectManager->saveProject(true);
}

// Recent projects are not offered: the action stays hidden.
void MainWindow::menuActionFileRecentProj() {}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Unsaved changes are asked about as New Project does; Cancel (or a failed
    // save) keeps the window open.
    if (!_projectManager->confirmClose()) {
        event->ignore();
        return;
    }
    saveWindowSettings();
    event->accept();
}

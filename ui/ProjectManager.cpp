#include "ui/ProjectManager.h"

#include "project/VlrProjectFileHandling.h"

#include "app/Constants.h"
#include "app/DataFolders.h"
#include "app/FileTypes.h"
#include "app/Log.h"
#include "app/Settings.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "view/ViewCamera.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

namespace {

constexpr quint32 kMessageFlags = 259;

QString projectExtension() {
    return fileTypeExtension(FILE_TYPE_VPF).toLower();
}

} // namespace

int ProjectManager::ask(const QString& text, int icon, int buttons, int defaultButton,
                        const QString& reason) const {
    if (!m_hooks.messageBox)
        return 0;
    return m_hooks.messageBox(text, icon, buttons, defaultButton, reason, QString(), kMessageFlags);
}

int ProjectManager::warn(const QString& text, const QString& reason) const {
    return ask(text, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, reason);
}

ProjectManager::ProjectManager(QWidget* window)
    : m_commands(std::make_unique<CommandManager>()), m_files(VlrProjectFileHandling::instance()),
      m_window(window) {
    m_saveDialog = [this](const QString& caption, const QString& start, const QString& filter) {
        return askSaveFileName(m_window, caption, start, filter);
    };
    m_openDialog = [this](const QString& caption, const QString& start, const QString& filter) {
        return askOpenFileName(m_window, caption, start, filter);
    };
}

QString ProjectManager::askSaveFileName(QWidget* parent, const QString& caption, const QString& start,
                                        const QString& filter) {
    QFileDialog dialog(parent, caption, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(projectExtension().mid(1));
    // Native dialogs ask about overwriting the typed name, before the suffix.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QString ProjectManager::askOpenFileName(QWidget* parent, const QString& caption, const QString& start,
                                        const QString& filter) {
    return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

ProjectManager::~ProjectManager() {
    // The handler outlives the window; the camera does not.
    if (m_viewAttached)
        m_files->setView({}, {});
}

void ProjectManager::setFileDialogs(FileDialog saveDialog, FileDialog openDialog) {
    m_saveDialog = std::move(saveDialog);
    m_openDialog = std::move(openDialog);
}

void ProjectManager::attachView(ViewCamera* camera, std::function<void()> repaint) {
    m_viewAttached = camera != nullptr;
    if (!camera) {
        m_files->setView({}, {});
        return;
    }
    m_files->setView([camera] { return camera->state(); },
                     [camera, repaint = std::move(repaint)](const CameraState& s) {
                         camera->setState(s);
                         if (repaint)
                             repaint();
                     });
}

QString ProjectManager::defaultProjectName() {
    return tr("Velarproject");
}

QString ProjectManager::projectFilter() const {
    return tr("%1 Project Files (*%2)").arg(APP_NAME, fileTypeExtension(FILE_TYPE_VPF));
}

void ProjectManager::setProjectName(const QString& name) {
    m_projectPath = name == defaultProjectName() ? name + projectExtension() : name;
}

void ProjectManager::clearModified() {
    ObjectTable::instance()->setModified(false);
}

int ProjectManager::askToSave() {
    ObjectTable* table = ObjectTable::instance();
    if (!table->isModified() && !m_newProject)
        return GoOn;
    if (table->count() == 0)
        return GoOn;
    if (m_window && m_window->window()->isMinimized()) {
        m_window->window()->raise();
        m_window->window()->showMaximized();
    }
    const int answer = ask(tr("Would you like to save the project changes?"), QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel);
    switch (answer) {
    case QMessageBox::Yes:
        logText("ASK-PROJ_SAVE:Yes");
        // A save that failed or was cancelled must not let the caller go on and
        // drop the scene it was meant to keep.
        return saveProject(false) == 1 ? Saved : Stop;
    case QMessageBox::No:
        logText("ASK-PROJ_SAVE:No");
        return GoOn;
    case QMessageBox::Cancel:
        logText("ASK-PROJ_SAVE:Cancel");
        return Stop;
    default:
        return Stop;
    }
}

QString ProjectManager::suggestProjectName(bool saveAs) const {
    QString name;
    const auto& objects = ObjectTable::instance()->objects();
    if (m_newProject && !objects.empty()) {
        QStringList names;
        for (const ObjectEx* o : objects)
            names << o->name();
        name = names.join(QLatin1Char('_'));
    } else {
        name = defaultProjectName();
    }
    if (name.size() >= 65)
        name = name.left(63) + QLatin1Char('~');
    return name;
}

int ProjectManager::saveProject(bool saveAs) {
    QString path;
    if (m_newProject || saveAs) {
        const QString name = suggestProjectName(saveAs);
        // Save As of a project with a file starts at that file; otherwise the
        // suggested name in the folder projects were last saved to.
        const QString start =
            saveAs && !m_newProject
                ? m_projectPath
                : QDir(dialogStartFolder(PATH_SAVED_PROJECT)).filePath(name + projectExtension());
        path = m_saveDialog ? m_saveDialog(tr("Save Project As"), start, projectFilter()) : QString();
        if (!path.isEmpty())
            setPathSetting(PATH_SAVED_PROJECT, QFileInfo(path).absolutePath());
    } else {
        path = m_projectPath;
    }
    if (path.isEmpty()) {
        logText("ProjectManager::saveProject:  ERROR: FILE PATH EMPTY ");
        return 0;
    }
    if (!path.endsWith(projectExtension(), Qt::CaseInsensitive)) {
        path += projectExtension();
        logText("ProjectManager::saveProject:  ERROR: CURRENT PROJECT:INVALID NAME");
        logString("ProjectManager::saveProject:  ERROR:" +
                  QStringLiteral("Padded with %1:").arg(projectExtension()).toStdString() +
                  path.toStdString());
    }
    sceneHost()->updateGLView();
    logText("#### SAVE PROJECT STARTING... ####");
    logString("Project file path: " + path.toStdString());
    const bool saved = writeProjectFile(path);
    if (saved) {
        setProjectName(path);
        clearModified();
    } else {
        warn(tr("It's impossible to save project to '%1'.").arg(path), m_files->lastReason());
    }
    logText("#### SAVE PROJECT ENDED ####");
    return saved ? 1 : 0;
}

void ProjectManager::logSaveError(int result) const {
    logText(ioErrorText(result));
}

bool ProjectManager::writeProjectFile(const QString& path) {
    if (!m_files->saveGLInfo())
        return false;
    const IO_ERROR r = m_files->save(path);
    if (r != IO_SUCCESS) {
        logString("Project file '" + path.toStdString() + "' failed to be created!");
        logSaveError(r);
        return false;
    }
    m_newProject = false;
    return true;
}

int ProjectManager::openProjectDialog() {
    // The project opened last while it is there, else its folder, else the
    // folder projects were saved to, else home. Read from the settings at
    // each use: they are the one record of it.
    const QString opened = getPathSetting(PATH_OPENED_PROJECT, QString());
    const QString start =
        QFileInfo(opened).isFile() && QFileInfo(opened).isAbsolute()
            ? opened
            : dialogStartFolder(opened.isEmpty() ? PATH_SAVED_PROJECT : PATH_OPENED_PROJECT);
    const QString path =
        m_openDialog ? m_openDialog(tr("Open Project File"), start, projectFilter()) : QString();
    if (path.isEmpty())
        return 0;
    if (askToSave() == Stop)
        return 0;
    logString("Open Project File: " + path.toStdString());
    return openProject(path);
}

int ProjectManager::openProject(const QString& path) {
    QString unreadable;
    if (!checkFileReadable(path, &unreadable)) {
        // Without a window (a tool) the log says it.
        if (m_window && !unreadable.isEmpty())
            warn(unreadable);
        return 0;
    }
    setPathSetting(PATH_OPENED_PROJECT, path);
    if (!path.endsWith(projectExtension(), Qt::CaseInsensitive))
        return 0;
    resetProject();
    setProjectName(path);
    const IO_ERROR r = m_files->open(0, path, ObjectTable::instance());
    int result = 1;
    if (r != IO_SUCCESS) {
        warn((r == IO_NOT_ENOUGH_MEMORY
                  ? tr("It's not possible to open <i>'%1'</i>.<br>There is not enough memory to load it.")
                  : tr("It's not possible to open <i>'%1'</i>.<br>The file may be corrupted."))
                 .arg(QFileInfo(path).fileName()),
             m_files->lastReason());
        resetProject();
        logString("Project file '" + path.toStdString() + "' failed to be loaded! - ErrorCode: ", false);
        logInt(r, nullptr, true);
        logSaveError(r);
        result = 0;
    } else if (!m_files->openNote().isEmpty()) {
        // Opened without some objects: a plain Save must not write over the
        // file that still holds them, so the scene is saved as a new project.
        warn(tr("<i>'%1'</i> was opened without some of its objects.").arg(QFileInfo(path).fileName()),
             m_files->openNote());
        logString("Project opened without some objects: " + m_files->openNote().toStdString());
    } else {
        m_newProject = false;
    }
    sceneHost()->updateGLView();
    clearModified();
    return result;
}

void ProjectManager::resetProject() {
    if (m_hooks.closeSidePanels)
        m_hooks.closeSidePanels();
    setProjectName(defaultProjectName());
    m_newProject = true;
    ObjectTable::instance()->deleteAllObjects();
    m_commands->clear();
    if (m_hooks.historyCleared)
        m_hooks.historyCleared();
}

bool ProjectManager::newProject() {
    if (askToSave() == Stop)
        return false;
    resetProject();
    return true;
}

bool ProjectManager::confirmClose() {
    return askToSave() != Stop;
}

#pragma once
// The user's project commands: New, Open, Save, Save As and the question
// whether to save changes before the scene is replaced or the window closes,
// with their dialogs and messages. The archive work itself is the project
// library's (VlrProjectFileHandling), which knows no widgets. Keeps the
// current project's path and whether it has a file of its own, and owns the
// application's undo history (CommandManager). GUI thread only.
//
// Entry points for the main window:
//   newProject()            File > New (asks, closes the panels, resets)
//   openProjectDialog()     File > Open Project
//   saveProject(false/true) File > Save Project / Save Project As
//   confirmClose()          the window's closeEvent: false keeps it open
//   commandManager()        the history the window's pushCommand, undo and redo use
//   attachView(camera, repaint)  the camera whose state projects keep
//   setWindowHooks(hooks)   panels to close before a reset, Undo/Redo to disable after it,
//                           the window's message boxes
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CommandManager;
class QWidget;
class ViewCamera;
class VlrProjectFileHandling;

class ProjectManager : public QObject {
    Q_OBJECT
public:
    // Answers of askToSave.
    enum { Saved = 1, GoOn = 2, Stop = 3 };

    struct WindowHooks {
        // Closes the side panels and unchecks their buttons; runs before the
        // scene is emptied, so that no panel keeps an object that is deleted.
        std::function<void()> closeSidePanels;
        // Runs after the undo history was cleared (disable Undo and Redo).
        std::function<void()> historyCleared;
        // Shows a message box (MainWindow::showMessageBoxDialog's arguments,
        // buttons as QMessageBox::StandardButtons) and returns the pressed
        // button; without one nothing is shown and the answer is 0.
        std::function<int(const QString& text, int icon, int buttons, int defaultButton,
                          const QString& informativeText, const QString& detailedText, quint32 windowFlags)>
            messageBox;
    };
    // Asks for a file name: (caption, start path, filter) -> the chosen path,
    // empty when cancelled. Tests replace the dialogs with these.
    using FileDialog =
        std::function<QString(const QString& caption, const QString& start, const QString& filter)>;

    // window: the parent of the dialogs and the window askToSave raises (may be null).
    explicit ProjectManager(QWidget* window = nullptr);
    ~ProjectManager() override;

    // The real dialogs, which the manager asks until setFileDialogs replaces
    // them. The save dialog adds the project extension before it asks about
    // overwriting, so that the question names the file that will be replaced.
    static QString askSaveFileName(QWidget* parent, const QString& caption, const QString& start,
                                   const QString& filter);
    static QString askOpenFileName(QWidget* parent, const QString& caption, const QString& start,
                                   const QString& filter);

    CommandManager* commandManager() const { return m_commands.get(); }
    void setWindowHooks(WindowHooks hooks) { m_hooks = std::move(hooks); }
    void setFileDialogs(FileDialog saveDialog, FileDialog openDialog);
    // The camera whose state projects keep (not owned; null detaches it) and
    // the repaint after an open restored it. The manager detaches it when it
    // is destroyed.
    void attachView(ViewCamera* camera, std::function<void()> repaint);

    // The translated untitled name "Velarproject".
    static QString defaultProjectName();
    // The untitled name gets ".vpf" appended; any other name is taken as the path.
    void setProjectName(const QString& name);
    const QString& projectPath() const { return m_projectPath; }
    bool isNewProject() const { return m_newProject; }

    // Saved (1), GoOn (2: nothing to save or the user said No) or Stop (3: the
    // user cancelled, or the save failed or was cancelled).
    int askToSave();
    // 1 when the project was written, 0 otherwise (no name chosen, or the
    // save failed: the user has been told). A new project or saveAs asks for
    // a name; the dialog appends ".vpf" before it asks about overwriting.
    int saveProject(bool saveAs);
    bool writeProjectFile(const QString& path);
    // 1 when a project was opened, else 0.
    int openProjectDialog();
    int openProject(const QString& path);
    // An untitled, empty project: panels closed, objects deleted, history cleared.
    void resetProject();
    QString suggestProjectName(bool saveAs) const;
    void clearModified();

    // New Project: askToSave, then reset; false when the user stopped it.
    bool newProject();
    // Closing the window: askToSave; false when the window should stay open.
    bool confirmClose();

private:
    // A message box through the window's hook; reason: the informative text.
    int ask(const QString& text, int icon, int buttons, int defaultButton,
            const QString& reason = QString()) const;
    // A warning with an Ok button.
    int warn(const QString& text, const QString& reason = QString()) const;
    QString projectFilter() const;
    void logSaveError(int result) const;

    std::unique_ptr<CommandManager> m_commands;
    bool m_newProject = true;
    QString m_projectPath;
    VlrProjectFileHandling* m_files;
    bool m_viewAttached = false;
    QWidget* m_window;
    WindowHooks m_hooks;
    FileDialog m_saveDialog;
    FileDialog m_openDialog;
};

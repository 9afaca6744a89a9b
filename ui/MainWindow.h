#pragma once
// The application's single top-level window. It is built once, by
// MainWindow::instance, and lives until the process ends. Besides the window
// itself it provides the services other subsystems reach it for: message
// boxes from any thread, the progress display and the text unit by which
// the tool panels size themselves.
#include "scene/SceneHost.h"
#include "view/ViewHost.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FileDialogProvider;
class MainGLWidget;
class QAbstractButton;
class QAction;
class QApplication;
class QFrame;
class QGLContext;
class QMenu;
class QPushButton;
class QScreen;
class QWindow;
class ProgressBar;
class ProjectManager;
class ExportDlg;
class SupportDlg;
class HollowDlg;
class OrientateDlg;
class ScaleDlg;
class ZSliceDlg;

class MainWindow : public QMainWindow, public SceneHost, public ViewHost {
    Q_OBJECT
public:
    // The one window, built on the first call (on the GUI thread).
    static MainWindow* instance();

    // Stores the application object; returns true.
    bool setApplication(QApplication* application);
    QApplication* application() const { return _application; }

    // A modal message box titled "Velar3D" with the window as parent. Safe
    // from any thread: a worker waits until the GUI thread has run the box
    // and gets the pressed button. A worker must not call it while the GUI
    // thread waits for that worker.
    int showMessageBoxDialog(const QString& text, int icon, QMessageBox::StandardButtons buttons,
                             QMessageBox::StandardButton defaultButton, const QString& informativeText,
                             const QString& detailedText, quint32 windowFlags);

    // The target of the global progress report: -3 refreshes the dialog,
    // every other value updates it (any thread, never blocks a worker).
    void showProgress(int value, unsigned int textCode, const std::wstring& text1, const std::wstring& text2,
                      const std::wstring& text3);

    // The pixel height of the bounding box of "X" in the font of the menu
    // action "New Project" (GUI thread).
    int fontUnitHeight() const;

    ProgressBar* progressBar() const { return _progressBar; }

    // ---- Scene services (ui/MainWindowServices.cpp) ---------------------------
    // The one road of new commands to the undo history: executes cmd through
    // the command manager; on success updates Undo and Redo and repaints when
    // asked; on failure deletes cmd and leaves the actions as they were.
    bool pushCommand(AbtCommand* cmd, bool repaint) override;
    // The window owns the command manager until the project manager hands it
    // one of its own (null gives the window's own back).
    CommandManager* commandManager() override;
    void setCommandManager(CommandManager* manager);
    // Undo is enabled while the undo stack holds a command, Redo while the
    // redo stack does.
    void updateUndoRedoActions();
    int showMessage(const QString& text, int icon, int buttons, int defaultButton) override;
    void updateGLView() override;
    void updateSelectionBox() override;
    void refreshZSliceView() override;
    void getBuildVolume(double out[3]) override;
    bool unprojectScreenPoint(const QPoint& p, double depth, double out[3]) override;
    void viewAxis(double out[3]) override;
    void commitPendingHole() override;
    void addHoleAt(const double position[3], const double direction[3]) override;
    void dropPendingHole() override;
    bool pickHole(const QPoint& p) override;
    void drawHollowPreview() override;
    void pushAddConeSupportCmd() override;
    void pushDeleteConeSupportCmd() override;
    QString applicationDirPath() const;
    QString defaultProjectName() const;
    void setProgressCancelButton(bool show);
    // Installs the window as the scene's host and connects the object list's
    // end of an import batch (called once by the constructor).
    void installSceneServices();

public slots:
    void menuEditUndo();
    void menuEditRedo();
    // Turns the batch just imported into one undoable import command.
    void afterAllObjectImported();

public:
    // ---- end of scene services -------------------------------------------------

    // ---- The window: view, menus, tool buttons, context menu, recent objects --
    MainGLWidget* glWidget() const { return _glWidget; }
    QFrame* glFrame() const { return _glFrame; }
    // The file dialogs the window asks (not owned; null restores the Qt ones).
    void setFileDialogProvider(FileDialogProvider* provider);
    // The provider's dialogs; when one closes the keyboard goes back to the view (focusView).
    QStringList askOpenFileNames(QWidget* parent, const QString& caption, const QString& start,
                                 const QString& filter);
    QString askSaveFileName(QWidget* parent, const QString& caption, const QString& start,
                            const QString& filter, QString* selectedFilter);
    // After a dialog closed: the window is active again and no field has the
    // keyboard, so keys reach the shortcuts and the view (nothing while
    // another modal dialog is up).
    void focusView();
    // The eight tool buttons in layout order.
    const std::vector<QAbstractButton*>& toolButtons() const { return _toolButtons; }
    QAbstractButton* activeToolButton() const { return _activeToolButton; }
    QMenu* contextMenu() const { return _contextMenu; }
    QMenu* recentObjectsMenu() const { return _recentObjectsMenu; }
    const QStringList& recentObjects() const { return _recentObjects; }
    const QString& lastImportPath() const { return _lastImportPath; }
    // Runs the "Quick Action" menu at a point of the view.
    void showContextMenu(const QPoint& pos);
    // A new build volume from the printer preferences: the view, the settings,
    // the platform image reloaded at the next paint.
    void applyBuildVolume(const double& x, const double& y, const double& z);
    // Puts files at the top of the recent objects (at most 5, no duplicates).
    void addRecentObjects(const QStringList& files);
    // Opens the save dialog and writes the (selected) objects as STL.
    void saveObjectsDialog(bool selectedOnly);
    // Logs a failed STL save and tells the user, with the reason when there is one.
    void reportStlSaveFailure(const QString& path, const QString& why);
    // Closes the scale, orientation, hollow and export panels, hides the support panel.
    void closeSidePanels();
    // Unchecks the tool buttons but keep (all of them for null) as the panels say.
    void resetToolButtons(QAbstractButton* keep);
    // A tool's panel has gone, however it went (its close button, Ok or
    // Cancel, its tool button, another tool, a new scene): its button is
    // unchecked and no longer active, and the view is back to selecting,
    // without manipulator, typed move or cone preview.
    void toolPanelClosed(QAbstractButton* button);
    // File > New: asks, resets the scene, closes the panels.
    void newProject();
    // Reads the window's settings (size, position, recent objects, the
    // printer's build volume), as at construction.
    void restoreSettings();
    // New, Open, Save, Save As and the question to save changes; owns the undo
    // history the window uses.
    ProjectManager* projectManager() const { return _projectManager; }

public slots:
    void menuActionFileNew();
    void menuActionFileOpenProj();
    void menuActionFileSaveProj();
    void menuActionFileSaveAsProj();
    void menuActionFileRecentProj();
    void menuActionFilePreferences();
    void menuViewWireFrame();
    void menuViewTransparent();
    void menuViewTransparentSupport();
    void menuActionHelpAbout();
    void onBtnImportObjectClicked();
    void onBtnTranslateClicked();
    void onBtnRescaleClicked();
    void onBtnHollowClicked();
    void onBtnGenerateSupportClicked();
    void onBtnExportClicked();
    void onBtnZSliceViewClicked();
    void onBtnExportGcodeClicked();
    void cmdUnloadSelectedObjects();
    void cmdContextRotateMove();
    void cmdContextAutoSupport();
    void openRecentObject();
    // The export panel closed (by its Close button, after starting a run or by
    // another panel's button): no panel is open, its button is unchecked.
    void onExportDlgClosed();

public:
    // Builds and runs the message box (GUI thread).
    int execMessageBox(const QString& text, const QString& informativeText, const QString& detailedText,
                       int icon, int buttons, int defaultButton, uint windowFlags);

private slots:
    // Runs the oldest message box a worker asked for (queued to the GUI thread).
    void runQueuedMessageBox();
    // The application's focus went to another window (see the definition).
    void onFocusWindowChanged(QWindow* focus);
    // Asks the window system to activate this window while the application's
    // focus is on a hidden window.
    void takeFocusFromHiddenWindow();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    MainWindow();
    ~MainWindow() override;

    // The window is put together in these steps; each is the place where
    // its part of the window grows.
    void createCentralArea(); // central widget and the frame that holds the 3D view
    void createMenus();       // File, Edit, View, Help with their actions
    void createView();        // the 3D view inside the frame
    void createToolButtons(); // the tool buttons floating over the view
    void createContextMenu(); // the view's "Quick Action" menu
    void createProgressDialog();
    void installServices(); // binds the progress report and the frame's hooks
    void saveWindowSettings();
    void layoutToolButtons();
    QPushButton* makeToolButton(const char* name, const QString& toolTip, const QString& icon,
                                bool checkable);
    // The recent-object actions, numbered by list position (unreadable files
    // get none).
    QList<QAction*> buildRecentObjectActions(bool namesOnly);
    void refillRecentObjectsMenu();
    void importRecentFile(const QString& path);
    // Checks button as the active panel button (unchecking the previous one).
    void makeActiveToolButton(QAbstractButton* button);
    // The support panel, made on first use (ui/MainWindowSupport.cpp).
    SupportDlg* supportPanel();
    // The hollowing panel, made on first use (MainWindowHollow.cpp).
    HollowDlg* hollowPanel();
    // Closes the hollowing panel when its object has left the list.
    void closeHollowPanelIfObjectGone();
    // Runs follow whenever the selection or its objects changed (a selection
    // in the view, a command, an undo or a redo) while panel is open.
    void notifyOnSelectionChange(QWidget* panel, const std::function<void()>& follow);
    // The orientation, scale and slice panels, each made on first use (ui/MainWindowTools.cpp).
    OrientateDlg* orientatePanel();
    ScaleDlg* scalePanel();
    ZSliceDlg* zSlicePanel();
    // Fits the slice panel to the view's height below the tool buttons (on
    // creation and whenever the window is resized).
    void placeSlicePanel();
    // The slice panel when it exists (null otherwise): scene changes pause its slicing.
    ZSliceDlg* zSlicePanelIfAny() const;
    // The project manager takes the undo history over (MainWindowProject.cpp).
    void createProjectManager();
    // Before the scene is replaced: every side panel but the slice preview is
    // closed and its button unchecked, so no panel keeps an object that goes.
    void closePanelsForNewScene();
    // The project file dialogs: the stand-in provider when one is set, else
    // the real dialogs (the save dialog adds ".vpf" before it asks about
    // overwriting).
    QString projectFileDialog(bool save, const QString& caption, const QString& start, const QString& filter);
    // The G-code export panel, made on first use (MainWindowExport.cpp).
    ExportDlg* exportPanel();
    // Keys A and D: the support panel's Add or Delete, while the panel is open.
    void activateSupportItem(bool add);

    struct MessageBoxRequest;

    // Message boxes asked for by workers; each worker waits on its request.
    std::mutex _messageBoxMutex;
    std::deque<std::shared_ptr<MessageBoxRequest>> _messageBoxRequests;

    // Scene services: the window's own command manager and the one in use.
    std::shared_ptr<CommandManager> _ownCommandManager;
    CommandManager* _commandManager = nullptr;

    ProjectManager* _projectManager = nullptr;
    QApplication* _application = nullptr;
    ProgressBar* _progressBar = nullptr;
    QFrame* _glFrame = nullptr;

    QMenu* _menuFile = nullptr;
    QMenu* _menuEdit = nullptr;
    QMenu* _menuView = nullptr;
    QMenu* _menuHelp = nullptr;
    QAction* _menuFileNew = nullptr;
    QAction* _menuFileOpenProj = nullptr;
    QAction* _menuFileSaveProj = nullptr;
    QAction* _menuFileSaveAsProj = nullptr;
    QAction* _menuFileRecentProj = nullptr;
    QAction* _menuFilePreferences = nullptr;
    QAction* _menuEditUndo = nullptr;
    QAction* _menuEditRedo = nullptr;
    QAction* _menuViewWireframe = nullptr;
    QAction* _manuViewTransparent = nullptr;
    QAction* _menuViewTransparentSupport = nullptr;
    QAction* _menuHelpAbout = nullptr;

    // The window's own parts.
    QGLContext* _glContext = nullptr;
    MainGLWidget* _glWidget = nullptr;
    FileDialogProvider* _fileDialogs = nullptr;
    std::unique_ptr<FileDialogProvider> _qtFileDialogs;
    static constexpr int kToolButtonCount = 8;
    static constexpr int kToolButtonSpacing = 4;
    // Side panels, each made on first use by its feature and kept.
    QWidget* _aboutDlg = nullptr;
    QWidget* _scaleDlg = nullptr;
    QWidget* _orientateDlg = nullptr;
    QWidget* _supportDlg = nullptr;
    QWidget* _hollowDlg = nullptr;
    QWidget* _exportDlg = nullptr;
    QWidget* _zSliceDlg = nullptr;
    QAbstractButton* _activeToolButton = nullptr;
    std::vector<QAbstractButton*> _toolButtons;
    QPushButton* _btnImportObject = nullptr;
    QPushButton* _btnTranslate = nullptr;
    QPushButton* _btnRescale = nullptr;
    QPushButton* _btnHollow = nullptr;
    QPushButton* _btnGenerateSupport = nullptr;
    QPushButton* _btnExport = nullptr;
    QPushButton* _btnExportGcode = nullptr;
    QPushButton* _btnZSliceView = nullptr;
    QMenu* _contextMenu = nullptr;
    QAction* _contextHeader = nullptr;
    QAction* _contextRotateMove = nullptr;
    QAction* _contextAutoSupport = nullptr;
    QMenu* _recentObjectsMenu = nullptr;
    QAction* _contextImport = nullptr;
    QAction* _contextUnload = nullptr;
    QAction* _contextSave = nullptr;
    // The keys pressed in the window and not yet released, with the modifiers
    // held when each went down.
    std::map<int, Qt::KeyboardModifiers> _keysDown;
    QStringList _recentObjects; // newest first, at most 5
    QString _lastImportPath;
};

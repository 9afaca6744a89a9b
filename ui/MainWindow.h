#pragma once
// The application's single top-level window. It is built once, by
// MainWindow::instance, and lives until the process ends. Besides the window
// itself it provides the services other subsystems reach it for: message
// boxes from any thread, the progress display and the text unit by which
// the tool panels size themselves.
#include <QMainWindow>
#include <QMessageBox>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class QAction;
class QApplication;
class QFrame;
class QMenu;
class ProgressBar;

class MainWindow : public QMainWindow {
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

    // Builds and runs the message box (GUI thread).
    int execMessageBox(const QString& text, const QString& informativeText, const QString& detailedText,
                       int icon, int buttons, int defaultButton, uint windowFlags);

private slots:
    // Runs the oldest message box a worker asked for (queued to the GUI thread).
    void runQueuedMessageBox();

protected:
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
    void restoreSettings();
    void saveWindowSettings();

    struct MessageBoxRequest;

    // Message boxes asked for by workers; each worker waits on its request.
    std::mutex _messageBoxMutex;
    std::deque<std::shared_ptr<MessageBoxRequest>> _messageBoxRequests;

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
};

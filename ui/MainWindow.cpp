#include "ui/MainWindow.h"

#include "app/Constants.h"
#include "app/Conversions.h"
#include "app/MainWindowHooks.h"
#include "app/ProgressReport.h"
#include "app/Settings.h"
#include "ui/ProgressBar.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QMenuBar>
#include <QThread>
#include <QVBoxLayout>
#include <condition_variable>

MainWindow* MainWindow::instance() {
    // Never destroyed: subsystems may call into the window until the process ends.
    static MainWindow* const window = new MainWindow();
    return window;
}

MainWindow::MainWindow() : QMainWindow(nullptr) {
    initResources();
    setObjectName(QStringLiteral("MainWindowClass"));
    setWindowTitle(QStringLiteral("Velar3D"));
    setWindowIcon(QIcon(ICON_APP));
    resize(1575, 1042);
    setIconSize(QSize(48, 32));

    createCentralArea();
    createMenus();
    createView();
    createToolButtons();
    createContextMenu();
    createProgressDialog();
    installServices();
    restoreSettings();
}

MainWindow::~MainWindow() = default;

void MainWindow::createCentralArea() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto* horizontal = new QHBoxLayout(central);
    horizontal->setObjectName(QStringLiteral("horizontalLayout"));
    horizontal->setSpacing(0);
    horizontal->setContentsMargins(0, 0, 0, 0);
    auto* vertical = new QVBoxLayout();
    vertical->setObjectName(QStringLiteral("verticalLayout_4"));
    vertical->setSpacing(0);
    const QMargins defaults = vertical->contentsMargins();
    vertical->setContentsMargins(defaults.left(), defaults.top(), defaults.right(), 0);
    _glFrame = new QFrame(central);
    _glFrame->setObjectName(QStringLiteral("_glFrame"));
    _glFrame->setFrameShape(QFrame::StyledPanel);
    _glFrame->setFrameShadow(QFrame::Raised);
    vertical->addWidget(_glFrame);
    horizontal->addLayout(vertical);
    setCentralWidget(central);
}

void MainWindow::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    auto action = [this](QMenu* menu, const char* name, const QString& text) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        menu->addAction(a);
        return a;
    };
    _menuFile = bar->addMenu(tr("File"));
    _menuFileNew = action(_menuFile, "_menuFileNew", tr("New Project"));
    _menuFileOpenProj = action(_menuFile, "_menuFileOpenProj", tr("Open Project"));
    _menuFileSaveProj = action(_menuFile, "_menuFileSaveProj", tr("Save Project"));
    _menuFileSaveAsProj = action(_menuFile, "_menuFileSaveAsProj", tr("Save Project As"));
    _menuFileRecentProj = action(_menuFile, "_menuFileRecentProj", tr("Recent Project"));
    _menuFileRecentProj->setVisible(false);
    _menuFile->addSeparator();
    _menuFilePreferences = action(_menuFile, "_menuFilePreferences", tr("Preferences..."));

    _menuEdit = bar->addMenu(tr("Edit"));
    _menuEditUndo = action(_menuEdit, "_menuEditUndo", tr("Undo"));
    _menuEditUndo->setShortcut(QKeySequence(tr("Ctrl+Z")));
    _menuEditUndo->setEnabled(false);
    _menuEditRedo = action(_menuEdit, "_menuEditRedo", tr("Redo"));
    _menuEditRedo->setShortcut(QKeySequence(tr("Ctrl+Y")));
    _menuEditRedo->setEnabled(false);

    _menuView = bar->addMenu(tr("View"));
    _menuViewWireframe = action(_menuView, "_menuViewWireframe", tr("Wireframe"));
    _menuViewWireframe->setCheckable(true);
    _manuViewTransparent = action(_menuView, "_manuViewTransparent", tr("Transparent"));
    _manuViewTransparent->setCheckable(true);
    _menuView->addSeparator();
    _menuViewTransparentSupport = action(_menuView, "_menuViewTransparentSupport", tr("Transparent Support"));
    _menuViewTransparentSupport->setCheckable(true);
    _menuViewTransparentSupport->setChecked(true);

    _menuHelp = bar->addMenu(tr("Help"));
    _menuHelpAbout = action(_menuHelp, "_menuHelpAbout", tr("About Velar3D"));
}

void MainWindow::createView() {
    // The 3D view fills _glFrame through a zero-margin layout; tool buttons
    // and side panels are children of _glFrame and float over it.
    auto* layout = new QHBoxLayout(_glFrame);
    layout->setContentsMargins(0, 0, 0, 0);
}

void MainWindow::createToolButtons() {
    // The tool buttons are children of _glFrame along its left edge.
}

void MainWindow::createContextMenu() {
    // The "Quick Action" menu is built here once its commands exist.
}

void MainWindow::createProgressDialog() {
    _progressBar = new ProgressBar(this);
    _progressBar->setWindowModality(Qt::WindowModal);
    _progressBar->setAutoClose(false);
    _progressBar->setMinimumWidth(400);
    _progressBar->setMinimumDuration(0);
    _progressBar->setMaximum(100);
    _progressBar->setCancelButtonShown(true);
}

void MainWindow::installServices() {
    setProgressCallback(
        [this](int value, unsigned int textCode, const std::wstring& text1, const std::wstring& text2,
               const std::wstring& text3) { showProgress(value, textCode, text1, text2, text3); });
    _progressBar->finish();
    setMessageBoxHook([this](const QString& text, int icon, int buttons, int defaultButton,
                             const QString& informativeText, const QString& detailedText, quint32 flags) {
        return showMessageBoxDialog(text, icon, QMessageBox::StandardButtons(buttons),
                                    QMessageBox::StandardButton(defaultButton), informativeText, detailedText,
                                    flags);
    });
    setFontUnitHook([this] { return fontUnitHeight(); });
    installSceneServices();
}

void MainWindow::restoreSettings() {
    const QSize size = getGeneralSize(GENERAL_MAIN_WINDOW_SIZE);
    if (size.isValid())
        resize(size);
    move(getDialogPosition(DIALOG_POS_MAIN_WINDOW, frameGeometry()));
}

void MainWindow::saveWindowSettings() {
    setGeneralSize(GENERAL_MAIN_WINDOW_SIZE, size());
    setDialogPosition(DIALOG_POS_MAIN_WINDOW, pos());
    setBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, isMaximized());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    saveWindowSettings();
    event->accept();
}

bool MainWindow::setApplication(QApplication* application) {
    _application = application;
    return true;
}

int MainWindow::fontUnitHeight() const {
    return QFontMetrics(_menuFileNew->font()).boundingRect(QStringLiteral("X")).height();
}

void MainWindow::showProgress(int value, unsigned int textCode, const std::wstring& text1,
                              const std::wstring& text2, const std::wstring& text3) {
    if (value == -3) {
        _progressBar->refresh();
        return;
    }
    _progressBar->updateProgress(value, static_cast<int>(textCode), wstringToQString(text1),
                                 wstringToQString(text2), wstringToQString(text3));
}

// A worker's message box: the worker fills it, the GUI thread answers it.
// All of it is handed over under mutex (never through the event's
// arguments), so the hand-over is visible to thread checkers.
struct MainWindow::MessageBoxRequest {
    QString text;
    QString informativeText;
    QString detailedText;
    int icon = 0;
    int buttons = 0;
    int defaultButton = 0;
    uint windowFlags = 0;
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    int answer = 0;
};

int MainWindow::showMessageBoxDialog(const QString& text, int icon, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton,
                                     const QString& informativeText, const QString& detailedText,
                                     quint32 windowFlags) {
    if (QThread::currentThread() == thread())
        return execMessageBox(text, informativeText, detailedText, icon, static_cast<int>(buttons),
                              static_cast<int>(defaultButton), windowFlags);

    auto request = std::make_shared<MessageBoxRequest>();
    request->text = text;
    request->informativeText = informativeText;
    request->detailedText = detailedText;
    request->icon = icon;
    request->buttons = static_cast<int>(buttons);
    request->defaultButton = static_cast<int>(defaultButton);
    request->windowFlags = windowFlags;
    {
        std::lock_guard<std::mutex> lock(_messageBoxMutex);
        _messageBoxRequests.push_back(request);
    }
    QMetaObject::invokeMethod(this, "runQueuedMessageBox", Qt::QueuedConnection);
    // The worker blocks until the user has answered on the GUI thread.
    std::unique_lock<std::mutex> lock(request->mutex);
    request->answered.wait(lock, [&] { return request->done; });
    return request->answer;
}

void MainWindow::runQueuedMessageBox() {
    std::shared_ptr<MessageBoxRequest> request;
    {
        std::lock_guard<std::mutex> lock(_messageBoxMutex);
        if (_messageBoxRequests.empty())
            return;
        request = _messageBoxRequests.front();
        _messageBoxRequests.pop_front();
    }
    const int answer =
        execMessageBox(request->text, request->informativeText, request->detailedText, request->icon,
                       request->buttons, request->defaultButton, request->windowFlags);
    {
        std::lock_guard<std::mutex> lock(request->mutex);
        request->answer = answer;
        request->done = true;
    }
    request->answered.notify_one();
}

int MainWindow::execMessageBox(const QString& text, const QString& informativeText,
                               const QString& detailedText, int icon, int buttons, int defaultButton,
                               uint windowFlags) {
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), APP_NAME, text,
                    QMessageBox::StandardButtons(buttons), this, Qt::WindowFlags(windowFlags));
    box.setInformativeText(informativeText);
    box.setDetailedText(detailedText);
    box.setWindowIcon(QIcon(ICON_APP));
    if (defaultButton != QMessageBox::NoButton && (buttons & defaultButton))
        box.setDefaultButton(static_cast<QMessageBox::StandardButton>(defaultButton));
    return box.exec();
}

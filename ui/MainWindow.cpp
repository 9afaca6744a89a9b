#include "ui/MainWindow.h"

#include "app/Constants.h"
#include "app/Conversions.h"
#include "app/DataFolders.h"
#include "app/FileTypes.h"
#include "app/Log.h"
#include "app/MainWindowHooks.h"
#include "app/PrinterVolume.h"
#include "app/ProgressReport.h"
#include "app/Settings.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/OrientateDlg.h"
#include "scene/SceneCommands.h"
#include "ui/AboutDlg.h"
#include "ui/FileDialogProvider.h"
#include "ui/PreferenceDlg.h"
#include "ui/ProgressBar.h"
#include "view/MainGLWidget.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGLContext>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
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
    createProjectManager();
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

    connect(_menuFileNew, SIGNAL(triggered()), this, SLOT(menuActionFileNew()));
    connect(_menuFileOpenProj, SIGNAL(triggered()), this, SLOT(menuActionFileOpenProj()));
    connect(_menuFileSaveProj, SIGNAL(triggered()), this, SLOT(menuActionFileSaveProj()));
    connect(_menuFileSaveAsProj, SIGNAL(triggered()), this, SLOT(menuActionFileSaveAsProj()));
    connect(_menuFileRecentProj, SIGNAL(triggered()), this, SLOT(menuActionFileRecentProj()));
    connect(_menuFilePreferences, SIGNAL(triggered()), this, SLOT(menuActionFilePreferences()));
    connect(_menuEditUndo, SIGNAL(triggered()), this, SLOT(menuEditUndo()));
    connect(_menuEditRedo, SIGNAL(triggered()), this, SLOT(menuEditRedo()));
    connect(_menuViewWireframe, SIGNAL(triggered()), this, SLOT(menuViewWireFrame()));
    connect(_manuViewTransparent, SIGNAL(triggered()), this, SLOT(menuViewTransparent()));
    connect(_menuViewTransparentSupport, SIGNAL(triggered()), this, SLOT(menuViewTransparentSupport()));
    connect(_menuHelpAbout, SIGNAL(triggered()), this, SLOT(menuActionHelpAbout()));
}

void MainWindow::createView() {
    // The 3D view fills _glFrame through a zero-margin layout; tool buttons
    // and side panels are children of _glFrame and float over it.
    _glContext = new QGLContext(QGLFormat());
    _glWidget = new MainGLWidget(_glContext, this, nullptr, Qt::WindowFlags());
    _glWidget->setViewHost(this);
    auto* layout = new QHBoxLayout(_glFrame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(_glWidget);
    connect(_glWidget, &QWidget::customContextMenuRequested, this, &MainWindow::showContextMenu);
}

QPushButton* MainWindow::makeToolButton(const char* name, const QString& toolTip, const QString& icon,
                                        bool checkable) {
    auto* b = new QPushButton(_glFrame);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(toolTip);
    b->setIcon(QIcon(icon));
    b->setIconSize(QSize(32, 32));
    b->setFixedSize(44, 44);
    b->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    b->setCheckable(checkable);
    b->setVisible(true);
    return b;
}

void MainWindow::createToolButtons() {
    const QString dir = QStringLiteral(":/MainWindow/Resources/toolbar/");
    _btnImportObject =
        makeToolButton("_btnImportObject", tr("Open STL file"), dir + "ImportObject.png", false);
    _btnTranslate = makeToolButton("_btnTranslate", tr("Orientate"), dir + "translate_32.png", true);
    _btnRescale = makeToolButton("_btnRescale", tr("Scale"), dir + "rescale_32.png", true);
    _btnHollow = makeToolButton("_btnHollow", tr("Create Hollow and Holes"), dir + "Hollow_32.png", true);
    _btnGenerateSupport =
        makeToolButton("_btnGenerateSupport", tr("Generate Support"), dir + "generateSupport.png", true);
    _btnExport = makeToolButton("_btnExport", tr("Save to STL file"), dir + "Export.png", true);
    _btnExportGcode =
        makeToolButton("_btnExportGcode", tr("Export to gcode"), dir + "Export_Gcode.png", true);
    _btnZSliceView = makeToolButton("_btnZSliceView", tr("Z Slice view"), dir + "ZSliceView.png", true);
    _toolButtons = {_btnImportObject,    _btnTranslate, _btnRescale,     _btnHollow,
                    _btnGenerateSupport, _btnExport,    _btnExportGcode, _btnZSliceView};
    connect(_btnImportObject, SIGNAL(clicked()), this, SLOT(onBtnImportObjectClicked()));
    connect(_btnTranslate, SIGNAL(clicked()), this, SLOT(onBtnTranslateClicked()));
    connect(_btnRescale, SIGNAL(clicked()), this, SLOT(onBtnRescaleClicked()));
    connect(_btnHollow, SIGNAL(clicked()), this, SLOT(onBtnHollowClicked()));
    connect(_btnGenerateSupport, SIGNAL(clicked()), this, SLOT(onBtnGenerateSupportClicked()));
    connect(_btnExport, SIGNAL(clicked()), this, SLOT(onBtnExportClicked()));
    connect(_btnExportGcode, SIGNAL(clicked()), this, SLOT(onBtnExportGcodeClicked()));
    connect(_btnZSliceView, SIGNAL(clicked()), this, SLOT(onBtnZSliceViewClicked()));
    layoutToolButtons();
}

void MainWindow::layoutToolButtons() {
    for (std::size_t i = 0; i < _toolButtons.size(); ++i) {
        _toolButtons[i]->setGeometry(5, 150 + int(i) * (kToolButtonSpacing + 44), 44, 44);
        _toolButtons[i]->raise();
    }
}

void MainWindow::createContextMenu() {
    const QString dir = QStringLiteral(":/MainWindow/Resources/toolbar/");
    _contextMenu = new QMenu(this);
    _contextHeader = _contextMenu->addAction(tr("Quick Action"));
    _contextHeader->setEnabled(false);
    QFont bold = _contextHeader->font();
    bold.setWeight(75);
    bold.setPointSize(10);
    _contextHeader->setFont(bold);
    _contextMenu->addSeparator();
    auto entry = [&](const QString& text, const QString& icon, const QString& tip, const char* slot) {
        QAction* a = _contextMenu->addAction(QIcon(dir + icon), text);
        a->setStatusTip(tip);
        connect(a, SIGNAL(triggered()), this, slot);
        return a;
    };
    _contextRotateMove = entry(tr("Rotate/Move"), "translate_32.png", tr("Rotate and move selected object"),
                               SLOT(cmdContextRotateMove()));
    _contextAutoSupport = entry(tr("Auto Support"), "generateSupport.png", tr("Generate support"),
                                SLOT(cmdContextAutoSupport()));
    _contextImport = entry(tr("Import Objects"), "ImportObject.png", tr("Import Objects"),
                           SLOT(onBtnImportObjectClicked()));
    _contextUnload = entry(tr("Unload Selected"), "remove.png", tr("Unload Selected Object"),
                           SLOT(cmdUnloadSelectedObjects()));
    _recentObjectsMenu = _contextMenu->addMenu(QIcon(dir + "recentObject.png"), tr("Recent Objects"));
    _contextSave = entry(tr("Save"), "Export.png", tr("Save Selected Object"), SLOT(onBtnExportClicked()));
}

void MainWindow::showContextMenu(const QPoint& pos) {
    _contextMenu->exec(_glWidget->mapToGlobal(pos));
}

void MainWindow::createProgressDialog() {
    _progressBar = new ProgressBar(this);
    _progressBar->setWindowModality(Qt::WindowModal);
    _progressBar->setAutoClose(false);
    _progressBar->setMinimumWidth(400);
    _progressBar->setMinimumDuration(0);
    _progressBar->setMaximum(100);
    _progressBar->setCancelButtonShown(true);
    // Queued: the dialog has left the modal stack by the time the window takes the keys back.
    connect(_progressBar, &ProgressBar::hidden, this, &MainWindow::focusView, Qt::QueuedConnection);
}

void MainWindow::installServices() {
    setProgressCallback(
        [this](int value, unsigned int textCode, const std::wstring& text1, const std::wstring& text2,
               const std::wstring& text3) { showProgress(value, textCode, text1, text2, text3); });
    _progressBar->finish();
    setFontUnitHook([this] { return fontUnitHeight(); });
    installSceneServices();
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &MainWindow::onFocusWindowChanged);
}

void MainWindow::restoreSettings() {
    const QSize size = getGeneralSize(GENERAL_MAIN_WINDOW_SIZE);
    if (size.isValid())
        resize(size);
    QPoint pos = getDialogPosition(DIALOG_POS_MAIN_WINDOW, frameGeometry());
    // A position off every screen (a monitor that is gone) comes back onto
    // the primary screen.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(QRect(pos, QSize(100, 50)));
    if (!onScreen && QGuiApplication::primaryScreen())
        pos = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
    move(pos);
    // A window larger than its screen (the first start on a small screen)
    // would hide the view's right edge: fit it.
    if (const QScreen* screen = QGuiApplication::screenAt(pos) ? QGuiApplication::screenAt(pos)
                                                               : QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        if (width() > avail.width() || height() > avail.height())
            resize(std::min(width(), avail.width()), std::min(height(), avail.height()));
    }
    if (getBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, true))
        setWindowState(windowState() | Qt::WindowMaximized);
    _lastImportPath = getPathSetting(PATH_IMPORTED_OBJECT, QString());
    getPathList(PATH_RECENT_OBJECTS, &_recentObjects);
    refillRecentObjectsMenu();

    // A custom printer without its build size gets the defaults written.
    if (currentPrinter() == PRINTER_CUSTOM)
        storeMissingBuildSize();
    double volume[3];
    currentBuildVolume(volume);
    _glWidget->setBuildVolume(volume);
    _glWidget->update();
}

void MainWindow::saveWindowSettings() {
    setGeneralSize(GENERAL_MAIN_WINDOW_SIZE, size());
    setDialogPosition(DIALOG_POS_MAIN_WINDOW, pos());
    setBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, isMaximized());
    setPathSetting(PATH_IMPORTED_OBJECT, _lastImportPath);
    setPathList(PATH_RECENT_OBJECTS, _recentObjects);
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
    if (value == progressValue(ProgressValue::Refresh)) {
        _progressBar->refresh();
        return;
    }
    _progressBar->updateProgress(value, static_cast<ProgressText>(textCode), wstringToQString(text1),
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

// ---- File dialogs ------------------------------------------------------------------

QStringList QtFileDialogProvider::openFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                                const QString& filter) {
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

namespace {

// The extension of a name filter's first pattern: "STL (*.stl)" gives "stl",
// "All (*.*)" and a filter without a pattern give nothing.
QString filterExtension(const QString& filter) {
    const int open = filter.indexOf(QLatin1String("(*."));
    if (open < 0)
        return QString();
    int end = open + 3;
    while (end < filter.size() && filter[end].isLetterOrNumber())
        ++end;
    return filter.mid(open + 3, end - open - 3);
}

} // namespace

QString QtFileDialogProvider::saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                           const QString& filter, QString* selectedFilter) {
    QFileDialog dialog(parent, caption, dir, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension gets the chosen type's, before the
    // dialog asks about overwriting (native dialogs ask about the bare name).
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (selectedFilter && !selectedFilter->isEmpty())
        dialog.selectNameFilter(*selectedFilter);
    dialog.setDefaultSuffix(filterExtension(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& chosen) { dialog.setDefaultSuffix(filterExtension(chosen)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    if (selectedFilter)
        *selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().first();
}

QStringList MainWindow::askOpenFileNames(QWidget* parent, const QString& caption, const QString& start,
                                         const QString& filter) {
    if (!_fileDialogs)
        setFileDialogProvider(nullptr);
    const QStringList files = _fileDialogs->openFileNames(parent, caption, start, filter);
    focusView();
    return files;
}

QString MainWindow::askSaveFileName(QWidget* parent, const QString& caption, const QString& start,
                                    const QString& filter, QString* selectedFilter) {
    if (!_fileDialogs)
        setFileDialogProvider(nullptr);
    const QString file = _fileDialogs->saveFileName(parent, caption, start, filter, selectedFilter);
    focusView();
    return file;
}

void MainWindow::focusView() {
    if (!isVisible() || !windowHandle() || !windowHandle()->isExposed() || QApplication::activeModalWidget())
        return;
    // The window takes the keyboard back from the dialog that had it, and no
    // field keeps it: the keys then reach the window's shortcuts and the view.
    activateWindow();
    // The window's own focus child: while the dialog is active it is not the
    // application's, yet the window would give it the keys when it is active again.
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
}

void MainWindow::onFocusWindowChanged(QWindow* focus) {
    // A window-modal dialog shown and hidden again before the window system
    // had mapped it (the progress of a quick import) can still be activated
    // by its own late activation request, which the platform echoes back to
    // the program. The keys then go to a window nobody sees; the window
    // system knows no better, so no click brings them back. Whatever the
    // window manager, the window takes the keys back once that has happened.
    if (focus && !focus->isVisible())
        QMetaObject::invokeMethod(this, &MainWindow::takeFocusFromHiddenWindow, Qt::QueuedConnection);
}

void MainWindow::takeFocusFromHiddenWindow() {
    QWindow* hidden = QGuiApplication::focusWindow();
    QWindow* own = windowHandle();
    if (!hidden || hidden->isVisible() || !own || !isVisible() || QApplication::activeModalWidget())
        return;
    // An activation request is skipped while a transient window of this one
    // holds the focus, as the hidden dialog does: the request is made with
    // the dialog set free of the window for that moment.
    QWindow* parent = hidden->transientParent();
    hidden->setTransientParent(nullptr);
    own->requestActivate();
    hidden->setTransientParent(parent);
    focusView();
}

void MainWindow::setFileDialogProvider(FileDialogProvider* provider) {
    if (!_qtFileDialogs)
        _qtFileDialogs = std::make_unique<QtFileDialogProvider>();
    _fileDialogs = provider ? provider : _qtFileDialogs.get();
}

// ---- Import, recent objects, save ---------------------------------------------------

void MainWindow::onBtnImportObjectClicked() {
    const QString filter = QCoreApplication::translate("MainWindow", "All available formats (*.stl );;") +
                           QCoreApplication::translate("MainWindow", "STL-STereoLithography files (*.stl);;");
    const QStringList files =
        askOpenFileNames(this, tr("Import file(s)"), dialogStartFolder(PATH_IMPORTED_OBJECT), filter);
    if (files.isEmpty())
        return;
    // The new objects must not take part in a typed move left open.
    _glWidget->cancelManipulation();
    ObjectTable::instance()->importObjects(files);
    _lastImportPath = files.last();
    addRecentObjects(files);
    setPathSetting(PATH_IMPORTED_OBJECT, _lastImportPath);
    _glWidget->update();
}

void MainWindow::addRecentObjects(const QStringList& files) {
    for (const QString& file : files) {
        const QString absolute = QFileInfo(file).absoluteFilePath();
        for (int i = 0; i < _recentObjects.size(); ++i) {
            if (QFileInfo(_recentObjects[i]).absoluteFilePath() == absolute) {
                _recentObjects.removeAt(i);
                break;
            }
        }
        _recentObjects.prepend(file);
        if (_recentObjects.size() > 5)
            _recentObjects.removeLast();
    }
    refillRecentObjectsMenu();
    setPathList(PATH_RECENT_OBJECTS, _recentObjects);
}

QList<QAction*> MainWindow::buildRecentObjectActions(bool namesOnly) {
    QList<QAction*> actions;
    for (int i = 0; i < _recentObjects.size(); ++i) {
        const QFileInfo info(_recentObjects[i]);
        if (!info.isReadable())
            continue;
        auto* a = new QAction(
            QStringLiteral("%1 - %2").arg(i + 1).arg(namesOnly ? info.fileName() : info.absoluteFilePath()),
            this);
        // The entry's list position travels in the action's data, not its text.
        a->setData(i);
        connect(a, SIGNAL(triggered()), this, SLOT(openRecentObject()));
        actions << a;
    }
    return actions;
}

void MainWindow::refillRecentObjectsMenu() {
    if (!_recentObjectsMenu)
        return;
    for (QAction* a : _recentObjectsMenu->actions())
        a->deleteLater();
    _recentObjectsMenu->clear();
    _recentObjectsMenu->addActions(buildRecentObjectActions(true));
}

void MainWindow::openRecentObject() {
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    bool ok = false;
    const int index = action->data().toInt(&ok);
    if (ok && index >= 0 && index < _recentObjects.size()) {
        // A copy: the import reorders the list the entry lives in.
        const QString path = _recentObjects[index];
        importRecentFile(path);
    }
}

void MainWindow::importRecentFile(const QString& path) {
    // The file may have gone since the menu was built.
    QString unreadable;
    if (!checkFileReadable(path, &unreadable)) {
        if (!unreadable.isEmpty())
            showMessage(unreadable, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    _glWidget->cancelManipulation();
    ObjectTable::instance()->importObjects(QStringList{path});
    _lastImportPath = path;
    addRecentObjects(QStringList{path});
    _glWidget->update();
    setPathSetting(PATH_IMPORTED_OBJECT, path);
}

void MainWindow::onBtnExportClicked() {
    closeSidePanels();
    // The Save button opens no panel: it never stays checked.
    _btnExport->setChecked(false);
    saveObjectsDialog(true);
}

void MainWindow::saveObjectsDialog(bool selectedOnly) {
    if (selectedOnly && ObjectTable::instance()->selectedObjectCount() == 0) {
        showMessage(tr("No object is selected. Select the objects to save first."), QMessageBox::Information,
                    QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    const QString start = dialogStartFolder(PATH_SAVED_OBJECTS) + "/";
    const QString binary =
        QCoreApplication::translate("MainWindow", "STL-STereoLithography File Format, Binary (*.stl)");
    const QString filters =
        QStringList{
            binary,
            QCoreApplication::translate("MainWindow", "STL-STereoLithography File Format, ASCII (*.stl)"),
            QCoreApplication::translate("MainWindow", "All available formats (*.*)")}
            .join(";;");
    QString selected = binary;
    // A name typed without an extension gets the STL one, whichever filter was chosen.
    const QString file =
        withDefaultExtension(askSaveFileName(this, tr("Save Object"), start, filters, &selected), ".stl");
    if (file.isEmpty())
        return;
    setPathSetting(PATH_SAVED_OBJECTS, QFileInfo(file).absolutePath());
    const bool asBinary = selected == binary;
    // The writer replaces the file only once every byte was written, so a
    // failure leaves the previous file as it was; the user is told.
    QString note;
    if (!ObjectTable::instance()->saveObjectsToStl(file, asBinary, selectedOnly, &note))
        reportStlSaveFailure(file, note);
    else if (!note.isEmpty())
        showMessage(note, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok);
}

// ---- Side panels and tool buttons ------------------------------------------------------

void MainWindow::closeSidePanels() {
    // Each open panel's tool ends as its own button would end it.
    const std::pair<QWidget*, QAbstractButton*> tools[] = {{_scaleDlg, _btnRescale},
                                                           {_orientateDlg, _btnTranslate},
                                                           {_hollowDlg, _btnHollow},
                                                           {_exportDlg, _btnExportGcode},
                                                           {_supportDlg, _btnGenerateSupport}};
    for (const auto& tool : tools) {
        QWidget* panel = tool.first;
        if (!panel || panel->testAttribute(Qt::WA_WState_Hidden))
            continue;
        // The support panel is hidden, never closed: it keeps its parameters.
        if (panel == _supportDlg)
            panel->hide();
        else
            panel->close();
        toolPanelClosed(tool.second);
    }
    _glWidget->cancelManipulation();
}

void MainWindow::toolPanelClosed(QAbstractButton* button) {
    button->setChecked(false);
    if (_activeToolButton == button)
        _activeToolButton = nullptr;
    // Leaving the tool's mode abandons a typed move.
    _glWidget->cancelManipulation();
    ObjectTable::instance()->clearConePreview();
    _glWidget->setManipulatorShown(false);
    _glWidget->setMode(ViewMode::Select);
    _glWidget->update();
}

void MainWindow::resetToolButtons(QAbstractButton* keep) {
    if (keep != _btnGenerateSupport)
        ObjectTable::instance()->clearConePreview();
    if (!keep) {
        // The slice preview is no panel tool: it stays open with its button.
        for (QAbstractButton* b : _toolButtons)
            if (b != _btnZSliceView)
                b->setChecked(false);
        _activeToolButton = nullptr;
        ObjectTable::instance()->clearConePreview();
    }
    if (keep != _btnTranslate)
        _glWidget->setManipulatorShown(false);
}

void MainWindow::makeActiveToolButton(QAbstractButton* button) {
    if (_activeToolButton && _activeToolButton != button)
        _activeToolButton->setChecked(false);
    button->setChecked(true);
    _activeToolButton = button;
}

void MainWindow::menuActionFilePreferences() {
    PreferenceDlg dlg(this);
    dlg.setBuildVolumeApplier([this](double x, double y, double z) { applyBuildVolume(x, y, z); });
    dlg.initPrinterList();
    dlg.exec();
}

void MainWindow::menuActionHelpAbout() {
    if (!_aboutDlg)
        _aboutDlg = new AboutDlg(this);
    _aboutDlg->show();
}

void MainWindow::cmdUnloadSelectedObjects() {
    if (ObjectTable::instance()->selectedObjectCount() == 0)
        return;
    // A typed move must not follow the objects out of the list.
    _glWidget->cancelManipulation();
    pushCommand(new UnloadObjectCmd(-1), true);
}

// ---- View menu -------------------------------------------------------------------------

void MainWindow::menuViewWireFrame() {
    ObjectTable::instance()->setViewMode(_menuViewWireframe->isChecked() ? MeshStyle::FilledWithEdges
                                                                         : MeshStyle::Filled);
    _glWidget->update();
}

void MainWindow::menuViewTransparent() {
    ObjectTable::instance()->setTransparent(_manuViewTransparent->isChecked());
    _glWidget->update();
}

void MainWindow::menuViewTransparentSupport() {
    ObjectTable::instance()->setTransparentSupport(_menuViewTransparentSupport->isChecked());
    _glWidget->update();
}

void MainWindow::applyBuildVolume(const double& x, const double& y, const double& z) {
    const double volume[3] = {x, y, z};
    _glWidget->setBuildVolume(volume);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, x);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Y, y);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Z, z);
    _glWidget->setReloadTextures();
    _glWidget->update();
}

// ---- Keys ------------------------------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event) {
    _glWidget->keyPressEvent(event);
    // The shortcuts act on release with the modifiers held when the key went
    // down: Control let go before L still made Control+L.
    if (!event->isAutoRepeat())
        _keysDown[event->key()] = event->modifiers();
}

void MainWindow::changeEvent(QEvent* event) {
    // Keys released while another window had them were never pressed here.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        _keysDown.clear();
    QMainWindow::changeEvent(event);
}

namespace {

// Whether keys go to a text or number field: there a letter is typing and
// Control with a letter edits (Ctrl+A selects the field's text).
bool typingIntoField() {
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return false;
    if (auto* combo = qobject_cast<QComboBox*>(focus))
        return combo->isEditable();
    return qobject_cast<QLineEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus) ||
           qobject_cast<QTextEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus);
}

} // namespace

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    _glWidget->keyReleaseEvent(event);
    // X11 repeats a held key as release-press pairs: only the real release acts.
    if (event->isAutoRepeat())
        return;
    // Only a key pressed here, with the modifiers it went down with.
    const auto down = _keysDown.find(event->key());
    if (down == _keysDown.end())
        return;
    const Qt::KeyboardModifiers modifiers = down->second;
    _keysDown.erase(down);
    // The single-key shortcuts are plain keys: a chord with Control, Alt or
    // Meta belongs to the menus or to the field being edited.
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return;
    if (typingIntoField())
        return;
    switch (event->key()) {
    case Qt::Key_T:
        _menuViewTransparentSupport->setChecked(!_menuViewTransparentSupport->isChecked());
        ObjectTable::instance()->setTransparentSupport(_menuViewTransparentSupport->isChecked());
        _glWidget->update();
        break;
    case Qt::Key_V:
        _glWidget->resetView();
        break;
    case Qt::Key_Escape:
        // Esc ends the Orientate tool as its Close button does.
        if (_orientateDlg && !_orientateDlg->isHidden())
            orientatePanel()->onBtnCloseClicked();
        _glWidget->setMode(ViewMode::Select);
        _glWidget->setManipulatorShown(false);
        _glWidget->update();
        break;
    case Qt::Key_S:
        onBtnExportClicked();
        break;
    case Qt::Key_A:
        activateSupportItem(true);
        break;
    case Qt::Key_D:
        activateSupportItem(false);
        break;
    case Qt::Key_G:
        if (_contextAutoSupport->isEnabled())
            cmdContextAutoSupport();
        break;
    case Qt::Key_L:
        onBtnImportObjectClicked();
        break;
    default:
        break;
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    placeSlicePanel();
}

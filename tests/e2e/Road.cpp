#include "Road.h"

#include "SceneFixtures.h"
#include "app/Constants.h"
#include "app/DataFolders.h"
#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "app/SettingsStore.h"
#include "app/Startup.h"
#include "export/ExportDlg.h"
#include "export/GcodeExport.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/ScaleDlg.h"
#include "scene/SceneHost.h"
#include "src/Features/lcm/HollowContext.h"
#include "src/Features/lcm/HollowDlg.h"
#include "support/AbtShape.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "ui/MainWindow.h"
#include "ui/ProjectManager.h"
#include "view/MainGLWidget.h"
#include "view/Manipulator.h"
#include "view/SliceRender.h"
#include "view/ZSliceDlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <limits>

namespace road {

ColourCount countColours(const QImage& image, const QRect& region) {
    ColourCount c;
    const QRect r = region.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int red = qRed(p), green = qGreen(p), blue = qBlue(p);
            ++c.total;
            if (green > red + 60 && blue > red + 60 && green > 90)
                ++c.cyan;
            else if (red > blue + 50 && green > blue + 30 && red > green - 40)
                ++c.support;
            else if (green > red + 40 && green > blue + 40)
                ++c.section;
            else if (std::abs(red - green) < 12 && std::abs(green - blue) < 12 && red > 60 && red < 200)
                ++c.grey;
        }
    return c;
}

QTimer* typeIntoNextFileDialog(const QString& path) {
    auto* timer = new QTimer;
    timer->setInterval(200);
    QObject::connect(timer, &QTimer::timeout, [path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* name = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
        if (!name || !name->isVisible())
            return;
        name->setFocus();
        // Typed again at every tick: the dialog judges a typed name against
        // its folder model, which fills on a thread of its own; a name typed
        // before the folder was known leaves Save disabled until the text
        // changes.
        name->clear();
        QTest::keyClicks(name, path);
        // The name box's completer may have opened its list while typing; a
        // Return would go to the list. While the dialog stays, it is asked
        // again at the next tick.
        if (name->completer() && name->completer()->popup())
            name->completer()->popup()->hide();
        QTest::keyClick(name, Qt::Key_Return);
    });
    timer->start();
    return timer;
}

Road::Road(const QString& workDir) : _workDir(workDir) {
    spherePath = QDir(workDir).filePath("sphere.stl");
    torusPath = QDir(workDir).filePath("torus.stl");
    // Each road starts as a first start of the program: no setting left by
    // an earlier road of the same test program.
    for (SettingsGroup g : {SettingsGroup::Booleans, SettingsGroup::Colors, SettingsGroup::DialogsPosition,
                            SettingsGroup::General, SettingsGroup::Paths})
        settingsGroup(g).clear();
}

Road::~Road() {
    // The window is the process's one main window and outlives the road: the
    // next test of the same program starts with an empty scene and history
    // and no timer that reads this road.
    delete _messageGuard;
    if (window) {
        resetWindow();
        window->setFileDialogProvider(nullptr);
        return;
    }
    ObjectTable::instance()->deleteAllObjects();
    if (CommandManager* commands = sceneHost() ? sceneHost()->commandManager() : nullptr)
        commands->clear();
}

void Road::resetWindow() {
    // The slice preview goes first: its worker reads the meshes that the
    // reset deletes (stopping it waits for the worker).
    if (window->toolButtons()[7]->isChecked())
        window->toolButtons()[7]->click();
    window->projectManager()->resetProject();
}

void Road::writeModels() {
    scenefixtures::writeBinaryStl(spherePath, meshfixtures::icosphere(10.0, 3));
    scenefixtures::writeBinaryStl(torusPath, scenefixtures::millionFacetTorus());
}

bool Road::start() {
    // The program's data folder lives in the work folder.
    qputenv("XDG_DATA_HOME", QDir(_workDir).filePath("data").toUtf8());
    initResources();
    window = MainWindow::instance();
    // The window is the process's one main window and may have served an
    // earlier road: it starts again from what a new window shows, an
    // untitled empty project with no panel open (the slice preview
    // included) and the settings read again.
    resetWindow();
    window->restoreSettings();
    dataDir = getCommonAppDataDir();
    _logPath = openRunLog(dataDir, QDateTime::currentDateTime());
    writeSystemReport(platform::processorCount(), platform::totalPhysicalMemory());
    installMemoryCheck(hasEnoughMemory);
    window->setApplication(qApp);
    window->setFileDialogProvider(&dialogs);
    // A message box on the road is recorded and answered with its default
    // button, so that the road goes on and the test can tell what it said.
    auto* guard = _messageGuard = new QTimer(window);
    guard->setInterval(50);
    QObject::connect(guard, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        messages << box->text();
        if (QAbstractButton* b = box->defaultButton() ? box->defaultButton() : box->escapeButton())
            b->click();
        else
            box->reject();
    });
    guard->start();
    window->resize(1200, 900);
    window->show();
    return QTest::qWaitForWindowExposed(window) && !_logPath.isEmpty();
}

bool Road::importFiles(const QStringList& files) {
    dialogs.openAnswer = files;
    ObjectTable* table = ObjectTable::instance();
    const int before = table->count();
    window->toolButtons()[0]->click();
    const bool done = scenefixtures::runEventsUntil(
        [&] {
            if (table->count() != before + files.size() || table->importsRunning())
                return false;
            for (ObjectEx* o : table->objects())
                if (!o->isLoaded())
                    return false;
            return true;
        },
        120000);
    QCoreApplication::processEvents();
    return done;
}

bool Road::importModels() {
    if (!importFiles(QStringList{spherePath, torusPath}))
        return false;
    ObjectTable* table = ObjectTable::instance();
    for (ObjectEx* o : table->objects()) {
        o->waitForJobs();
        if (o->triangleCount() == 1000000)
            torus = o;
        else
            sphere = o;
    }
    QCoreApplication::processEvents();
    return sphere && torus;
}

QPoint Road::screenOf(double x, double y, double z) {
    const double p[3] = {x, y, z};
    int s[2];
    window->glWidget()->projectToScreen(p, s);
    return QPoint(s[0], s[1]);
}

QRect Road::screenBox(const ObjectEx* obj) {
    double lo[3], hi[3];
    obj->waitForBoxJobs();
    if (!obj->readBox(lo, hi))
        return QRect();
    QRect r;
    for (int i = 0; i < 8; ++i) {
        const QPoint p = screenOf(i & 1 ? hi[0] : lo[0], i & 2 ? hi[1] : lo[1], i & 4 ? hi[2] : lo[2]);
        r = r.isNull() ? QRect(p, QSize(1, 1)) : r.united(QRect(p, QSize(1, 1)));
    }
    return r;
}

QImage Road::screenshot() {
    MainGLWidget* view = window->glWidget();
    view->updateGL();
    QCoreApplication::processEvents();
    const QPoint at = view->mapTo(window, QPoint(0, 0));
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(window->winId(), at.x(), at.y(), view->width(), view->height())
                            .toImage();
    // VELAR_ROAD_SHOTS names a folder that keeps every screenshot, numbered.
    const QString keep = qEnvironmentVariable("VELAR_ROAD_SHOTS");
    if (!keep.isEmpty())
        shot.save(QDir(keep).filePath(QString("road-%1.png").arg(++_shots, 2, 10, QChar('0'))));
    return shot;
}

QString Road::logText() const {
    QFile f(_logPath);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

int Road::liveCones(const ObjectEx* obj) const {
    if (!obj || !obj->hasSupport())
        return 0;
    support::ShapeDeque live;
    obj->supportGenIfAny()->collectLiveShapes(live);
    return int(std::count_if(live.begin(), live.end(), [](const support::AbtShape* s) {
        return s->kind() == support::AbtShape::Kind::Cone;
    }));
}

void Road::releaseKey(int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(window, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(window, &release);
    QCoreApplication::processEvents();
}

namespace {

// The window that receives the view's mouse events from the window system,
// and p in its coordinates.
QWindow* viewWindow(QWidget* view, const QPoint& p, QPoint* local) {
    if (QWindow* own = view->windowHandle()) {
        *local = p;
        return own;
    }
    *local = view->mapTo(view->window(), p);
    return view->window()->windowHandle();
}

} // namespace

void Road::pressInView(Qt::MouseButton button, const QPoint& p) {
    QPoint local;
    QWindow* w = viewWindow(window->glWidget(), p, &local);
    QTest::mousePress(w, button, Qt::NoModifier, local);
}

void Road::moveInView(const QPoint& p) {
    QPoint local;
    QWindow* w = viewWindow(window->glWidget(), p, &local);
    QTest::mouseMove(w, local);
}

void Road::releaseInView(Qt::MouseButton button, const QPoint& p) {
    QPoint local;
    QWindow* w = viewWindow(window->glWidget(), p, &local);
    QTest::mouseRelease(w, button, Qt::NoModifier, local);
}

void Road::hoverView(const QPoint& p) {
    QMouseEvent move(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window->glWidget(), &move);
}

void Road::clickView(const QPoint& p) {
    hoverView(p);
    QTest::mousePress(window->glWidget(), Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseRelease(window->glWidget(), Qt::LeftButton, Qt::NoModifier, p);
    QCoreApplication::processEvents();
}

bool Road::selectSphere() {
    window->glWidget()->updateGL();
    clickView(screenBox(sphere).center());
    return sphere->isSelected() && !torus->isSelected();
}

void Road::dragView(const QPoint& a, const QPoint& b) {
    dragView(a, [&](int k) { return a + (b - a) * k / 6; });
}

void Road::dragView(const QPoint& a, const std::function<QPoint(int)>& at) {
    hoverView(a);
    QTest::mousePress(window->glWidget(), Qt::LeftButton, Qt::NoModifier, a);
    for (int k = 1; k <= 6; ++k) {
        QMouseEvent move(QEvent::MouseMove, at(k), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window->glWidget(), &move);
    }
    QTest::mouseRelease(window->glWidget(), Qt::LeftButton, Qt::NoModifier, at(6));
    QCoreApplication::processEvents();
}

double Road::findManipulatorPart(int part, double dx, double dy) {
    auto* handle = dynamic_cast<TransformHandle*>(window->glWidget()->manipulator());
    if (!handle)
        return -1;
    window->glWidget()->updateGL();
    const double* c = handle->boxCenter();
    for (double t = 0.25; t < 80.0; t += 0.25) {
        hoverView(screenOf(c[0] + t * dx, c[1] + t * dy, c[2]));
        if (handle->hoveredPart() == part)
            return t;
    }
    return -1;
}

bool Road::moveSphere() {
    window->toolButtons()[1]->click();
    if (window->glWidget()->mode() != ViewMode::Transform)
        return false;
    const double t = findManipulatorPart(1, 1.0, 0.0);
    if (t < 0)
        return false;
    // 60 pixels along the arrow as the screen shows it.
    const double* c = dynamic_cast<TransformHandle*>(window->glWidget()->manipulator())->boxCenter();
    const QPoint a = screenOf(c[0] + t, c[1], c[2]);
    const QPoint along = screenOf(c[0] + t + 10.0, c[1], c[2]) - a;
    const double len = std::hypot(along.x(), along.y());
    if (len <= 0)
        return false;
    dragView(a, a + QPoint(int(60 * along.x() / len), int(60 * along.y() / len)));
    return true;
}

bool Road::rotateSphere() {
    auto* handle = dynamic_cast<TransformHandle*>(window->glWidget()->manipulator());
    if (!handle)
        return false;
    window->glWidget()->updateSelectionBox();
    const double start = M_PI / 6;
    const double radius = findManipulatorPart(11, std::cos(start), std::sin(start));
    if (radius < 0)
        return false;
    // Round the ring by 45 degrees in five moves.
    const double* c = handle->boxCenter();
    auto onRing = [&](double angle) {
        return screenOf(c[0] + radius * std::cos(angle), c[1] + radius * std::sin(angle), c[2]);
    };
    dragView(onRing(start), [&](int k) { return onRing(start + k * M_PI / 24); });
    return true;
}

bool Road::scaleSphereHalf() {
    window->toolButtons()[2]->click();
    auto* panel = window->findChild<ScaleDlg*>();
    if (!panel || panel->isHidden())
        return false;
    panel->tabs()->setCurrentIndex(1);
    QDoubleSpinBox* box = panel->factorBox(0);
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "50");
    QTest::keyClick(box, Qt::Key_Return);
    QPushButton* apply = nullptr;
    for (QPushButton* b : panel->findChildren<QPushButton*>())
        if (b->text() == "Apply")
            apply = b;
    if (!apply)
        return false;
    apply->click();
    QCoreApplication::processEvents();
    window->toolButtons()[2]->click();
    return panel->isHidden();
}

void Road::torusTop(double out[3]) {
    double lo[3], hi[3];
    torus->waitForBoxJobs();
    torus->readBox(lo, hi);
    const double tube = (hi[2] - lo[2]) / 2;
    out[0] = hi[0] - tube;
    out[1] = (lo[1] + hi[1]) / 2;
    out[2] = hi[2];
}

bool Road::hollowTorus() {
    // The support panel (still open in its delete mode) goes by its button.
    if (window->toolButtons()[4]->isChecked())
        window->toolButtons()[4]->click();
    double top[3];
    torusTop(top);
    window->glWidget()->updateGL();
    // Slightly inside the top edge as the view shows it.
    const QPoint at = screenOf(top[0], top[1], top[2] - 0.5);
    clickView(at);
    if (!torus->isSelected() || sphere->isSelected())
        return false;
    window->toolButtons()[3]->click();
    auto* panel = window->findChild<HollowDlg*>();
    if (!panel || panel->isHidden())
        return false;
    auto* offset = panel->findChild<QDoubleSpinBox*>("_dsbOffset");
    offset->setFocus();
    offset->selectAll();
    QTest::keyClicks(offset, "2");
    QTest::keyClick(offset, Qt::Key_Return);
    auto* makeHoles = panel->findChild<QCheckBox*>("_checkMakeHoles");
    if (!makeHoles->isChecked())
        makeHoles->click();
    if (window->glWidget()->mode() != ViewMode::PlaceHoles)
        return false;
    window->glWidget()->updateGL();
    clickView(at);
    if (!panel->context() || panel->context()->holes().size() != 1)
        return false;
    panel->findChild<QPushButton*>("_btnOk")->click();
    QCoreApplication::processEvents();
    for (ObjectEx* o : ObjectTable::instance()->objects())
        if (o != sphere)
            torus = o;
    return panel->isHidden();
}

bool Road::openSlicePreview() {
    window->toolButtons()[7]->click();
    auto* panel = window->findChild<ZSliceDlg*>();
    if (!panel || panel->isHidden())
        return false;
    return scenefixtures::runEventsUntil([&] { return std::isfinite(sliceHeight()); }, 60000);
}

double Road::sliceHeight() {
    auto* panel = window->findChild<ZSliceDlg*>();
    double shown = std::numeric_limits<double>::quiet_NaN();
    if (!panel || !panel->renderer())
        return shown;
    panel->renderer()->visitRecords(
        [&](const std::vector<SliceRender::Record>& records, double height) {
            for (const auto& r : records)
                if (r.contours)
                    shown = height;
        },
        false);
    return shown;
}

bool Road::moveSliceSlider(int value) {
    auto* panel = window->findChild<ZSliceDlg*>();
    if (!panel)
        return false;
    QSlider* slider = panel->slider();
    const double target = panel->lowestZ() + (panel->highestZ() - panel->lowestZ()) * value / 100.0;
    // A user drags the handle; the slider reports each value it passes.
    const int from = slider->value();
    const int to = slider->minimum() + (slider->maximum() - slider->minimum()) * value / 100;
    for (int k = 1; k <= 4; ++k)
        slider->setValue(from + (to - from) * k / 4);
    return scenefixtures::runEventsUntil(
        [&] {
            const double h = sliceHeight();
            return std::isfinite(h) && std::abs(h - target) <= panel->step() + 1e-6;
        },
        60000);
}

int Road::exportSphereGcode(const QString& gcodePath) {
    window->glWidget()->updateGL();
    clickView(screenBox(sphere).center());
    if (!sphere->isSelected())
        return -1;
    window->toolButtons()[6]->click();
    auto* panel = window->findChild<ExportDlg*>();
    if (!panel || panel->isHidden() || panel->profileCombo()->count() == 0)
        return -1;
    panel->selectedButton()->click();
    panel->profileCombo()->setCurrentIndex(0);
    bool ended = false;
    gcodeexport::GcodeExportResult result;
    QObject::connect(panel->exporter(), &gcodeexport::GcodeExport::finished, panel,
                     [&](const gcodeexport::GcodeExportResult& r) {
                         result = r;
                         ended = true;
                     });
    QPushButton* exportButton = nullptr;
    for (QPushButton* b : panel->findChildren<QPushButton*>())
        if (b->text() == "Export")
            exportButton = b;
    if (!exportButton)
        return -1;
    dialogs.saveAnswer = gcodePath;
    QPointer<QTimer> typing = typeIntoNextFileDialog(gcodePath);
    exportButton->click();
    delete typing.data();
    scenefixtures::runEventsUntil([&] { return ended; }, 300000);
    QObject::disconnect(panel->exporter(), &gcodeexport::GcodeExport::finished, panel, nullptr);
    return ended && result.success ? result.layerCount : -1;
}

void Road::triggerWithFileAnswer(const char* action, const QString& path) {
    dialogs.saveAnswer = path;
    dialogs.openAnswer = QStringList{path};
    QPointer<QTimer> typing = typeIntoNextFileDialog(path);
    window->findChild<QAction*>(action)->trigger();
    delete typing.data();
    QCoreApplication::processEvents();
}

bool Road::saveProject(const QString& path) {
    triggerWithFileAnswer("_menuFileSaveProj", path);
    return scenefixtures::runEventsUntil([&] { return QFileInfo(path).size() > 0; }, 120000);
}

bool Road::newProject() {
    window->findChild<QAction*>("_menuFileNew")->trigger();
    QCoreApplication::processEvents();
    sphere = torus = nullptr;
    return ObjectTable::instance()->count() == 0;
}

bool Road::openProject(const QString& path, int objects) {
    ObjectTable* table = ObjectTable::instance();
    triggerWithFileAnswer("_menuFileOpenProj", path);
    if (!scenefixtures::runEventsUntil([&] { return table->count() == objects && !table->importsRunning(); },
                                       120000))
        return false;
    for (ObjectEx* o : table->objects()) {
        o->waitForJobs();
        if (o->hasSupport())
            sphere = o;
        else
            torus = o;
    }
    return sphere && torus;
}

void Road::undo() {
    window->findChild<QAction*>("_menuEditUndo")->trigger();
    QCoreApplication::processEvents();
}

void Road::redo() {
    window->findChild<QAction*>("_menuEditRedo")->trigger();
    QCoreApplication::processEvents();
}

bool Road::generateSupports() {
    releaseKey(Qt::Key_G);
    return scenefixtures::runEventsUntil([&] { return liveCones(sphere) > 0; }, 60000);
}

int Road::enterSupportMode(int key, ViewMode mode) {
    releaseKey(key);
    if (window->glWidget()->mode() != mode)
        return -1;
    window->glWidget()->updateGL();
    return liveCones(sphere);
}

bool Road::addSupportPoint() {
    const int before = enterSupportMode(Qt::Key_A, ViewMode::AddSupport);
    if (before < 0)
        return false;
    // Down the sphere's left side, where the surface faces the viewer and
    // leans over the platform.
    const QRect box = screenBox(sphere);
    for (int step = 0; step < 8; ++step) {
        const QPoint p(box.left() + box.width() * 3 / 10, box.top() + box.height() * (50 + 5 * step) / 100);
        clickView(p);
        if (liveCones(sphere) > before)
            return true;
    }
    return false;
}

bool Road::deleteSupportPoint() {
    const int before = enterSupportMode(Qt::Key_D, ViewMode::DeleteSupport);
    if (before < 0)
        return false;
    support::ShapeDeque live;
    sphere->supportGenIfAny()->collectLiveShapes(live);
    for (support::AbtShape* s : live) {
        if (s->kind() != support::AbtShape::Kind::Cone)
            continue;
        const auto* cone = static_cast<const support::ConeShape*>(s);
        // Points down the trunk, from under the head to above the foot.
        for (int k = 3; k <= 7; ++k) {
            const double t = k / 10.0;
            const QPoint p = screenOf(cone->ContactPoint.x + t * (cone->FootPoint.x - cone->ContactPoint.x),
                                      cone->ContactPoint.y + t * (cone->FootPoint.y - cone->ContactPoint.y),
                                      cone->ContactPoint.z + t * (cone->FootPoint.z - cone->ContactPoint.z));
            hoverView(p);
            if (!sphere->pointedSupport())
                continue;
            clickView(p);
            return liveCones(sphere) == before - 1;
        }
    }
    return false;
}

} // namespace road

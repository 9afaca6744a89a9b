#include "Road.h"

#include "SceneFixtures.h"
#include "app/Constants.h"
#include "app/DataFolders.h"
#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "app/Startup.h"
#include "fileIo/FileHandlingFactory.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "support/AbtShape.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <cmath>

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
            else if (red > blue + 50 && green > blue + 30)
                ++c.support;
            else if (std::abs(red - green) < 12 && std::abs(green - blue) < 12 && red > 60 && red < 200)
                ++c.grey;
        }
    return c;
}

Road::Road(const QString& workDir) : _workDir(workDir) {
    spherePath = QDir(workDir).filePath("sphere.stl");
    torusPath = QDir(workDir).filePath("torus.stl");
}

Road::~Road() {
    if (window)
        window->setFileDialogProvider(nullptr);
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
    dataDir = getCommonAppDataDir();
    _logPath = openRunLog(dataDir, QDateTime::currentDateTime());
    writeSystemReport(platform::processorCount(), platform::totalPhysicalMemory());
    installMemoryCheck(hasEnoughMemory);
    fileIo::installFileHandlers();
    window->setApplication(qApp);
    window->setFileDialogProvider(&dialogs);
    window->resize(1200, 900);
    window->show();
    return QTest::qWaitForWindowExposed(window) && !_logPath.isEmpty();
}

bool Road::importModels() {
    dialogs.openAnswer = QStringList{spherePath, torusPath};
    ObjectTable* table = ObjectTable::instance();
    const int before = table->count();
    window->toolButtons()[0]->click();
    const bool done = scenefixtures::runEventsUntil(
        [&] {
            if (table->count() != before + 2 || table->importsRunning())
                return false;
            for (ObjectEx* o : table->objects())
                if (!o->isLoaded())
                    return false;
            return true;
        },
        120000);
    if (!done)
        return false;
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

int Road::enterSupportMode(int key, int mode) {
    releaseKey(key);
    if (window->glWidget()->mode() != mode)
        return -1;
    window->glWidget()->updateGL();
    return liveCones(sphere);
}

bool Road::addSupportPoint() {
    const int before = enterSupportMode(Qt::Key_A, 6);
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
    const int before = enterSupportMode(Qt::Key_D, 5);
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

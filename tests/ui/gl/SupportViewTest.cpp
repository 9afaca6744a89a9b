// The support panel with the real 3D view under the virtual X server:
// Generate lifts the model and the supports appear between it and the
// platform; in add mode a click on the model's underside adds one cone
// there, in delete mode a click on that cone deletes it with its links, each
// as one command that undoes and redoes exactly.
#include "MeshFixtures.h"

#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "scene/SupportCommands.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "ui/SupportDlg.h"
#include "view/MainGLWidget.h"

#include <QApplication>
#include <QGLContext>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class WindowStandIn : public BasicSceneHost, public ViewHost {
public:
    MainGLWidget* view = nullptr;
    bool unprojectScreenPoint(const QPoint& p, double depth, double out[3]) override {
        view->unprojectScreenPoint(p, out, depth >= 0, depth);
        return true;
    }
    void viewAxis(double out[3]) override { view->viewAxis(out); }
    void updateGLView() override { view->update(); }
    void pushAddConeSupportCmd() override { pushCommand(new AddConeSupportCmd(), false); }
    void pushDeleteConeSupportCmd() override { pushCommand(new DeleteConeSupportCmd(), false); }
};

// Pixels of the region in the supports' colour (yellow, even when blended
// over the background): red and green well above blue.
double supportFraction(const QImage& image, const QRect& region) {
    int n = 0, hit = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            ++n;
            hit += c.red() > c.blue() + 25 && c.green() > c.blue() + 15 ? 1 : 0;
        }
    return n ? double(hit) / n : 0.0;
}

int liveCones(const support::SupportGen& gen) {
    support::ShapeDeque live;
    gen.collectLiveShapes(live);
    int n = 0;
    for (support::AbtShape* s : live)
        n += s->asCone() ? 1 : 0;
    return n;
}

class SupportView : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qApp, nullptr);
        m_previousData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        view = new MainGLWidget(new QGLContext(QGLFormat()));
        view->resize(800, 600);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
        host.view = view;
        setSceneHost(&host);
        view->setViewHost(&host);
        ObjectTable::instance()->deleteAllObjects();
        cube = new ObjectEx();
        meshfixtures::fillMesh(*cube, meshfixtures::cube(20.0));
        cube->rebuildOctree();
        cube->setLoaded(true);
        ObjectTable::instance()->addObject(cube);
        cube->setSelected(true);
        dlg.setGLWidget(view);
    }
    void TearDown() override {
        host.commandManager()->clear();
        ObjectTable::instance()->deleteAllObjects();
        setSceneHost(nullptr);
        delete view;
        qputenv("XDG_DATA_HOME", m_previousData);
    }
    QImage frame() {
        view->updateGL();
        return view->grabFrameBuffer();
    }
    QPoint screenOf(double x, double y, double z) const {
        const double p[3] = {x, y, z};
        int s[2];
        view->projectToScreen(p, s);
        return QPoint(s[0], s[1]);
    }
    void move(const QPoint& p) {
        QMouseEvent e(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &e);
    }
    void click(const QPoint& p) {
        move(p);
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, p);
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, p);
    }

    WindowStandIn host;
    MainGLWidget* view = nullptr;
    ObjectEx* cube = nullptr;
    SupportDlg dlg;

private:
    QTemporaryDir m_data;
    QByteArray m_previousData;
};

TEST_F(SupportView, generatedSupportsShowBetweenTheLiftedModelAndThePlatform) {
    view->resetView();
    view->setStandardView(3); // the front, looking along +y
    frame();
    // The band under the lifted model: from just above the platform to just
    // below the model's underside at z = 5, across the model's width.
    const QRect band(screenOf(1.0, 0.0, 4.0), screenOf(19.0, 0.0, 1.0));
    ASSERT_GT(band.width(), 20);
    ASSERT_GT(band.height(), 5);
    const double before = supportFraction(frame(), band);

    dlg.findChild<QPushButton*>("_btnGenerate")->click();
    ASSERT_EQ(host.commandManager()->undoCount(), 1u);
    const QImage shot = frame();
    if (qEnvironmentVariableIsSet("VELAR_TEST_SHOTS"))
        shot.save(qEnvironmentVariable("VELAR_TEST_SHOTS") + "/supports.png");
    const double after = supportFraction(shot, band);
    EXPECT_LT(before, 0.02);
    EXPECT_GT(after, 0.15);
    // The model itself now starts above the band.
    const QRect model(screenOf(5.0, 0.0, 20.0), screenOf(15.0, 0.0, 8.0));
    EXPECT_LT(supportFraction(shot, model), 0.02);

    // Undo takes model and supports back down: no support colour remains.
    ASSERT_TRUE(host.commandManager()->undo());
    EXPECT_LT(supportFraction(frame(), band), 0.02);
}

TEST_F(SupportView, clicksInAddAndDeleteModesAreOneCommandEach) {
    dlg.findChild<QPushButton*>("_btnGenerate")->click();
    const std::shared_ptr<support::SupportGen> gen = cube->supportGenIfAny();
    ASSERT_TRUE(gen);
    const int cones = liveCones(*gen);
    view->resetView();
    view->setStandardView(5); // from below
    frame();

    // Add: a click on the underside, away from the generated cones' tips.
    dlg.activateAddItem();
    ASSERT_EQ(view->mode(), ViewMode::AddSupport);
    const QPoint at = screenOf(3.0, 16.5, 5.0);
    click(at);
    ASSERT_EQ(host.commandManager()->undoCount(), 2u);
    auto* add = dynamic_cast<const AddConeSupportCmd*>(host.commandManager()->undoTop());
    ASSERT_NE(add, nullptr);
    support::ConeShape* cone = add->addedSupport()->shapes.front()->asCone();
    ASSERT_NE(cone, nullptr);
    EXPECT_NEAR(cone->HeadEnd.x, 3.0, 0.5);
    EXPECT_NEAR(cone->HeadEnd.y, 16.5, 0.5);
    EXPECT_EQ(liveCones(*gen), cones + 1);
    ASSERT_TRUE(host.commandManager()->undo());
    EXPECT_EQ(liveCones(*gen), cones);
    ASSERT_TRUE(host.commandManager()->redo());
    EXPECT_EQ(liveCones(*gen), cones + 1);

    // Delete: hovering the new cone points at it, the click deletes it and
    // its links.
    dlg.activateDeleteItem();
    ASSERT_EQ(view->mode(), ViewMode::DeleteSupport);
    frame();
    move(at);
    EXPECT_EQ(cube->pointedSupport(), cone);
    const std::vector<support::AbtShape*> coneLinks = cone->links;
    click(at);
    ASSERT_EQ(host.commandManager()->undoCount(), 3u);
    auto* del = dynamic_cast<const DeleteConeSupportCmd*>(host.commandManager()->undoTop());
    ASSERT_NE(del, nullptr);
    EXPECT_TRUE(cone->isDeleted());
    for (support::AbtShape* l : coneLinks)
        EXPECT_TRUE(l->isDeleted());
    EXPECT_EQ(del->changedShapes().size(), 1u + coneLinks.size());
    EXPECT_EQ(liveCones(*gen), cones);
    ASSERT_TRUE(host.commandManager()->undo());
    EXPECT_FALSE(cone->isDeleted());
    for (support::AbtShape* l : cone->links)
        EXPECT_FALSE(l->isDeleted());
    ASSERT_TRUE(host.commandManager()->redo());
    EXPECT_TRUE(cone->isDeleted());
    frame(); // draws with the deleted cone left out
}

} // namespace

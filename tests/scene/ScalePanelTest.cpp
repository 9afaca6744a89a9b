// The orientation and scale panels driven as a user drives them: typed
// values, the Maintain ratio link, tabs, Apply / Reset / Fit, hiding, and the
// undo history they leave.
#include "SceneTestHost.h"
#include "scene/OrientateDlg.h"
#include "scene/ScaleDlg.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTabWidget>

#include <cmath>

#include "topolib/Matrix4D.h"

namespace {

// Where the pending transform puts a point.
std::array<double, 3> apply(const topolib::Matrix4D& m, const std::array<double, 3>& p) {
    std::array<double, 3> out{};
    for (int r = 0; r < 3; ++r)
        out[r] = m.at(r, 0) * p[0] + m.at(r, 1) * p[1] + m.at(r, 2) * p[2] + m.at(r, 3);
    return out;
}

// The previewed box size (the pending transform applied to both corners).
std::array<double, 3> previewSize(const ObjectEx* obj) {
    double min[3], max[3];
    EXPECT_TRUE(obj->readBox(min, max));
    const auto a = apply(obj->transform(), {min[0], min[1], min[2]});
    const auto b = apply(obj->transform(), {max[0], max[1], max[2]});
    return {std::fabs(b[0] - a[0]), std::fabs(b[1] - a[1]), std::fabs(b[2] - a[2])};
}

void expectSize(const std::array<double, 3>& got, const std::array<double, 3>& want) {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-9) << "axis " << i;
}

void click(QWidget* panel, const char* name) {
    panel->findChild<QPushButton*>(name)->click();
}

} // namespace

TEST_F(SceneTest, scalePanelFollowsTheExamples) {
    ObjectEx* obj = addMesh(meshfixtures::box({10, 5, 2}, {3, 4, 0}));
    ScaleDlg panel;
    panel.refreshFields();
    ASSERT_EQ(panel.tabs()->currentIndex(), 1); // opens on "Factor"
    EXPECT_EQ(panel.tabs()->tabText(0), "Size");
    EXPECT_EQ(panel.factorBox(0)->value(), 100.0);
    EXPECT_EQ(panel.sizeBox(1)->value(), 5.0);

    // Maintain ratio: 50 into X sets Y and Z and previews half the size about
    // the box centre.
    panel.factorBox(0)->setValue(50);
    EXPECT_EQ(panel.factorBox(1)->value(), 50.0);
    EXPECT_EQ(panel.factorBox(2)->value(), 50.0);
    expectSize(previewSize(obj), {5, 2.5, 1});
    // About the centre of its footprint: it rests on the platform.
    const auto foot = apply(obj->transform(), {8, 6.5, 0});
    expectSize(foot, {8, 6.5, 0});
    // Without it, 80 into Y changes only Y.
    panel.uniformCheck()->setChecked(false);
    panel.factorBox(1)->setValue(80);
    EXPECT_EQ(panel.factorBox(0)->value(), 50.0);
    EXPECT_EQ(panel.factorBox(2)->value(), 50.0);
    expectSize(previewSize(obj), {5, 4, 1});

    // Switching tabs drops the preview; on "Size" with the link, 20 into X of a
    // (10, 5, 2) box gives Y 10 and Z 4.
    panel.tabs()->setCurrentIndex(0);
    expectSize(previewSize(obj), {10, 5, 2});
    panel.uniformCheck()->setChecked(true);
    panel.sizeBox(0)->setValue(20);
    EXPECT_NEAR(panel.sizeBox(1)->value(), 10.0, 1e-9);
    EXPECT_NEAR(panel.sizeBox(2)->value(), 4.0, 1e-9);
    expectSize(previewSize(obj), {20, 10, 4});

    // Apply is one undoable rescale; the panel then shows 200 %.
    const Snapshot before = snapshot();
    const size_t undoBefore = commands()->undoCount();
    click(&panel, "_btnApply");
    EXPECT_EQ(commands()->undoCount(), undoBefore + 1);
    ASSERT_NE(dynamic_cast<const RescaleCmd*>(commands()->undoTop()), nullptr);
    double min[3], max[3];
    ASSERT_TRUE(obj->readBox(min, max));
    EXPECT_NEAR(max[0] - min[0], 20.0, 1e-9);
    panel.tabs()->setCurrentIndex(1);
    EXPECT_NEAR(panel.factorBox(0)->value(), 200.0, 1e-9);
    // 100 previews it back at its load-time size; Reset does the same.
    panel.factorBox(0)->setValue(100);
    expectSize(previewSize(obj), {10, 5, 2});
    panel.factorBox(0)->setValue(150);
    click(&panel, "_btnReset");
    EXPECT_EQ(panel.factorBox(2)->value(), 100.0);
    expectSize(previewSize(obj), {10, 5, 2});
    // Hiding the panel drops the unapplied preview.
    panel.factorBox(0)->setValue(30);
    panel.show();
    panel.hide();
    expectSize(previewSize(obj), {20, 10, 4});
    ASSERT_TRUE(commands()->undo());
    EXPECT_LE(difference(before, snapshot()), 1e-9);

    // A changed selection drops the preview too; Apply without a selection
    // changes nothing and records nothing.
    panel.factorBox(0)->setValue(60);
    panel.selectionChanged(); // the same selection keeps it
    expectSize(previewSize(obj), {6, 3, 1.2});
    table()->selectAll(false);
    panel.selectionChanged();
    expectSize(previewSize(obj), {10, 5, 2});
    const size_t undoEmpty = commands()->undoCount();
    table()->setModified(false);
    click(&panel, "_btnApply");
    EXPECT_EQ(commands()->undoCount(), undoEmpty);
    EXPECT_FALSE(table()->isModified());
    expectSize(previewSize(obj), {10, 5, 2});
}

TEST_F(SceneTest, flatAxisKeepsFactorOne) {
    // A single facet: no extent in z.
    ObjectEx* obj = addMesh(meshfixtures::singleFacet(10.0));
    ScaleDlg panel;
    panel.refreshFields();
    EXPECT_FALSE(panel.factorBox(2)->isEnabled());
    EXPECT_FALSE(panel.sizeBox(2)->isEnabled());
    EXPECT_TRUE(panel.factorBox(0)->isEnabled());
    panel.factorBox(0)->setValue(300);
    for (double v : obj->transform().m)
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(obj->transform().at(2, 2), 1.0, 0.0);
    panel.tabs()->setCurrentIndex(0);
    panel.sizeBox(1)->setValue(40);
    click(&panel, "_btnApply");
    for (const auto& p : scenefixtures::vertexPositions(*obj))
        for (double x : p)
            ASSERT_TRUE(std::isfinite(x));
    double min[3], max[3];
    ASSERT_TRUE(obj->readBox(min, max));
    EXPECT_NEAR(max[0] - min[0], 40.0, 1e-9);
    EXPECT_EQ(max[2] - min[2], 0.0);
    click(&panel, "_btnFitPlatform");
    ASSERT_TRUE(obj->readBox(min, max));
    EXPECT_NEAR(max[0] - min[0], 120.0, 1e-6);
}

// Fit To Platform is one step of the history like Apply: undoing it, and then
// the scale before it, gives back every vertex the user had, and redo the
// fitted ones. A selection resting on the platform still rests on it after
// the fit; a raised one ends 5 mm above it.
TEST_F(SceneTest, fitAndApplyUndoStepByStepToTheVerticesTheUserHad) {
    struct Case {
        double factor; // applied before the fit, in %
        double z;      // lowest point before
        double fitted; // the fitted cube's edge (130 x 130 x 180 less 5 mm margins)
        double lowest; // lowest point after the fit
    };
    for (const Case& c : {Case{200, 0, 120, 0}, Case{50, 0, 120, 0}, Case{150, 3, 120, 5}}) {
        SCOPED_TRACE(c.factor);
        commands()->clear();
        table()->deleteAllObjects();
        ObjectEx* obj = addMesh(meshfixtures::cube(10.0, {20, 30, c.z}));
        ScaleDlg panel;
        panel.refreshFields();
        const Snapshot loaded = snapshot();
        panel.factorBox(0)->setValue(c.factor);
        click(&panel, "_btnApply");
        const Snapshot scaled = snapshot();
        click(&panel, "_btnFitPlatform");
        ASSERT_EQ(commands()->undoCount(), 2u);
        double min[3], max[3];
        ASSERT_TRUE(obj->readBox(min, max));
        expectSize({max[0] - min[0], max[1] - min[1], max[2] - min[2]}, {c.fitted, c.fitted, c.fitted});
        expectSize({(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, min[2]}, {65, 65, c.lowest});
        const Snapshot fitted = snapshot();

        ASSERT_TRUE(commands()->undo());
        EXPECT_LE(difference(scaled, snapshot()), 1e-9);
        ASSERT_TRUE(commands()->undo());
        EXPECT_LE(difference(loaded, snapshot()), 1e-9);
        ASSERT_TRUE(commands()->redo());
        EXPECT_LE(difference(scaled, snapshot()), 1e-9);
        ASSERT_TRUE(commands()->redo());
        EXPECT_LE(difference(fitted, snapshot()), 1e-9);
    }
}

// With "Maintain ratio" the object is scaled by one factor, the one the
// changed box asks for on its axis, whatever its box looks like: a cube
// turned by 70 degrees stays a cube, and a turn changes no scale (it still
// reads 100 % on every axis). Every distance between two vertices then
// scales by that factor.
TEST_F(SceneTest, maintainRatioScalesByOneFactorAfterARotation) {
    ObjectEx* obj = addMesh(meshfixtures::cube(10.0, {40, 40, 0}));
    const double angle = 70.0 * M_PI / 180.0;
    const double centre[3] = {45, 45, 5}, up[3] = {0, 0, 1};
    topolib::Matrix4D turn;
    topolib::makeAxisRotationMatrix(&angle, centre, up, turn);
    obj->setTransform(turn);
    ASSERT_TRUE(sceneHost()->pushCommand(new RoateCmd(), false));
    const double turned = 10.0 * (std::cos(angle) + std::sin(angle)); // its box in x and y

    struct Case {
        int tab, axis;
        double value;
        double factor; // expected, from the changed axis alone
    };
    for (const Case& c :
         {Case{1, 0, 50, 0.5}, Case{1, 2, 50, 0.5}, Case{0, 2, 5.0, 0.5}, Case{0, 1, 30.0, 30.0 / turned}}) {
        SCOPED_TRACE(testing::Message() << "tab " << c.tab << " axis " << c.axis);
        ScaleDlg panel;
        panel.tabs()->setCurrentIndex(c.tab);
        panel.refreshFields();
        ASSERT_TRUE(panel.uniformCheck()->isChecked());
        const auto before = scenefixtures::vertexPositions(*obj);
        (c.tab == 0 ? panel.sizeBox(c.axis) : panel.factorBox(c.axis))->setValue(c.value);
        click(&panel, "_btnApply");
        const auto after = scenefixtures::vertexPositions(*obj);
        ASSERT_EQ(before.size(), after.size());
        for (size_t i = 1; i < before.size(); ++i) {
            const double d0 = std::hypot(before[i][0] - before[0][0], before[i][1] - before[0][1],
                                         before[i][2] - before[0][2]);
            const double d1 =
                std::hypot(after[i][0] - after[0][0], after[i][1] - after[0][1], after[i][2] - after[0][2]);
            EXPECT_NEAR(d1, d0 * c.factor, 1e-9) << "vertex " << i;
        }
        ASSERT_TRUE(commands()->undo());
    }
}

// The boxes show values rounded, but the panel keeps what was typed or linked
// at full precision, and an axis nobody changed keeps its size to the last
// bit; sizes far outside 0.1 to 999 mm are accepted.
TEST_F(SceneTest, axesTheUserDidNotChangeKeepTheirSizeExactly) {
    ObjectEx* obj = addMesh(meshfixtures::box({1200, 6, 3}));
    auto sizes = [&] {
        double min[3], max[3];
        EXPECT_TRUE(obj->readBox(min, max));
        return std::array<double, 3>{max[0] - min[0], max[1] - min[1], max[2] - min[2]};
    };
    ScaleDlg panel;
    panel.uniformCheck()->setChecked(false);
    // {tab, axis, value, sizes after Apply (0: the axis must keep its size exactly)}
    struct Step {
        int tab, axis;
        double value;
        std::array<double, 3> want;
    };
    const Step steps[] = {
        {0, 1, 17.0, {0, 17, 0}},               // Y only: X is not clamped to 999
        {1, 2, 200.0, {0, 0, 6}},               // 17 mm shows 283 %, and stays 17 mm
        {0, 1, 0.001, {0, 0.001, 0}},           // far below 0.1 mm
        {0, 2, 250000.125, {0, 0, 250000.125}}, // far above 999 mm
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "tab " << s.tab << " axis " << s.axis << " value " << s.value);
        panel.tabs()->setCurrentIndex(s.tab);
        panel.refreshFields();
        const auto before = sizes();
        (s.tab == 0 ? panel.sizeBox(s.axis) : panel.factorBox(s.axis))->setValue(s.value);
        click(&panel, "_btnApply");
        const auto after = sizes();
        for (int k = 0; k < 3; ++k) {
            if (s.want[k] == 0.0)
                EXPECT_EQ(after[k], before[k]) << "axis " << k;
            else
                EXPECT_NEAR(after[k], s.want[k], 1e-9 * s.want[k]) << "axis " << k;
        }
    }
    // Linked by the ratio, Y shows the smallest size the box has, yet gets
    // exactly the factor X asks for, as every other axis.
    panel.tabs()->setCurrentIndex(0);
    panel.refreshFields();
    const auto before = sizes();
    panel.uniformCheck()->setChecked(true);
    panel.sizeBox(0)->setValue(1000.0);
    EXPECT_EQ(panel.sizeBox(1)->text(), QStringLiteral("0.001"));
    click(&panel, "_btnApply");
    const auto after = sizes();
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(after[k], before[k] * 1000.0 / 1200.0, 1e-12 * before[k]) << "axis " << k;
}

// Scaling an object that rests on the platform leaves it resting there;
// scaling never leaves any part of an object below the platform; a raised
// object is scaled about the centre of its box.
TEST_F(SceneTest, scalingKeepsRestingObjectsOnThePlatformAndNothingBelowIt) {
    struct Case {
        const char* what;
        double edge, z; // the cube and its lowest point
        int tab;
        double value;  // typed into X (ratio kept)
        double lowest; // after Apply
    };
    const Case cases[] = {
        {"half of a resting cube", 10, 0, 1, 50, 0},
        {"a 2 mm resting cube to 60 mm", 2, 0, 0, 60, 0},
        {"a raised 2 mm cube to 60 mm", 2, 1, 0, 60, 0},
        {"half of a raised cube", 10, 20, 1, 50, 22.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        commands()->clear();
        table()->deleteAllObjects();
        ObjectEx* obj = addMesh(meshfixtures::cube(c.edge, {10, 10, c.z}));
        ScaleDlg panel;
        panel.tabs()->setCurrentIndex(c.tab);
        panel.refreshFields();
        (c.tab == 0 ? panel.sizeBox(0) : panel.factorBox(0))->setValue(c.value);
        click(&panel, "_btnApply");
        double min[3], max[3];
        ASSERT_TRUE(obj->readBox(min, max));
        EXPECT_NEAR(min[2], c.lowest, 1e-12);
        EXPECT_GE(min[2], 0.0);
    }
}

TEST_F(SceneTest, orientationPanelPushesOneMovePerButton) {
    ObjectEx* obj = addMesh(meshfixtures::cube(10.0, {-40, 20, 7}));
    OrientateDlg panel;
    EXPECT_FALSE(panel.findChild<QPushButton*>("_btnAuto")->isEnabled());
    struct Step {
        const char* button;
        std::array<double, 3> min;
    };
    const Step steps[] = {
        {"_btnPlatform", {-40, 20, 0}},
        {"_btnCenter", {60, 60, 0}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.button);
        const size_t undo = commands()->undoCount();
        click(&panel, s.button);
        ASSERT_EQ(commands()->undoCount(), undo + 1);
        EXPECT_NE(dynamic_cast<const TranslateCmd*>(commands()->undoTop()), nullptr);
        double min[3], max[3];
        ASSERT_TRUE(obj->readBox(min, max));
        expectSize({min[0], min[1], min[2]}, s.min);
    }
    ASSERT_TRUE(commands()->undo());
    ASSERT_TRUE(commands()->undo());
    double min[3], max[3];
    ASSERT_TRUE(obj->readBox(min, max));
    expectSize({min[0], min[1], min[2]}, {-40, 20, 7});
    bool closed = false;
    QObject::connect(&panel, &OrientateDlg::closeRequested, [&] { closed = true; });
    panel.show();
    click(&panel, "_btnClose");
    EXPECT_TRUE(closed);
    EXPECT_FALSE(panel.isVisible());
}

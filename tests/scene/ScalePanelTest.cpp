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
    const auto centre = apply(obj->transform(), {8, 6.5, 1});
    expectSize(centre, {8, 6.5, 1});
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
    // still records a (empty) command.
    panel.factorBox(0)->setValue(60);
    panel.selectionChanged(); // the same selection keeps it
    expectSize(previewSize(obj), {6, 3, 1.2});
    table()->selectAll(false);
    panel.selectionChanged();
    expectSize(previewSize(obj), {10, 5, 2});
    const size_t undoEmpty = commands()->undoCount();
    click(&panel, "_btnApply");
    EXPECT_EQ(commands()->undoCount(), undoEmpty + 1);
    expectSize(previewSize(obj), {10, 5, 2});
}

TEST_F(SceneTest, flatAxisKeepsFactorOneAndFitLeavesNoUndoStep) {
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

    // Fit To Platform changes the mesh directly, with no undo step.
    const size_t undo = commands()->undoCount();
    int about = 0, changed = 0;
    QObject::connect(&panel, &ScaleDlg::meshesAboutToChange, [&] { ++about; });
    QObject::connect(&panel, &ScaleDlg::meshesChanged, [&] { ++changed; });
    click(&panel, "_btnFitPlatform");
    EXPECT_EQ(commands()->undoCount(), undo);
    EXPECT_EQ(about, 1);
    EXPECT_EQ(changed, 1);
    ASSERT_TRUE(obj->readBox(min, max));
    EXPECT_NEAR(max[0] - min[0], 120.0, 1e-6);
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

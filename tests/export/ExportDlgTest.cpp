// The export panel: its lists follow the application folder and the stored
// choices, and "Export" hands a run to the exporter and closes the panel.
#include "ExportFixtures.h"

#include "app/Settings.h"
#include "export/ExportDlg.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"

#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace exporttest;

TEST(ExportDlg, listsFollowTheFoldersAndExportClosesThePanel) {
    ObjectTable::instance()->deleteAllObjects();
    QTemporaryDir app, out;
    QDir(app.path()).mkpath("profile");
    QDir(app.path()).mkpath("calib");
    QDir(app.path()).mkpath("profile/folder.vfg"); // folders are not profiles
    writeTextFile(app.path() + "/profile/coarse.vfg", "layer_height=0.1\n");
    writeTextFile(app.path() + "/profile/fine.vfg", "layer_height=0.05\n");
    writeTextFile(app.path() + "/profile/readme.txt", "x=1\n");
    writeTextFile(app.path() + "/calib/tarn.vcp", "Xval 0 0 Yval 0 0\n");
    setGeneralInt(GENERAL_CURA_ENGINE_PROFILE_INDEX, 1);
    setGeneralInt(GENERAL_CALIB_PROFILE_INDEX, 0);

    ExportDlg dlg;
    dlg.setApplicationDir(app.path());
    dlg.loadProfileList();
    dlg.loadCalibrationList();
    QStringList profiles;
    for (int i = 0; i < dlg.profileCombo()->count(); ++i)
        profiles << dlg.profileCombo()->itemText(i);
    profiles.sort();
    EXPECT_EQ(profiles, (QStringList{"coarse", "fine"}));
    EXPECT_EQ(dlg.profileCombo()->currentIndex(), 1);
    ASSERT_EQ(dlg.calibrationCombo()->count(), 2);
    EXPECT_EQ(dlg.calibrationCombo()->itemText(0), "None");
    EXPECT_EQ(dlg.calibrationCombo()->itemText(1), "tarn");
    EXPECT_TRUE(dlg.selectedButton()->isChecked());
    EXPECT_EQ(dlg.panelWidth, VlrBaseWidget::scaledToTextUnit(240));
    EXPECT_EQ(dlg.panelHeight, VlrBaseWidget::scaledToTextUnit(341));
    // A stored index beyond the list selects the first entry.
    setGeneralInt(GENERAL_CALIB_PROFILE_INDEX, 5);
    dlg.loadCalibrationList();
    EXPECT_EQ(dlg.calibrationCombo()->currentIndex(), 0);

    QTemporaryDir scripts;
    const QString slicer = scripts.path() + "/CuraEngine";
    writeScript(slicer, "prev=''\nfor a in \"$@\"; do [ \"$prev\" = -o ] && out=\"$a\"; prev=\"$a\"; done\n"
                        "printf ';LAYER_COUNT:1\\n;LAYER:0\\n;End of Gcode\\n' > \"$out\"\n");
    SlicerOverride override(slicer);
    QStringList messages;
    dlg.exporter()->setMessageHandler([&messages](const QString& text) { messages << text; });

    // "Selected" with nothing selected: refused, the panel stays.
    ObjectEx* obj = addSceneObject(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    obj->setSelected(false);
    dlg.show();
    QSignalSpy closed(&dlg, &ExportDlg::panelClosed);
    QSignalSpy starting(&dlg, &ExportDlg::exportStarting);
    EXPECT_FALSE(dlg.exportTo(out.path() + "/a.gcode"));
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(closed.count(), 0);

    // "All" with the calibration chosen: the run starts, the panel closes and
    // both choices are stored.
    dlg.allButton()->setChecked(true);
    dlg.calibrationCombo()->setCurrentIndex(1);
    dlg.profileCombo()->setCurrentIndex(0);
    QEventLoop loop;
    QObject::connect(dlg.exporter(), &gcodeexport::GcodeExport::finished, &loop, &QEventLoop::quit);
    ASSERT_TRUE(dlg.exportTo(out.path() + "/a.gcode"));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(starting.count(), 2);
    EXPECT_EQ(getGeneralInt(GENERAL_CURA_ENGINE_PROFILE_INDEX, -1), 0);
    EXPECT_EQ(getGeneralInt(GENERAL_CALIB_PROFILE_INDEX, -1), 1);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(dlg.exporter()->lastResult().success) << dlg.exporter()->lastResult().message.toStdString();
    EXPECT_TRUE(readFileBytes(out.path() + "/a.gcode").startsWith(";LAYER_COUNT:1"));
    EXPECT_EQ(messages.size(), 1);

    // Closed by its own close button, the panel tells the window as well, so
    // that the tool button does not stay checked beside a hidden panel.
    dlg.show();
    QPushButton* closeButton = dlg.findChild<QPushButton*>("_btnClose");
    ASSERT_NE(closeButton, nullptr);
    closeButton->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(closed.count(), 2);
    ObjectTable::instance()->deleteAllObjects();
}

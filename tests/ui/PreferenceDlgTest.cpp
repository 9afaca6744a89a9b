// The printer preferences and the About box as the user meets them: the
// stored printer selects the model and sizes, OK stores them and changes the
// view's platform at once, Cancel stores nothing; the About box's texts.
#include "ui/PreferenceDlg.h"
#include "app/Constants.h"
#include "app/Settings.h"
#include "ui/AboutDlg.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <functional>

#include <gtest/gtest.h>

namespace {

void storeCustom(double x, double y, double z) {
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, x);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Y, y);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Z, z);
}

std::array<double, 3> shown(const PreferenceDlg& dlg) {
    return {dlg.sizeBox(0)->value(), dlg.sizeBox(1)->value(), dlg.sizeBox(2)->value()};
}

// File > Preferences... of the window, its modal dialog driven by use.
void throughPreferencesMenu(MainWindow* window, const std::function<void(PreferenceDlg&)>& use) {
    bool used = false;
    QTimer::singleShot(0, window, [&] {
        if (auto* dlg = window->findChild<PreferenceDlg*>()) {
            used = true;
            use(*dlg);
            if (dlg->isVisible())
                dlg->reject();
        }
    });
    window->findChild<QAction*>("_menuFilePreferences")->trigger();
    EXPECT_TRUE(used);
}

} // namespace

TEST(PreferenceDlg, storedPrinterSelectsModelAndSizes) {
    struct Case {
        int stored;
        int index;
        std::array<double, 3> sizes;
        bool editable;
    };
    const Case cases[] = {
        {0, 0, {130, 130, 180}, false},
        {1, 1, {200, 200, 250}, false},
        {2, 2, {150.5, 99, 320}, true},
        {7, 0, {130, 130, 180}, false}, // a damaged setting falls back to the first model
    };
    storeCustom(150.5, 99, 320);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        setGeneralInt(GENERAL_CURRENT_PRINTER, c.stored);
        PreferenceDlg dlg;
        dlg.initPrinterList();
        ASSERT_EQ(dlg.printerCombo()->count(), 3);
        EXPECT_EQ(dlg.printerCombo()->itemText(0), "Tarn");
        EXPECT_EQ(dlg.printerCombo()->itemText(1), "Tarn 200");
        EXPECT_EQ(dlg.printerCombo()->itemText(2), "Custom");
        EXPECT_EQ(dlg.printerCombo()->currentIndex(), c.index);
        EXPECT_EQ(shown(dlg), c.sizes);
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_EQ(dlg.sizeBox(axis)->isReadOnly(), !c.editable);
    }
    // The size boxes keep a usable range.
    PreferenceDlg dlg;
    dlg.sizeBox(0)->setValue(2.0);
    dlg.sizeBox(1)->setValue(5000.0);
    EXPECT_EQ(dlg.sizeBox(0)->value(), 10.0);
    EXPECT_EQ(dlg.sizeBox(1)->value(), 999.0);
    EXPECT_EQ(dlg.windowTitle(), "Preferences");
}

TEST(PreferenceDlg, okStoresAndAppliesCancelStoresNothing) {
    MainWindow* window = MainWindow::instance();
    setGeneralInt(GENERAL_CURRENT_PRINTER, 2);
    storeCustom(111, 122, 133);

    // Cancel after choosing another model and editing: nothing changes.
    throughPreferencesMenu(window, [](PreferenceDlg& dlg) {
        dlg.sizeBox(0)->setValue(140);
        dlg.printerCombo()->setCurrentIndex(1);
        dlg.findChild<QPushButton*>("_btnCancel")->click();
        EXPECT_EQ(getGeneralInt(GENERAL_CURRENT_PRINTER, -1), 2);
        EXPECT_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, 0), 111.0);
        EXPECT_EQ(dlg.printerCombo()->currentIndex(), 1); // the combo is not stored
        EXPECT_EQ(shown(dlg), (std::array<double, 3>{111, 122, 133}));
    });
    // A fixed model with OK overwrites the custom sizes and moves the platform.
    throughPreferencesMenu(window, [](PreferenceDlg& dlg) {
        dlg.printerCombo()->setCurrentIndex(1);
        dlg.findChild<QPushButton*>("_btnOk")->click();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    });
    EXPECT_EQ(getGeneralInt(GENERAL_CURRENT_PRINTER, -1), 1);
    EXPECT_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Y, 0), 200.0);
    double volume[3] = {0, 0, 0};
    window->glWidget()->getBuildVolume(volume);
    EXPECT_EQ(volume[0], 200.0);
    EXPECT_EQ(volume[2], 250.0);
    // ... so a later switch to Custom starts from them; edited sizes are applied.
    throughPreferencesMenu(window, [](PreferenceDlg& dlg) {
        dlg.printerCombo()->setCurrentIndex(2);
        EXPECT_EQ(shown(dlg), (std::array<double, 3>{200, 200, 250}));
        dlg.sizeBox(2)->setValue(300.25);
        dlg.findChild<QPushButton*>("_btnOk")->click();
    });
    window->glWidget()->getBuildVolume(volume);
    EXPECT_EQ(volume[2], 300.25);
    EXPECT_EQ(getGeneralInt(GENERAL_CURRENT_PRINTER, -1), 2);
    EXPECT_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Z, 0), 300.25);
    // The window is shared with later tests of this process.
    window->applyBuildVolume(130.0, 130.0, 180.0);
    setGeneralInt(GENERAL_CURRENT_PRINTER, 0);
}

TEST(AboutDlg, showsNameVersionAndSlicerNotice) {
    AboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Velar3D");
    auto text = [&](const char* name) {
        auto* label = about.findChild<QLabel*>(name);
        return label ? label->text() : QString("<missing>");
    };
    EXPECT_EQ(text("_lbInfo_2"), "\n Velar, a 3D printing software  by Norvane");
    EXPECT_EQ(text("_labelVersion"), "\nVersion " + APP_VERSION);
    EXPECT_EQ(text("label_3"),
              "GCode generation is provided by Ultimaker CuraEngine. CuraEngine is released under "
              "terms of the AGPLv3 License.");
    EXPECT_TRUE(text("_labelCuraURL").startsWith("CureEngine has a URL: <a href="));
    EXPECT_TRUE(text("_labelAPGL_URL").startsWith("APGLv3 has a URL: <a href="));
    EXPECT_TRUE(text("label").startsWith("Email: "));
    EXPECT_TRUE(text("_lbInfo").contains("<a href=\"https://www.example.com/"));
    EXPECT_TRUE(about.findChild<QLabel*>("_lbInfo")->openExternalLinks());

    // The slicer's link is its sources as the installed package names them.
    const auto href = [&](const char* name) {
        const QRegularExpressionMatch m = QRegularExpression("href=\"([^\"]+)\"").match(text(name));
        return m.hasMatch() ? m.captured(1) : QString();
    };
    QFile copyright("/usr/share/doc/cura-engine/copyright");
    if (copyright.open(QIODevice::ReadOnly)) {
        const QRegularExpressionMatch source =
            QRegularExpression("^Source: (\\S+)$", QRegularExpression::MultilineOption)
                .match(QString::fromUtf8(copyright.readAll()));
        ASSERT_TRUE(source.hasMatch());
        EXPECT_EQ(href("_labelCuraURL"), source.captured(1));
    }
    EXPECT_TRUE(about.findChild<QLabel*>("_labelCuraURL")->openExternalLinks());
    // The licence link opens the licence text shipped with the program.
    const QString licence = href("_labelAPGL_URL");
    ASSERT_TRUE(licence.startsWith("qrc:/")) << licence.toStdString();
    QFile shipped(":" + QUrl(licence).path());
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << licence.toStdString();
    const QByteArray licenceText = shipped.readAll();
    EXPECT_TRUE(
        licenceText.startsWith("GNU AFFERO GENERAL PUBLIC LICENSE\n                       Version 3"));
    EXPECT_TRUE(
        licenceText.contains("13. Remote Network Interaction; Use with the GNU General Public License."));
    emit about.findChild<QLabel*>("_labelAPGL_URL")->linkActivated(licence);
    auto* shown = about.findChild<QPlainTextEdit*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->toPlainText().trimmed(), QString::fromUtf8(licenceText).trimmed());
}

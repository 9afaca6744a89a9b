#pragma once
// The G-code export panel: the user picks a slicer profile, optionally a
// calibration profile, and whether the selected or all objects are exported;
// "Export" asks for the file name and hands the run to GcodeExport. The panel
// only translates clicks; the run lives in GcodeExport.
//
// Use from the main window: create it once, on the first use of the "Export
// to gcode" tool button, as a child of the frame that holds the 3D view
// (createExportDlg below); each time the button is checked call
// loadProfileList() and loadCalibrationList(), then show it. The panel emits
// panelClosed() whenever it closes (its close button, a started run, or the
// window's close()): uncheck the tool button then. exportStarting() comes just before a
// run may open the progress dialog; the dialog's Cancel button stops the run
// (exporter()->cancel()).
#include "app/VlrBaseWidget.h"

#include <QString>

#include <functional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace gcodeexport {
class GcodeExport;
}

class ExportDlg : public VlrBaseWidget {
    Q_OBJECT
public:
    explicit ExportDlg(QWidget* parent = nullptr);
    ~ExportDlg() override;

    // Fill the lists from the "profile" (".vfg") and "calib" (".vcp") folders of
    // the application folder, in directory order ("None" first among the
    // calibrations), and select the indices stored in the settings.
    void loadProfileList();
    void loadCalibrationList();

    // Runs the export into gcodePath with the panel's choices (what "Export"
    // does once a file name was chosen). False when the run ended at once.
    bool exportTo(const QString& gcodePath);

    // The folder holding definitions/, profile/ and calib/; the executable's
    // folder unless set (tests).
    void setApplicationDir(const QString& dir) { m_appDir = dir; }
    QString applicationDir() const { return m_appDir; }
    gcodeexport::GcodeExport* exporter() const { return m_export; }

    // The save dialog "Export" asks for the G-code name (caption, start path,
    // filter; an empty result cancels); Qt's dialog unless set.
    using SaveDialog =
        std::function<QString(const QString& caption, const QString& start, const QString& filter)>;
    void setSaveDialog(SaveDialog dialog) { m_saveDialog = std::move(dialog); }
    // The name (without extension) the dialog proposes; none unless set.
    void setNameProposal(std::function<QString()> propose) { m_proposeName = std::move(propose); }

    QComboBox* profileCombo() const { return _cbbExportProfile; }
    QComboBox* calibrationCombo() const { return _cbbCalibration; }
    QRadioButton* selectedButton() const { return _rbtSelected; }
    QRadioButton* allButton() const { return _rbtAll; }

signals:
    // A run is about to start (it may still be refused).
    void exportStarting();
    // The panel has closed (its close button, a started run, or close()).
    void panelClosed();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onBtnCloseClicked();
    void onBtnExportClicked();

private:
    QLabel* label = nullptr;
    QPushButton* _btnClose = nullptr;
    QComboBox* _cbbExportProfile = nullptr;
    QComboBox* _cbbCalibration = nullptr;
    QRadioButton* _rbtSelected = nullptr;
    QRadioButton* _rbtAll = nullptr;
    QPushButton* _btnExport = nullptr;

    QString m_appDir;
    gcodeexport::GcodeExport* m_export = nullptr;
    SaveDialog m_saveDialog;
    std::function<QString()> m_proposeName;
};

// Makes the panel as a child of parent, sized and placed as every side panel.
ExportDlg* createExportDlg(QWidget* parent);

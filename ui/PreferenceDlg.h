#pragma once
// The printer preferences: the printer model and with it the build volume the
// view shows as its platform. Made, run modally and destroyed each time the
// user chooses File > Preferences. OK stores the model and the sizes and
// applies them at once; Cancel stores nothing.
#include <QDialog>

#include <functional>

class QComboBox;
class QDoubleSpinBox;
class QPushButton;

class PreferenceDlg : public QDialog {
    Q_OBJECT
public:
    // Printer models in combo order; the index is the stored printer setting.
    enum Printer { Tarn = 0, Tarn200 = 1, Custom = 2 };

    explicit PreferenceDlg(QWidget* parent = nullptr);
    ~PreferenceDlg() override;

    // Fills the combo with the models and selects the stored one.
    void initPrinterList();

    // Applies the build volume chosen with OK (x, y, z in mm); the main window
    // sets its own. Without one OK only stores the choice.
    using BuildVolumeApplier = std::function<void(double, double, double)>;
    void setBuildVolumeApplier(BuildVolumeApplier applier) { _applier = std::move(applier); }

    QComboBox* printerCombo() const { return _cbbSelectPrinter; }
    QDoubleSpinBox* sizeBox(int axis) const { return _sizeBoxes[axis]; }

public slots:
    void onBtnOKClicked();
    void onBtnCancelClicked();
    void onComboPrinterIndexChanged(int index);

private:
    QComboBox* _cbbSelectPrinter = nullptr;
    QDoubleSpinBox* _sizeBoxes[3] = {nullptr, nullptr, nullptr};
    QPushButton* _btnOk = nullptr;
    QPushButton* _btnCancel = nullptr;
    BuildVolumeApplier _applier;
};

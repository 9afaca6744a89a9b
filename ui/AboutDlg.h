#pragma once
// The About box: the application's name, logo, version, the maker's address
// and the notice about the external slicer. Made on the first Help > About and
// shown again (modeless) afterwards.
#include <QDialog>

class AboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit AboutDlg(QWidget* parent = nullptr);
    ~AboutDlg() override;

    // Shows the slicer's licence text shipped with the program (the licence
    // link's target), in a window of its own made on first use.
    void showLicence();

private:
    QDialog* _licenceDlg = nullptr;
};

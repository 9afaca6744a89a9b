#pragma once
// The orientation panel: moves the selection to the platform centre or down
// onto the platform, each as one undoable move.
#include "app/VlrBaseWidget.h"

class QPushButton;

class OrientateDlg : public VlrBaseWidget {
    Q_OBJECT
public:
    explicit OrientateDlg(QWidget* parent = nullptr);
    ~OrientateDlg() override;

signals:
    // The close button hid the panel; the main window releases its tool button.
    void closeRequested();

public slots:
    void onBtnCenterClicked();
    void onBtnPlatformClicked();
    void onBtnAutoClicked();
    void onBtnCloseClicked();

private:
    QPushButton* _btnCenter = nullptr;
    QPushButton* _btnPlatform = nullptr;
    QPushButton* _btnAuto = nullptr;
};

// The panels' common head: a title in 11 pt and a flat close button; returns
// the close button (the caller connects it).
class QVBoxLayout;
QPushButton* addPanelTitle(QWidget* panel, QVBoxLayout* layout, const QString& title);

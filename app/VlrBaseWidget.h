#pragma once
// The common base of the tool panels that the main window shows beside the
// 3D view. It carries the size at which the main window lays the panel out;
// each panel sets it in its constructor, usually scaled by the text unit.
#include <QWidget>

class VlrBaseWidget : public QWidget {
    Q_OBJECT
public:
    explicit VlrBaseWidget(QWidget* parent = nullptr);
    ~VlrBaseWidget() override;

    // base × textUnit / 16 in integer arithmetic (cut towards zero), so a
    // text unit of 16 pixels keeps the base size.
    static int scaledToTextUnit(int base, int textUnit);
    // scaledToTextUnit with the main window's text unit (GUI thread).
    static int scaledToTextUnit(int base);

    // Places the panel at (x, y) of its parent with the size asked for, or
    // taller when its contents ask for more, its height cut to what the
    // parent leaves below y (less kParentMargin), now and whenever the parent
    // is resized: a panel never runs past the window it is in. Contents that
    // need more height than the panel gets must scroll or shrink.
    void placeInParent(int x, int y, int width, int height);
    static constexpr int kParentMargin = 5;

    // The panel's size in pixels, read by the main window when it places the
    // panel; fixed at construction.
    int panelWidth = 0;
    int panelHeight = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitToParent();

    QRect m_wanted; // the geometry placeInParent asked for; empty before
};

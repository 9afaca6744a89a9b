#include "app/VlrBaseWidget.h"

#include "app/MainWindowHooks.h"

#include <QEvent>

#include <algorithm>

VlrBaseWidget::VlrBaseWidget(QWidget* parent) : QWidget(parent) {}

VlrBaseWidget::~VlrBaseWidget() = default;

int VlrBaseWidget::scaledToTextUnit(int base, int textUnit) {
    return base * textUnit / 16;
}

int VlrBaseWidget::scaledToTextUnit(int base) {
    return scaledToTextUnit(base, appFontUnitHeight());
}

void VlrBaseWidget::placeInParent(int x, int y, int width, int height) {
    if (m_wanted.isNull() && parentWidget())
        parentWidget()->installEventFilter(this);
    m_wanted = QRect(x, y, width, height);
    fitToParent();
}

void VlrBaseWidget::fitToParent() {
    QRect r = m_wanted;
    // Never shorter than the contents ask for (fonts differ between systems)...
    r.setHeight(std::max(r.height(), sizeHint().height()));
    // ...nor longer than the parent leaves.
    if (QWidget* parent = parentWidget())
        r.setHeight(std::max(0, std::min(r.height(), parent->height() - r.y() - kParentMargin)));
    setGeometry(r);
}

bool VlrBaseWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize && !m_wanted.isNull())
        fitToParent();
    return QWidget::eventFilter(watched, event);
}

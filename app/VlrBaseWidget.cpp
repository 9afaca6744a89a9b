#include "app/VlrBaseWidget.h"

#include "app/MainWindowHooks.h"

VlrBaseWidget::VlrBaseWidget(QWidget* parent) : QWidget(parent) {}

VlrBaseWidget::~VlrBaseWidget() = default;

int VlrBaseWidget::scaledToTextUnit(int base, int textUnit) {
    return base * textUnit / 16;
}

int VlrBaseWidget::scaledToTextUnit(int base) {
    return scaledToTextUnit(base, appFontUnitHeight());
}

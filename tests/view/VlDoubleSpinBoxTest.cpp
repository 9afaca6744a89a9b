// The in-view number box's typing rules, key by key.
#include "view/VlDoubleSpinBox.h"

#include <QKeyEvent>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

QKeyEvent keyFor(QChar c) {
    if (c == 'B')
        return QKeyEvent(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    if (c == 'R')
        return QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    if (c == 'E')
        return QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    if (c == 'U')
        return QKeyEvent(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    if (c == '-')
        return QKeyEvent(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QString(c));
    if (c == '.')
        return QKeyEvent(QEvent::KeyPress, Qt::Key_Period, Qt::NoModifier, QString(c));
    return QKeyEvent(QEvent::KeyPress, Qt::Key_0 + c.digitValue(), Qt::NoModifier, QString(c));
}

} // namespace

TEST(VlDoubleSpinBox, typingFollowsTheBoxRules) {
    struct Case {
        const char* name;
        double minimum, maximum, start;
        const char* keys; // B backspace, R return, E escape, U up
        const char* text;
        double value;
        int committed; // valueChanged(double) count
    };
    const Case cases[] = {
        {"typed value replaces the shown one", -1e29, 1e29, 7.25, "12.5R", "12.5", 12.5, 1},
        {"a second point is ignored", -1e29, 1e29, 0, "1.2.3R", "1.23", 1.23, 1},
        {"minus only starts a number", -1e29, 1e29, 3, "-4R", "-4", -4, 1},
        {"no minus without negative range", 0.001, 100, 3, "-4R", "4", 4, 1},
        {"digits beyond the maximum are dropped", 0.001, 100, 3, "250R", "25", 25, 1},
        {"backspace down to zero", -1e29, 1e29, 3, "45BBB", "0", 3, 0},
        {"escape restores the value", -1e29, 1e29, 3, "45E", "3", 3, 0},
        {"up adds the step", -1e29, 1e29, 3, "U", "3.1", 3.1, 1},
        {"a value outside the range is rejected", 10, 100, 50, "5R", "50", 50, 1},
        {"two decimals are kept", -1e29, 1e29, 0, "1.23456R", "1.23", 1.23, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VlDoubleSpinBox box;
        box.setRange(c.minimum, c.maximum);
        box.setValue(c.start);
        QSignalSpy spy(&box, qOverload<double>(&VlDoubleSpinBox::valueChanged));
        for (const char* k = c.keys; *k; ++k) {
            QKeyEvent e = keyFor(QChar(*k));
            box.keyPress(&e);
        }
        EXPECT_EQ(box.text(), QString(c.text));
        EXPECT_NEAR(box.value(), c.value, 1e-6);
        EXPECT_EQ(spy.count(), c.committed);
    }
}

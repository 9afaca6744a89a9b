#include "view/VlDoubleSpinBox.h"

#include "view/GLPrimitives.h"
#include "view/MainGLWidget.h"
#include "view/ViewCamera.h"

#include <GL/gl.h>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>

#include <cmath>

VlDoubleSpinBox::VlDoubleSpinBox(QObject* parent) : QObject(parent) {
    _font.setFamily(QStringLiteral("MS Shell Dlg 2"));
    _font.setPixelSize(12);
    _font.setWeight(75);
}

VlDoubleSpinBox::~VlDoubleSpinBox() = default;

void VlDoubleSpinBox::setColors(const float text[3], const float background[3]) {
    for (int i = 0; i < 3; ++i) {
        _textColor[i] = text[i];
        _backgroundColor[i] = background[i];
    }
}

double VlDoubleSpinBox::rounded(double v) const {
    const float p = std::pow(10.0f, static_cast<float>(_decimals));
    return static_cast<double>(std::round(p * static_cast<float>(v)) / p);
}

QString VlDoubleSpinBox::formatted(double v) const {
    return QString::number(rounded(v), 'g', 6);
}

void VlDoubleSpinBox::setValue(double v) {
    if (std::isnan(v))
        return;
    _value = rounded(std::min(std::max(v, _minimum), _maximum));
    _text = QString::number(_value, 'g', 6).left(6);
    _caret = _text.size();
}

void VlDoubleSpinBox::commit() {
    bool ok = false;
    // Typed numbers use '.' whatever the user's locale.
    const double v = QLocale::c().toDouble(_text, &ok);
    if (ok && std::isfinite(v) && v >= _minimum && v <= _maximum)
        setValue(v);
    else
        _text = formatted(_value);
    _caret = _text.size();
    if (_edited) {
        emit valueChanged(_value);
        _edited = false;
    }
}

bool VlDoubleSpinBox::keyPress(QKeyEvent* event) {
    const int key = event->key();
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        setValue(key == Qt::Key_Up ? std::min(_value + _step, _maximum) : std::max(_value - _step, _minimum));
        _edited = false;
        emit valueChanged(_value);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        if (_caret == 0)
            return false;
        const int before = _caret;
        _caret = key == Qt::Key_Left ? std::max(0, _caret - 1) : std::min(int(_text.size()), _caret + 1);
        _anchor = (event->modifiers() & Qt::ShiftModifier) ? before : -1;
        return false;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commit();
        return true;
    case Qt::Key_Escape:
        _text = formatted(_value);
        _caret = _text.size();
        _edited = false;
        return false;
    case Qt::Key_Backspace:
        if (!_visible)
            return false;
        if (!_edited) {
            _text = QStringLiteral("0");
            _edited = true;
        } else {
            _text.chop(1);
            if (_text.isEmpty())
                _text = QStringLiteral("0");
        }
        _caret = _text.size();
        return false;
    default:
        break;
    }
    const QString typed = event->text();
    if (typed == QLatin1String("-")) {
        if (!_edited && _minimum < 0.0) {
            _text = typed;
            _edited = true;
            _caret = 1;
        }
        return false;
    }
    if (typed.size() != 1 || !(typed[0].isDigit() || typed[0] == QLatin1Char('.')))
        return false;
    const bool dot = typed[0] == QLatin1Char('.');
    if (!_edited) {
        _text = typed;
        _edited = true;
    } else if (_text == QLatin1String("0")) {
        _text = dot ? _text + typed : typed;
    } else if (dot) {
        if (!_text.contains(QLatin1Char('.')))
            _text += typed;
    } else {
        const QString next = _text + typed;
        bool ok = false;
        const double v = QLocale::c().toDouble(next, &ok);
        if (ok && v <= _maximum)
            _text = next;
    }
    _caret = _text.size();
    return false;
}

bool VlDoubleSpinBox::contains(const QPoint& pos) const {
    const QFontMetrics metrics(_font);
    const QRect text = metrics.boundingRect(_visibleText.isEmpty() ? _text : _visibleText);
    const int m = 4;
    const QRect box(_position.x() - m, _position.y() - text.height() - m, text.width() + 2 * m,
                    text.height() + 2 * m);
    return box.contains(pos);
}

void VlDoubleSpinBox::updateVisibleText() {
    if (_text.size() < 7)
        _visibleText = _text;
    else
        _visibleText = _text.mid(std::max(0, _caret - 7), 7);
}

void VlDoubleSpinBox::draw() {
    if (!_visible || !_view)
        return;
    updateVisibleText();
    QString shown = _visibleText.left(6);
    if (!_edited && !shown.contains(QLatin1Char('.')) && shown.size() < 4 && _step != 1.0)
        shown += QStringLiteral(".0");
    const QFontMetrics metrics(_font);
    const QRect r = metrics.boundingRect(shown);
    const int w = r.width(), h = r.height();
    const int x = _position.x(), y = _position.y();

    enableSmoothBlend();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    const ViewCamera& camera = _view->camera();
    double anchor[3];
    camera.unprojectScreen(x, y, ViewCamera::kNearDepth, anchor);
    if (_focused)
        glColor4f(0.03529412f, 0.5411765f, 0.85882354f, 0.7f);
    else
        glColor4f(_backgroundColor[0], _backgroundColor[1], _backgroundColor[2], 0.7f);
    const QPoint corners[4] = {{x, y - h + 2}, {x + w + 3, y - h + 2}, {x + w + 3, y + 4}, {x, y + 4}};
    glBegin(GL_QUADS);
    for (const QPoint& c : corners) {
        double p[3];
        camera.screenPointOnPlane(c.x(), c.y(), anchor, p);
        glVertex3dv(p);
    }
    glEnd();
    glColor3f(_textColor[0], _textColor[1], _textColor[2]);
    _view->renderText(anchor[0], anchor[1], anchor[2], shown, _font);
    disableSmoothBlend();
    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
}

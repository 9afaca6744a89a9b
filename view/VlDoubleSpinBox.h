#pragma once
// A number box drawn inside the 3D view with OpenGL (not a widget): it shows
// the offset or angle of a manipulator drag and takes typed values while the
// user enters numbers. Keys reach it through keyPress; a committed value is
// reported with valueChanged(double).
#include <QFont>
#include <QObject>
#include <QPoint>
#include <QString>

#include <limits>

class MainGLWidget;
class QKeyEvent;

class VlDoubleSpinBox : public QObject {
    Q_OBJECT
public:
    explicit VlDoubleSpinBox(QObject* parent = nullptr);
    ~VlDoubleSpinBox() override;

    // value := v clamped to [minimum, maximum], rounded to the decimals; the
    // text follows (at most 6 characters).
    void setValue(double v);
    double value() const { return _value; }
    // Parses the text: inside the range it becomes the value, otherwise the
    // text shows the old value again. An edited box reports valueChanged.
    void commit();
    // One key; true when a value was committed (Up, Down, Return, Enter).
    bool keyPress(QKeyEvent* event);
    // Whether a widget point lies on the box as last drawn.
    bool contains(const QPoint& pos) const;
    // Draws the box at its position (GL context of the view current).
    void draw();

    QString text() const { return _text; }
    bool isEdited() const { return _edited; }
    void setEdited(bool on) { _edited = on; }
    bool isFocused() const { return _focused; }
    void setFocused(bool on) { _focused = on; }
    bool isVisible() const { return _visible; }
    void setVisible(bool on) { _visible = on; }
    void setRange(double minimum, double maximum) {
        _minimum = minimum;
        _maximum = maximum;
    }
    double minimum() const { return _minimum; }
    double maximum() const { return _maximum; }
    void setDecimals(int d) { _decimals = d; }
    void setPosition(const QPoint& p) { _position = p; }
    QPoint position() const { return _position; }
    void setColors(const float text[3], const float background[3]);
    void setView(MainGLWidget* view) { _view = view; }
    MainGLWidget* view() const { return _view; }

signals:
    void valueChanged(double value);
    void valueChanged(const QString& text);

private:
    // The value rounded to the decimals (single precision), as text.
    QString formatted(double v) const;
    double rounded(double v) const;
    // The part of the text the box shows: up to 7 characters ending at the caret.
    void updateVisibleText();

    bool _edited = false;
    int _width = 50;
    int _height = 16;
    bool _visible = true;
    bool _focused = false;
    int _decimals = 2;
    int _caret = 0;
    int _anchor = -1;
    double _maximum = std::numeric_limits<double>::max();
    double _minimum = 0.001;
    double _step = 0.1;
    double _value = 0.0;
    QFont _font;
    float _textColor[3] = {0.0f, 0.0f, 0.0f};
    float _backgroundColor[3] = {1.0f, 1.0f, 1.0f};
    QPoint _position;
    QString _text = QStringLiteral("0");
    QString _visibleText;
    MainGLWidget* _view = nullptr;
};

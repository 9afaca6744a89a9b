#include "ui/ProgressBar.h"

#include "app/Constants.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

namespace {

// Puts texts[0..2] into %1, %2, %3 in one pass, so a text that itself holds
// "%2" is not substituted again; a pattern without placeholders stays as is.
QString fillTexts(const QString& pattern, const QString (&texts)[3]) {
    QString result;
    result.reserve(pattern.size());
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('%') && i + 1 < pattern.size()) {
            const int slot = pattern[i + 1].unicode() - '1';
            if (slot >= 0 && slot < 3) {
                result += texts[slot];
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

} // namespace

ProgressBar::ProgressBar(QWidget* parent, Qt::WindowFlags flags) : QProgressDialog(parent, flags) {
    setCancelButton(nullptr);
    _firstHeight = height();
    resize(width(), _firstHeight);
    setWindowFlags(Qt::SplashScreen);
    _timer.setInterval(100);
    connect(&_timer, &QTimer::timeout, this, &ProgressBar::handleTimeOut);
    // QProgressDialog shows itself some seconds after construction unless
    // reset; this dialog appears only when work reports progress.
    QProgressDialog::reset();
}

ProgressBar::~ProgressBar() = default;

bool ProgressBar::onGuiThread() const {
    return QThread::currentThread() == thread();
}

void ProgressBar::processPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString ProgressBar::progressText(ProgressText text) {
    switch (text) {
    case ProgressText::None:
        break;
    case ProgressText::LoadingProject:
        return tr(" Loading Project <b>[%1]</b> ... ");
    case ProgressText::SavingProject:
        return tr(" Saving Project <b>[%1]</b> ... ");
    case ProgressText::ImportingObject:
        return tr("<b>[%1]</b>: Importing object...");
    case ProgressText::SavingObject:
        return tr("Saving object...");
    case ProgressText::RemovingObject:
        return tr("Removing object...");
    case ProgressText::PreparingData:
        return tr("Preparing data...");
    case ProgressText::ExportingGcode:
        return tr("Exporting to gcode...");
    case ProgressText::ConvertingSlc:
        return tr("Converting SLC to Triangles...");
    case ProgressText::HollowPreview:
        return tr("Generating preview of hollow...");
    }
    return QString();
}

void ProgressBar::updateProgress(int value, ProgressText text, const QString& text1, const QString& text2,
                                 const QString& text3) {
    QString label;
    const QString* texts[3] = {&text1, &text2, &text3};
    const bool gui = onGuiThread();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (text != ProgressText::None) {
            const bool unchanged = text == _lastText && text1 == _lastTexts[0] && text2 == _lastTexts[1] &&
                                   text3 == _lastTexts[2];
            if (!unchanged) {
                _lastText = text;
                for (int i = 0; i < 3; ++i) {
                    if (*texts[i] != NUL_STRING)
                        _lastTexts[i] = *texts[i];
                }
                label = fillTexts(progressText(text), _lastTexts);
            }
        }
        // A close on the GUI thread also drops a show that a worker asked
        // for and the GUI thread has not run yet: that show would otherwise
        // open the dialog after its work has ended, with nothing left to
        // close it.
        if (gui && value == kFinished && _showQueued)
            _queuedValue = kFinished;
        if (!gui) {
            if (!_visible) {
                // The latest request wins: a later finish cancels a show that
                // the GUI thread has not run yet.
                _queuedValue = value;
                if (!label.isEmpty())
                    _queuedText = label;
                if (!_showQueued) {
                    _showQueued = true;
                    QMetaObject::invokeMethod(this, "startQueuedShow", Qt::QueuedConnection);
                }
            } else if (value != 0) {
                if (value >= kFinished) // a percentage or the finish
                    _value = value;
                if (!label.isEmpty())
                    _labelText = label;
            }
            return;
        }
    }

    if (!isVisible()) {
        startShowProgressDialog(value, label);
        return;
    }
    if (value == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (value >= kFinished) // a percentage or the finish
            _value = value;
        if (!label.isEmpty())
            _labelText = label;
    }
    if (value == kFinished)
        finish();
    else if (value >= 0)
        processPendingEvents();
}

void ProgressBar::startQueuedShow() {
    int value = kFinished;
    QString text;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _showQueued = false;
        value = _queuedValue;
        text = _queuedText;
        _queuedText.clear();
        if (_visible) {
            // Shown meanwhile by the GUI thread: hand the request to the timer.
            if (value >= kFinished && value != 0)
                _value = value;
            if (!text.isEmpty())
                _labelText = text;
            return;
        }
    }
    startShowProgressDialog(value, text);
}

void ProgressBar::startShowProgressDialog(int startValue, const QString& text) {
    if (isVisible() || !(startValue >= 0 || startValue == kTextOnly))
        return;
    _timer.start();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _value = 0;
        if (!text.isEmpty())
            _labelText = text;
        if (startValue >= kFinished)
            _value = startValue;
    }
    setValue(0);
    if (!text.isEmpty())
        setLabelText(text);
    if (startValue >= 0)
        setValue(startValue);
    showDialog();
    processPendingEvents();
}

void ProgressBar::showDialog() {
    show();
    if (_cancelButton) {
        if (!_cancelButtonPlaced) {
            _cancelButtonPos = _cancelButton->pos();
            _cancelButtonPlaced = true;
        } else {
            _cancelButton->move(_cancelButtonPos);
        }
    }
    adjustSize();
}

void ProgressBar::handleTimeOut() {
    bool valueChanged = false;
    bool textChanged = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        valueChanged = _value != _shownValue;
        textChanged = _labelText != _shownText;
        _shownValue = _value;
        _shownText = _labelText;
    }
    if (_shownValue == kFinished && isVisible()) {
        finish();
        return;
    }
    if (!isVisible())
        return;
    if (valueChanged && _shownValue >= 0)
        setValue(_shownValue);
    if (textChanged)
        setLabelText(_shownText);
}

void ProgressBar::refresh() {
    if (onGuiThread())
        refreshUI();
    else
        QMetaObject::invokeMethod(this, "refreshUI", Qt::QueuedConnection);
}

void ProgressBar::refreshUI() {
    if (!isVisible())
        return;
    int value = 0;
    QString text;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        value = _value;
        text = _labelText;
    }
    if (value < 0 || value > 100)
        return;
    // 100 would make the dialog reset itself; the operation closes it with a
    // finish report.
    setValue(value == 100 ? 99 : value);
    setLabelText(text);
}

void ProgressBar::finish() {
    if (!isVisible())
        return;
    _closing = true;
    _timer.stop();
    close();
}

void ProgressBar::onCancelClicked() {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _value = kFinished;
    }
    emit cancelRequested();
}

void ProgressBar::setCancelButtonShown(bool show) {
    if (show) {
        if (_cancelButton)
            return;
        _cancelButton = new QPushButton(tr("Cancel"), this);
        setCancelButton(_cancelButton);
        // QProgressDialog binds Esc to cancel along with the button; here no
        // key may stop the dialog.
        for (QShortcut* shortcut : findChildren<QShortcut*>())
            shortcut->setEnabled(false);
        _cancelButton->setVisible(true);
        connect(_cancelButton, &QPushButton::clicked, this, &ProgressBar::onCancelClicked);
    } else {
        // setCancelButton deletes the previous button.
        setCancelButton(nullptr);
        _cancelButton = nullptr;
        _cancelButtonPlaced = false;
        resize(width(), _firstHeight);
    }
}

int ProgressBar::storedValue() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _value;
}

void ProgressBar::keyPressEvent(QKeyEvent* event) {
    // Esc must not cancel the work; no key does anything here.
    event->ignore();
}

void ProgressBar::closeEvent(QCloseEvent* event) {
    if (isVisible() && !_closing) {
        event->ignore();
        return;
    }
    _closing = false;
    QProgressDialog::closeEvent(event);
}

void ProgressBar::showEvent(QShowEvent* event) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _visible = true;
    }
    QProgressDialog::showEvent(event);
}

void ProgressBar::hideEvent(QHideEvent* event) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _visible = false;
    }
    QProgressDialog::hideEvent(event);
    emit hidden();
}

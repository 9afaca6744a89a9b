#pragma once
// The progress dialog behind the global progress report. It may be driven
// from the GUI thread or from a worker thread:
// - on the GUI thread a report updates the dialog at once and lets the
//   window repaint (user input stays blocked while the work runs);
// - from a worker a report only updates the stored state under the mutex;
//   a hidden dialog is shown by a queued call and a visible one picks the
//   state up on its 100 ms timer. A worker never waits for the GUI thread, so
//   a GUI thread that waits for that worker cannot deadlock.
#include <QPoint>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <mutex>

class QPushButton;

class ProgressBar : public QProgressDialog {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~ProgressBar() override;

    // value: 0..100 percentage, -1 finished, -2 text only (any thread; see
    // the class comment). textCode selects the text (progressText); a text
    // equal to NUL_STRING keeps the previous text of its slot, any other text,
    // the empty one included, replaces it. A visible dialog ignores value 0.
    void updateProgress(int value, int textCode, const QString& text1, const QString& text2,
                        const QString& text3);
    // Shows the stored value and text again (any thread).
    void refresh();
    // Closes the dialog when it is visible (GUI thread).
    void finish();
    // Adds ("Cancel") or removes the cancel button (GUI thread). Cancel hides
    // the dialog and emits cancelRequested(); work that does not listen to it
    // shows the dialog again with its next report.
    void setCancelButtonShown(bool show);
    // The untranslated-source texts of the text codes 0..9 (empty for others).
    static QString progressText(int textCode);
    // Shows the dialog, keeps the cancel button in place, fits the size.
    void showDialog();

    // The state the timer shows next.
    int storedValue() const;
    QString storedLabelText() const;

signals:
    // The user clicked Cancel (GUI thread).
    void cancelRequested();

public slots:
    void handleTimeOut();
    void refreshUI();
    void startShowProgressDialog(int startValue, const QString& progressText);

private slots:
    void onCancelClicked();
    void startQueuedShow();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool onGuiThread() const;
    void processPendingEvents();

    mutable std::mutex _mutex; // guards everything below up to _queuedText
    int _value = -1;
    QString _labelText;
    int _textCode = 0;
    int _lastCode = 0; // the keep-text rule: last code and texts per slot
    QString _lastTexts[3];
    bool _visible = false;    // the dialog's visibility, readable from workers
    bool _showQueued = false; // a worker asked the GUI thread to show the dialog
    int _queuedValue = -1;
    QString _queuedText;

    // GUI thread only.
    QTimer _timer;
    int _shownValue = -2;
    QString _shownText;
    QPushButton* _cancelButton = nullptr;
    bool _closing = false;
    int _firstHeight = 0;
    bool _cancelButtonPlaced = false;
    QPoint _cancelButtonPos;
};

#pragma once
// The progress dialog behind the global progress report. It may be driven
// from the GUI thread or from a worker thread:
// - on the GUI thread a report updates the dialog at once and lets the
//   window repaint (user input stays blocked while the work runs);
// - from a worker a report only updates the stored state under the mutex;
//   a hidden dialog is shown by a queued call and a visible one picks the
//   state up on its 100 ms timer. A worker never waits for the GUI thread, so
//   a GUI thread that waits for that worker cannot deadlock.
#include "app/ProgressReport.h"

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

    // value: 0..100 percentage, or ProgressValue Finished or TextOnly (any
    // thread; see the class comment). text selects the text (progressText); a
    // text equal to NUL_STRING keeps the previous text of its slot, any other
    // text, the empty one included, replaces it. A visible dialog ignores
    // value 0.
    void updateProgress(int value, ProgressText text, const QString& text1, const QString& text2,
                        const QString& text3);
    // Shows the stored value and text again (any thread).
    void refresh();
    // Closes the dialog when it is visible (GUI thread).
    void finish();
    // Adds ("Cancel") or removes the cancel button (GUI thread). Cancel hides
    // the dialog and emits cancelRequested(); work that does not listen to it
    // shows the dialog again with its next report.
    void setCancelButtonShown(bool show);
    // The untranslated-source text of `text` (empty for None).
    static QString progressText(ProgressText text);
    // Shows the dialog, keeps the cancel button in place, fits the size.
    void showDialog();

    // The state the timer shows next.
    int storedValue() const;

signals:
    // The user clicked Cancel (GUI thread).
    void cancelRequested();
    // The dialog went off the screen (finished or cancelled).
    void hidden();

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
    static constexpr int kFinished = progressValue(ProgressValue::Finished);
    static constexpr int kTextOnly = progressValue(ProgressValue::TextOnly);
    // Below every stored value (a percentage or kFinished): the timer's first
    // tick always shows the stored state.
    static constexpr int kNothingShown = kFinished - 1;

    bool onGuiThread() const;
    void processPendingEvents();

    mutable std::mutex _mutex; // guards everything below up to _queuedText
    int _value = kFinished;    // a percentage or kFinished (never below it)
    QString _labelText;
    ProgressText _lastText = ProgressText::None; // the keep-text rule: last text and texts per slot
    QString _lastTexts[3];
    bool _visible = false;    // the dialog's visibility, readable from workers
    bool _showQueued = false; // a worker asked the GUI thread to show the dialog
    int _queuedValue = kFinished;
    QString _queuedText;

    // GUI thread only.
    QTimer _timer;
    int _shownValue = kNothingShown;
    QString _shownText;
    QPushButton* _cancelButton = nullptr;
    bool _closing = false;
    int _firstHeight = 0;
    bool _cancelButtonPlaced = false;
    QPoint _cancelButtonPos;
};

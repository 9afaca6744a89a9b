#pragma once
// Answers the next modal message box on the GUI thread and records what it
// said, so that tests drive the window's message boxes without a user.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

inline void answerNextMessageBox(QMessageBox::StandardButton button, QString* seenTitle, QString* seenText) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, button, seenTitle, seenText] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (seenTitle)
            *seenTitle = box->windowTitle();
        if (seenText)
            *seenText = box->text();
        timer->stop();
        timer->deleteLater();
        box->button(button)->click();
    });
    timer->start();
}

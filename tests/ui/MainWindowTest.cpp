#include "ui/MainWindow.h"
#include "MessageBoxAnswer.h"
#include "app/DataFolders.h"
#include "app/MainWindowHooks.h"
#include "app/ProgressReport.h"
#include "ui/ProgressBar.h"
#include "ui/ProjectManager.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(MainWindow, isOneWindowTitledVelar3D) {
    ASSERT_NE(qApp, nullptr);
    MainWindow* w = MainWindow::instance();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(MainWindow::instance(), w);
    EXPECT_EQ(w->windowTitle(), "Velar3D");
    EXPECT_TRUE(w->setApplication(qobject_cast<QApplication*>(qApp)));
    EXPECT_EQ(w->application(), qApp);
    const QStringList menus = [&] {
        QStringList titles;
        for (QAction* a : w->menuBar()->actions())
            titles << a->text();
        return titles;
    }();
    EXPECT_EQ(menus, QStringList({"File", "Edit", "View", "Help"}));
}

TEST(MainWindow, textUnitIsTheHeightOfXInTheMenuFont) {
    MainWindow* w = MainWindow::instance();
    const int unit = w->fontUnitHeight();
    EXPECT_GT(unit, 0);
    EXPECT_EQ(unit, QFontMetrics(QApplication::font()).boundingRect("X").height());
    EXPECT_EQ(appFontUnitHeight(), unit); // what the panels read
}

TEST(MainWindow, messageBoxAskedFromAWorkerIsAnsweredOnTheGuiThread) {
    MainWindow* w = MainWindow::instance();
    QString title, text;
    answerNextMessageBox(QMessageBox::No, &title, &text);
    std::atomic<bool> finished{false};
    std::promise<int> answer;
    std::thread worker([&] {
        answer.set_value(w->showMessageBoxDialog("Overwrite?", QMessageBox::Question,
                                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, "", "",
                                                 0x103));
        finished = true;
    });
    // The GUI thread keeps running its events while the worker waits.
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();
    EXPECT_EQ(answer.get_future().get(), QMessageBox::No);
    EXPECT_EQ(title, "Velar3D");
    EXPECT_EQ(text, "Overwrite?");
}

TEST(MainWindow, projectMessagesReachTheWindow) {
    MainWindow* w = MainWindow::instance();
    QString title, text;
    answerNextMessageBox(QMessageBox::Ok, &title, &text);
    const QString missing = QStringLiteral("/nonexistent/folder/scene.vpf");
    EXPECT_EQ(w->projectManager()->openProject(missing), 0);
    EXPECT_EQ(title, "Velar3D");
    EXPECT_EQ(text, fileNotExistMessage().arg(missing));
}

TEST(MainWindow, globalProgressReportDrivesTheWindowsDialog) {
    MainWindow* w = MainWindow::instance();
    ASSERT_TRUE(ProgressCallback);
    const ProgressSink global;
    global.setText(ProgressText::ImportingObject, L"W\u00fcrfel.stl");
    ProgressBar* bar = w->progressBar();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->labelText(), QString::fromUtf8("<b>[Würfel.stl]</b>: Importing object..."));
    global.setPercent(40);
    reportProgress(progressValue(ProgressValue::Refresh));
    EXPECT_EQ(bar->value(), 40);
    global.finish();
    EXPECT_FALSE(bar->isVisible());
}

} // namespace

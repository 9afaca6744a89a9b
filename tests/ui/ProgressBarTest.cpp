#include "ui/ProgressBar.h"
#include "app/Constants.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QTest>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr int kFinished = progressValue(ProgressValue::Finished);
constexpr int kTextOnly = progressValue(ProgressValue::TextOnly);

// A progress dialog set up as the main window sets up its own.
class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qApp, nullptr) << "needs a QApplication (QT_QPA_PLATFORM=offscreen)";
        bar.setAutoClose(false);
        bar.setMinimumWidth(400);
        bar.setMinimumDuration(0);
        bar.setMaximum(100);
        bar.setCancelButtonShown(true);
    }
    void TearDown() override { bar.finish(); }
    ProgressBar bar;
};

const QString importing(const QString& name) {
    return "<b>[" + name + "]</b>: Importing object...";
}

TEST_F(ProgressDialogTest, aReportShowsTheHiddenDialogWithItsText) {
    bar.updateProgress(50, ProgressText::ImportingObject, "part.stl", "", "");
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.value(), 50);
    EXPECT_EQ(bar.labelText(), importing("part.stl"));
}

TEST_F(ProgressDialogTest, keepTextMarkerKeepsEachSlotAndOtherTextsReplaceIt) {
    struct Step {
        ProgressText text;
        QString text1;
        QString expectedLabel;
    };
    const Step steps[] = {
        {ProgressText::ImportingObject, "part.stl", importing("part.stl")},
        {ProgressText::ImportingObject, "part.stl", importing("part.stl")}, // the same report again
        {ProgressText::ImportingObject, NUL_STRING, importing("part.stl")}, // the marker keeps the text
        {ProgressText::LoadingProject, NUL_STRING,
         " Loading Project <b>[part.stl]</b> ... "}, // kept across codes
        {ProgressText::SavingProject, "p.vpf", " Saving Project <b>[p.vpf]</b> ... "},
        {ProgressText::SavingProject, "", " Saving Project <b>[]</b> ... "}, // an empty text replaces it
        {ProgressText::SavingObject, NUL_STRING, "Saving object..."},
    };
    for (const Step& s : steps) {
        bar.updateProgress(kTextOnly, s.text, s.text1, NUL_STRING, NUL_STRING);
        bar.handleTimeOut(); // what the 100 ms timer does
        EXPECT_EQ(bar.labelText(), s.expectedLabel) << int(s.text) << " " << s.text1.toStdString();
    }
}

TEST_F(ProgressDialogTest, textOnlyReportOnAHiddenDialogShowsItAtZero) {
    bar.updateProgress(kTextOnly, ProgressText::PreparingData, "", "", "");
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(bar.labelText(), "Preparing data...");
}

TEST_F(ProgressDialogTest, finishedOrRefreshReportsNeverShowAHiddenDialog) {
    bar.updateProgress(kFinished, ProgressText::ImportingObject, "x", "", "");
    EXPECT_FALSE(bar.isVisible());
    bar.refresh();
    EXPECT_FALSE(bar.isVisible());
}

TEST_F(ProgressDialogTest, refreshShowsAHundredAsNinetyNine) {
    bar.updateProgress(10, ProgressText::SavingObject, "", "", "");
    bar.updateProgress(100, ProgressText::SavingObject, "", "", "");
    bar.refresh();
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.value(), 99);
}

TEST_F(ProgressDialogTest, userCannotCloseTheDialogButCancelHidesItUntilTheNextReport) {
    bar.updateProgress(20, ProgressText::RemovingObject, "", "", "");
    ASSERT_TRUE(bar.isVisible());
    QCloseEvent close;
    QApplication::sendEvent(&bar, &close);
    EXPECT_FALSE(close.isAccepted());
    QTest::keyClick(&bar, Qt::Key_Escape);
    EXPECT_TRUE(bar.isVisible());

    auto* cancel = bar.findChild<QAbstractButton*>();
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    EXPECT_FALSE(bar.isVisible());
    EXPECT_EQ(bar.storedValue(), kFinished);
    bar.updateProgress(30, ProgressText::RemovingObject, "", "", "");
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.value(), 30);
}

// A GUI thread that waits for a worker while the worker reports progress
// must not deadlock: the worker's reports return at once.
TEST_F(ProgressDialogTest, workerReportsNeverWaitForTheGuiThread) {
    std::thread worker([this] {
        bar.updateProgress(kTextOnly, ProgressText::ImportingObject, "w.stl", "", "");
        for (int v = 0; v <= 60; v += 10)
            bar.updateProgress(v, ProgressText::None, "", "", "");
    });
    worker.join(); // the GUI thread runs no events meanwhile
    EXPECT_FALSE(bar.isVisible());

    QTRY_VERIFY(bar.isVisible()); // the queued show runs
    EXPECT_EQ(bar.value(), 60);
    EXPECT_EQ(bar.labelText(), importing("w.stl"));

    std::thread more([this] { bar.updateProgress(80, ProgressText::None, "", "", ""); });
    more.join();
    QTRY_COMPARE(bar.value(), 80); // picked up by the timer

    std::thread done([this] { bar.updateProgress(kFinished, ProgressText::None, "", "", ""); });
    done.join();
    QTRY_VERIFY(!bar.isVisible()); // closed at the next timer tick
}

// The work that asked for the show ends before the GUI thread ran it: the
// finish comes from the worker itself or from the GUI thread that took the
// work over. Either way the dialog is never shown (nothing would close it).
TEST_F(ProgressDialogTest, aFinishReportBeforeTheQueuedShowRunsKeepsTheDialogHidden) {
    for (const bool finishOnGuiThread : {false, true}) {
        std::thread worker([this, finishOnGuiThread] {
            bar.updateProgress(40, ProgressText::ImportingObject, "quick.stl", "", "");
            if (!finishOnGuiThread)
                bar.updateProgress(kFinished, ProgressText::None, "", "", "");
        });
        worker.join();
        if (finishOnGuiThread)
            bar.updateProgress(kFinished, ProgressText::None, "", "", "");
        for (int tick = 0; tick < 3; ++tick) {
            QCoreApplication::processEvents();
            bar.handleTimeOut();
        }
        EXPECT_FALSE(bar.isVisible()) << "finished on the GUI thread: " << finishOnGuiThread;
    }
}

} // namespace

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <gtest/gtest.h>

#include "ui/progress_dialog.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

// Runs the deletions that windows asked for when they were dismissed.
void DeleteDismissed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class ProgressDialogTest : public ::testing::Test {
protected:
    ProgressDialogTest() : dialog(new TransferProgressDialog(prompter)) {
        QObject::connect(dialog, &TransferProgressDialog::giveUpConfirmed, [this] { ++giveUps; });
    }
    ~ProgressDialogTest() override { delete dialog.data(); }

    // The caption, the two lines and the bar's range and value.
    QStringList View() {
        const auto& bar = *dialog->findChild<QProgressBar*>("1090");
        return QStringList{dialog->windowTitle(), TextOf(*dialog, "1092"), TextOf(*dialog, "1093")}
               << QString("%1..%2 %3").arg(bar.minimum()).arg(bar.maximum()).arg(bar.value());
    }

    ScriptedPrompter prompter;
    int giveUps = 0;
    QPointer<TransferProgressDialog> dialog;
};

TEST_F(ProgressDialogTest, StepsShowBarTextAndCaption) {
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    const char* file = "报告.txt      文件大小:25000字节";
    dialog->Prepare(file, 3);
    EXPECT_EQ(View(), (QStringList{"传输文件 - 进度% 0", "", file, "0..3 0"}));
    // Rounded to the nearest percent; the file line stays as prepared.
    dialog->Step(1, 3, 100.0 / 3);
    EXPECT_EQ(View(), (QStringList{"传输文件进度   % 33", "传输进度   % 33 1", file, "0..3 1"}));
    dialog->Step(2, 3, 200.0 / 3);
    EXPECT_EQ(View(), (QStringList{"传输文件进度   % 67", "传输进度   % 67 2", file, "0..3 2"}));
}

TEST_F(ProgressDialogTest, GivingUpAsksFirstAndCallsBackOnlyOnYes) {
    prompter.answers = {BoxAnswer::No};
    ASSERT_TRUE(Click(*dialog, "1091"));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes.back().caption, "终止文件传输");
    EXPECT_EQ(giveUps, 0);
    EXPECT_FALSE(dialog->AbortRequested());

    // The close box and Escape ask the same question and keep the window.
    prompter.answers = {BoxAnswer::No, BoxAnswer::No};
    EXPECT_FALSE(dialog->close());
    dialog->reject();
    EXPECT_EQ(prompter.boxes.size(), 3u);
    EXPECT_EQ(prompter.boxes.back().caption, "终止文件传输");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(giveUps, 0);

    prompter.answers = {BoxAnswer::Yes};
    ASSERT_TRUE(Click(*dialog, "1091"));
    EXPECT_EQ(giveUps, 1);
    EXPECT_TRUE(dialog->AbortRequested());
    // Giving up does not close the window: the transfer does, when it has stopped.
    EXPECT_TRUE(dialog->isVisible());

    prompter.answers = {BoxAnswer::Yes};
    EXPECT_FALSE(dialog->close());
    EXPECT_EQ(giveUps, 2);
}

TEST_F(ProgressDialogTest, TransferEndingWhileTheQuestionIsOpen) {
    // The transfer ends during the question's own event loop: the window goes, and the late
    // Yes gives up nothing.
    prompter.duringAsk = [this] {
        dialog->Dismiss();
        DeleteDismissed();
        EXPECT_FALSE(dialog.isNull());
    };
    prompter.answers = {BoxAnswer::Yes};
    ASSERT_TRUE(Click(*dialog, "1091"));
    EXPECT_EQ(giveUps, 0);
    EXPECT_FALSE(dialog->isVisible());
    DeleteDismissed();
    EXPECT_TRUE(dialog.isNull());
}

TEST(TransferWindowTest, ProgressWindowFollowsTheTransferView) {
    TestWindow ann;
    ann.window.OpenProgress("a.bin      文件大小:25000字节", 3);
    QPointer<TransferProgressDialog> first = ann.window.TransferWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first->parent(), &ann.window);
    ann.window.ShowProgress(1, 3, 100.0 / 3);
    EXPECT_EQ(TextOf(*first, "1092"), "传输进度   % 33 1");

    // A new transfer replaces the earlier window.
    ann.window.OpenProgress("b.bin      文件大小:0字节", 0);
    QPointer<TransferProgressDialog> second = ann.window.TransferWindow();
    ASSERT_NE(second.data(), first.data());
    EXPECT_EQ(TextOf(*second, "1093"), "b.bin      文件大小:0字节");
    DeleteDismissed();
    EXPECT_TRUE(first.isNull());

    ann.window.CloseProgress();
    EXPECT_EQ(ann.window.TransferWindow(), nullptr);
    DeleteDismissed();
    EXPECT_TRUE(second.isNull());
    // Steps after the end have nowhere to go.
    ann.window.ShowProgress(1, 1, 100.0);
    ann.window.CloseProgress();
}

} // namespace
} // namespace kolvena::ui

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "record/record_test_util.h"
#include "support/core_access.h"
#include "ui/command_ids.h"
#include "ui/progress_dialog.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace std::chrono_literals;
using namespace test;

constexpr char GIVE_UP_CAPTION[] = "终止文件传输";
constexpr char WRONG_TARGET[] = "传输文件目标不正确.";

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

    QProgressBar& Bar() { return *dialog->findChild<QProgressBar*>("1090"); }

    ScriptedPrompter prompter;
    int giveUps = 0;
    QPointer<TransferProgressDialog> dialog;
};

TEST_F(ProgressDialogTest, StepsShowBarTextAndCaption) {
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    dialog->Prepare("报告.txt      文件大小:25000字节", 3);
    EXPECT_EQ(TextOf(*dialog, "1093"), "报告.txt      文件大小:25000字节");
    EXPECT_EQ(Bar().minimum(), 0);
    EXPECT_EQ(Bar().maximum(), 3);
    EXPECT_EQ(Bar().value(), 0);

    dialog->Step(1, 3, 100.0 / 3);
    EXPECT_EQ(Bar().value(), 1);
    EXPECT_EQ(TextOf(*dialog, "1092"), "传输进度   % 33 1");
    EXPECT_EQ(dialog->windowTitle(), "传输文件进度   % 33");
    // Rounded to the nearest percent; the file line stays as prepared.
    dialog->Step(2, 3, 200.0 / 3);
    EXPECT_EQ(TextsOf(*dialog, {"1092", "1093"}),
              (QStringList{"1092=传输进度   % 67 2", "1093=报告.txt      文件大小:25000字节"}));
    EXPECT_EQ(Bar().value(), 2);
    EXPECT_EQ(dialog->windowTitle(), "传输文件进度   % 67");
}

TEST_F(ProgressDialogTest, GivingUpAsksFirstAndCallsBackOnlyOnYes) {
    prompter.answers = {BoxAnswer::No};
    ASSERT_TRUE(Click(*dialog, "1091"));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(BoxAt(prompter).first, GIVE_UP_CAPTION);
    EXPECT_EQ(giveUps, 0);
    EXPECT_FALSE(dialog->AbortRequested());

    // The close box and Escape ask the same question and keep the window.
    prompter.answers = {BoxAnswer::No, BoxAnswer::No};
    EXPECT_FALSE(dialog->close());
    dialog->reject();
    EXPECT_EQ(prompter.boxes.size(), 3u);
    EXPECT_EQ(BoxAt(prompter).first, GIVE_UP_CAPTION);
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

TEST(TransferWindowTest, OfferIsRefusedWithoutAFittingTarget) {
    TestWindow ann;
    QAction* popup = ann.window.MemberMenu()->findChild<QAction*>("32818");
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(ann.window.findChild<QPushButton*>("32818")->isEnabled());
    EXPECT_TRUE(ann.Action(ID_OFFER)->isEnabled());
    EXPECT_TRUE(popup->isEnabled());

    // No session: the target is everyone. In a session: everyone, then oneself, through
    // button, menu and pop-up menu.
    ann.Trigger(ID_OFFER);
    ann.Create();
    std::size_t boxes = ann.prompter.boxes.size();
    EXPECT_TRUE(Click(ann.window, "32818"));
    ann.window.SelectTarget(1);
    popup->trigger();
    ASSERT_EQ(ann.prompter.boxes.size(), boxes + 2);
    for (std::size_t k : {std::size_t{0}, boxes, boxes + 1})
        EXPECT_EQ(BoxAt(ann.prompter, k).second, WRONG_TARGET) << k;
    EXPECT_TRUE(ann.prompter.fileRequests.empty());

    // A loaded recording refuses first, whatever the target.
    TempDir dir;
    ann.prompter.paths = {dir.File("s.prs"), dir.File("s.prs")};
    ann.Trigger(ID_SAVE_RECORDING);
    ann.Trigger(ID_OPEN_RECORDING);
    ASSERT_EQ(ann.window.Mode(), WindowMode::ReplayLoaded);
    boxes = ann.prompter.boxes.size();
    const std::size_t requests = ann.prompter.fileRequests.size();
    ann.Trigger(ID_OFFER);
    ASSERT_EQ(ann.prompter.boxes.size(), boxes + 1);
    EXPECT_EQ(BoxAt(ann.prompter).second, "你目前未进入会话.");
    EXPECT_EQ(ann.prompter.fileRequests.size(), requests);
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

TEST(TransferWindowTest, HostSendsAFileToAMember) {
    const std::uint16_t sessionPort = FreePort();
    const std::uint16_t transferPort = FreePort();
    auto ann = std::make_unique<TestWindow>(sessionPort, transferPort);
    auto bob = std::make_unique<TestWindow>(sessionPort, transferPort);
    ann->Create();
    bob->Join("127.0.0.1", "Bob");
    ASSERT_TRUE(
        WaitFor([&] { return test::SessionOf(ann->window.Core()).GetBuddyCount() == 2; }, 10s));

    TempDir dir;
    std::string bytes(25000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    const std::string source = dir.File("big.bin");
    WriteFileBytes(source, bytes);
    std::filesystem::create_directories(dir.File("inbox"));
    const std::string saved = dir.File("inbox/big.bin");

    ann->window.SelectTarget(2);
    ann->prompter.paths = {source};
    bob->prompter.paths = {saved};
    // Bob's empty script of answers accepts the offer.
    ann->Trigger(ID_OFFER);
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::filesystem::exists(saved) && ReadFileBytes(saved).size() == bytes.size() &&
                   ann->TransferIdle() && bob->TransferIdle();
        },
        10s))
        << "bob's boxes: " << bob->prompter.boxes.size();
    EXPECT_TRUE(ReadFileBytes(saved) == bytes);
    EXPECT_TRUE(bob->HasBox("文件传输完毕! 请选择保存路径."));
    ASSERT_FALSE(bob->prompter.fileRequests.empty());
    EXPECT_EQ(bob->prompter.fileRequests.back().initialName, "big.bin");
    EXPECT_TRUE(ann->HasBox("文件传输完毕!"));

    // The member sends back to the leader: through the host, to the leader's own address.
    const std::string reply(2 * 10240, 'r');
    WriteFileBytes(dir.File("reply.txt"), reply);
    const std::string replySaved = dir.File("inbox/reply.txt");
    bob->window.SelectTarget(1);
    bob->prompter.paths = {dir.File("reply.txt")};
    ann->prompter.paths = {replySaved};
    bob->Trigger(ID_OFFER);
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::filesystem::exists(replySaved) &&
                   ReadFileBytes(replySaved).size() == reply.size() && ann->TransferIdle() &&
                   bob->TransferIdle();
        },
        10s));
    EXPECT_TRUE(ReadFileBytes(replySaved) == reply);

    bob.reset();
    ann.reset();
}

} // namespace
} // namespace kolvena::ui

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

#include "record/record_test_util.h"
#include "ui/command_ids.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace std::chrono_literals;
using namespace test;

const QString IDLE_TITLE = "Kolvena v1.0 未与会话连接";

// Ann hosts on loopback and Bob joins by address; both windows share one transfer port.
class TwoWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::uint16_t port = FreePort(), transferPort = FreePort();
        ann = std::make_unique<TestWindow>(port, transferPort);
        bob = std::make_unique<TestWindow>(port, transferPort);
        ann->Create();
        bob->Join("127.0.0.1", "Bob");
        ASSERT_TRUE(WaitFor([this] { return bob->Rows().size() == 3 && ann->Rows().size() == 3; }))
            << bob->Rows().join('|').toStdString();
    }
    // Destroyed in reverse order of declaration: the member before the host.
    std::unique_ptr<TestWindow> ann;
    std::unique_ptr<TestWindow> bob;
};

// Over real sockets: the window's link carries the session, its transfer port a file.
TEST_F(TwoWindowsTest, SessionAndFileTravelBetweenTwoWindows) {
    EXPECT_EQ(bob->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(您)"}));
    EXPECT_EQ(ann->window.windowTitle(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 2 ");
    bob->Send("你好");
    ASSERT_TRUE(WaitFor([this] { return ann->ChatHas("<Bob> 对大家说: 你好"); }));
    ann->window.SelectTarget(2);
    ann->window.findChild<QCheckBox*>("1011")->setChecked(true);
    ann->Send("悄悄");
    ASSERT_TRUE(WaitFor([this] { return bob->ChatHas("<Ann> 对 <你> 说(悄悄话): 悄悄"); }));
    bob->Trigger(ID_SLEEP);
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().value(2) == "Bob(休眠)"; }));
    // The target field follows the roster: a rename, and later the end of the session.
    bob->Open(ID_RENAME, [](QDialog& rename) {
        Type(rename, "1065", "老王");
        EXPECT_TRUE(Click(rename, "1"));
    });
    ASSERT_TRUE(WaitFor([this] { return TextOf(ann->window, "1005") == "老王"; }));
    bob->window.SelectTarget(1);
    EXPECT_EQ(TextOf(bob->window, "1005"), "Ann");

    TempDir dir;
    std::string bytes(25000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    WriteFileBytes(dir.File("big.bin"), bytes);
    const std::string saved = dir.File("saved.bin");
    // Dropped on Bob's row: two files, or a folder, are refused; one is offered to him.
    auto* list = ann->window.findChild<QTreeWidget*>("1003");
    const QPoint onBob = list->visualItemRect(list->topLevelItem(2)).center();
    const auto drop = [&](const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        QDragEnterEvent enter(onBob, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent event(onBob, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &event);
    };
    const QString big = QString::fromStdString(dir.File("big.bin"));
    for (const QStringList& refused : {QStringList{big, big}, QStringList{dir.Path().c_str()}}) {
        drop(refused);
        EXPECT_EQ(ann->prompter.boxes.back().caption, "无法传输文件");
    }
    bob->prompter.paths = {saved};
    drop({big});
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::filesystem::exists(saved) && ann->TransferIdle() && bob->TransferIdle();
        },
        10s));
    EXPECT_TRUE(ReadFileBytes(saved) == bytes);
    EXPECT_EQ(bob->prompter.fileRequests.back().initialName, "big.bin");
    EXPECT_TRUE(bob->ChatHas(QString::fromStdString("-->> 文件已保存: " + saved)));

    bob->Leave();
    EXPECT_EQ(bob->window.windowTitle(), IDLE_TITLE);
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().size() == 2; }));
    bob->Join("127.0.0.1", "Bob");
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().size() == 3; }));
    bob->window.SelectTarget(1);
    ann->Leave();
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().isEmpty(); }));
    EXPECT_EQ(bob->window.windowTitle(), IDLE_TITLE);
    EXPECT_EQ(TextOf(bob->window, "1005"), "");
}

// Out of sight, the title counts what arrived, and what concerns the user asks for attention: a
// whisper to them, a notice, a notice waiting for the leader. In sight again, the count goes.
TEST_F(TwoWindowsTest, OutOfSightArrivalsAreCountedAndConcerningOnesAskForAttention) {
    bob->seen = false;
    ann->Send("大家好");
    ASSERT_TRUE(WaitFor([this] { return bob->window.windowTitle().startsWith("(1) Kolvena"); }));
    EXPECT_TRUE(bob->attention.isEmpty());
    ann->window.SelectTarget(2);
    ann->window.findChild<QCheckBox*>("1011")->setChecked(true);
    ann->Send("悄悄");
    ASSERT_TRUE(WaitFor([this] { return bob->window.Unread() == 2; }));
    EXPECT_EQ(bob->attention, QStringList{"Ann: 悄悄"});

    ann->seen = false;
    bob->window.findChild<QCheckBox*>("1012")->setChecked(true);
    bob->Send("开会了");
    ASSERT_TRUE(WaitFor([this] { return bob->window.Unread() == 3; }));
    EXPECT_EQ(bob->attention.size(), 1); // not for the own notice
    ASSERT_EQ(ann->attention.size(), 2);
    EXPECT_EQ(ann->attention[0].section(": ", 0, 0), "成员请求验证消息");
    EXPECT_EQ(ann->attention[1], "Bob: 开会了");
    EXPECT_EQ(ann->window.Unread(), 1);

    bob->seen = true;
    QEvent activation(QEvent::ActivationChange);
    QApplication::sendEvent(&bob->window, &activation);
    EXPECT_EQ(bob->window.Unread(), 0);
    EXPECT_TRUE(bob->window.windowTitle().startsWith("Kolvena"));
}

// The management window follows the session while it is open; each action asks first, and
// neither the leader's row nor a departed member's has buttons.
TEST_F(TwoWindowsTest, ManagementWindowFollowsTheSessionAndAsksBeforeActing) {
    ann->Open(ID_MANAGE, [this](QDialog& dialog) {
        auto* table = dialog.findChild<QTreeWidget*>("1120");
        const auto cell = [table](int row, int column) {
            QTreeWidgetItem* item = table->topLevelItem(row);
            return item ? item->text(column) : QString();
        };
        const auto select = [&](int row) {
            table->clearSelection();
            table->topLevelItem(row)->setSelected(true);
            return EnabledOf(dialog, {"1121", "1122", "1123"}).join(",");
        };
        QStringList header;
        for (int column = 0; column < table->columnCount(); ++column)
            header << table->headerItem()->text(column);
        EXPECT_EQ(header.join('|'), "名称|ID|地址|登陆时间|停留时间|发言数|消息数|状态");
        EXPECT_EQ(cell(0, 0) + "|" + cell(0, 7) + "|" + cell(1, 0) + "|" + cell(1, 2),
                  "Ann|在线|Bob|127.0.0.1");
        EXPECT_EQ(select(0), "");

        bob->Trigger(ID_SLEEP);
        ASSERT_TRUE(WaitFor([&] { return cell(1, 7) == "休眠"; }));
        EXPECT_EQ(select(1), "1121,1122,1123");
        ann->prompter.answers = {BoxAnswer::No};
        EXPECT_TRUE(Click(dialog, "1121"));
        EXPECT_EQ(ann->prompter.boxes.back().question, Question::RemoveMember);
        EXPECT_TRUE(ann->prompter.boxes.back().text.find("Bob") != std::string::npos);
        EXPECT_EQ(cell(1, 7), "休眠");
        EXPECT_TRUE(Click(dialog, "1123"));
        EXPECT_EQ(cell(1, 7) + TextOf(dialog, "1123"), "已禁言解除禁言");
        EXPECT_TRUE(Click(dialog, "1123"));
        EXPECT_EQ(cell(1, 7), "休眠");

        EXPECT_TRUE(Click(dialog, "1122"));
        ASSERT_TRUE(WaitFor([&] { return cell(1, 7) == "已请出"; }));
        EXPECT_EQ(select(1), "");
        auto* refused = dialog.findChild<QListWidget*>("1124");
        ASSERT_EQ(refused->count(), 1);
        EXPECT_EQ(refused->item(0)->text(), "127.0.0.1");
        refused->item(0)->setSelected(true);
        EXPECT_TRUE(Click(dialog, "1125"));
        EXPECT_EQ(refused->count(), 0);
    });
    EXPECT_EQ(ann->window.ManagementWindow(), nullptr);
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().isEmpty(); }));
    EXPECT_TRUE(bob->ChatHas("<Ann> 对 <你> 说(悄悄话): 您已被组长请出会话。"));
    // Outside hosting the command refuses.
    const std::size_t shown = bob->runner.shown.size();
    bob->Trigger(ID_MANAGE);
    EXPECT_EQ(bob->runner.shown.size(), shown);
    EXPECT_EQ(bob->prompter.boxes.back().text.rfind("目前您没有主持任何会话", 0), 0u);
}

// The member pop-up menu stays open while the event loop runs; its member may leave meanwhile.
TEST_F(TwoWindowsTest, MemberInformationOfAMemberWhoLeftWhileTheMenuWasOpen) {
    auto* list = ann->window.findChild<QTreeWidget*>("1003");
    emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(2)).center());
    ASSERT_TRUE(ann->window.MemberMenu()->isVisible());

    bob->Leave();
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().size() == 2; }));
    const std::size_t boxes = ann->prompter.boxes.size();
    ann->Trigger(ID_MEMBER_INFO);
    ann->window.MemberMenu()->hide();
    // Nobody to show: no window and no internal error box.
    EXPECT_EQ(ann->prompter.boxes.size(), boxes);
    EXPECT_EQ(ann->runner.shown.back(), "133");
}

// A join that fails leaves the window idle with the failure line.
// A session found on another port than the window's own is joined there; the join dialog's
// search fills in the address and port and asks only for the name.
TEST(SearchWindow, JoinsAFoundSessionAtItsOwnPort) {
    TestWindow ann, bob;
    ann.Create();
    const std::uint16_t port = ann.window.Link().Options().port;
    bob.runner.steps.push_back([&](QDialog& join) {
        EXPECT_TRUE(Click(join, "1043"));
        EXPECT_EQ(TextsOf(join, {"1032", "1038"}), "127.0.0.1|" + QString::number(port));
        EXPECT_EQ(EnabledOf(join, {"1039", "1032"}), QStringList{"1032"});
        EXPECT_FALSE(join.findChild<QCheckBox*>("1040")->isChecked());
        Type(join, "1037", "Bob");
        EXPECT_TRUE(Click(join, "1"));
    });
    bob.runner.steps.push_back([&](QDialog& search) {
        bob.search.Answer(
            {"127.0.0.1", port, 16735986, 1, 10, SearchState::Open, false, "闲聊", "Ann"});
        auto* list = search.findChild<QTreeWidget*>("1100");
        emit list->itemActivated(list->topLevelItem(0), 0);
    });
    bob.Trigger(ID_JOIN);
    EXPECT_EQ(bob.runner.shown, (std::vector<QString>{"141", "132", "160"}));
    ASSERT_TRUE(WaitFor([&] { return ann.Rows().size() == 3 && bob.Rows().size() == 3; }));
    EXPECT_EQ(bob.Rows(), (QStringList{"全体", "Ann(组长)", "Bob(您)"}));
}

TEST(JoinFailure, ShowsTheFailureLine) {
    TestWindow bob(FreePort());
    bob.Join("127.0.0.1");
    EXPECT_TRUE(bob.ChatHas("-->> 正在登陆会话主机 请稍候 ..."));
    ASSERT_TRUE(WaitFor([&] { return bob.ChatHas("-->> 连接指定会话没有成功，请您重新登陆."); }));
    EXPECT_EQ(bob.window.windowTitle(), IDLE_TITLE);
}

} // namespace
} // namespace kolvena::ui

#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "record/record_test_util.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "ui/history_window.h"
#include "ui/ui_test_support.h"

namespace kolvena {
namespace {

using namespace test;
namespace fs = std::filesystem;

constexpr CalendarTime START = 1000000000; // 2001-09-09 01:46:40 UTC

// The whole binary runs with its own home, set before any window exists, so that neither the
// default folders nor the trash are the user's.
std::string Home() {
    static const TempDir home;
    return home.Path();
}
[[maybe_unused]] const bool kOwnHome = [] {
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        setenv(name, Home().c_str(), 1);
    return true;
}();

// Ann's session on topic, a chat line every 2 s from start, kept as path.
void Record(const std::string& path, const char* topic, CalendarTime start,
            const std::vector<std::string>& lines, bool ended) {
    ASSERT_TRUE(WriteChatRecording(path, topic, start, lines, 2, 0, ended));
}

class HistoryWindowTest : public ::testing::Test, public TestWindow {
protected:
    HistoryWindowTest() {
        Record(kept.File("a.prs"), "闲聊", START, {"Hello World", "第二行"}, true);
        Record(kept.File("b.prs"), "工作", START + 3600, {"hello again"}, false);
        WriteFileBytes(docs.File("broken.prs"), "not a recording");
        WriteFileBytes(docs.File("notes.txt"), "not listed");
        history = std::make_unique<ui::HistoryWindow>(
            window.Core(), prompter, [this](const QUrl& url) { opened.push_back(url); },
            std::vector<std::string>{kept.Path(), docs.Path()});
    }
    QTreeWidget* Table(const char* id) { return history->findChild<QTreeWidget*>(id); }
    QStringList Rows(const char* id) {
        QStringList rows;
        for (int i = 0; i < Table(id)->topLevelItemCount(); ++i) {
            QStringList cells;
            for (int c = 0; c < Table(id)->columnCount(); ++c)
                cells << Table(id)->topLevelItem(i)->text(c);
            rows << cells.join('|');
        }
        return rows;
    }
    void Select(int row) { Table("1180")->setCurrentItem(Table("1180")->topLevelItem(row)); }
    QString Size(const std::string& path) { return QString("%1 字节").arg(fs::file_size(path)); }

    std::string home = Home();
    TempDir kept, docs;
    std::vector<QUrl> opened;
    std::unique_ptr<ui::HistoryWindow> history;
};

TEST_F(HistoryWindowTest, ListsNewestFirstAndAnUnreadableFileCanOnlyBeDeleted) {
    EXPECT_EQ(Rows("1180"),
              QStringList({"文件格式错误||||||" + Size(docs.File("broken.prs")),
                           "工作 (未正常结束)|2001-09-09 02:46:40|00:00:02|1|1|0|" +
                               Size(kept.File("b.prs")),
                           "闲聊|2001-09-09 01:46:40|00:00:04|1|2|0|" + Size(kept.File("a.prs"))}));
    const auto buttons = {"1183", "1184", "1185", "1186", "1187"};
    EXPECT_EQ(EnabledOf(*history, buttons), QStringList({"1186", "1187"}));
    Select(2);
    EXPECT_EQ(EnabledOf(*history, buttons).size(), 5u);
    EXPECT_TRUE(Click(*history, "1187"));
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(kept.Path()))});

    // The menu item opens the window on the kept history and the documents folder.
    fs::create_directories(home + "/Documents");
    Record(home + "/Documents/mine.prs", "文档", START, {"x"}, true);
    Open(32802, [](QDialog& shown) {
        EXPECT_EQ(static_cast<ui::HistoryWindow&>(shown).Listed().size(), 1u);
    });
    EXPECT_EQ(runner.shown.back(), "180");
}

TEST_F(HistoryWindowTest, SearchFindsLinesOfEveryRecordingAndOpensTheReplayAtOne) {
    history->Search("HELLO");
    EXPECT_TRUE(WaitFor([&] { return !history->Searching(); }));
    EXPECT_EQ(Rows("1182"), QStringList({"工作 (2001-09-09 02:46:40)|02:46:42|Ann: hello again",
                                         "闲聊 (2001-09-09 01:46:40)|01:46:42|Ann: Hello World"}));
    // A window closed in the middle of a search stops it.
    auto other = std::make_unique<ui::HistoryWindow>(
        window.Core(), prompter, [](const QUrl&) {}, std::vector<std::string>{kept.Path()});
    other->Search("e");
    other.reset();

    // A session goes on: the question comes first, and No changes nothing.
    Create();
    const std::size_t boxes = prompter.boxes.size();
    QTreeWidgetItem* match = Table("1182")->topLevelItem(1);
    for (const BoxAnswer answer : {BoxAnswer::No, BoxAnswer::Yes}) {
        prompter.answers = {answer};
        emit Table("1182")->itemDoubleClicked(match, 0);
        EXPECT_EQ(prompter.boxes[boxes].question, Question::OpenRecording);
    }
    EXPECT_EQ(window.Mode(), WindowMode::ReplayLoaded);
    EXPECT_EQ(history->result(), QDialog::Accepted);
    EXPECT_EQ(RecorderOf(window.Core()).log.cursor, 3u);
    EXPECT_TRUE(ChatHas("<你> 对大家说: Hello World"));
    EXPECT_FALSE(ChatHas("<你> 对大家说: 第二行"));
}

TEST_F(HistoryWindowTest, DeleteAsksAndSaveAsAndExportWrite) {
    Select(1);
    for (const BoxAnswer answer : {BoxAnswer::No, BoxAnswer::Yes}) {
        prompter.answers = {answer};
        EXPECT_TRUE(Click(*history, "1186"));
        EXPECT_EQ(fs::exists(kept.File("b.prs")), answer == BoxAnswer::No);
    }
    EXPECT_EQ(prompter.boxes.back().question, Question::DeleteRecording);
    EXPECT_EQ(history->Listed().size(), 2u);

    Select(1);
    prompter.paths = {docs.File("copy.prs"), docs.File("a.txt")};
    EXPECT_TRUE(Click(*history, "1184"));
    EXPECT_EQ(ReadFileBytes(docs.File("copy.prs")), ReadFileBytes(kept.File("a.prs")));
    EXPECT_EQ(history->Listed().size(), 3u);
    Select(2);
    EXPECT_TRUE(Click(*history, "1185"));
    EXPECT_EQ(prompter.fileRequests.back().initialName, "闲聊(9-9-2001)");
    const std::string text = FromGbk(ReadFileBytes(docs.File("a.txt")));
    for (const char* part :
         {"//会话主题: 闲聊", "01:46:40 (9/9/2001) - 01:46:44 (9/9/2001)", "Hello World", "第二行"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

} // namespace
} // namespace kolvena

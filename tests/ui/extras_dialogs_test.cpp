#include "ui/extras_dialogs.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <vector>

#include "support/fakes.h"
#include "ui/toolbar_images.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using test::Click;
using test::ScriptedPrompter;
using test::Type;

TEST(HelpDialogTest, ShowsAtEveryStartAndExplainsTheCommands) {
    HelpDialog dialog;
    EXPECT_EQ(dialog.objectName(), "141");

    auto* everyStart = dialog.findChild<QCheckBox*>();
    ASSERT_NE(everyStart, nullptr);
    EXPECT_EQ(everyStart->text(), "每次启动时显示");
    EXPECT_TRUE(everyStart->isChecked());
    EXPECT_FALSE(everyStart->isEnabled());

    auto* text = dialog.findChild<QPlainTextEdit*>();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    for (const char* topic :
         {"新建会话", "加入会话", "发送", "悄悄话", "发讯息", "离开一会", "改  名", "录象"})
        EXPECT_TRUE(text->toPlainText().contains(QString::fromUtf8(topic))) << topic;

    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(AboutDialogTest, NamesTheProgramWithItsIcon) {
    AboutDialog dialog;
    EXPECT_EQ(dialog.objectName(), "100");
    bool named = false;
    bool pictured = false;
    for (auto* label : dialog.findChildren<QLabel*>()) {
        named = named || label->text() == "Kolvena v1.0";
        pictured = pictured || !label->pixmap().isNull();
    }
    EXPECT_TRUE(named);
    EXPECT_TRUE(pictured);
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

class RecommendDialogTest : public ::testing::Test {
protected:
    QString Recommendation() { return dialog.findChild<QPlainTextEdit*>()->toPlainText(); }

    ScriptedPrompter prompter;
    std::vector<QUrl> opened;
    RecommendDialog dialog{prompter, [this](const QUrl& url) { opened.push_back(url); }};
};

TEST_F(RecommendDialogTest, OkCopiesTheTextAndOpensAMailToTheFriend) {
    EXPECT_EQ(dialog.objectName(), "142");
    const QString text = Recommendation();
    EXPECT_FALSE(text.trimmed().isEmpty());

    Type(dialog, "mailAddress", "  friend@example.com ");
    ASSERT_TRUE(Click(dialog, "1"));

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), text);
    ASSERT_EQ(opened.size(), 1u);
    const QUrl& mail = opened.front();
    EXPECT_TRUE(mail.isValid());
    EXPECT_EQ(mail.scheme(), "mailto");
    EXPECT_EQ(mail.path(), "friend@example.com");
    const QUrlQuery query(mail);
    EXPECT_FALSE(query.queryItemValue("subject", QUrl::FullyDecoded).isEmpty());
    QString body = query.queryItemValue("body", QUrl::FullyDecoded);
    EXPECT_TRUE(body.contains("\r\n"));
    EXPECT_EQ(body.replace("\r\n", "\n"), text);
    EXPECT_FALSE(mail.toEncoded().contains(' '));
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(RecommendDialogTest, TextWithLinkDelimitersSurvivesTheMailLink) {
    dialog.findChild<QPlainTextEdit*>()->setPlainText("a&body=b?c#d 100% + 中文");
    Type(dialog, "mailAddress", "x@y.cn");
    ASSERT_TRUE(Click(dialog, "1"));
    ASSERT_EQ(opened.size(), 1u);
    const QUrlQuery query(opened.front());
    EXPECT_EQ(query.allQueryItemValues("body", QUrl::FullyDecoded),
              QStringList{"a&body=b?c#d 100% + 中文"});
    EXPECT_EQ(opened.front().fragment(), QString());
}

TEST_F(RecommendDialogTest, BlankAddressCopiesOnly) {
    Type(dialog, "mailAddress", "   ");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), Recommendation());
    EXPECT_TRUE(opened.empty());
}

TEST_F(RecommendDialogTest, MalformedAddressIsRefusedAndTheDialogStays) {
    for (const char* bad : {"not an address", "friend", "a@b?cc=evil@x", "a@@b"}) {
        Type(dialog, "mailAddress", bad);
        ASSERT_TRUE(Click(dialog, "1"));
        EXPECT_NE(dialog.result(), QDialog::Accepted) << bad;
    }
    EXPECT_EQ(prompter.boxes.size(), 4u);
    EXPECT_EQ(prompter.boxes.front().icon, BoxIcon::Warning);
    EXPECT_TRUE(prompter.clipboard.empty());
    EXPECT_TRUE(opened.empty());
}

TEST_F(RecommendDialogTest, CancelDoesNothing) {
    Type(dialog, "mailAddress", "friend@example.com");
    ASSERT_TRUE(Click(dialog, "2"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompter.clipboard.empty());
    EXPECT_TRUE(opened.empty());
}

bool HasInk(const QIcon& icon, int size) {
    const QImage image = icon.pixmap(size, size).toImage();
    if (image.width() != size || image.height() != size)
        return false;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

TEST(ToolbarImagesTest, EveryToolbarCommandHasADrawnImage) {
    for (const int id : {32771, 32772, 32774, 32794, 32776, 32820, 32780, 32808})
        EXPECT_TRUE(HasInk(ToolbarIcon(id), 24)) << id;
    EXPECT_TRUE(ToolbarIcon(32778).isNull());
    EXPECT_TRUE(ToolbarIcon(0).isNull());

    const QIcon app = ApplicationIcon();
    for (const int size : {16, 32, 48, 64, 128}) {
        EXPECT_TRUE(app.availableSizes().contains(QSize(size, size))) << size;
        EXPECT_TRUE(HasInk(app, size)) << size;
    }
}

} // namespace
} // namespace kolvena::ui

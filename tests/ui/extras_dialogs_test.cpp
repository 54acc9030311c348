#include "ui/command_ids.h"
#include "ui/extras_dialogs.h"

#include <QImage>
#include <QPlainTextEdit>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <vector>

#include "support/fakes.h"
#include "ui/toolbar_images.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

class RecommendDialogTest : public ::testing::Test {
protected:
    QPlainTextEdit* Text() { return dialog.findChild<QPlainTextEdit*>(); }
    // Types the address and presses the button.
    void Press(const char* address, const char* button) {
        Type(dialog, "mailAddress", address);
        ASSERT_TRUE(Click(dialog, button));
    }

    ScriptedPrompter prompter;
    std::vector<QUrl> opened;
    RecommendDialog dialog{prompter, [this](const QUrl& url) { opened.push_back(url); }};
};

TEST_F(RecommendDialogTest, OkCopiesTheTextAndOpensAMailToTheFriend) {
    const QString text = Text()->toPlainText();
    EXPECT_FALSE(text.trimmed().isEmpty());
    Press("  friend@example.com ", "1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), text);
    EXPECT_TRUE(prompter.boxes.empty());
    ASSERT_EQ(opened.size(), 1u);
    const QUrl& mail = opened.front();
    EXPECT_TRUE(mail.isValid());
    EXPECT_EQ(mail.scheme(), "mailto");
    EXPECT_EQ(mail.path(), "friend@example.com");
    EXPECT_FALSE(mail.toEncoded().contains(' '));
    const QUrlQuery query(mail);
    EXPECT_FALSE(query.queryItemValue("subject", QUrl::FullyDecoded).isEmpty());
    QString body = query.queryItemValue("body", QUrl::FullyDecoded);
    EXPECT_TRUE(body.contains("\r\n"));
    EXPECT_EQ(body.replace("\r\n", "\n"), text);
}

TEST_F(RecommendDialogTest, TextWithLinkDelimitersSurvivesTheMailLink) {
    Text()->setPlainText("a&body=b?c#d 100% + 中文");
    Press("x@y.cn", "1");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(QUrlQuery(opened.front()).allQueryItemValues("body", QUrl::FullyDecoded),
              QStringList{"a&body=b?c#d 100% + 中文"});
    EXPECT_EQ(opened.front().fragment(), QString());
}

TEST_F(RecommendDialogTest, BlankAddressCopiesOnlyAndCancelDoesNothing) {
    Press("friend@example.com", "2");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompter.clipboard.empty());
    EXPECT_TRUE(opened.empty());

    Press("   ", "1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), Text()->toPlainText());
    EXPECT_TRUE(opened.empty());
}

TEST_F(RecommendDialogTest, MalformedAddressIsRefusedAndTheDialogStays) {
    for (const char* bad : {"not an address", "friend", "a@b?cc=evil@x", "a@@b"}) {
        Press(bad, "1");
        EXPECT_NE(dialog.result(), QDialog::Accepted) << bad;
    }
    ASSERT_EQ(prompter.boxes.size(), 4u);
    EXPECT_EQ(prompter.boxes.front().icon, BoxIcon::Warning);
    EXPECT_TRUE(prompter.clipboard.empty());
    EXPECT_TRUE(opened.empty());
}

// The toolbar's images are drawn in code: a blank one would leave a button without a face.
TEST(ToolbarImagesTest, EveryToolbarCommandHasADrawnImage) {
    const auto hasInk = [](const QIcon& icon) {
        const QImage image = icon.pixmap(24, 24).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) != 0)
                    return true;
        return false;
    };
    for (const int id : {32771, 32772, 32774, 32794, 32776, 32820, 32780, 32808})
        EXPECT_TRUE(hasInk(ToolbarIcon(id))) << id;
    EXPECT_TRUE(ToolbarIcon(ui::ID_SEND).isNull());
    EXPECT_TRUE(ToolbarIcon(0).isNull());
    EXPECT_TRUE(hasInk(ApplicationIcon()));
}

} // namespace
} // namespace kolvena::ui

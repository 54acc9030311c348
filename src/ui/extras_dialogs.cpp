#include "ui/extras_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <utility>

#include "session/prompter.h"
#include "ui/toolbar_images.h"

namespace kolvena::ui {
namespace {

const char* const HELP_TEXT =
    "欢迎使用 网络会话(Kolvena) v1.0\n"
    "\n"
    "Kolvena 让局域网里的朋友不用服务器就能一起聊天：一个人创建会话，其他人加入。\n"
    "\n"
    "【创建会话】\n"
    "点“新建会话”（菜单“会话”→“新的会话”），填写您的名称和会话主题。您就是这个会话的"
    "组长，程序会显示会话地址编码，并把邀请文字放到剪贴板上，粘贴给朋友即可。\n"
    "\n"
    "【加入会话】\n"
    "点“加入会话”，输入朋友告诉您的会话地址编码（或者主机的 IP 地址）和您的名称。"
    "连接成功后，成员列表里会出现所有在场的人。"
    "也可以用“会话”→“局域网搜索”（或加入对话框里的“搜索...”）找出局域网里的会话，"
    "双击一个即可加入。\n"
    "\n"
    "【对话】\n"
    "在窗口下方的输入行里写好内容，按回车或点“发送”。默认对大家说；在成员列表里点一个人，"
    "“对象”一栏就是他，这句话会对他说；点“全体”又回到对大家说。\n"
    "\n"
    "【悄悄话】\n"
    "选好对象后勾上“悄悄话”再发送，这句话只有对象本人能看到。\n"
    "\n"
    "【讯息】\n"
    "勾上“发讯息”再发送，内容会出现在所有人上方的会话消息窗口里，适合发通知。"
    "组长可以在“会话设置”里要求成员的讯息先经过组长同意。\n"
    "\n"
    "【离开一会】\n"
    "暂时走开时点“离开一会”，大家会在列表里看到您“休眠”；回来后点“回到会话”。\n"
    "\n"
    "【改名】\n"
    "点“改  名”可以随时换一个名称，所有成员都会看到新名称。\n"
    "\n"
    "【会话录象】\n"
    "整个会话都会被录下来。点“保存记录”把它存成会话历史录象（.prs 文件）；以后从菜单"
    "“历史记录”→“播放会话历史录象”可以重放，并能暂停、调整播放速度。"
    "也可以把会话保存为文本记录。\n"
    "\n"
    "【其他】\n"
    "“传输文件”可以把文件发给当前对象；“清  屏”清空对话区；右键点成员可查看成员信息；"
    "“会话属性”显示当前会话的各项统计。结束时点“退出会话”（组长为“关闭会话”）。\n";

const char* const RECOMMEND_TEXT =
    "你好！\n"
    "\n"
    "我最近在用 Kolvena 网络会话，一个在局域网里多人聊天的小程序：不需要服务器，"
    "一个人创建会话，其他人输入会话地址编码就能加入。可以对大家说话，也可以说悄悄话，"
    "还能发讯息、传文件，并把整个会话录下来以后重放。\n"
    "\n"
    "推荐你也试试，我们可以在上面聊！\n";

constexpr const char* RECOMMEND_CAPTION = "将Kolvena推荐给朋友";

QPushButton* AddButton(QDialogButtonBox* box, const char* text, QDialogButtonBox::ButtonRole role,
                       const char* objectName) {
    QPushButton* button = box->addButton(QString::fromUtf8(text), role);
    button->setObjectName(objectName);
    return button;
}

// A lone OK button that closes the window.
void AddOkRow(QDialog& dialog, QBoxLayout* layout) {
    auto* buttons = new QDialogButtonBox(&dialog);
    AddButton(buttons, "确定", QDialogButtonBox::AcceptRole, "1")->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
}

// A mail address we can hand to the mail program: something@something, no blanks, and
// nothing that would end the address part of the link early.
bool LooksLikeMailAddress(const QString& address) {
    static const QRegularExpression pattern(QStringLiteral("^[^@\\s?#&/]+@[^@\\s?#&/]+$"));
    return pattern.match(address).hasMatch();
}

QByteArray MailPart(const QString& text) {
    // Line breaks in a mail link are CR LF.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return QUrl::toPercentEncoding(lines);
}

QUrl MailLink(const QString& address, const QString& subject, const QString& body) {
    const QByteArray link = "mailto:" + QUrl::toPercentEncoding(address, "@") +
                            "?subject=" + MailPart(subject) + "&body=" + MailPart(body);
    return QUrl::fromEncoded(link, QUrl::StrictMode);
}

} // namespace

QUrl HomePage() {
    return QUrl(QStringLiteral("https://kolvena.example/"));
}

HelpDialog::HelpDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("141");
    setWindowTitle(QString::fromUtf8("Kolvena 帮助"));
    auto* layout = new QVBoxLayout(this);

    auto* text = new QPlainTextEdit(QString::fromUtf8(HELP_TEXT), this);
    text->setReadOnly(true);
    text->setMinimumSize(fontMetrics().averageCharWidth() * 70, fontMetrics().height() * 24);
    layout->addWidget(text);

    // The help appears at every start; the box says so and cannot be changed.
    auto* everyStart = new QCheckBox(QString::fromUtf8("每次启动时显示"), this);
    everyStart->setChecked(true);
    everyStart->setEnabled(false);
    layout->addWidget(everyStart);

    AddOkRow(*this, layout);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("100");
    setWindowTitle(QString::fromUtf8("关于 Kolvena"));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(ApplicationIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);

    auto* words = new QVBoxLayout;
    auto* name = new QLabel(QStringLiteral("Kolvena v1.0"), this);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    words->addWidget(name);
    words->addWidget(
        new QLabel(QString::fromUtf8("局域网多人网络会话：创建、加入、对话、录象重放。"), this));
    words->addWidget(new QLabel(HomePage().toString(), this));
    row->addLayout(words);
    layout->addLayout(row);

    AddOkRow(*this, layout);
}

RecommendDialog::RecommendDialog(Prompter& prompter, UrlOpener open, QWidget* parent)
    : QDialog(parent), prompter_(prompter), open_(std::move(open)) {
    setObjectName("142");
    setWindowTitle(QString::fromUtf8(RECOMMEND_CAPTION));
    auto* layout = new QVBoxLayout(this);

    layout->addWidget(new QLabel(QString::fromUtf8("朋友的邮件地址："), this));
    auto* address = new QLineEdit(this);
    address->setObjectName("mailAddress");
    address->setPlaceholderText(QStringLiteral("friend@example.com"));
    layout->addWidget(address);

    layout->addWidget(new QLabel(QString::fromUtf8("推荐的话（可以修改）："), this));
    auto* text = new QPlainTextEdit(this);
    text->setObjectName("recommendText");
    text->setPlainText(QString::fromUtf8(RECOMMEND_TEXT) + QString::fromUtf8("主页：") +
                       HomePage().toString() + QLatin1Char('\n'));
    text->setMinimumSize(fontMetrics().averageCharWidth() * 60, fontMetrics().height() * 10);
    layout->addWidget(text);

    auto* hint =
        new QLabel(QString::fromUtf8("按“确定”后推荐的话会放到剪贴板上，并打开邮件程序写信给朋友；"
                                     "不填地址则只放到剪贴板上。"),
                   this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto* buttons = new QDialogButtonBox(this);
    AddButton(buttons, "确定", QDialogButtonBox::AcceptRole, "1")->setDefault(true);
    AddButton(buttons, "取消", QDialogButtonBox::RejectRole, "2");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this, address, text] {
        const QString to = address->text().trimmed();
        if (!to.isEmpty() && !LooksLikeMailAddress(to)) {
            prompter_.Inform(Notice::Refused, RECOMMEND_CAPTION,
                             "请输入正确的邮件地址，例如 friend@example.com。", BoxIcon::Warning);
            address->setFocus();
            return;
        }
        const QString body = text->toPlainText();
        prompter_.SetClipboard(body.toStdString());
        if (!to.isEmpty() && open_)
            open_(MailLink(to, QString::fromUtf8("推荐你试试 Kolvena 网络会话"), body));
        accept();
    });
}

} // namespace kolvena::ui

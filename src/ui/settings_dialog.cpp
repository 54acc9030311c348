#include "settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <limits>

namespace kolvena::ui {
namespace {

QCheckBox* MakeCheckBox(QWidget* parent, const char* id, const char* text, bool checked) {
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setObjectName(QString::fromLatin1(id));
    box->setChecked(checked);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* id, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(id));
    return button;
}

} // namespace

SettingsDialog::SettingsDialog(const SettingsValues& start, Validator validate, QWidget* parent)
    : QDialog(parent), start_(start), validate_(std::move(validate)) {
    setObjectName(QStringLiteral("140"));
    setWindowTitle(QStringLiteral("Kolvena - 设置"));

    verify_ = MakeCheckBox(this, "1074", "验证成员发送的消息(主机)", start.verify);
    showTimeOnChat_ = MakeCheckBox(this, "1011", "对话记录后显示时间", start.showTimeOnChat);
    sound_ = MakeCheckBox(this, "1077", "使用声音提示", start.sound);
    showTimeOnMessages_ =
        MakeCheckBox(this, "1079", "消息记录后显示时间", start.showTimeOnMessages);
    listen_ = MakeCheckBox(this, "1081", "监听客户连接", start.listen);
    search_ = MakeCheckBox(this, "1083", "允许局域网搜索", start.search);

    maxClients_ = new QLineEdit(this);
    maxClients_->setObjectName(QStringLiteral("1076"));
    // Digits only, but more of them than the range allows, so that a number past 100 reaches
    // the range check and its message instead of silently refusing the keystroke.
    const int digits = std::numeric_limits<std::uint32_t>::digits10 + 1;
    maxClients_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits)), maxClients_));
    maxClients_->setText(QString::number(start.maxClients));
    maxClients_->setMaximumWidth(
        maxClients_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
    maxLabel_ = new QLabel(QStringLiteral("最大客户数量(1-100)"), this);
    maxLabel_->setObjectName(QStringLiteral("1080"));
    maxLabel_->setBuddy(maxClients_);

    if (!start.hosting) {
        for (QWidget* hostOnly :
             {static_cast<QWidget*>(verify_), static_cast<QWidget*>(listen_),
              static_cast<QWidget*>(maxClients_), static_cast<QWidget*>(maxLabel_)})
            hostOnly->setEnabled(false);
    }

    auto* ok = MakeButton(this, "1", "确定");
    auto* cancel = MakeButton(this, "2", "取消");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (!validate_ || validate_(Values()))
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);

    auto* maxRow = new QHBoxLayout;
    maxRow->addWidget(maxLabel_);
    maxRow->addWidget(maxClients_);
    maxRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(verify_);
    layout->addWidget(showTimeOnChat_);
    layout->addWidget(sound_);
    layout->addLayout(maxRow);
    layout->addWidget(showTimeOnMessages_);
    layout->addWidget(listen_);
    layout->addWidget(search_);
    layout->addSpacing(8);
    layout->addWidget(buttons);
}

SettingsValues SettingsDialog::Values() const {
    SettingsValues values = start_;
    values.verify = verify_->isChecked();
    values.showTimeOnChat = showTimeOnChat_->isChecked();
    values.sound = sound_->isChecked();
    values.showTimeOnMessages = showTimeOnMessages_->isChecked();
    values.listen = listen_->isChecked();
    values.search = search_->isChecked();
    bool ok = false;
    const qulonglong typed = maxClients_->text().toULongLong(&ok);
    values.maxClients = ok && typed <= std::numeric_limits<std::uint32_t>::max()
                            ? static_cast<std::uint32_t>(typed)
                            : 0;
    return values;
}

} // namespace kolvena::ui

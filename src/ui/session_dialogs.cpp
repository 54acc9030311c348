#include "session_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <limits>

#include "protocol/transport.h"
#include "session/buddy.h"
#include "ui/gbk_edit.h"

namespace kolvena::ui {
namespace {

// A dotted IPv4 address is at most 15 characters.
constexpr int ADDRESS_TEXT_LENGTH = 15;

QLineEdit* MakeEdit(QWidget* parent, const char* id) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(id));
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* id, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(id));
    return button;
}

// The OK and cancel buttons, in the platform's order.
QDialogButtonBox* MakeButtonRow(QWidget* parent, QPushButton* ok, QPushButton* cancel) {
    auto* row = new QDialogButtonBox(parent);
    row->addButton(ok, QDialogButtonBox::AcceptRole);
    if (cancel != nullptr)
        row->addButton(cancel, QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    return row;
}

// Only digits, so that a number field never holds anything else.
void DigitsOnly(QLineEdit* edit, int maxDigits) {
    const QRegularExpression digits(QStringLiteral("[0-9]{0,%1}").arg(maxDigits));
    edit->setValidator(new QRegularExpressionValidator(digits, edit));
}

// A number field's value; text that is no number or lies outside the field's range reads as 0.
std::uint64_t NumberIn(const QLineEdit* edit, std::uint64_t maximum) {
    bool ok = false;
    const qulonglong value = edit->text().toULongLong(&ok);
    return ok && value <= maximum ? value : 0;
}

// Greys a control together with the label that names it, so a greyed field does not look
// fillable from its label.
void Enable(QWidget* dialog, QWidget* control, bool enabled) {
    control->setEnabled(enabled);
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->buddy() == control)
            label->setEnabled(enabled);
    }
}

QLabel* LabelFor(QWidget* parent, const char* text, QWidget* control) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(control);
    return label;
}

} // namespace

CreateSessionDialog::CreateSessionDialog(const std::string& hostAddress, std::uint16_t port,
                                         QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("130"));
    setWindowTitle(QStringLiteral("Kolvena - 创建一个新会话 !"));

    auto* group = new QGroupBox(QStringLiteral("会话主机地址"), this);
    address_ = MakeEdit(group, "1024");
    address_->setReadOnly(true);
    address_->setText(QString::fromStdString(hostAddress));
    port_ = MakeEdit(group, "1022");
    port_->setReadOnly(true);
    port_->setText(QString::number(port));

    auto* useDefault = new QCheckBox(QStringLiteral("使用默认端口号(推荐)"), group);
    useDefault->setObjectName(QStringLiteral("1034"));
    useDefault->setChecked(true);
    useDefault->setEnabled(false);
    // The session always listens on the session port; the box stays greyed, but should it ever
    // be enabled it behaves like the join dialog's.
    connect(useDefault, &QCheckBox::toggled, this, [this](bool checked) {
        if (checked)
            port_->setText(QString::number(SESSION_PORT));
        port_->setReadOnly(checked);
    });

    auto* explanation =
        new QLabel(QStringLiteral("根据您的IP地址与端口编号产生安全的地址编码"), group);
    explanation->setWordWrap(true);
    auto* makeCode = MakeButton(group, "1026", "生成您的地址编码");
    makeCode->setAutoDefault(false);
    codeEdit_ = MakeEdit(group, "1031");
    codeEdit_->setReadOnly(true);
    codeEdit_->setText(QString::number(code_));
    connect(makeCode, &QPushButton::clicked, this, [this] { MakeCode(); });

    auto* fields = new QFormLayout;
    fields->addRow(LabelFor(group, "主机IP地址", address_), address_);
    fields->addRow(LabelFor(group, "监听端口号", port_), port_);
    fields->addRow(QString(), useDefault);
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(makeCode);
    codeRow->addWidget(LabelFor(group, "  ->", codeEdit_));
    codeRow->addWidget(codeEdit_, 1);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(fields);
    groupLayout->addWidget(explanation);
    groupLayout->addLayout(codeRow);

    auto* ok = MakeButton(this, "1", "创建新会话");
    auto* cancel = MakeButton(this, "2", "取消");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(MakeButtonRow(this, ok, cancel));
    setMinimumWidth(360);
}

void CreateSessionDialog::MakeCode() {
    code_ = MakeAddressCode(address_->text().toStdString());
    codeEdit_->setText(QString::number(code_));
}

HostInfoDialog::HostInfoDialog(const std::string& name, const std::string& topic,
                               Validator validate, QWidget* parent)
    : QDialog(parent), validate_(std::move(validate)) {
    setObjectName(QStringLiteral("133"));
    setWindowTitle(QStringLiteral("作为会话主机的同时。。。"));

    auto* nameGroup = new QGroupBox(QStringLiteral("请填写您的妮称"), this);
    name_ = MakeEdit(nameGroup, "1041");
    // The limit first, so that a start value too long for the field is cut as well.
    LimitGbkLength(name_, NAME_SIZE);
    name_->setText(QString::fromStdString(name));
    (new QVBoxLayout(nameGroup))->addWidget(name_);

    auto* topicGroup = new QGroupBox(QStringLiteral("请填写会话主题"), this);
    topic_ = MakeEdit(topicGroup, "1042");
    LimitGbkLength(topic_, TOPIC_SIZE);
    topic_->setText(QString::fromStdString(topic));
    (new QVBoxLayout(topicGroup))->addWidget(topic_);

    auto* ok = MakeButton(this, "1", "确定");
    connect(ok, &QPushButton::clicked, this, [this] {
        if (!validate_ || validate_(Name(), Topic()))
            accept();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(nameGroup);
    layout->addWidget(topicGroup);
    layout->addWidget(MakeButtonRow(this, ok, nullptr));
    setMinimumWidth(320);
}

std::string HostInfoDialog::Name() const {
    return FromScreen(name_->text());
}

std::string HostInfoDialog::Topic() const {
    return FromScreen(topic_->text());
}

JoinSessionDialog::JoinSessionDialog(const std::string& proposedName, Validator validate,
                                     Search search, QWidget* parent)
    : QDialog(parent), validate_(std::move(validate)), search_(std::move(search)) {
    setObjectName(QStringLiteral("132"));
    setWindowTitle(QStringLiteral("Kolvena - 加入会话"));

    name_ = MakeEdit(this, "1037");
    LimitGbkLength(name_, NAME_SIZE);
    name_->setText(proposedName.empty() ? QStringLiteral("游客") : ToScreen(proposedName));
    auto* nameRow = new QFormLayout;
    nameRow->addRow(LabelFor(this, "您的妮称:", name_), name_);

    auto* group = new QGroupBox(QStringLiteral("请填写会话主机地址"), this);
    byCode_ = new QRadioButton(QStringLiteral("按地址编码加入:"), group);
    byCode_->setObjectName(QStringLiteral("1029"));
    byAddress_ = new QRadioButton(QStringLiteral("按主机IP地址加入:"), group);
    byAddress_->setObjectName(QStringLiteral("1030"));

    code_ = MakeEdit(group, "1039");
    DigitsOnly(code_, std::numeric_limits<AddressCode>::digits10 + 1);
    code_->setText(QStringLiteral("0"));
    address_ = MakeEdit(group, "1032");
    address_->setMaxLength(ADDRESS_TEXT_LENGTH);

    defaultPort_ = new QCheckBox(QStringLiteral("使用默认端口号"), group);
    defaultPort_->setObjectName(QStringLiteral("1040"));
    port_ = MakeEdit(group, "1038");
    DigitsOnly(port_, std::numeric_limits<std::int16_t>::digits10 + 1);

    auto* grid = new QGridLayout(group);
    grid->addWidget(byCode_, 0, 0);
    grid->addWidget(code_, 0, 1, 1, 3);
    grid->addWidget(byAddress_, 1, 0);
    grid->addWidget(address_, 1, 1, 1, 3);
    grid->addWidget(defaultPort_, 2, 1);
    grid->addWidget(LabelFor(group, "端口号:", port_), 2, 2, Qt::AlignRight);
    grid->addWidget(port_, 2, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    auto* ok = MakeButton(this, "1", "加入会话");
    auto* cancel = MakeButton(this, "2", "取消");
    connect(ok, &QPushButton::clicked, this, [this] {
        if (!validate_ || validate_(Request()))
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = MakeButtonRow(this, ok, cancel);
    if (search_) {
        auto* find = MakeButton(this, "1043", "搜索...");
        buttons->addButton(find, QDialogButtonBox::ActionRole);
        connect(find, &QPushButton::clicked, this, [this] {
            if (const auto found = search_())
                Prefill(*found);
        });
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(group);
    layout->addWidget(buttons);
    setMinimumWidth(380);

    byCode_->setChecked(true);
    defaultPort_->setChecked(true);
    ApplyMode();
    ApplyDefaultPort();
    connect(byCode_, &QRadioButton::toggled, this, [this] { ApplyMode(); });
    connect(defaultPort_, &QCheckBox::toggled, this, [this] { ApplyDefaultPort(); });
}

void JoinSessionDialog::ApplyMode() {
    const bool byCode = byCode_->isChecked();
    Enable(this, code_, byCode);
    Enable(this, address_, !byCode);
    Enable(this, defaultPort_, !byCode);
    Enable(this, port_, !byCode);
}

void JoinSessionDialog::ApplyDefaultPort() {
    const bool useDefault = defaultPort_->isChecked();
    if (useDefault)
        port_->setText(QString::number(SESSION_PORT));
    port_->setReadOnly(useDefault);
}

void JoinSessionDialog::Prefill(const SessionFound& found) {
    found_ = found;
    byAddress_->setChecked(true);
    address_->setText(QString::fromStdString(found.address));
    defaultPort_->setChecked(found.port == SESSION_PORT);
    port_->setText(QString::number(found.port));
    name_->setFocus();
    name_->selectAll();
}

JoinRequest JoinSessionDialog::Request() const {
    JoinRequest request;
    request.name = FromScreen(name_->text());
    request.mode = byCode_->isChecked() ? JoinMode::ByCode : JoinMode::ByAddress;
    request.code =
        static_cast<AddressCode>(NumberIn(code_, std::numeric_limits<AddressCode>::max()));
    request.address = FromScreen(address_->text().trimmed());
    // The field holds a signed 16-bit port; the connection uses the session port regardless.
    request.port = static_cast<std::uint16_t>(
        NumberIn(port_, static_cast<std::uint64_t>(std::numeric_limits<std::int16_t>::max())));
    if (found_ && request.mode == JoinMode::ByAddress && request.address == found_->address)
        request.connectPort = found_->port;
    return request;
}

RenameDialog::RenameDialog(Validator validate, QWidget* parent)
    : QDialog(parent), validate_(std::move(validate)) {
    setObjectName(QStringLiteral("135"));
    setWindowTitle(QStringLiteral("Kolvena - 更换妮称"));

    name_ = MakeEdit(this, "1065");
    LimitGbkLength(name_, NAME_SIZE);

    auto* ok = MakeButton(this, "1", "确定");
    auto* cancel = MakeButton(this, "2", "取消");
    connect(ok, &QPushButton::clicked, this, [this] {
        if (!validate_ || validate_(Name()))
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelFor(this, "填入你的新名字", name_));
    layout->addWidget(name_);
    layout->addWidget(MakeButtonRow(this, ok, cancel));
    setMinimumWidth(280);
}

std::string RenameDialog::Name() const {
    return FromScreen(name_->text());
}

} // namespace kolvena::ui

#include "ui/search_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "protocol/transport.h"

namespace kolvena::ui {
namespace {

enum Column { TOPIC, LEADER, COUNT, STATE, CODE, HOST, COLUMNS };

QString StateText(SearchState state) {
    switch (state) {
    case SearchState::Open:
        return QStringLiteral("可加入");
    case SearchState::Closed:
        return QStringLiteral("已关闭");
    case SearchState::Full:
        return QStringLiteral("已满");
    }
    return {};
}

// Why a session cannot be joined; empty when it can.
QString RefusalOf(const SessionFound& found) {
    switch (found.state) {
    case SearchState::Open:
        return {};
    case SearchState::Closed:
        return QStringLiteral("该会话已关闭，组长暂不接受新成员加入。");
    case SearchState::Full:
        return QStringLiteral("该会话已满（%1/%2），暂时不能加入。")
            .arg(found.present)
            .arg(found.limit);
    }
    return {};
}

QStringList RowTexts(const SessionFound& found) {
    QStringList texts(COLUMNS);
    texts[TOPIC] = QString::fromStdString(found.topic);
    texts[LEADER] = QString::fromStdString(found.leader);
    texts[COUNT] = QStringLiteral("%1/%2").arg(found.present).arg(found.limit);
    texts[STATE] = StateText(found.state);
    texts[CODE] = QString::number(found.code);
    texts[HOST] = QString::fromStdString(found.address);
    if (found.port != SESSION_PORT)
        texts[HOST] += QStringLiteral(":%1").arg(found.port);
    return texts;
}

QPushButton* MakeButton(QWidget* parent, const char* id, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(id));
    return button;
}

} // namespace

SearchDialog::SearchDialog(SearchSource& source, std::vector<std::uint16_t> ports, QWidget* parent)
    : QDialog(parent), source_(source), ports_(std::move(ports)) {
    setObjectName(QStringLiteral("160"));
    setWindowTitle(QStringLiteral("Kolvena - 局域网搜索"));

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("1100"));
    list_->setHeaderLabels({QStringLiteral("主题"), QStringLiteral("组长"), QStringLiteral("人数"),
                            QStringLiteral("状态"), QStringLiteral("地址编码"),
                            QStringLiteral("主机地址")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->header()->setSectionResizeMode(TOPIC, QHeaderView::Stretch);

    auto* addressLabel = new QLabel(QStringLiteral("直接查询主机地址:"), this);
    addresses_ = new QLineEdit(this);
    addresses_->setObjectName(QStringLiteral("1101"));
    addresses_->setPlaceholderText(
        QStringLiteral("其他网段的主机 IP 地址(可加 :端口)，多个用空格分开"));
    addressLabel->setBuddy(addresses_);
    auto* refresh = MakeButton(this, "1102", QStringLiteral("刷新"));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("1103"));
    status_->setWordWrap(true);

    join_ = MakeButton(this, "1", QStringLiteral("加入会话"));
    auto* close = MakeButton(this, "2", QStringLiteral("关闭"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(join_, QDialogButtonBox::AcceptRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    join_->setDefault(true);

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(addressLabel);
    addressRow->addWidget(addresses_, 1);
    addressRow->addWidget(refresh);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(addressRow);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    setMinimumSize(520, 280);
    resize(640, 360);

    connect(refresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(addresses_, &QLineEdit::returnPressed, this, [this] { Refresh(); });
    connect(join_, &QPushButton::clicked, this, [this] { JoinSelected(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { ApplySelection(); });
    connect(list_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        list_->setCurrentItem(item);
        JoinSelected();
    });

    source_.OnFound([this](std::size_t index, bool first) { ShowFound(index, first); });
    source_.OnFinished([this] { ShowFinished(); });
    Refresh();
}

SearchDialog::~SearchDialog() {
    source_.Stop();
    source_.OnFound({});
    source_.OnFinished({});
}

void SearchDialog::Refresh() {
    list_->clear();
    SearchOptions options;
    options.ports = ports_;
    QStringList refused;
    const QStringList typed = addresses_->text().split(
        QRegularExpression(QStringLiteral("[\\s,;，；]+")), Qt::SkipEmptyParts);
    // "ADDRESS" or "ADDRESS:PORT"; a port typed is asked at every target, which costs one
    // query more per target and nothing else.
    for (const QString& text : typed) {
        const QStringList parts = text.split(QLatin1Char(':'));
        bool portOk = parts.size() == 1;
        const uint port = parts.size() == 2 ? parts[1].toUInt(&portOk) : 0;
        portOk = portOk && port <= 0xFFFF && (parts.size() == 1 || port > 0);
        if (!portOk || QHostAddress(parts[0]).protocol() != QAbstractSocket::IPv4Protocol) {
            refused << text;
            continue;
        }
        options.addresses.push_back(parts[0].toStdString());
        if (port != 0 &&
            std::find(options.ports.begin(), options.ports.end(), port) == options.ports.end())
            options.ports.push_back(static_cast<std::uint16_t>(port));
    }
    if (!source_.Start(options))
        searchStatus_ = QStringLiteral("无法搜索：不能打开网络端口。");
    else
        searchStatus_ = QStringLiteral("正在搜索局域网中的会话...");
    if (!refused.isEmpty())
        searchStatus_ += QStringLiteral(" 无效的地址: %1").arg(refused.join(QLatin1Char(' ')));
    ApplySelection();
}

void SearchDialog::ShowFound(std::size_t index, bool first) {
    const auto& results = source_.Results();
    if (index >= results.size())
        return;
    const QStringList texts = RowTexts(results[index]);
    if (first && index == static_cast<std::size_t>(list_->topLevelItemCount())) {
        list_->addTopLevelItem(new QTreeWidgetItem(texts));
    } else if (QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(index))) {
        for (int column = 0; column < COLUMNS; ++column)
            item->setText(column, texts[column]);
    }
    ApplySelection();
}

void SearchDialog::ShowFinished() {
    const int found = list_->topLevelItemCount();
    searchStatus_ = found > 0 ? QStringLiteral("找到 %1 个会话。").arg(found)
                              : QStringLiteral("没有找到会话。其他网段的主机可以在上面填写地址"
                                               "直接查询。");
    ApplySelection();
}

const SessionFound* SearchDialog::Selected() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    const int row = list_->indexOfTopLevelItem(selected.front());
    const auto& results = source_.Results();
    return row >= 0 && static_cast<std::size_t>(row) < results.size() ? &results[row] : nullptr;
}

void SearchDialog::ApplySelection() {
    const SessionFound* found = Selected();
    const QString refusal = found ? RefusalOf(*found) : QString();
    join_->setEnabled(found != nullptr && refusal.isEmpty());
    join_->setToolTip(refusal);
    status_->setText(refusal.isEmpty() ? searchStatus_ : refusal);
}

void SearchDialog::JoinSelected() {
    const SessionFound* found = Selected();
    if (found == nullptr || !RefusalOf(*found).isEmpty())
        return;
    chosen_ = *found;
    accept();
}

} // namespace kolvena::ui

#include "ui/management_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kolvena::ui {
namespace {

constexpr int STAY_TICK_MS = 1000;

QPushButton* MakeButton(QWidget* parent, const char* id, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromLatin1(id));
    button->setAutoDefault(false);
    return button;
}

} // namespace

ManagementDialog::ManagementDialog(MemberCommands& commands, QWidget* parent)
    : QDialog(parent), commands_(commands) {
    setObjectName(QStringLiteral("170"));
    setWindowTitle(QStringLiteral("Kolvena - 会话管理"));

    table_ = new QTreeWidget(this);
    table_->setObjectName(QStringLiteral("1120"));
    QStringList titles;
    for (const char* title : MEMBER_COLUMN_TITLES)
        titles << QString::fromUtf8(title);
    table_->setHeaderLabels(titles);
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setAllColumnsShowFocus(true);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    remove_ = MakeButton(this, "1121", "请出会话");
    refuse_ = MakeButton(this, "1122", "请出并禁止再加入");
    mute_ = MakeButton(this, "1123", "禁言");
    auto* memberButtons = new QHBoxLayout;
    memberButtons->addWidget(remove_);
    memberButtons->addWidget(refuse_);
    memberButtons->addWidget(mute_);
    memberButtons->addStretch(1);

    auto* refusedLabel = new QLabel(QStringLiteral("禁止加入的地址:"), this);
    refused_ = new QListWidget(this);
    refused_->setObjectName(QStringLiteral("1124"));
    refused_->setMaximumHeight(90);
    refusedLabel->setBuddy(refused_);
    unrefuse_ = MakeButton(this, "1125", "解除禁止");

    auto* close = MakeButton(this, "2", "关闭");
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(close, QDialogButtonBox::RejectRole);

    auto* refusedRow = new QHBoxLayout;
    refusedRow->addWidget(refused_, 1);
    refusedRow->addWidget(unrefuse_, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addLayout(memberButtons);
    layout->addWidget(refusedLabel);
    layout->addLayout(refusedRow);
    layout->addWidget(buttons);
    setMinimumSize(560, 360);
    resize(720, 420);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(table_, &QTreeWidget::itemSelectionChanged, this, [this] { ApplySelection(); });
    connect(refused_, &QListWidget::itemSelectionChanged, this, [this] { ApplySelection(); });
    connect(remove_, &QPushButton::clicked, this, [this] { Act(&MemberCommands::Remove); });
    connect(refuse_, &QPushButton::clicked, this,
            [this] { Act(&MemberCommands::RemoveAndRefuse); });
    connect(mute_, &QPushButton::clicked, this, [this] {
        const BuddyId id = SelectedMember();
        const auto row = std::find_if(rows_.begin(), rows_.end(),
                                      [id](const MemberRow& r) { return r.id == id; });
        if (row == rows_.end())
            return;
        commands_.Mute(id, row->status != MemberStatus::Muted);
        Rebuild();
    });
    connect(unrefuse_, &QPushButton::clicked, this, [this] {
        const QList<QListWidgetItem*> selected = refused_->selectedItems();
        if (selected.isEmpty())
            return;
        commands_.Unrefuse(selected.front()->text().toStdString());
        Rebuild();
    });
    clock_.setInterval(STAY_TICK_MS);
    connect(&clock_, &QTimer::timeout, this, [this] { Rebuild(); });
    clock_.start();
    Rebuild();
}

void ManagementDialog::Rebuild() {
    const BuddyId selected = SelectedMember();
    const QList<QListWidgetItem*> refusedSelection = refused_->selectedItems();
    const QString refusedSelected =
        refusedSelection.isEmpty() ? QString() : refusedSelection.front()->text();

    rows_ = commands_.Rows();
    // Rows change in place where the table already has them, so that neither the selection
    // nor the scroll position jumps each second.
    while (table_->topLevelItemCount() > static_cast<int>(rows_.size()))
        delete table_->takeTopLevelItem(table_->topLevelItemCount() - 1);
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        QTreeWidgetItem* item = table_->topLevelItem(static_cast<int>(k));
        if (item == nullptr) {
            item = new QTreeWidgetItem;
            table_->addTopLevelItem(item);
        }
        const auto texts = RowTexts(rows_[k]);
        for (std::size_t column = 0; column < texts.size(); ++column)
            item->setText(static_cast<int>(column), QString::fromStdString(texts[column]));
        item->setData(0, Qt::UserRole, rows_[k].id.value);
        item->setSelected(rows_[k].id == selected && selected.value != 0);
    }

    refused_->clear();
    for (const std::string& address : commands_.RefusedAddresses()) {
        auto* item = new QListWidgetItem(QString::fromStdString(address), refused_);
        item->setSelected(item->text() == refusedSelected);
    }
    ApplySelection();
}

BuddyId ManagementDialog::SelectedMember() const {
    const QList<QTreeWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty())
        return BuddyId();
    return BuddyId(static_cast<std::uint16_t>(selected.front()->data(0, Qt::UserRole).toUInt()));
}

void ManagementDialog::ApplySelection() {
    const BuddyId id = SelectedMember();
    const auto row =
        std::find_if(rows_.begin(), rows_.end(), [id](const MemberRow& r) { return r.id == id; });
    // The leader's own row and those of departed members have no buttons.
    const bool actionable = row != rows_.end() && !row->leader && !row->index.IsNobody();
    for (QPushButton* button : {remove_, refuse_, mute_})
        button->setEnabled(actionable);
    mute_->setText(actionable && row->status == MemberStatus::Muted ? QStringLiteral("解除禁言")
                                                                    : QStringLiteral("禁言"));
    unrefuse_->setEnabled(!refused_->selectedItems().isEmpty());
}

void ManagementDialog::Act(bool (MemberCommands::*command)(BuddyId)) {
    const BuddyId id = SelectedMember();
    if (id.value != 0)
        (commands_.*command)(id);
    Rebuild();
}

} // namespace kolvena::ui

#include "ui/find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace kolvena::ui {
namespace {

// Highlights made at most for one view; a view never shows more matches than that.
constexpr int MAX_HIGHLIGHTS = 2000;

QPushButton* MakeButton(QWidget* parent, const char* id, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(id));
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

FindBar::FindBar(QPlainTextEdit& pane, QWidget* parent) : QWidget(parent), pane_(pane) {
    setObjectName(QStringLiteral("1110"));
    auto* label = new QLabel(QStringLiteral("查找:"), this);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("1111"));
    label->setBuddy(field_);
    place_ = new QLabel(this);
    place_->setObjectName(QStringLiteral("1112"));
    auto* previous = MakeButton(this, "1113", QStringLiteral("上一个"));
    auto* next = MakeButton(this, "1114", QStringLiteral("下一个"));
    auto* close = MakeButton(this, "1115", QStringLiteral("关闭"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 2, 0, 0);
    row->addWidget(label);
    row->addWidget(field_, 1);
    row->addWidget(place_);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(close);
    hide();

    field_->installEventFilter(this);
    connect(field_, &QLineEdit::textChanged, this, [this] { Find(); });
    connect(previous, &QPushButton::clicked, this, [this] { Step(true); });
    connect(next, &QPushButton::clicked, this, [this] { Step(false); });
    connect(close, &QPushButton::clicked, this, [this] { Close(); });
    connect(pane_.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { Highlight(); });
}

void FindBar::Open() {
    const bool was = isVisible();
    show();
    if (!was && onShownChanged)
        onShownChanged();
    field_->setFocus();
    field_->selectAll();
    Find();
}

void FindBar::Close() {
    if (!isVisible())
        return;
    hide();
    matches_.clear();
    current_ = -1;
    pane_.setExtraSelections({});
    if (onShownChanged)
        onShownChanged();
}

void FindBar::Refresh() {
    if (!isVisible() || field_->text().isEmpty())
        return;
    const int current = current_;
    Find();
    // Where the user stood, as far as the matches still reach.
    if (current >= 0 && !matches_.empty()) {
        current_ = std::min(current, Count() - 1);
        ShowPlace();
        Highlight();
    }
}

void FindBar::Find() {
    sought_ = field_->text();
    matches_.clear();
    current_ = -1;
    if (!sought_.isEmpty()) {
        const QString text = pane_.toPlainText();
        for (qsizetype at = text.indexOf(sought_, 0, Qt::CaseInsensitive); at >= 0;
             at = text.indexOf(sought_, at + sought_.size(), Qt::CaseInsensitive))
            matches_.push_back(static_cast<int>(at));
    }
    if (!matches_.empty()) {
        // The first match from the top of the view on, as the user reads.
        const int top = pane_.cursorForPosition(QPoint(0, 0)).position();
        const auto from = std::lower_bound(matches_.begin(), matches_.end(), top);
        current_ = from == matches_.end() ? 0 : static_cast<int>(from - matches_.begin());
        QTextCursor cursor(pane_.document());
        cursor.setPosition(matches_[current_]);
        cursor.setPosition(matches_[current_] + static_cast<int>(sought_.size()),
                           QTextCursor::KeepAnchor);
        pane_.setTextCursor(cursor);
    }
    ShowPlace();
    Highlight();
}

void FindBar::Step(bool backwards) {
    if (matches_.empty())
        return;
    const int count = Count();
    current_ = current_ < 0 ? (backwards ? count - 1 : 0)
                            : (current_ + (backwards ? count - 1 : 1)) % count;
    QTextCursor cursor(pane_.document());
    cursor.setPosition(matches_[current_]);
    cursor.setPosition(matches_[current_] + static_cast<int>(sought_.size()),
                       QTextCursor::KeepAnchor);
    pane_.setTextCursor(cursor);
    pane_.ensureCursorVisible();
    ShowPlace();
    Highlight();
}

void FindBar::ShowPlace() {
    if (sought_.isEmpty())
        place_->clear();
    else if (matches_.empty())
        place_->setText(QStringLiteral("没有找到"));
    else
        place_->setText(QStringLiteral("第 %1/%2 处").arg(current_ + 1).arg(Count()));
}

void FindBar::Highlight() {
    QList<QTextEdit::ExtraSelection> shown;
    if (isVisible() && !matches_.empty()) {
        const QRect view = pane_.viewport()->rect();
        const int first = pane_.cursorForPosition(view.topLeft()).position();
        const QTextBlock bottom = pane_.cursorForPosition(view.bottomRight()).block();
        const int last = bottom.position() + bottom.length();
        const int length = static_cast<int>(sought_.size());
        QTextCharFormat match, current;
        match.setBackground(QColor(0xff, 0xe5, 0x8f));
        current.setBackground(QColor(0xff, 0x9f, 0x43));
        auto at = std::lower_bound(matches_.begin(), matches_.end(), first - length);
        for (; at != matches_.end() && *at <= last && shown.size() < MAX_HIGHLIGHTS; ++at) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(pane_.document());
            selection.cursor.setPosition(*at);
            selection.cursor.setPosition(*at + length, QTextCursor::KeepAnchor);
            selection.format = at - matches_.begin() == current_ ? current : match;
            shown.append(selection);
        }
    }
    pane_.setExtraSelections(shown);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool shift = key->modifiers().testFlag(Qt::ShiftModifier);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F3:
            Step(shift);
            return true;
        case Qt::Key_Escape:
            Close();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kolvena::ui

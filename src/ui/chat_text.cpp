#include "ui/chat_text.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

#include "chat_painter.h"

namespace kolvena::ui {

ChatText::ChatText(QPlainTextEdit& pane)
    : QObject(&pane), pane_(pane), viewport_(pane.viewport()), painter_(new ChatPainter(pane)) {
    pane.viewport()->installEventFilter(this);
}

void ChatText::Clear() {
    painter_->Own([this] { pane_.setPlainText(QStringLiteral("\n")); });
    runs_.clear();
    blockLines_ = 0;
    hasLines_ = false;
}

void ChatText::Add(const QString& line, const QTextCharFormat& format) {
    if (runs_.empty() || format != runs_.back().format)
        runs_.push_back({QString(), format});
    QString& text = runs_.back().text;
    if (blockLines_ == LINES_PER_BLOCK) {
        text += QChar(QChar::ParagraphSeparator);
        blockLines_ = 0;
    } else if (blockLines_ > 0) {
        text += QChar(QChar::LineSeparator);
    }
    text += line;
    ++blockLines_;
}

void ChatText::Flush() {
    if (runs_.empty())
        return;
    QTextDocument* document = pane_.document();
    QTextCursor cursor(document);
    if (hasLines_) {
        // The end of the block holding the last line, before the empty line and the end.
        cursor.setPosition(std::max(0, document->characterCount() - 3));
    } else {
        // The first line, in a block of its own before the empty line.
        runs_.back().text += QChar(QChar::ParagraphSeparator);
        hasLines_ = true;
    }
    // One edit: the text is laid out once for all the runs, not once a run.
    painter_->Own([&] {
        cursor.beginEditBlock();
        for (const Run& run : runs_)
            cursor.insertText(run.text, run.format);
        cursor.endEditBlock();
    });
    runs_.clear();
}

int ChatText::TopPosition() const {
    // Half a line down: the line whose top is at the top, not the one whose last pixel is.
    return pane_.cursorForPosition(QPoint(0, pane_.fontMetrics().height() / 2)).position();
}

void ChatText::ScrollTo(int position) {
    // The scroll bar counts laid-out lines, and a block not yet laid out as one line: the
    // block is laid out first, and its lines before the position counted.
    QTextDocument* document = pane_.document();
    const QTextBlock block = document->findBlock(std::clamp(position, 0, End()));
    document->documentLayout()->blockBoundingRect(block);
    int value = block.firstLineNumber();
    if (const QTextLayout* layout = block.layout(); layout != nullptr && layout->lineCount() > 0)
        value += layout->lineForTextPosition(position - block.position()).lineNumber();
    painter_->Own([&] { pane_.verticalScrollBar()->setValue(value); });
}

void ChatText::ScrollToEnd() {
    QScrollBar* bar = pane_.verticalScrollBar();
    painter_->Own([bar] { bar->setValue(bar->maximum()); });
}

int ChatText::LineOf(int position) const {
    const QString text = pane_.toPlainText();
    return static_cast<int>(
        QStringView(text).left(std::clamp(position, 0, int(text.size()))).count(u'\n'));
}

int ChatText::PositionOfLine(int line) const {
    const QString text = pane_.toPlainText();
    qsizetype at = 0;
    for (int k = 0; k < line && at >= 0; ++k) {
        at = text.indexOf(u'\n', at);
        if (at >= 0)
            ++at;
    }
    return at < 0 ? End() : static_cast<int>(at);
}

int ChatText::End() const {
    return std::max(0, pane_.document()->characterCount() - 1);
}

bool ChatText::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // Compared as kept: the viewport still has events while the pane is being destroyed.
    if (watched != viewport_ ||
        (type != QEvent::MouseButtonDblClick && type != QEvent::MouseButtonPress))
        return QObject::eventFilter(watched, event);
    const auto* mouse = static_cast<const QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const QPoint at = mouse->position().toPoint();
    if (type == QEvent::MouseButtonDblClick) {
        sinceDoubleClick_.start();
        doubleClickAt_ = at;
        return false;
    }
    if (sinceDoubleClick_.isValid() &&
        sinceDoubleClick_.elapsed() < QApplication::doubleClickInterval() &&
        (at - doubleClickAt_).manhattanLength() < QApplication::startDragDistance()) {
        sinceDoubleClick_.invalidate();
        SelectLineAt(at);
        return true;
    }
    return false;
}

void ChatText::SelectLineAt(QPoint at) {
    QTextCursor cursor = pane_.cursorForPosition(at);
    const QTextBlock block = cursor.block();
    const QString text = block.text();
    const int offset = cursor.positionInBlock();
    const int start =
        offset == 0 ? 0 : text.lastIndexOf(QChar(QChar::LineSeparator), offset - 1) + 1;
    int end = text.indexOf(QChar(QChar::LineSeparator), offset);
    if (end < 0)
        end = static_cast<int>(text.size());
    // With its line break, as a triple click takes a whole block.
    cursor.setPosition(block.position() + start);
    cursor.setPosition(std::min(block.position() + end + 1, pane_.document()->characterCount() - 1),
                       QTextCursor::KeepAnchor);
    pane_.setTextCursor(cursor);
}

} // namespace kolvena::ui

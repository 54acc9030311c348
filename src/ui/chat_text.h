#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTextCharFormat>
#include <vector>

class QPlainTextEdit;

namespace kolvena::ui {

class ChatPainter;

// The chat area's text. Lines go into blocks of LINES_PER_BLOCK, joined by line separators: the
// document keeps a layout for every block it has laid out, and for short chat lines that layout
// was most of what a line cost. Both separators are one character, so positions are the same
// as with a block a line, and copied text has a line break at each. The text always ends with
// one empty line after the last line. A triple click still selects one line, not its block.
class ChatText final : public QObject {
public:
    static constexpr int LINES_PER_BLOCK = 8;

    explicit ChatText(QPlainTextEdit& pane);

    // No lines, only the empty line at the end.
    void Clear();
    // A line to go after the others; the lines added go in at the next Flush, in one edit.
    void Add(const QString& line, const QTextCharFormat& format);
    void Flush();

    // Where the user reads: the position of the text at the top of the view, and the view put
    // back to show a position at its top (or the end, if the text below does not fill it).
    int TopPosition() const;
    void ScrollTo(int position);
    void ScrollToEnd();
    // The line a position lies on, counting every line break, and where a line starts; for
    // keeping the place across a rebuild of the text.
    int LineOf(int position) const;
    int PositionOfLine(int line) const;
    int End() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SelectLineAt(QPoint at);

    QPlainTextEdit& pane_;
    const QObject* viewport_;
    // Every change made here is the chat's own: painted from a picture made in parts.
    ChatPainter* painter_;
    // Lines added and not yet in the text, a run of one format at a time.
    struct Run {
        QString text;
        QTextCharFormat format;
    };
    std::vector<Run> runs_;
    // Lines in the block that holds the last line; 0 while there is no line.
    int blockLines_ = 0;
    bool hasLines_ = false;
    // Where and when the last double click was, to tell a triple click.
    QElapsedTimer sinceDoubleClick_;
    QPoint doubleClickAt_;
};

} // namespace kolvena::ui

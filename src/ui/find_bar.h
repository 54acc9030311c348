#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace kolvena::ui {

// The find bar under the chat area: what is typed is looked for in the pane's text, ignoring
// case, and every match in view is highlighted; Enter or F3 goes to the next, Shift+Enter or
// Shift+F3 to the previous, Escape closes it. The matches are kept as positions, and only the
// ones in view become highlights, so that a long chat answers each keystroke quickly.
class FindBar final : public QWidget {
public:
    FindBar(QPlainTextEdit& pane, QWidget* parent);

    // Shows the bar with the field focused and its text selected.
    void Open();
    void Close();
    // Goes to the next match (or the previous), wrapping around; the pane shows it selected.
    void Step(bool backwards);
    // The pane's text changed: the matches are found again.
    void Refresh();

    // Called when the bar is shown or hidden, so that the window makes room for it.
    std::function<void()> onShownChanged;
    // Matches found, and the one gone to (0 before any).
    int Count() const { return static_cast<int>(matches_.size()); }
    int Current() const { return current_ + 1; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Find();
    void ShowPlace();
    void Highlight();

    QPlainTextEdit& pane_;
    QLineEdit* field_;
    QLabel* place_;
    QString sought_;
    std::vector<int> matches_; // positions in the pane's text, ascending
    int current_ = -1;
};

} // namespace kolvena::ui

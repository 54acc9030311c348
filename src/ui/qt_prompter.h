#pragma once

#include <QString>

#include "session/prompter.h"

class QWidget;

namespace kolvena::ui {

// Message boxes, file dialogs, the clipboard and beeps with Qt. File dialogs start in the
// user's documents folder.
class QtPrompter final : public Prompter {
public:
    explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    void Inform(Notice notice, const std::string& caption, const std::string& text,
                BoxIcon icon) override;
    BoxAnswer Ask(Question question, const std::string& caption, const std::string& text,
                  BoxButtons buttons, BoxIcon icon) override;
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
    void SetClipboard(const std::string& text) override;
    void Beep(BeepKind kind) override;

private:
    QWidget* parent_;
};

// The program's name, the caption of every box that has none.
QString ProgramName();
// "Text files (*.txt)|*.txt|All files (*.*) | *.* ||" as a Qt file-dialog filter.
QString QtFileFilter(const std::string& filter);

} // namespace kolvena::ui

#pragma once

#include <QString>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "session/prompter.h"

class QCoreApplication;
class QTranslator;
class QWidget;

namespace kolvena::ui {

// Where the file dialogs open: in the documents folder when there is one, else in the home
// folder, never in the working folder; within a run, each kind of dialog (saving or opening
// files of one extension) where it was last used.
class FileFolders {
public:
    QString StartPath(const FileDialogRequest& request, bool save) const;
    void Used(const FileDialogRequest& request, bool save, const QString& path);

private:
    std::map<std::pair<bool, std::string>, QString> last_;
};

// Message boxes, file dialogs, the clipboard and beeps with Qt.
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
    std::optional<std::string> ChooseFile(const FileDialogRequest& request, bool save);

    QWidget* parent_;
    FileFolders folders_;
};

// What the window's core asks through: every call goes on to the window's prompter, but the
// questions that wait for the user (a member's notice to approve, a file offered) are told
// first, so that a window out of sight can ask for attention before its box blocks, and the
// notice that the recording holds no more events (only a busy session fills it) goes to the
// window instead, to be shown without a modal box and without taking the keyboard.
class WindowPrompter final : public Prompter {
public:
    using Waiting = std::function<void(const std::string& caption, const std::string& text)>;
    using Limit = std::function<void(const std::string& text)>;
    WindowPrompter(Prompter& inner, Waiting onWaiting, Limit onLimit)
        : inner_(inner), onWaiting_(std::move(onWaiting)), onLimit_(std::move(onLimit)) {}

    void Inform(Notice notice, const std::string& caption, const std::string& text,
                BoxIcon icon) override {
        if (notice == Notice::LogFull)
            onLimit_(text);
        else
            inner_.Inform(notice, caption, text, icon);
    }
    BoxAnswer Ask(Question question, const std::string& caption, const std::string& text,
                  BoxButtons buttons, BoxIcon icon) override {
        if (question == Question::ApproveNotice || question == Question::AcceptFile)
            onWaiting_(caption, text);
        return inner_.Ask(question, caption, text, buttons, icon);
    }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override {
        return inner_.ChooseSaveFile(request);
    }
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override {
        return inner_.ChooseOpenFile(request);
    }
    void SetClipboard(const std::string& text) override { inner_.SetClipboard(text); }
    void Beep(BeepKind kind) override { inner_.Beep(kind); }

private:
    Prompter& inner_;
    Waiting onWaiting_;
    Limit onLimit_;
};

// Loads Qt's own Simplified Chinese texts (standard buttons, file dialogs, context menus)
// whatever the system's language, since every text of the program is Chinese. Null when they
// are not installed; the program runs on in Qt's English then.
QTranslator* InstallQtTranslations(QCoreApplication& app);

// The program's name, the caption of every box that has none.
QString ProgramName();
// "Text files (*.txt)|*.txt|All files (*.*) | *.* ||" as a Qt file-dialog filter.
QString QtFileFilter(const std::string& filter);

} // namespace kolvena::ui

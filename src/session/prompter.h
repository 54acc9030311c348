#pragma once

#include <optional>
#include <string>

namespace kolvena {

enum class BoxIcon { None, Information, Question, Warning, Stop };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxAnswer { Ok, Cancel, Yes, No };
enum class BeepKind { Default, Information };

// What a file dialog starts with. Texts are UTF-8; filter is the dialog's filter string as the
// program states it ("Text files (*.txt)|*.txt|All files (*.*) | *.* ||").
struct FileDialogRequest {
    std::string defaultExtension;
    std::string initialName;
    std::string filter;
};

// Every message box, question, file dialog, clipboard write and beep goes through here, so the
// window, the headless peer and the tests can each answer in their own way. All texts are
// UTF-8: the prompter is where text meets a person. An empty caption shows the program's name.
class Prompter {
public:
    virtual ~Prompter() = default;

    virtual void Inform(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
    virtual BoxAnswer Ask(const std::string& caption, const std::string& text, BoxButtons buttons,
                          BoxIcon icon) = 0;
    // The chosen path, or nothing when the user cancels.
    virtual std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) = 0;
    virtual void SetClipboard(const std::string& text) = 0;
    virtual void Beep(BeepKind kind) = 0;
};

} // namespace kolvena

#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/clock.h"
#include "session/prompter.h"

namespace kolvena::test {

class FakeClock final : public Clock {
public:
    explicit FakeClock(CalendarTime start = 1000000000) : now(start) {}
    CalendarTime Now() const override { return now; }
    void Advance(CalendarTime seconds) { now += seconds; }
    CalendarTime now;
};

// Records every box and answers questions and file dialogs from a script; an empty script
// answers Yes/OK and cancels file dialogs.
class ScriptedPrompter final : public Prompter {
public:
    struct Box {
        std::string caption, text;
        BoxIcon icon;
        std::optional<Notice> notice = std::nullopt;     // set for a notice
        std::optional<Question> question = std::nullopt; // set for a question
    };

    void Inform(Notice notice, const std::string& caption, const std::string& text,
                BoxIcon icon) override {
        boxes.push_back({caption, text, icon, notice, std::nullopt});
        if (duringInform)
            duringInform();
    }
    BoxAnswer Ask(Question question, const std::string& caption, const std::string& text,
                  BoxButtons buttons, BoxIcon icon) override {
        boxes.push_back({caption, text, icon, std::nullopt, question});
        // What happens while a modal box is open: its nested event loop delivers other events.
        if (duringAsk) {
            auto events = std::move(duringAsk);
            duringAsk = nullptr;
            events();
        }
        return Next(answers, buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok);
    }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override {
        fileRequests.push_back(request);
        return Next(paths, std::optional<std::string>());
    }
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override {
        fileRequests.push_back(request);
        return Next(paths, std::optional<std::string>());
    }
    void SetClipboard(const std::string& text) override { clipboard = text; }
    void Beep(BeepKind kind) override { beeps.push_back(kind); }

    std::vector<Box> boxes;
    std::deque<BoxAnswer> answers;
    std::deque<std::string> paths;
    std::vector<FileDialogRequest> fileRequests;
    std::string clipboard;
    std::vector<BeepKind> beeps;
    std::function<void()> duringAsk;    // runs once, inside the next question
    std::function<void()> duringInform; // runs inside every information box while set

private:
    // The next scripted answer, or the fallback once the script is used up.
    template <class T, class R> static R Next(std::deque<T>& script, R fallback) {
        if (script.empty())
            return fallback;
        R next = std::move(script.front());
        script.pop_front();
        return next;
    }
};

} // namespace kolvena::test

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "peer_options.h"
#include "protocol/session_core.h"
#include "transfer_report.h"

namespace kolvena::peer {

// Prints, as UTF-8 lines flushed at once, what a person at a window would see: "chat: " for each
// line added to the chat area, "notice: " for each line of the message window, "members: " for
// the member list after each change, "box: " for every message box and question with the answer
// given. With --json each of them is a JSON object instead (docs/peer-json.md), made from the
// session's records rather than from the texts. Questions are answered from the options.
class PeerOutput final : public SessionView, public Prompter {
public:
    explicit PeerOutput(const PeerOptions& options) : options_(options) {}

    void Attach(SessionCore& core) { core_ = &core; }
    // Told of every box and of where a received file is saved.
    void Attach(TransferReport& report) { report_ = &report; }
    // Runs every second while the joining line grows.
    void OnJoinTimer(std::function<void(bool running)> handler) { joinTimer_ = std::move(handler); }
    // The path the next file dialog answers with, or none; a command that sets it clears it
    // afterwards, so that a dialog it never opened cannot take the path later.
    // A recording path is reported, once the command has saved there, when it is cleared.
    void SetNextPath(std::optional<std::string> path, bool recording = false);

    void RefreshChat() override;
    void RefreshMessages() override;
    void RefreshMembers() override;
    void RefreshTarget() override {}
    void RefreshTitle() override {}
    void RefreshCommands() override {}
    void SetWindowMode(WindowMode) override {}
    void SetJoinTimer(bool running) override;

    void Inform(Notice notice, const std::string& caption, const std::string& text,
                BoxIcon icon) override;
    BoxAnswer Ask(Question question, const std::string& caption, const std::string& text,
                  BoxButtons buttons, BoxIcon icon) override;
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest& request) override;
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest& request) override;
    void SetClipboard(const std::string&) override {}
    void Beep(BeepKind) override {}

    // members-detail: a "member: " line per roster record with the management table's
    // columns separated by tabs, then a "refused: " line per refused address.
    void PrintMembersDetail() const;
    static void Print(std::string_view prefix, std::string_view utf8);
    static void PrintLine(std::string line);
    // A command could not be carried out: "error: " and the text.
    void Error(std::string_view utf8) const;

    // Whether the events print as JSON objects.
    bool Json() const { return options_.json; }

private:
    // --json: the event of a chat-area line, of the message-window line that starts at
    // offset, and the member list as an array.
    void PrintChatLine(const LineRecord& line) const;
    void PrintNotice(std::string_view line, std::size_t offset);
    std::string MembersJson() const;
    BoxAnswer Answer(Question question, BoxButtons buttons) const;
    std::optional<std::string> TakePath();
    // The save dialog of a received file: the accept folder joined with the offered name.
    std::optional<std::string> ReceivedFilePath(const std::string& name) const;

    const PeerOptions& options_;
    SessionCore* core_ = nullptr;
    TransferReport* report_ = nullptr;
    std::function<void(bool)> joinTimer_;
    std::optional<std::string> nextPath_;
    bool nextIsRecording_ = false;
    std::size_t printedLines_ = 0;
    std::size_t printedMessageBytes_ = 0;
    std::size_t printedNotices_ = 0;
    // The recording the running command chose to save to, until a failure is told.
    std::optional<std::string> savingRecording_;
    std::string printedMembers_;
    bool membersPrinted_ = false;
};

} // namespace kolvena::peer

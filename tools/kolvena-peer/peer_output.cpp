#include "peer_output.h"

#include <cstdio>
#include <filesystem>

#include "protocol/view_texts.h"
#include "session/gbk.h"

namespace kolvena::peer {
namespace {

// One printed line per box: line breaks in the text are shown as \n.
std::string OneLine(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out.push_back(c);
    }
    return out;
}

const char* AnswerText(BoxAnswer answer) {
    switch (answer) {
    case BoxAnswer::Yes:
        return "Yes";
    case BoxAnswer::No:
        return "No";
    case BoxAnswer::Ok:
        return "OK";
    case BoxAnswer::Cancel:
        return "Cancel";
    }
    return "?";
}

} // namespace

void PeerOutput::Print(std::string_view prefix, std::string_view utf8) {
    std::string line(prefix);
    line += utf8;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void PeerOutput::RefreshChat() {
    const auto& lines = core_->session().lines;
    // The chat area was cleared: everything in it now is new.
    if (lines.size() < printedLines_)
        printedLines_ = 0;
    for (; printedLines_ < lines.size(); ++printedLines_)
        Print("chat: ", FromGbk(lines[printedLines_].text));
}

void PeerOutput::RefreshMessages() {
    const std::string& text = core_->session().messageText;
    if (text.size() < printedMessageBytes_)
        printedMessageBytes_ = 0;
    // Each complete line not yet printed; the header line is the window's, not a notice.
    const std::size_t header = MessageWindowHeader().size();
    if (printedMessageBytes_ < header && text.compare(0, header, MessageWindowHeader()) == 0)
        printedMessageBytes_ = header;
    while (true) {
        const std::size_t end = text.find("\r\n", printedMessageBytes_);
        if (end == std::string::npos)
            break;
        Print("notice: ", FromGbk(std::string_view(text).substr(printedMessageBytes_,
                                                                end - printedMessageBytes_)));
        printedMessageBytes_ = end + 2;
    }
}

void PeerOutput::RefreshMembers() {
    std::string list;
    for (const std::string& item : MemberItems(core_->session())) {
        if (!list.empty())
            list += ", ";
        list += FromGbk(item);
    }
    if (membersPrinted_ && list == printedMembers_)
        return;
    membersPrinted_ = true;
    printedMembers_ = list;
    Print("members: ", list);
}

void PeerOutput::SetJoinTimer(bool running) {
    if (joinTimer_)
        joinTimer_(running);
}

void PeerOutput::Inform(Notice notice, const std::string& caption, const std::string& text,
                        BoxIcon) {
    Print("box: ", (caption.empty() ? std::string("Kolvena") : caption) + " | " + OneLine(text));
    if (report_)
        report_->Told(notice, OneLine(text));
}

BoxAnswer PeerOutput::Ask(Question question, const std::string& caption, const std::string& text,
                          BoxButtons buttons, BoxIcon) {
    const BoxAnswer answer = Answer(question, buttons);
    Print("box: ", (caption.empty() ? std::string("Kolvena") : caption) + " | " + OneLine(text) +
                       " -> " + AnswerText(answer));
    return answer;
}

BoxAnswer PeerOutput::Answer(Question question, BoxButtons buttons) const {
    const BoxAnswer yes = buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    const BoxAnswer no = buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Cancel;
    switch (question) {
    case Question::ApproveNotice:
        return options_.approve == Approval::No ? no : yes;
    case Question::AcceptFile:
        return options_.acceptFiles.empty() ? no : yes;
    case Question::SaveOnLeave:
        // Saved at leaving only with --record, whose path answers the dialog.
        return nextPath_ ? yes : no;
    default:
        // The user's own commands are confirmed.
        return yes;
    }
}

std::optional<std::string> PeerOutput::TakePath() {
    std::optional<std::string> path = std::move(nextPath_);
    nextPath_.reset();
    return path;
}

std::optional<std::string> PeerOutput::ReceivedFilePath(const std::string& name) const {
    namespace fs = std::filesystem;
    // The name comes from the other side: only a plain name may be joined to the folder.
    const fs::path file(name);
    if (name.empty() || name == "." || name == ".." || file.filename() != file ||
        name.find('/') != std::string::npos) {
        Print("error: ", "not a plain file name: " + OneLine(name));
        return std::nullopt;
    }
    return (fs::path(options_.acceptFiles) / file).string();
}

std::optional<std::string> PeerOutput::ChooseSaveFile(const FileDialogRequest& request) {
    if (nextPath_)
        return TakePath();
    if (!report_ || !report_->Active())
        return std::nullopt;
    std::optional<std::string> path;
    if (!options_.acceptFiles.empty())
        path = ReceivedFilePath(request.initialName);
    report_->Saving(path);
    return path;
}

std::optional<std::string> PeerOutput::ChooseOpenFile(const FileDialogRequest&) {
    return TakePath();
}

} // namespace kolvena::peer

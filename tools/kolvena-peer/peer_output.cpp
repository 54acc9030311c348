#include "peer_output.h"

#include <cstdio>
#include <filesystem>

#include "peer_json.h"
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
    PrintLine(std::move(line));
}

void PeerOutput::PrintLine(std::string line) {
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void PeerOutput::Error(std::string_view utf8) const {
    if (Json())
        PrintLine(JsonObject::Event("error").Text("text", utf8).Done());
    else
        Print("error: ", utf8);
}

void PeerOutput::SetNextPath(std::optional<std::string> path, bool recording) {
    if (!path && savingRecording_ && Json())
        PrintLine(JsonObject::Event("recording").Text("path", *savingRecording_).Done());
    savingRecording_.reset();
    nextPath_ = std::move(path);
    nextIsRecording_ = recording;
}

void PeerOutput::RefreshChat() {
    const auto& lines = core_->session().lines;
    // The chat area was cleared: everything in it now is new.
    if (lines.size() < printedLines_)
        printedLines_ = 0;
    for (; printedLines_ < lines.size(); ++printedLines_) {
        if (Json())
            PrintChatLine(lines[printedLines_]);
        else
            Print("chat: ", FromGbk(lines[printedLines_].text));
    }
}

void PeerOutput::PrintChatLine(const LineRecord& line) const {
    const LineFacts& facts = line.facts;
    const auto about = [&](std::string_view event) {
        return JsonObject::Event(event)
            .Text("name", FromGbk(facts.name))
            .Number("id", facts.member.value)
            .Number("index", facts.index.value);
    };
    JsonObject json;
    switch (facts.kind) {
    case LineKind::Chat:
        json = JsonObject::Event("chat")
                   .Text("from", FromGbk(facts.name))
                   .Number("from_id", facts.member.value);
        if (facts.index.IsNobody())
            json.Null("to");
        else
            json.Text("to", FromGbk(facts.targetName));
        json.Number("to_index", facts.index.value)
            .Flag("whisper", facts.whisper)
            .Text("text", FromGbk(facts.text));
        break;
    case LineKind::Joined:
        json = about("joined");
        break;
    case LineKind::Left:
        json = about("left");
        break;
    case LineKind::Renamed:
        json = about("renamed").Text("new_name", FromGbk(facts.text));
        break;
    case LineKind::Asleep:
        json = about("asleep");
        break;
    case LineKind::Awake:
        json = about("awake");
        break;
    case LineKind::Ended:
        json = JsonObject::Event("ended");
        break;
    case LineKind::Text:
    case LineKind::Notice:
        json = JsonObject::Event("line").Text("text", FromGbk(line.text));
        break;
    }
    PrintLine(json.Number("time", line.time).Done());
}

void PeerOutput::RefreshMessages() {
    const std::string& text = core_->session().messageText;
    if (text.size() < printedMessageBytes_ || core_->session().notices.size() < printedNotices_) {
        printedMessageBytes_ = 0;
        printedNotices_ = 0;
    }
    // Each complete line not yet printed; the header line is the window's, not a notice.
    const std::size_t header = MessageWindowHeader().size();
    if (printedMessageBytes_ < header && text.compare(0, header, MessageWindowHeader()) == 0)
        printedMessageBytes_ = header;
    while (true) {
        const std::size_t end = text.find("\r\n", printedMessageBytes_);
        if (end == std::string::npos)
            break;
        const std::string_view line =
            std::string_view(text).substr(printedMessageBytes_, end - printedMessageBytes_);
        if (Json())
            PrintNotice(line, printedMessageBytes_);
        else
            Print("notice: ", FromGbk(line));
        printedMessageBytes_ = end + 2;
    }
}

void PeerOutput::PrintNotice(std::string_view line, std::size_t offset) {
    const auto& notices = core_->session().notices;
    while (printedNotices_ < notices.size() && notices[printedNotices_].offset < offset)
        ++printedNotices_;
    JsonObject json = JsonObject::Event("notice");
    if (printedNotices_ < notices.size() && notices[printedNotices_].offset == offset) {
        const NoticeRecord& notice = notices[printedNotices_++];
        json.Text("from", FromGbk(notice.facts.name))
            .Number("from_id", notice.facts.member.value)
            .Text("text", FromGbk(notice.facts.text))
            .Number("time", notice.time);
    } else {
        // The program's own lines, and the backlog a Welcome brings, are text only.
        json.Null("from").Null("from_id").Text("text", FromGbk(line)).Null("time");
    }
    PrintLine(json.Done());
}

std::string PeerOutput::MembersJson() const {
    const Session& session = core_->session();
    const Buddy* self = session.BuddyById(session.selfId);
    std::string list;
    std::uint16_t index = 0;
    for (const Buddy& b : session.roster) {
        if (!b.IsPresent())
            continue;
        list += list.empty() ? "[" : ",";
        list += JsonObject()
                    .Text("name", FromGbk(b.Name()))
                    .Number("id", b.Id().value)
                    .Number("index", ++index)
                    .Text("role", b.role == BuddyRole::Leader ? "leader" : "member")
                    .Flag("asleep", b.state == BuddyState::Asleep)
                    .Flag("self", &b == self)
                    .Done();
    }
    return list.empty() ? "[]" : list + "]";
}

void PeerOutput::RefreshMembers() {
    std::string list;
    if (Json()) {
        list = MembersJson();
    } else {
        for (const std::string& item : MemberItems(core_->session())) {
            if (!list.empty())
                list += ", ";
            list += FromGbk(item);
        }
    }
    if (membersPrinted_ && list == printedMembers_)
        return;
    membersPrinted_ = true;
    printedMembers_ = list;
    if (Json())
        PrintLine(JsonObject::Event("members").Raw("members", list).Done());
    else
        Print("members: ", list);
}

void PeerOutput::PrintMembersDetail() const {
    static constexpr const char* STATUS_NAMES[] = {"online", "asleep", "left", "muted", "removed"};
    MemberCommands& members = core_->members();
    for (const MemberRow& row : members.Rows()) {
        if (Json()) {
            PrintLine(JsonObject::Event("member")
                          .Text("name", FromGbk(row.name))
                          .Number("id", row.id.value)
                          .Number("index", row.index.value)
                          .Text("address", row.address)
                          .Number("join_time", row.joinTime)
                          .Number("stay", row.staySeconds)
                          .Number("says", row.says)
                          .Number("messages", row.messages)
                          .Text("status", STATUS_NAMES[static_cast<std::size_t>(row.status)])
                          .Flag("leader", row.leader)
                          .Done());
            continue;
        }
        std::string line;
        for (const std::string& cell : RowTexts(row))
            line += cell + '\t';
        line.pop_back();
        Print("member: ", line);
    }
    for (const std::string& address : members.RefusedAddresses()) {
        if (Json())
            PrintLine(JsonObject::Event("refused").Text("address", address).Done());
        else
            Print("refused: ", address);
    }
}

void PeerOutput::SetJoinTimer(bool running) {
    if (joinTimer_)
        joinTimer_(running);
}

void PeerOutput::Inform(Notice notice, const std::string& caption, const std::string& text,
                        BoxIcon) {
    if (notice == Notice::Failed)
        savingRecording_.reset();
    if (Json())
        PrintLine(JsonObject::Event("box")
                      .Text("caption", caption.empty() ? std::string("Kolvena") : caption)
                      .Text("text", text)
                      .Null("answer")
                      .Done());
    else
        Print("box: ",
              (caption.empty() ? std::string("Kolvena") : caption) + " | " + OneLine(text));
    if (report_)
        report_->Told(notice, OneLine(text));
}

BoxAnswer PeerOutput::Ask(Question question, const std::string& caption, const std::string& text,
                          BoxButtons buttons, BoxIcon) {
    const BoxAnswer answer = Answer(question, buttons);
    if (Json())
        PrintLine(JsonObject::Event("box")
                      .Text("caption", caption.empty() ? std::string("Kolvena") : caption)
                      .Text("text", text)
                      .Text("answer", AnswerText(answer))
                      .Done());
    else
        Print("box: ", (caption.empty() ? std::string("Kolvena") : caption) + " | " +
                           OneLine(text) + " -> " + AnswerText(answer));
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
        Error("not a plain file name: " + OneLine(name));
        return std::nullopt;
    }
    return (fs::path(options_.acceptFiles) / file).string();
}

std::optional<std::string> PeerOutput::ChooseSaveFile(const FileDialogRequest& request) {
    if (nextPath_) {
        if (nextIsRecording_)
            savingRecording_ = nextPath_;
        return TakePath();
    }
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

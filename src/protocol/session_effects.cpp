#include "session_effects.h"

#include <algorithm>

#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {

void SessionEffects::Say(std::string text, LineFacts facts) {
    session_.AddLine(std::move(text), 1, 0, std::move(facts));
}

void SessionEffects::SayNow(std::string text, LineFacts facts) {
    Say(std::move(text), std::move(facts));
    view_.RefreshChat();
}

void SessionEffects::SayEnded(std::string text) {
    LineFacts facts;
    facts.kind = LineKind::Ended;
    Say(std::move(text), std::move(facts));
}

LineFacts SessionEffects::About(LineKind kind, const Buddy& member, ActiveIndex index) {
    LineFacts facts;
    facts.kind = kind;
    facts.member = member.Id();
    facts.name = member.Name();
    facts.index = index;
    return facts;
}

void SessionEffects::ShowWelcomeBanner() {
    session_.AddLine(KOLVENA_TEXT("            ================================================= "),
                     0);
    session_.AddLine(KOLVENA_TEXT("            =       欢迎加入 网络会话(Kolvena) v1.0       = "),
                     0);
    session_.AddLine(KOLVENA_TEXT("            ================================================= "),
                     0);
    session_.AddLine("", 0);
    view_.RefreshChat();
}

void SessionEffects::Beep(BeepKind kind) {
    if (session_.settings.soundOn)
        prompter_.Beep(kind);
}

void SessionEffects::ShowWelcome(const WelcomePacket& welcome) {
    Session& s = session_;
    s.topic = welcome.topic;
    s.createdAt = welcome.createdAt;
    // The own message text already starts with the header the host left out.
    s.messageText += welcome.backlog;
    s.EmptyRoster();
    for (const Buddy& buddy : welcome.roster)
        s.AppendBuddy(buddy);
    s.selfId = static_cast<std::uint16_t>(s.roster.size());
    s.target = 0;
    // This line is where the own join has succeeded.
    LineFacts joined;
    if (const Buddy* self = s.BuddyById(s.selfId))
        joined = About(LineKind::Joined, *self, s.GetSelfIndex());
    Say(KOLVENA_TEXT("-->> 成功传回会话成员数据与会话消息!"), std::move(joined));
    Say(KOLVENA_TEXT("-->> 欢迎您加入会话，现在您便可以与您的朋友进行对话了，会话愉快!"));
    view_.RefreshMembers();
    view_.RefreshMessages();
    view_.RefreshChat();
    view_.RefreshTarget();
    view_.RefreshTitle();
    // The message window's line count less one: one per line break.
    s.counters.messageTotal =
        static_cast<std::uint16_t>(std::count(s.messageText.begin(), s.messageText.end(), '\n'));
}

void SessionEffects::ShowJoined(std::string_view name, std::string_view address) {
    session_.AddBuddy(Buddy::Make(name, address, BuddyRole::Member));
    Say(Fill(KOLVENA_TEXT("-->> 新成员 %s 加入会话."), {name}),
        About(LineKind::Joined, session_.roster.back(), session_.GetBuddyCount()));
    view_.RefreshChat();
    view_.RefreshMembers();
    view_.RefreshTitle();
}

std::optional<LineRecord> SessionEffects::ComposeChat(const ChatLine& chat) {
    auto line = session_.ComposeChatLine(chat);
    if (line)
        if (Buddy* speaker = session_.BuddyById(chat.sender))
            speaker->sayCount++;
    return line;
}

bool SessionEffects::Sees(const ChatLine& chat) const {
    return chat.whisper == 0 || chat.target.IsNobody() || chat.sender == session_.selfId ||
           chat.target == session_.GetSelfIndex();
}

void SessionEffects::ShowChatLine(const LineRecord& line) {
    session_.AddLine(line.text, line.packetStamp, 0, line.facts);
    view_.RefreshChat();
}

bool SessionEffects::ShowNotice(const NoticePacket& notice) {
    Buddy* sender = session_.BuddyById(notice.sender);
    if (sender == nullptr)
        return false;
    LineFacts facts = About(LineKind::Notice, *sender, session_.ActiveIndexOf(notice.sender));
    facts.text = ShownText(notice.text);
    session_.RecordMessage(Fill(KOLVENA_TEXT("%s: %s "), {sender->Name(), facts.text}), facts);
    view_.RefreshMessages();
    if (notice.sender == session_.selfId)
        session_.counters.ownMessageTotal++;
    sender->messageCount++;
    return true;
}

void SessionEffects::ShowPresence(Buddy& member, bool asleep) {
    member.state = asleep ? BuddyState::Asleep : BuddyState::Awake;
    view_.RefreshMembers();
    Say(KOLVENA_TEXT("-->> ") + std::string(member.Name()) +
            (asleep ? KOLVENA_TEXT(" 休眠了.") : KOLVENA_TEXT(" 苏醒了.")),
        About(asleep ? LineKind::Asleep : LineKind::Awake, member,
              session_.ActiveIndexOf(member.Id())));
    view_.RefreshChat();
}

void SessionEffects::ShowRename(Buddy& member, std::string_view name) {
    LineFacts facts = About(LineKind::Renamed, member, session_.ActiveIndexOf(member.Id()));
    facts.text = name;
    Say(Fill(KOLVENA_TEXT("-->> %s 改名为 '%s ' "), {member.Name(), name}), std::move(facts));
    view_.RefreshChat();
    member.SetName(name);
    view_.RefreshMembers();
}

void SessionEffects::ShowDeparture(ActiveIndex index) {
    if (!session_.CheckBuddyIndex(index).IsNobody()) {
        const Buddy& member = *session_.GetBuddy(index);
        Say(Fill(KOLVENA_TEXT("-->> 成员 %s 离开会话."), {member.Name()}),
            About(LineKind::Left, member, index));
        session_.RemoveBuddy(index);
        FollowDeparture(index);
    }
    view_.RefreshTarget();
    view_.RefreshChat();
    view_.RefreshMembers();
    view_.RefreshTitle();
}

void SessionEffects::FollowDeparture(ActiveIndex index) {
    if (session_.target == index)
        session_.target = 0;
    else if (session_.target > index)
        session_.target = static_cast<std::uint16_t>(session_.target.value - 1u);
}

} // namespace kolvena

#include "session_effects.h"

#include <algorithm>

#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {

void SessionEffects::Say(std::string text) {
    session_.AddLine(std::move(text), 1);
}

void SessionEffects::SayNow(std::string text) {
    Say(std::move(text));
    view_.RefreshChat();
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
    Say(KOLVENA_TEXT("-->> 成功传回会话成员数据与会话消息!"));
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
    Say(Fill(KOLVENA_TEXT("-->> 新成员 %s 加入会话."), {name}));
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
    session_.AddLine(line.text, line.packetStamp);
    view_.RefreshChat();
}

bool SessionEffects::ShowNotice(const NoticePacket& notice) {
    Buddy* sender = session_.BuddyById(notice.sender);
    if (sender == nullptr)
        return false;
    session_.RecordMessage(Fill(KOLVENA_TEXT("%s: %s "), {sender->Name(), ShownText(notice.text)}));
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
        (asleep ? KOLVENA_TEXT(" 休眠了.") : KOLVENA_TEXT(" 苏醒了.")));
    view_.RefreshChat();
}

void SessionEffects::ShowRename(Buddy& member, std::string_view name) {
    Say(Fill(KOLVENA_TEXT("-->> %s 改名为 '%s ' "), {member.Name(), name}));
    view_.RefreshChat();
    member.SetName(name);
    view_.RefreshMembers();
}

void SessionEffects::ShowDeparture(ActiveIndex index) {
    if (!session_.CheckBuddyIndex(index).IsNobody()) {
        Say(Fill(KOLVENA_TEXT("-->> 成员 %s 离开会话."), {session_.GetBuddy(index)->Name()}));
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

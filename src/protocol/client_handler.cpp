#include "client_handler.h"

#include <algorithm>

#include "packets.h"
#include "session/gbk.h"
#include "session/text.h"
#include "session_core.h"

namespace kolvena {

void ClientHandler::OnPacket(std::string packet) {
    if (packet.empty() || !core_.session.inSession || core_.session.isHost)
        return;
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(packet[0]));
    if (!type)
        return;
    // Before the Welcome only the Welcome counts; after it, a second one would duplicate the
    // roster.
    const bool welcome = *type == PacketType::Welcome;
    if (!welcomed_ && !welcome)
        return;
    if (welcomed_ && welcome)
        return;
    switch (*type) {
    case PacketType::Welcome:
        OnWelcome(packet);
        break;
    case PacketType::MemberJoined:
        OnMemberJoined(packet);
        break;
    case PacketType::MemberLeft:
        OnMemberLeft(packet);
        break;
    case PacketType::Say:
        OnSay(packet);
        break;
    case PacketType::Notice:
        OnNotice(packet);
        break;
    case PacketType::NoticeRefused:
        OnNoticeRefused(packet);
        break;
    case PacketType::Rename:
        OnRename(packet);
        break;
    case PacketType::Sleep:
        OnPresence(packet, true);
        break;
    case PacketType::Wake:
        OnPresence(packet, false);
        break;
    case PacketType::FileOffer:
        OnFileOffer(std::move(packet));
        break;
    case PacketType::FileAccepted:
        OnFileAccepted(packet);
        break;
    case PacketType::FileRefused:
        OnFileRefused(packet);
        break;
    default:
        break;
    }
}

void ClientHandler::OnWelcome(const std::string& packet) {
    Session& session = core_.session;
    const auto welcome = ReadWelcome(packet);
    // The own record comes last; a roster without it names nobody as the user.
    if (!welcome || welcome->roster.empty())
        return;
    session.topic = welcome->topic;
    session.createdAt = welcome->createdAt;
    // The own message text already starts with the header the host left out.
    session.messageText += welcome->backlog;
    session.EmptyRoster();
    for (const Buddy& buddy : welcome->roster)
        session.AppendBuddy(buddy);
    session.selfId = static_cast<std::uint16_t>(session.roster.size());
    session.target = 0;
    core_.Say(KOLVENA_TEXT("-->> 成功传回会话成员数据与会话消息!"));
    core_.Say(KOLVENA_TEXT("-->> 欢迎您加入会话，现在您便可以与您的朋友进行对话了，会话愉快!"));
    core_.view.RefreshMembers();
    core_.view.RefreshMessages();
    core_.view.RefreshChat();
    core_.view.RefreshTarget();
    core_.view.RefreshTitle();
    // The message window's line count less one: one per line break.
    session.messageTotal = static_cast<std::uint16_t>(
        std::count(session.messageText.begin(), session.messageText.end(), '\n'));
    welcomed_ = true;
    core_.recorder.log.AppendEvent(EventKind::EvSessionJoined, packet);
}

void ClientHandler::OnMemberJoined(const std::string& packet) {
    Session& session = core_.session;
    const auto joined = ReadMemberJoined(packet);
    if (!joined)
        return;
    session.AddBuddy(Buddy::Make(joined->name, joined->address, BuddyRole::Member));
    core_.Say(Fill(KOLVENA_TEXT("-->> 新成员 %s 加入会话."), {joined->name}));
    core_.view.RefreshChat();
    core_.view.RefreshMembers();
    core_.view.RefreshTitle();
    if (session.soundOn)
        core_.prompter.Beep(BeepKind::Information);
    core_.recorder.log.AppendEvent(EventKind::EvMemberJoined, packet);
}

void ClientHandler::OnMemberLeft(const std::string& packet) {
    Session& session = core_.session;
    const auto left = ReadMemberLeft(packet);
    if (!left || session.CheckBuddyIndex(left->activeIndex) == 0)
        return;
    core_.ShowDeparture(left->activeIndex);
    core_.recorder.log.AppendEvent(EventKind::EvMemberLeft, packet);
}

void ClientHandler::OnSay(const std::string& packet) {
    Session& session = core_.session;
    const auto chat = ReadChat(packet);
    // The own line coming back was shown, counted and recorded when it was sent.
    if (!chat || chat->sender == session.selfId)
        return;
    const auto line = session.ComposeChatLine(*chat);
    if (!line)
        return;
    session.BuddyById(chat->sender)->sayCount++;
    if (chat->target != 0 && chat->target == session.GetSelfIndex() && session.soundOn)
        core_.prompter.Beep(BeepKind::Default);
    session.AddLine(line->text, line->kind);
    core_.view.RefreshChat();
    core_.recorder.log.AppendEvent(EventKind::EvChatLine, packet);
}

void ClientHandler::OnNotice(const std::string& packet) {
    Session& session = core_.session;
    const auto notice = ReadNotice(packet);
    Buddy* sender = notice ? session.BuddyById(notice->sender) : nullptr;
    if (sender == nullptr)
        return;
    session.RecordMessage(Fill(KOLVENA_TEXT("%s: %s "), {sender->Name(), ShownText(notice->text)}));
    core_.view.RefreshMessages();
    // The own notice, approved, comes back: it counts now, not when it was sent.
    if (notice->sender == session.selfId)
        session.ownMessageTotal++;
    sender->messageCount++;
    if (session.soundOn)
        core_.prompter.Beep(BeepKind::Default);
    core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
}

void ClientHandler::OnNoticeRefused(const std::string& packet) {
    const auto notice = ReadNotice(packet);
    if (!notice)
        return;
    core_.prompter.Inform(
        "消息未被验证通过",
        FromGbk(Fill(KOLVENA_TEXT("您待发送的消息: <%s> 验证没有通过，无法被发送。"),
                     {ShownText(notice->text)})),
        BoxIcon::Information);
}

void ClientHandler::OnRename(const std::string& packet) {
    Session& session = core_.session;
    const auto rename = ReadRename(packet);
    Buddy* member = rename ? session.BuddyById(rename->sender) : nullptr;
    if (member == nullptr)
        return;
    // The own rename was shown when it was sent; it is still recorded.
    if (rename->sender != session.selfId) {
        core_.ShowRename(*member, rename->name);
    }
    core_.recorder.log.AppendEvent(EventKind::EvNameChanged, packet);
}

void ClientHandler::OnPresence(const std::string& packet, bool asleep) {
    Session& session = core_.session;
    const auto presence = ReadPresence(packet);
    Buddy* member = presence ? session.BuddyById(presence->sender) : nullptr;
    if (member == nullptr)
        return;
    if (presence->sender == session.selfId) {
        // The own state was set when the request was sent.
        if (!asleep)
            core_.view.RefreshMembers();
    } else {
        core_.ShowPresence(*member, asleep);
    }
    core_.recorder.log.AppendEvent(asleep ? EventKind::EvAsleep : EventKind::EvAwake, packet);
}

void ClientHandler::OnFileOffer(std::string packet) {
    Session& session = core_.session;
    const auto offer = ReadFile(packet);
    if (!offer || offer->recipient != session.GetSelfIndex() ||
        offer->offerer == offer->recipient || session.CheckBuddyIndex(offer->offerer) == 0)
        return;
    if (core_.transferBusy) {
        Relay(packet, PacketType::FileRefuseToHost);
        core_.transport.Send(0, packet);
        core_.TellBusy();
        return;
    }
    const BoxAnswer answer = core_.AskToAcceptFile(*offer);
    // The host may have gone while the box was open.
    if (!session.inSession || !welcomed_)
        return;
    if (answer == BoxAnswer::Yes && !core_.transferBusy) {
        Relay(packet, PacketType::FileAcceptToHost);
        core_.transport.Send(0, packet);
        core_.transferBusy = true;
        core_.transfers.StartReceiving(*offer);
    } else {
        Relay(packet, PacketType::FileRefuseToHost);
        core_.transport.Send(0, packet);
    }
}

void ClientHandler::OnFileAccepted(const std::string& packet) {
    Session& session = core_.session;
    const auto answer = ReadFile(packet);
    // Only the offer this program made, to that member, starts a transfer.
    if (!answer || answer->offerer != session.GetSelfIndex() ||
        answer->recipient != session.transferPeer || answer->fileName != session.transferName ||
        session.transferPath.empty() || session.CheckBuddyIndex(answer->recipient) == 0 ||
        core_.transferBusy)
        return;
    core_.transferBusy = true;
    const std::string address(session.GetBuddy(answer->recipient)->Address());
    core_.transfers.StartSending(*answer, address);
}

void ClientHandler::OnFileRefused(const std::string& packet) {
    if (const auto answer = ReadFile(packet))
        core_.TellOfferRefused(answer->recipient);
}

void ClientHandler::OnHostGone() {
    Session& session = core_.session;
    if (!session.inSession || session.isHost)
        return;
    session.EmptyRoster();
    core_.transport.Shutdown();
    session.inSession = false;
    session.target = 0;
    welcomed_ = false;
    core_.Say(KOLVENA_TEXT("-->> 组长已经关闭会话。所有人都已经退出了。"));
    session.RecordMessage(Fill(KOLVENA_TEXT("会话 '%s ' 关闭"), {session.topic}));
    core_.view.RefreshChat();
    core_.view.RefreshMessages();
    core_.view.RefreshMembers();
    core_.view.RefreshTitle();
    core_.view.RefreshCommands();
    session.endedAt = core_.clock.Now();
    core_.recorder.log.AppendEvent(EventKind::EvSessionEnded);
}

} // namespace kolvena

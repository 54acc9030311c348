#include "client_handler.h"

#include <utility>

#include "file_offers.h"
#include "packets.h"
#include "session/gbk.h"
#include "session/text.h"

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
    const auto welcome = ReadWelcome(packet);
    // The own record comes last; a roster without it names nobody as the user.
    if (!welcome || welcome->roster.empty())
        return;
    core_.show.ShowWelcome(*welcome);
    welcomed_ = true;
    core_.recorder.log.AppendEvent(EventKind::EvSessionJoined, packet);
}

void ClientHandler::OnMemberJoined(const std::string& packet) {
    const auto joined = ReadMemberJoined(packet);
    if (!joined)
        return;
    core_.show.ShowJoined(joined->name, joined->address);
    core_.show.Beep(BeepKind::Information);
    core_.recorder.log.AppendEvent(EventKind::EvMemberJoined, packet);
}

void ClientHandler::OnMemberLeft(const std::string& packet) {
    const auto left = ReadMemberLeft(packet);
    if (!left || core_.session.CheckBuddyIndex(left->activeIndex).IsNobody())
        return;
    core_.show.ShowDeparture(left->activeIndex);
    core_.recorder.log.AppendEvent(EventKind::EvMemberLeft, packet);
}

void ClientHandler::OnSay(const std::string& packet) {
    Session& session = core_.session;
    const auto chat = ReadChat(packet);
    // The own line coming back was shown, counted and recorded when it was sent.
    if (!chat || chat->sender == session.selfId)
        return;
    const auto line = core_.show.ComposeChat(*chat);
    if (!line)
        return;
    if (!chat->target.IsNobody() && chat->target == session.GetSelfIndex())
        core_.show.Beep(BeepKind::Default);
    core_.show.ShowChatLine(*line);
    core_.recorder.log.AppendEvent(EventKind::EvChatLine, packet);
}

void ClientHandler::OnNotice(const std::string& packet) {
    // The own notice, approved, comes back: it counts now, not when it was sent.
    const auto notice = ReadNotice(packet);
    if (!notice || !core_.show.ShowNotice(*notice))
        return;
    core_.show.Beep(BeepKind::Default);
    core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
}

void ClientHandler::OnNoticeRefused(const std::string& packet) {
    const auto notice = ReadNotice(packet);
    if (!notice)
        return;
    core_.prompter.Inform(
        Notice::NoticeRefused, "消息未被验证通过",
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
    if (rename->sender != session.selfId)
        core_.show.ShowRename(*member, rename->name);
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
        core_.show.ShowPresence(*member, asleep);
    }
    core_.recorder.log.AppendEvent(asleep ? EventKind::EvAsleep : EventKind::EvAwake, packet);
}

void ClientHandler::OnFileOffer(std::string packet) {
    Session& session = core_.session;
    const auto offer = ReadFilePacket(packet);
    if (!offer || offer->recipient != session.GetSelfIndex() ||
        offer->offerer == offer->recipient || session.CheckBuddyIndex(offer->offerer).IsNobody())
        return;
    // The host may go while the box is open.
    const OfferAnswer answer =
        AnswerOffer(core_, *offer, [this] { return core_.session.inSession && welcomed_; });
    if (answer == OfferAnswer::None)
        return;
    const bool accept = answer == OfferAnswer::Accept;
    Relay(packet, accept ? PacketType::FileAcceptToHost : PacketType::FileRefuseToHost);
    core_.transport.SendToHost(packet);
    if (accept)
        StartReceiving(core_, *offer);
    else if (answer == OfferAnswer::Busy)
        TellBusy(core_);
}

void ClientHandler::OnFileAccepted(const std::string& packet) {
    Session& session = core_.session;
    const auto answer = ReadFilePacket(packet);
    if (!answer || answer->offerer != session.GetSelfIndex() ||
        session.CheckBuddyIndex(answer->recipient).IsNobody())
        return;
    StartSendingIfOurs(core_, *answer, std::string(session.GetBuddy(answer->recipient)->Address()));
}

void ClientHandler::OnFileRefused(const std::string& packet) {
    if (const auto answer = ReadFilePacket(packet))
        TellOfferRefused(core_, answer->recipient);
}

void ClientHandler::OnHostGone() {
    Session& session = core_.session;
    if (!session.inSession || session.isHost)
        return;
    session.EmptyRoster();
    core_.transport.Shutdown();
    session.inSession = false;
    session.target = 0;
    // Closed before its Welcome, a newcomer was kept out (the door closed, the session full,
    // its address refused); it never saw the session, so it has no topic to close.
    const bool welcomed = std::exchange(welcomed_, false);
    if (welcomed) {
        core_.show.SayEnded(KOLVENA_TEXT("-->> 组长已经关闭会话。所有人都已经退出了。"));
        session.RecordMessage(Fill(KOLVENA_TEXT("会话 '%s ' 关闭"), {session.topic}));
    } else {
        core_.show.SayEnded(
            KOLVENA_TEXT("-->> 无法加入会话：会话已关闭、已满，或拒绝了您的连接。"));
    }
    core_.view.RefreshChat();
    core_.view.RefreshMessages();
    core_.view.RefreshMembers();
    core_.view.RefreshTitle();
    core_.view.RefreshCommands();
    session.endedAt = core_.clock.Now();
    core_.recorder.log.AppendEvent(EventKind::EvSessionEnded);
}

} // namespace kolvena

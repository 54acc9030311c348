#include "host_handler.h"

#include "file_offers.h"
#include "packets.h"
#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {
namespace {

// The member a connection speaks for. Nothing while the connection waits for its Login or once
// it is gone.
const Buddy* MemberOf(CoreParts& core, ConnectionId connection) {
    const auto slot = core.transport.SlotOf(connection);
    if (!slot || core.session.CheckBuddyIndex(IndexOf(*slot)).IsNobody())
        return nullptr;
    return core.session.GetBuddy(IndexOf(*slot));
}

// Sends to the member at `index`, if it has a connection: the leader has none.
void SendTo(Transport& transport, ActiveIndex index, std::string_view packet) {
    if (const auto slot = SlotFor(index); slot && slot->value <= transport.SlotCount())
        transport.Send(*slot, packet);
}

} // namespace

bool HostHandler::OnConnectionPending() {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    if (!session.isHost || !transport.Accepting())
        return false;
    core_.show.Say(KOLVENA_TEXT("-->> 新成员登陆会话, 正在检测成员资料..."));
    // Members besides the leader, the connections still waiting for their Login and this one.
    const std::size_t present = session.GetBuddyCount();
    const std::size_t members = (present > 0 ? present - 1 : 0) + transport.PendingCount() + 1;
    if (members >= session.settings.maxClients) {
        transport.SetAccepting(false);
        core_.show.Say(KOLVENA_TEXT("-->> 当前会话人数已满，会话暂时对外关闭。"));
    }
    core_.view.RefreshChat();
    core_.view.RefreshTitle();
    core_.show.Beep(BeepKind::Information);
    return true;
}

void HostHandler::OnPacket(ConnectionId connection, std::string packet) {
    if (packet.empty() || !core_.session.isHost)
        return;
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(packet[0]));
    if (!type)
        return;
    // A connection waiting for its Login has no slot: only its Login counts. A second Login on a
    // connection that has logged in changes nothing.
    if (!core_.transport.SlotOf(connection)) {
        if (*type == PacketType::Login)
            OnLogin(connection, packet);
        return;
    }
    switch (*type) {
    case PacketType::SayToHost:
        OnSay(connection, packet);
        break;
    case PacketType::NoticeToHost:
        OnNotice(connection, packet);
        break;
    case PacketType::RenameToHost:
        OnRename(connection, packet);
        break;
    case PacketType::SleepToHost:
        OnPresence(connection, packet, true);
        break;
    case PacketType::WakeToHost:
        OnPresence(connection, packet, false);
        break;
    case PacketType::FileOfferToHost:
        OnFileOffer(connection, packet);
        break;
    case PacketType::FileAcceptToHost:
        OnFileAnswer(connection, packet, true);
        break;
    case PacketType::FileRefuseToHost:
        OnFileAnswer(connection, packet, false);
        break;
    default:
        break;
    }
}

void HostHandler::OnLogin(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto login = ReadLogin(packet);
    // A roster the Welcome could no longer carry admits nobody more; the connection keeps
    // waiting until its login time runs out.
    if (!login || session.roster.size() + 1 > MAX_WELCOME_RECORDS)
        return;

    const MemberSlot slot = transport.Promote(connection);
    session.AddBuddy(Buddy::Make(login->name, transport.AddressText(slot), BuddyRole::Member));
    core_.show.SayNow(
        Fill(KOLVENA_TEXT("-->> %s 加入会话"), {login->name}),
        SessionEffects::About(LineKind::Joined, session.roster.back(), session.GetBuddyCount()));
    core_.view.RefreshMembers();

    // The Welcome carries the whole roster, departed members included, the newcomer last.
    const auto welcome = BuildWelcome(session.topic, static_cast<std::uint32_t>(session.createdAt),
                                      session.messageText, session.roster);
    if (welcome)
        transport.Send(slot, *welcome);
    const std::string joined = BuildMemberJoined(login->name, transport.AddressText(slot));
    for (std::size_t other = 1; other <= transport.SlotCount(); ++other)
        if (other != slot.value)
            transport.Send(MemberSlot(other), joined);
    core_.view.RefreshTitle();
    core_.recorder.log.AppendEvent(EventKind::EvMemberJoined, packet);
}

void HostHandler::OnSay(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto chat = ReadChat(packet);
    const Buddy* speaker = MemberOf(core_, connection);
    // A member speaks only for itself; a line naming someone the roster lacks is not relayed.
    if (!chat || speaker == nullptr || speaker->Id() != chat->sender)
        return;
    // A muted member's lines go nowhere and count for nothing.
    if (core_.control.IsMuted(speaker->Id()))
        return;
    const auto line = core_.show.ComposeChat(*chat);
    if (!line)
        return;

    Relay(packet, PacketType::Say);
    const ActiveIndex self = session.GetSelfIndex();
    const bool whisper = chat->whisper != 0;
    if (!chat->target.IsNobody() && chat->target == self)
        core_.show.Beep(BeepKind::Default);
    if (!chat->target.IsNobody() && whisper) {
        // A whisper to the leader goes nowhere else.
        SendTo(transport, chat->target, packet);
    } else if (chat->recipients.empty()) {
        transport.Broadcast(packet);
    } else {
        for (char entry : chat->recipients)
            SendTo(transport, static_cast<std::uint16_t>(static_cast<std::uint8_t>(entry)), packet);
    }

    if (core_.show.Sees(*chat))
        core_.show.ShowChatLine(*line);
    core_.recorder.log.AppendEvent(EventKind::EvChatLine, packet);
}

void HostHandler::OnNotice(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    const auto notice = ReadNotice(packet);
    const Buddy* sender = MemberOf(core_, connection);
    if (!notice || sender == nullptr || sender->Id() != notice->sender ||
        core_.control.IsMuted(notice->sender))
        return;

    if (session.settings.verifyMessages) {
        // The roster may grow while the question is open: keep a copy, not the record.
        const std::string name(sender->Name());
        const BoxAnswer answer = core_.prompter.Ask(
            Question::ApproveNotice, "成员请求验证消息",
            FromGbk(Fill(KOLVENA_TEXT("组长验证: \n成员%s 请求发送消息: \n <%s> \n是否验证通过？"),
                         {name, ShownText(notice->text)})),
            BoxButtons::YesNo, BoxIcon::Question);
        // The session may have ended, or the sender been muted, while the box was open.
        if (!session.isHost || core_.control.IsMuted(notice->sender))
            return;
        if (answer != BoxAnswer::Yes) {
            Relay(packet, PacketType::NoticeRefused);
            // A sender that left meanwhile gets nothing.
            if (const auto slot = core_.transport.SlotOf(connection))
                core_.transport.Send(*slot, packet);
            core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
            return;
        }
    }
    Relay(packet, PacketType::Notice);
    core_.transport.Broadcast(packet);
    core_.show.ShowNotice(*notice);
    core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
}

void HostHandler::OnRename(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    const auto rename = ReadRename(packet);
    const Buddy* member = MemberOf(core_, connection);
    if (!rename || member == nullptr || member->Id() != rename->sender)
        return;
    Relay(packet, PacketType::Rename);
    core_.transport.Broadcast(packet);
    core_.show.ShowRename(*session.BuddyById(rename->sender), rename->name);
    core_.recorder.log.AppendEvent(EventKind::EvNameChanged, packet);
}

void HostHandler::OnPresence(ConnectionId connection, std::string& packet, bool asleep) {
    Session& session = core_.session;
    const auto presence = ReadPresence(packet);
    const Buddy* member = MemberOf(core_, connection);
    if (!presence || member == nullptr || member->Id() != presence->sender)
        return;
    core_.show.ShowPresence(*session.BuddyById(presence->sender), asleep);
    Relay(packet, asleep ? PacketType::Sleep : PacketType::Wake);
    core_.transport.Broadcast(packet);
    core_.recorder.log.AppendEvent(asleep ? EventKind::EvAsleep : EventKind::EvAwake, packet);
}

void HostHandler::OnFileOffer(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto offer = ReadFilePacket(packet);
    const auto slot = transport.SlotOf(connection);
    // The offerer is the connection's own member; the recipient another present member.
    if (!offer || !slot || offer->offerer != IndexOf(*slot) || offer->recipient == offer->offerer ||
        session.CheckBuddyIndex(offer->recipient).IsNobody())
        return;
    if (offer->recipient != session.GetSelfIndex()) {
        Relay(packet, PacketType::FileOffer);
        SendTo(transport, offer->recipient, packet);
        return;
    }

    // The offer is for the leader. The offerer may leave while the box is open: then the
    // answer goes nowhere.
    const OfferAnswer answer = AnswerOffer(core_, *offer, [&] {
        return core_.session.isHost && transport.SlotOf(connection).has_value();
    });
    if (answer == OfferAnswer::None)
        return;
    const bool accept = answer == OfferAnswer::Accept;
    Relay(packet, accept ? PacketType::FileAccepted : PacketType::FileRefused);
    transport.Send(*transport.SlotOf(connection), packet);
    if (accept)
        StartReceiving(core_, *offer);
    else if (answer == OfferAnswer::Busy)
        TellBusy(core_);
}

void HostHandler::OnFileAnswer(ConnectionId connection, std::string& packet, bool accepted) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto answer = ReadFilePacket(packet);
    const auto slot = transport.SlotOf(connection);
    // Only the recipient answers, and only about an offer from another present member.
    if (!answer || !slot || answer->recipient != IndexOf(*slot) ||
        answer->offerer == answer->recipient || session.CheckBuddyIndex(answer->offerer).IsNobody())
        return;
    if (answer->offerer != session.GetSelfIndex()) {
        Relay(packet, accepted ? PacketType::FileAccepted : PacketType::FileRefused);
        SendTo(transport, answer->offerer, packet);
        return;
    }
    // An answer to the leader's own offer: a member cannot make the leader send a file it
    // never offered.
    if (accepted)
        StartSendingIfOurs(core_, *answer, transport.AddressText(*slot));
    else if (IsOwnOffer(session, *answer))
        TellOfferRefused(core_, answer->recipient);
}

void HostHandler::OnMemberLeave(ConnectionId connection) {
    if (const auto slot = core_.transport.SlotOf(connection))
        Depart(*slot);
}

void HostHandler::Depart(MemberSlot slot) {
    Transport& transport = core_.transport;
    transport.CloseSlot(slot);
    const ActiveIndex index = IndexOf(slot);
    core_.show.ShowDeparture(index);
    if (transport.SlotCount() > 0) {
        const std::string left = BuildMemberLeft(index);
        transport.Broadcast(left);
        core_.recorder.log.AppendEvent(EventKind::EvMemberLeft, left);
    }
}

bool HostHandler::RefuseConnection(const std::string& address) {
    MemberControl& control = core_.control;
    if (!core_.session.isHost || !control.IsRefused(address))
        return false;
    // A flood from one address must cost no more than the lookup: one line a minute.
    constexpr CalendarTime QUIET_SECONDS = 60;
    const CalendarTime now = core_.clock.Now();
    const auto shown = control.refusalShown.find(address);
    if (shown == control.refusalShown.end() || now - shown->second >= QUIET_SECONDS ||
        now < shown->second) {
        control.refusalShown[address] = now;
        core_.show.SayNow(Fill(KOLVENA_TEXT("-->> 已拒绝来自 %s 的连接"), {address}));
    }
    return true;
}

} // namespace kolvena

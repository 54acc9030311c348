#include "host_handler.h"

#include "packets.h"
#include "session/gbk.h"
#include "session/text.h"
#include "session_core.h"

namespace kolvena {
namespace {

// The member a connection speaks for: the member slot k belongs to ActiveIndex k + 1. Nothing
// while the connection waits for its Login or once it is gone.
const Buddy* MemberOf(SessionCore& core, ConnectionId connection) {
    const std::size_t slot = core.transport.SlotOf(connection);
    const auto index = static_cast<std::uint16_t>(slot + 1);
    if (slot == 0 || core.session.CheckBuddyIndex(index) == 0)
        return nullptr;
    return core.session.GetBuddy(index);
}

} // namespace

bool HostHandler::OnConnectionPending() {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    if (!session.isHost || !transport.Accepting())
        return false;
    core_.Say(KOLVENA_TEXT("-->> 新成员登陆会话, 正在检测成员资料..."));
    // Members besides the leader, the connections still waiting for their Login and this one.
    const std::size_t present = session.GetBuddyCount();
    const std::size_t members = (present > 0 ? present - 1 : 0) + transport.PendingCount() + 1;
    if (members >= session.maxClients) {
        transport.SetAccepting(false);
        core_.Say(KOLVENA_TEXT("-->> 当前会话人数已满，会话暂时对外关闭。"));
    }
    core_.view.RefreshChat();
    core_.view.RefreshTitle();
    if (session.soundOn)
        core_.prompter.Beep(BeepKind::Information);
    return true;
}

void HostHandler::OnPacket(ConnectionId connection, std::string packet) {
    if (packet.empty() || !core_.session.isHost)
        return;
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(packet[0]));
    if (!type)
        return;
    const std::size_t slot = core_.transport.SlotOf(connection);
    // A connection waiting for its Login has no slot: only its Login counts. A second Login on a
    // connection that has logged in changes nothing.
    if (slot == 0) {
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

    const std::size_t slot = transport.Promote(connection);
    core_.Say(Fill(KOLVENA_TEXT("-->> %s 加入会话"), {login->name}));
    core_.view.RefreshChat();
    session.AddBuddy(Buddy::Make(login->name, transport.AddressText(slot), BuddyRole::Member));
    core_.view.RefreshMembers();

    // The Welcome carries the whole roster, departed members included, the newcomer last.
    const auto welcome = BuildWelcome(session.topic, static_cast<std::uint32_t>(session.createdAt),
                                      session.messageText, session.roster);
    if (welcome)
        transport.Send(slot, *welcome);
    const std::string joined = BuildMemberJoined(login->name, transport.AddressText(slot));
    for (std::size_t other = 1; other <= transport.SlotCount(); ++other)
        if (other != slot)
            transport.Send(other, joined);
    core_.view.RefreshTitle();
    core_.recorder.log.AppendEvent(EventKind::EvMemberJoined, packet);
}

void HostHandler::OnSay(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto chat = ReadChat(packet);
    const Buddy* speaker = MemberOf(core_, connection);
    // A member speaks only for itself; a line naming someone the roster lacks is not relayed.
    if (!chat || speaker == nullptr || speaker->id != chat->sender)
        return;
    const auto line = session.ComposeChatLine(*chat);
    if (!line)
        return;

    Relay(packet, PacketType::Say);
    session.BuddyById(chat->sender)->sayCount++;
    const std::uint16_t self = session.GetSelfIndex();
    const bool whisper = chat->whisper != 0;
    if (chat->target != 0 && chat->target == self && session.soundOn)
        core_.prompter.Beep(BeepKind::Default);
    if (chat->target != 0 && whisper) {
        // A whisper to the leader goes nowhere: slot 0 is the listening socket.
        if (chat->target > 1)
            transport.Send(chat->target - 1u, packet);
    } else if (chat->recipients.empty()) {
        transport.Broadcast(packet);
    } else {
        for (char entry : chat->recipients) {
            const auto index = static_cast<std::uint8_t>(entry);
            if (index > 1 && index - 1u <= transport.SlotCount())
                transport.Send(index - 1u, packet);
        }
    }

    // The leader sees a whisper only when it is addressed to everyone or to the leader.
    if (!whisper || chat->target == 0 || chat->target == self) {
        session.AddLine(line->text, line->kind);
        core_.view.RefreshChat();
    }
    core_.recorder.log.AppendEvent(EventKind::EvChatLine, packet);
}

void HostHandler::OnNotice(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    const auto notice = ReadNotice(packet);
    const Buddy* sender = MemberOf(core_, connection);
    if (!notice || sender == nullptr || sender->id != notice->sender)
        return;
    // The roster may grow while the question is open: keep copies, not the record.
    const std::string name(sender->Name());
    const std::string text(ShownText(notice->text));

    if (session.verifyMessages) {
        const BoxAnswer answer = core_.prompter.Ask(
            "成员请求验证消息",
            FromGbk(Fill(KOLVENA_TEXT("组长验证: \n成员%s 请求发送消息: \n <%s> \n是否验证通过？"),
                         {name, text})),
            BoxButtons::YesNo, BoxIcon::Question);
        // The session may have ended while the box was open.
        if (!session.isHost)
            return;
        if (answer != BoxAnswer::Yes) {
            Relay(packet, PacketType::NoticeRefused);
            // A sender that left meanwhile gets nothing.
            if (const std::size_t slot = core_.transport.SlotOf(connection); slot != 0)
                core_.transport.Send(slot, packet);
            core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
            return;
        }
    }
    Relay(packet, PacketType::Notice);
    core_.transport.Broadcast(packet);
    session.RecordMessage(Fill(KOLVENA_TEXT("%s: %s "), {name, text}));
    core_.view.RefreshMessages();
    if (Buddy* record = session.BuddyById(notice->sender))
        record->messageCount++;
    core_.recorder.log.AppendEvent(EventKind::EvNotice, packet);
}

void HostHandler::OnRename(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    const auto rename = ReadRename(packet);
    const Buddy* member = MemberOf(core_, connection);
    if (!rename || member == nullptr || member->id != rename->sender)
        return;
    Relay(packet, PacketType::Rename);
    core_.transport.Broadcast(packet);
    core_.ShowRename(*session.BuddyById(rename->sender), rename->name);
    core_.recorder.log.AppendEvent(EventKind::EvNameChanged, packet);
}

void HostHandler::OnPresence(ConnectionId connection, std::string& packet, bool asleep) {
    Session& session = core_.session;
    const auto presence = ReadPresence(packet);
    const Buddy* member = MemberOf(core_, connection);
    if (!presence || member == nullptr || member->id != presence->sender)
        return;
    core_.ShowPresence(*session.BuddyById(presence->sender), asleep);
    Relay(packet, asleep ? PacketType::Sleep : PacketType::Wake);
    core_.transport.Broadcast(packet);
    core_.recorder.log.AppendEvent(asleep ? EventKind::EvAsleep : EventKind::EvAwake, packet);
}

void HostHandler::OnFileOffer(ConnectionId connection, std::string& packet) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto offer = ReadFile(packet);
    const std::size_t slot = transport.SlotOf(connection);
    // The offerer is the connection's own member; the recipient another present member.
    if (!offer || offer->offerer != slot + 1 || offer->recipient == offer->offerer ||
        session.CheckBuddyIndex(offer->recipient) == 0)
        return;
    if (offer->recipient != session.GetSelfIndex()) {
        Relay(packet, PacketType::FileOffer);
        transport.Send(offer->recipient - 1u, packet);
        return;
    }

    // The offer is for the leader.
    if (core_.transferBusy) {
        Relay(packet, PacketType::FileRefused);
        transport.Send(slot, packet);
        core_.TellBusy();
        return;
    }
    const BoxAnswer answer = core_.AskToAcceptFile(*offer);
    // The offerer may have left while the box was open: then the answer goes nowhere.
    const std::size_t answerSlot = transport.SlotOf(connection);
    if (!session.isHost || answerSlot == 0)
        return;
    if (answer == BoxAnswer::Yes && !core_.transferBusy) {
        Relay(packet, PacketType::FileAccepted);
        transport.Send(answerSlot, packet);
        core_.transferBusy = true;
        core_.transfers.StartReceiving(*offer);
    } else {
        Relay(packet, PacketType::FileRefused);
        transport.Send(answerSlot, packet);
    }
}

void HostHandler::OnFileAnswer(ConnectionId connection, std::string& packet, bool accepted) {
    Session& session = core_.session;
    Transport& transport = core_.transport;
    const auto answer = ReadFile(packet);
    const std::size_t slot = transport.SlotOf(connection);
    // Only the recipient answers, and only about an offer from another present member.
    if (!answer || answer->recipient != slot + 1 || answer->offerer == answer->recipient ||
        session.CheckBuddyIndex(answer->offerer) == 0)
        return;
    if (answer->offerer != session.GetSelfIndex()) {
        Relay(packet, accepted ? PacketType::FileAccepted : PacketType::FileRefused);
        transport.Send(answer->offerer - 1u, packet);
        return;
    }

    // An answer to the leader's own offer. Only the offer the leader actually made starts a
    // transfer: a member cannot make the leader send a file it never offered.
    const bool ours = session.transferPeer == answer->recipient &&
                      session.transferName == answer->fileName && !session.transferPath.empty();
    if (!ours)
        return;
    if (accepted) {
        if (core_.transferBusy)
            return;
        core_.transferBusy = true;
        core_.transfers.StartSending(*answer, transport.AddressText(slot));
    } else {
        core_.TellOfferRefused(answer->recipient);
    }
}

void HostHandler::OnMemberLeave(ConnectionId connection) {
    Transport& transport = core_.transport;
    const std::size_t slot = transport.SlotOf(connection);
    if (slot == 0)
        return;
    transport.CloseSlot(slot);
    const auto index = static_cast<std::uint16_t>(slot + 1);
    core_.ShowDeparture(index);
    if (transport.SlotCount() > 0) {
        const std::string left = BuildMemberLeft(index);
        transport.Broadcast(left);
        core_.recorder.log.AppendEvent(EventKind::EvMemberLeft, left);
    }
}

} // namespace kolvena

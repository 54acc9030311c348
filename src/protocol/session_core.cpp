#include "session_core.h"

#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {

SessionCore::SessionCore(const Clock& clock, Prompter& prompter, Transport& transport,
                         SessionView& view, TransferStarter& transfers, ReplayTimer& replayTimer)
    : clock(clock), prompter(prompter), transport(transport), view(view), transfers(transfers),
      session(clock, prompter), recorder(clock, prompter), host(*this), client(*this),
      commands(*this), replay(*this, replayTimer) {}

void SessionCore::Start() {
    session.showTimeOnChat = false;
    session.showTimeOnMessages = true;
    session.verifyMessages = true;
    session.soundOn = true;
    session.messageText += MessageWindowHeader();
    view.RefreshMessages();
    ShowWelcomeBanner();
    view.RefreshTitle();
    view.SetWindowMode(WindowMode::Idle);
}

void SessionCore::ShowWelcomeBanner() {
    session.AddLine(KOLVENA_TEXT("            ================================================= "),
                    0);
    session.AddLine(KOLVENA_TEXT("            =       欢迎加入 网络会话(Kolvena) v1.0       = "),
                    0);
    session.AddLine(KOLVENA_TEXT("            ================================================= "),
                    0);
    session.AddLine("", 0);
    view.RefreshChat();
}

void SessionCore::Say(std::string text) {
    session.AddLine(std::move(text), 1);
}

void SessionCore::FollowDeparture(std::uint16_t index) {
    if (session.target == index)
        session.target = 0;
    else if (session.target > index)
        --session.target;
}

void SessionCore::ShowPresence(Buddy& member, bool asleep) {
    member.state = asleep ? BuddyState::Asleep : BuddyState::Awake;
    view.RefreshMembers();
    Say(KOLVENA_TEXT("-->> ") + std::string(member.Name()) +
        (asleep ? KOLVENA_TEXT(" 休眠了.") : KOLVENA_TEXT(" 苏醒了.")));
    view.RefreshChat();
}

void SessionCore::ShowRename(Buddy& member, std::string_view name) {
    Say(Fill(KOLVENA_TEXT("-->> %s 改名为 '%s ' "), {member.Name(), name}));
    view.RefreshChat();
    member.SetName(name);
    view.RefreshMembers();
}

void SessionCore::ShowDeparture(std::uint16_t index) {
    if (session.CheckBuddyIndex(index) != 0) {
        Say(Fill(KOLVENA_TEXT("-->> 成员 %s 离开会话."), {session.GetBuddy(index)->Name()}));
        session.RemoveBuddy(index);
        FollowDeparture(index);
    }
    view.RefreshTarget();
    view.RefreshChat();
    view.RefreshMembers();
    view.RefreshTitle();
}

BoxAnswer SessionCore::AskToAcceptFile(const FilePacket& offer) {
    session.transferName = offer.fileName;
    session.transferSize = offer.fileSize;
    const std::string offerer(session.GetBuddy(offer.offerer)->Name());
    return prompter.Ask(
        "是否接受文件",
        FromGbk(Fill(KOLVENA_TEXT("成员' %s '请求向您发送文件 %s (%lu字节), 接受文件吗? "),
                     {offerer, offer.fileName, std::to_string(offer.fileSize)})),
        BoxButtons::YesNo, BoxIcon::Question);
}

void SessionCore::TellOfferRefused(std::uint16_t recipient) {
    if (session.CheckBuddyIndex(recipient) == 0)
        return;
    const std::string name(session.GetBuddy(recipient)->Name());
    prompter.Inform(
        "无法传输文件",
        FromGbk(Fill(KOLVENA_TEXT("成员 '%s' 拒绝接受你的发送文件, 无法传输文件."), {name})),
        BoxIcon::None);
}

void SessionCore::TellBusy() {
    prompter.Inform("Kolvena v1.0", "目前正在进行文件传输.", BoxIcon::None);
}

bool SessionCore::OnConnectionPending() {
    session.unsaved = true;
    return host.OnConnectionPending();
}

void SessionCore::OnHostPacket(ConnectionId connection, std::string packet) {
    session.unsaved = true;
    host.OnPacket(connection, std::move(packet));
}

void SessionCore::OnMemberLeave(ConnectionId connection) {
    session.unsaved = true;
    host.OnMemberLeave(connection);
}

void SessionCore::OnClientPacket(std::string packet) {
    session.unsaved = true;
    client.OnPacket(std::move(packet));
}

void SessionCore::OnHostGone() {
    session.unsaved = true;
    client.OnHostGone();
}

void SessionCore::OnConnectResult(bool connected) {
    commands.OnConnectResult(connected);
}

} // namespace kolvena
